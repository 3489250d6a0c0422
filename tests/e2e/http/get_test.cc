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

// Starts a daemon on a web root with a 64 MiB file "big.bin" (without its
// bytes on disk) and asks for it on a connection it returns.
int ask_for_big_file(WebSite& site, std::vector<std::string> args) {
  std::ofstream(site.www + "/big.bin", std::ios::binary).seekp((64 << 20) - 1).put('\0');
  args.insert(args.end(), {"-base", site.www});
  site.start(args);
  int s = connect_to(site.port());
  send_text(s, "GET /big.bin HTTP/1.0\n");
  return s;
}

TEST(GetFile, RootServesDefaultHtmlAsItStandsOrNotFoundAndNothingAboveTheHome) {
  WebSite site;
  // The administrator's own files may lie anywhere, behind links too.
  site.add("pages/home.html", "<html>home</html>\n");
  std::filesystem::create_symlink("pages/home.html", site.dir + "/home.html");
  site.add("www/home.html", "not this one");
  site.start({"-base", site.www, "-html", "home.html"});
  EXPECT_EQ(get(site.port(), "/"), kStatusOk + "<html>home</html>\n");
  EXPECT_EQ(get_stats(site.port()),
            "GET;1;GET(htmls);1;GET(images);0;GET(java);0;GET(other);0;GET(errors);0");

  site.start({});  // without -base the working directory is the home
  EXPECT_EQ(get(site.port(), "/"), kNotFound);
  EXPECT_EQ(get_stats(site.port()),
            "GET;1;GET(htmls);0;GET(images);0;GET(java);0;GET(other);1;GET(errors);1");
  EXPECT_EQ("", get_mismatches(site.port(), {{"/home.html", kStatusOk + "<html>home</html>\n"},
                                             {"/etc/passwd", kNotFound},
                                             {"//etc/passwd", kNotFound},
                                             {"/../../../../../../etc/passwd", kNotFound}}));
}

TEST(GetFile, FilesUnderBaseDirAreServedAndCountedByTypeOnTheDecodedPath) {
  WebSite site;
  std::vector<Exchange> rows = site.add_pages({
      {"applet/main.class", "\xCA\xFE\xBA\xBE"},
      {"app.JAR", "jar"},
      {"img/logo.v1.gif", "GIF89a"},
      {"index.html", "<html>index</html>"},
      {"notes.htmlx", "notes"},
      {"README", "readme"},
      {"page.Html", "mixed case"},
  });
  rows.push_back({"/gone.htm", kNotFound});
  // The status line and the first 4079 bytes go in one send.
  for (Exchange& row : site.add_pages({{"fits.bin", binary(4079)},
                                       {"over.bin", binary(4080)},
                                       {"empty.html", ""},
                                       {"big.bin", binary(1 << 20)}}))
    rows.push_back(row);
  DaemonProcess& d = site.start({"-base", site.www, "-d", "0x2000"});
  EXPECT_EQ("", get_mismatches(site.port(), rows));
  EXPECT_EQ(request(site.port(), "GET "), "");  // no path: counted as an error, no reply
  EXPECT_EQ(get_stats(site.port()),
            "GET;13;GET(htmls);3;GET(images);1;GET(java);2;GET(other);6;GET(errors);2");
  std::string output = d.output();
  EXPECT_EQ(sends(output, 9), std::vector<int>{4096});
  EXPECT_EQ(sends(output, 10), (std::vector<int>{4096, 1}));
  EXPECT_EQ(sends(output, 11), std::vector<int>{17});
  std::vector<int> chunks = sends(output, 12);
  ASSERT_EQ(chunks.size(), 257u);
  EXPECT_EQ(chunks.back(), 17);
  // The path is decoded before it is split at a blank.
  site.add_pages({{"a", "just a"},
                  {"a b.html", "with blank"},
                  {"a+b.html", "with plus"},
                  {"A.html", "capital"},
                  {"%41.html", "percent"}});
  EXPECT_EQ("", get_mismatches(site.port(), get_rows("e2e/http/decoded.txt")));
}

// The debug page too, unless DebugReq is enabled: the command is not run.
TEST(GetFile, DisabledGetIsRefused) {
  WebSite site;
  site.add("www/index.html", "<html>index</html>");
  site.start({"-base", site.www});
  EXPECT_EQ(get(site.port(), "/HTDEBUG?FCSET%20.1.3.6.1.4.1.48217.2.1.0%201"), kRefused);
  EXPECT_EQ(request(site.port(), "STATS FCSET "), "FCSET ;0");
  site.start({"-base", site.www, "-get", "disabled", "-debug", "enabled"});
  EXPECT_EQ("",
            get_mismatches(site.port(), {{"/index.html", kRefused}, {"/HTDEBUG?REV", kRefused}}));
  EXPECT_EQ(get_stats(site.port()),
            "GET;2;GET(htmls);0;GET(images);0;GET(java);0;GET(other);0;GET(errors);0");
  EXPECT_EQ(request(site.port(), "STATS REV"), "REV;0");
}

TEST(GetFile, MissingFileGetsErrorHtmlOrTheBuiltInPage) {
  WebSite site;
  site.add("oops.html", "<html>custom error page</html>\n");
  ASSERT_EQ(::mkfifo((site.dir + "/pipe.html").c_str(), 0600), 0);
  // A page that is missing, a directory or a pipe gives way to the built-in one.
  for (const Exchange& row : std::vector<Exchange>{
           {"oops.html", "HTTP/1.0 404 NOT FOUND\n\n<html>custom error page</html>\n"},
           {"no-such-page.html", kNotFound},
           {site.www, kNotFound},
           {"pipe.html", kNotFound}}) {
    site.start({"-base", site.www, "-error", row.request});
    EXPECT_EQ(get(site.port(), "/missing.html"), row.reply) << row.request;
  }
}

TEST(GetFile, OnlyRegularFilesInsideTheHtmlHomeAreServed) {
  WebSite site;
  site.add("secret.html", "secret");
  site.add("www/index.html", "index");
  site.add("www/sub/page.html", "page");
  site.add("www/a..b/..c.html", "dots");
  site.add("www2/secret.html", "sibling");  // its name begins with the home's
  std::filesystem::create_symlink("../www2/secret.html", site.www + "/sibling.html");
  std::filesystem::create_symlink("../secret.html", site.www + "/out.html");
  std::filesystem::create_directory_symlink("..", site.www + "/up");
  std::filesystem::create_symlink("index.html", site.www + "/in.html");
  ASSERT_EQ(::mkfifo((site.www + "/pipe.html").c_str(), 0600), 0);
  site.start({"-base", site.www});
  EXPECT_EQ("", get_mismatches(site.port(), get_rows("e2e/http/inside_home.txt")));
  EXPECT_EQ(get_stats(site.port()),
            "GET;14;GET(htmls);12;GET(images);0;GET(java);0;GET(other);2;GET(errors);11");
  EXPECT_EQ(request(site.port(), "REV"), "3.3 Build 43");
}

// Noted by type: html 0x2000, image 0x8000, applets 0x4000, other files
// 0x1000; the debug page never.
TEST(GetFile, RequestsAreNotedByFileTypeAsReceived) {
  WebSite site;
  site.add_pages({{"index.html", "i"}, {"notes.txt", "n"}, {"logo.gif", "g"}, {"main.class", "c"}});
  for (const auto& [flags, want] : {std::pair{"0xB000", "+++--"}, {"0x4000", "---+-"}}) {
    write_file(site.log, "");
    site.start({"-base", site.www, "-log", site.log, "-lf", flags, "-debug", "enabled"});
    std::string noted;
    for (std::string path :
         {"/index.html", "/notes%2Etxt", "/logo.gif", "/main.class", "/HTDEBUG?REV"}) {
      get(site.port(), path);
      const std::string log = read_file(site.log);
      noted += log.find(" - GET " + path + " HTTP/1.0\n") != std::string::npos ? '+' : '-';
    }
    EXPECT_EQ(noted, want) << flags << "\n" << read_file(site.log);
    EXPECT_EQ(read_file(site.log).find("HTDEBUG"), std::string::npos);
  }
}

TEST(GetFile, FailedSendEndsThatReplyOnly) {
  WebSite site;
  int s = ask_for_big_file(site, {"-log", site.log});
  char buffer[65536];
  for (std::size_t got = 0; got < (256u << 10);) {
    ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
    ASSERT_GT(n, 0);
    got += static_cast<std::size_t>(n);
  }
  close_with_reset(s);
  EXPECT_EQ(request(site.port(), "REV"), "3.3 Build 43");
  EXPECT_TRUE(wait_for_text(site.log, "GET(send(" + site.www + "/big.bin:"));
}

// Also a client that never reads: one deadline holds for the whole reply.
TEST(GetFile, SlowReaderIsGivenUpOneDeadlineAfterItsRequest) {
  WebSite site;
  int slow = ask_for_big_file(site, {"-rxto", "2"});
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
