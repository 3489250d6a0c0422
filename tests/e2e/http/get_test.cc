// HTTP GET against the real daemon: what a browser gets for each kind of
// path, how the files are sent, and how requests are counted and noted.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/http/web_site.h"

namespace tavro::testing {
namespace {

// Every byte value, repeated, so that binary files are checked too.
std::string binary(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return text;
}

// The sizes of the sends traced (Debug 0x2000) for the given request number.
std::vector<int> sends(const std::string& output, int request) {
  std::regex send("GET\\(" + std::to_string(request) + "\\) send (\\d+) bytes\\.\\.\\.");
  std::vector<int> sizes;
  for (std::sregex_iterator it(output.begin(), output.end(), send), end; it != end; ++it) {
    sizes.push_back(std::stoi((*it)[1]));
  }
  return sizes;
}

// A 64 MiB file "big.bin" in the web root, without its bytes on disk.
void add_big_file(const WebSite& site) {
  std::ofstream sparse(site.www + "/big.bin", std::ios::binary);
  sparse.seekp((64 << 20) - 1);
  sparse.put('\0');
}

TEST(GetFile, RootServesDefaultHtmlAsItStandsOrNotFound) {
  WebSite site;
  site.add("home.html", "<html>home</html>\n");
  site.add("www/home.html", "not this one");
  site.start({"-base", site.www, "-html", "home.html"});
  EXPECT_EQ(get(site.port(), "/"), kStatusOk + "<html>home</html>\n");
  EXPECT_EQ(get_stats(site.port()),
            "GET;1;GET(htmls);1;GET(images);0;GET(java);0;GET(other);0;GET(errors);0");

  site.start({"-base", site.www});
  EXPECT_EQ(get(site.port(), "/"), kNotFound);
  EXPECT_EQ(get_stats(site.port()),
            "GET;1;GET(htmls);0;GET(images);0;GET(java);0;GET(other);1;GET(errors);1");
}

TEST(GetFile, FilesUnderBaseDirAreServedAndCountedByType) {
  WebSite site;
  site.add("www/applet/main.class", "\xCA\xFE\xBA\xBE");
  site.add("www/app.JAR", "jar");
  site.add("www/img/logo.gif", "GIF89a");
  site.add("www/index.html", "<html>index</html>");
  site.add("www/notes.txt", "notes");
  site.add("www/README", "readme");
  site.add("www/page.Html", "mixed case");
  site.start({"-base", site.www});
  int port = site.port();
  EXPECT_EQ(get(port, "/applet/main.class"), kStatusOk + "\xCA\xFE\xBA\xBE");
  EXPECT_EQ(get(port, "/app.JAR"), kStatusOk + "jar");
  EXPECT_EQ(get(port, "/img/logo.gif"), kStatusOk + "GIF89a");
  EXPECT_EQ(get(port, "/index.html"), kStatusOk + "<html>index</html>");
  EXPECT_EQ(get(port, "/notes.txt"), kStatusOk + "notes");
  EXPECT_EQ(get(port, "/README"), kStatusOk + "readme");
  EXPECT_EQ(get(port, "/page.Html"), kStatusOk + "mixed case");
  EXPECT_EQ(get(port, "/gone.htm"), kNotFound);
  EXPECT_EQ(request(port, "GET"), "");   // no blank: not a GET at all
  EXPECT_EQ(request(port, "GET "), "");  // no path: counted as an error, no reply
  EXPECT_EQ(get_stats(port),
            "GET;9;GET(htmls);2;GET(images);1;GET(java);2;GET(other);3;GET(errors);2");
}

TEST(GetFile, PathIsDecodedBeforeItIsSplit) {
  WebSite site;
  site.add("www/a", "just a");
  site.add("www/a b.html", "with blank");
  site.add("www/a+b.html", "with plus");
  site.add("www/A.html", "capital");
  site.add("www/%41.html", "percent");
  site.start({"-base", site.www});
  int port = site.port();
  EXPECT_EQ(get(port, "/a%20b.html"), kStatusOk + "just a");
  EXPECT_EQ(get(port, "\"/a b.html\""), kStatusOk + "with blank");
  EXPECT_EQ(get(port, "\"/a%20b.html\""), kStatusOk + "with blank");
  EXPECT_EQ(get(port, "/a+b.html"), kStatusOk + "with plus");
  EXPECT_EQ(get(port, "/%41.html"), kStatusOk + "capital");
  EXPECT_EQ(get(port, "/%2541.html"), kStatusOk + "percent");
}

TEST(GetFile, StatusLineAndTheFirst4079BytesGoInOneSend) {
  WebSite site;
  const std::string fits = binary(4079), over = binary(4080), big = binary(1 << 20);
  site.add("www/fits.bin", fits);
  site.add("www/over.bin", over);
  site.add("www/empty.html", "");
  site.add("www/big.bin", big);
  DaemonProcess& d = site.start({"-base", site.www, "-d", "0x2000"});
  EXPECT_EQ(get(d.port(), "/fits.bin"), kStatusOk + fits);
  EXPECT_EQ(get(d.port(), "/over.bin"), kStatusOk + over);
  EXPECT_EQ(get(d.port(), "/empty.html"), kStatusOk);
  EXPECT_EQ(get(d.port(), "/big.bin"), kStatusOk + big);
  std::string output = d.output();
  EXPECT_EQ(sends(output, 1), std::vector<int>{4096});
  EXPECT_EQ(sends(output, 2), (std::vector<int>{4096, 1}));
  EXPECT_EQ(sends(output, 3), std::vector<int>{17});
  std::vector<int> chunks = sends(output, 4);
  ASSERT_EQ(chunks.size(), 257u);
  EXPECT_EQ(chunks.back(), 17);
}

TEST(GetFile, DisabledGetIsRefused) {
  WebSite site;
  site.add("www/index.html", "<html>index</html>");
  site.start({"-base", site.www, "-get", "disabled", "-debug", "enabled"});
  EXPECT_EQ(get(site.port(), "/index.html"), kRefused);
  EXPECT_EQ(get(site.port(), "/HTDEBUG?REV"), kRefused);
  EXPECT_EQ(get_stats(site.port()),
            "GET;2;GET(htmls);0;GET(images);0;GET(java);0;GET(other);0;GET(errors);0");
  EXPECT_EQ(stats_of(site.port(), "REV"), "REV;0");
}

TEST(GetFile, MissingFileGetsErrorHtmlOrTheBuiltInPage) {
  WebSite site;
  site.add("oops.html", "<html>custom error page</html>\n");
  site.start({"-base", site.www, "-error", "oops.html"});
  EXPECT_EQ(get(site.port(), "/missing.html"),
            "HTTP/1.0 404 NOT FOUND\n\n<html>custom error page</html>\n");

  site.start({"-base", site.www, "-error", "no-such-page.html"});
  EXPECT_EQ(get(site.port(), "/missing.html"), kNotFound);

  site.start({"-base", site.www, "-error", site.www});  // a directory is no page
  EXPECT_EQ(get(site.port(), "/missing.html"), kNotFound);
}

TEST(GetFile, OnlyRegularFilesInsideTheHtmlHomeAreServed) {
  WebSite site;
  site.add("secret.html", "secret");
  site.add("www/index.html", "index");
  site.add("www/sub/page.html", "page");
  std::filesystem::create_symlink("../secret.html", site.www + "/out.html");
  std::filesystem::create_directory_symlink("..", site.www + "/up");
  std::filesystem::create_symlink("index.html", site.www + "/in.html");
  ASSERT_EQ(::mkfifo((site.www + "/pipe.html").c_str(), 0600), 0);
  site.start({"-base", site.www});
  int port = site.port();
  EXPECT_EQ(get(port, "/../secret.html"), kNotFound);
  EXPECT_EQ(get(port, "/%2e%2e/secret.html"), kNotFound);
  EXPECT_EQ(get(port, "/sub/../../secret.html"), kNotFound);
  EXPECT_EQ(get(port, "/sub/%2E%2E/index.html"), kNotFound);
  EXPECT_EQ(get(port, "/out.html"), kNotFound);
  EXPECT_EQ(get(port, "/up/secret.html"), kNotFound);
  EXPECT_EQ(get(port, "secret.html"), kNotFound);  // relative to the working directory
  EXPECT_EQ(get(port, "/in.html"), kStatusOk + "index");
  EXPECT_EQ(get(port, "/sub/page.html"), kStatusOk + "page");
  EXPECT_EQ(get_stats(port),
            "GET;9;GET(htmls);9;GET(images);0;GET(java);0;GET(other);0;GET(errors);7");
  EXPECT_EQ(get(port, "/sub"), kNotFound);
  EXPECT_EQ(get(port, "/sub/"), kNotFound);
  EXPECT_EQ(get(port, "/pipe.html"), kNotFound);
  EXPECT_EQ(request(port, "REV"), "3.3 Build 43");
}

TEST(GetFile, WithoutBaseDirTheWorkingDirectoryIsTheHome) {
  WebSite site;
  site.add("page.html", "page");
  site.start({});
  EXPECT_EQ(get(site.port(), "/page.html"), kStatusOk + "page");
  EXPECT_EQ(get(site.port(), "/etc/passwd"), kNotFound);
  EXPECT_EQ(get(site.port(), "//etc/passwd"), kNotFound);
  EXPECT_EQ(get(site.port(), "/../../../../../../etc/passwd"), kNotFound);
}

TEST(GetFile, RequestsAreNotedByFileTypeAsReceived) {
  WebSite site;
  site.add("www/index.html", "index");
  site.add("www/notes.txt", "notes");
  site.add("www/logo.gif", "gif");
  site.add("www/main.class", "class");
  // html 0x2000, image 0x8000 and other files 0x1000; applets (0x4000) not.
  site.start({"-base", site.www, "-log", site.log, "-lf", "0xB000", "-debug", "enabled"});
  int port = site.port();
  get(port, "/index.html");
  get(port, "/notes%2Etxt");
  get(port, "/logo.gif");
  get(port, "/main.class");
  get(port, "/HTDEBUG?REV");
  std::string log = read_file(site.log);
  EXPECT_NE(log.find(" - GET /index.html HTTP/1.0\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" - GET /notes%2Etxt HTTP/1.0\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" - GET /logo.gif HTTP/1.0\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("main.class"), std::string::npos) << log;
  EXPECT_EQ(log.find("HTDEBUG"), std::string::npos) << log;

  site.start({"-base", site.www, "-log", site.log, "-lf", "0x4000"});
  get(site.port(), "/main.class");
  EXPECT_NE(read_file(site.log).find(" - GET /main.class HTTP/1.0\n"), std::string::npos);
}

TEST(GetFile, FailedSendEndsThatReplyOnly) {
  WebSite site;
  add_big_file(site);
  site.start({"-base", site.www, "-log", site.log});
  int s = connect_to(site.port());
  ASSERT_GE(s, 0);
  std::string text = "GET /big.bin HTTP/1.0\n";
  ::send(s, text.data(), text.size(), MSG_NOSIGNAL);
  char buffer[65536];
  std::size_t got = 0;
  while (got < (256u << 10)) {
    ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
    ASSERT_GT(n, 0);
    got += static_cast<std::size_t>(n);
  }
  struct linger reset {
    1, 0
  };
  ::setsockopt(s, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(s);
  EXPECT_EQ(request(site.port(), "REV"), "3.3 Build 43");
  EXPECT_TRUE(wait_for_text(site.log, "GET(send(" + site.www + "/big.bin:"));
}

TEST(GetFile, ClientThatStopsReadingIsGivenUpAtTheDeadline) {
  WebSite site;
  add_big_file(site);
  site.start({"-base", site.www, "-log", site.log, "-rxto", "1"});
  int stalled = connect_to(site.port());
  ASSERT_GE(stalled, 0);
  std::string text = "GET /big.bin HTTP/1.0\n";
  ::send(stalled, text.data(), text.size(), MSG_NOSIGNAL);
  // Never read: the daemon's send stalls until its deadline, then it serves on.
  EXPECT_EQ(request(site.port(), "REV"), "3.3 Build 43");
  ::close(stalled);
  EXPECT_TRUE(wait_for_text(site.log, "GET(send(" + site.www + "/big.bin:"));
}

TEST(GetFile, SlowReaderIsGivenUpOneDeadlineAfterItsRequest) {
  WebSite site;
  add_big_file(site);
  site.start({"-base", site.www, "-rxto", "2"});
  int slow = connect_to(site.port());
  ASSERT_GE(slow, 0);
  std::string text = "GET /big.bin HTTP/1.0\n";
  ::send(slow, text.data(), text.size(), MSG_NOSIGNAL);
  std::atomic<bool> served{false};
  auto begin = std::chrono::steady_clock::now();
  std::thread next([&] {
    EXPECT_EQ(request(site.port(), "REV", std::chrono::seconds(30)), "3.3 Build 43");
    served = true;
  });
  // Keeps reading a little at a time, so every single send makes progress.
  char chunk[4096];
  while (!served && std::chrono::steady_clock::now() - begin < std::chrono::seconds(30)) {
    if (::recv(slow, chunk, sizeof chunk, MSG_DONTWAIT) == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  next.join();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(8));
  ::close(slow);
}

TEST(GetFile, ReadErrorIsReportedAndEndsThatReplyOnly) {
  WebSite site;
  // The daemon's own memory file: a regular file whose first read fails.
  site.start({"-base", "/proc/self", "-log", site.log});
  EXPECT_EQ(get(site.port(), "/mem"), "");
  EXPECT_EQ(request(site.port(), "REV"), "3.3 Build 43");
  EXPECT_TRUE(wait_for_text(site.log, "GET(1) fread(/proc/self/mem) error (error 5)\n"));
  EXPECT_EQ(get_stats(site.port()),
            "GET;1;GET(htmls);0;GET(images);0;GET(java);0;GET(other);1;GET(errors);1");
}

}  // namespace
}  // namespace tavro::testing
