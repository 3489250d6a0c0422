// HTTP GET against the real daemon: what a browser gets for each kind of
// path, how the files are sent, and how requests are counted and noted; the
// debug page; and a real browser on the bundled pages.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {
namespace {

const std::string kStatusOk = "HTTP/1.0 200 OK\n\n";

std::string sorry_page(const std::string& line) {
  return "<html>\n<head><title>Sorry</title></head>\n<body bgcolor=ffffff text=000000>\n"
         "<center>\n<br><br>\n<font color=ff0000 size=\"+2\"><strong>Sorry...</strong></font>\n"
         "<br><br>\n" +
         line + "\n</center>\n</body>\n</html>\n";
}

const std::string kNotFound =
    "HTTP/1.0 404 NOT FOUND\n\n" + sorry_page("The requested URL was not found on this site.");
const std::string kRefused =
    "HTTP/1.0 500 NOT ALLOWED\n\n" + sorry_page("The request is not allowed on this system.");

// A scratch directory for one daemon: its working directory, a web root
// "www" inside it and a request log.
class WebSite {
 public:
  WebSite() {
    std::filesystem::create_directory(www);
    write_file(log, "");
  }
  void add(const std::string& path, const std::string& text) {
    std::filesystem::path full = dir + "/" + path;
    std::filesystem::create_directories(full.parent_path());
    write_file(full.string(), text);
  }
  // Adds each file under the web root; returns a GET row for each, expecting
  // the file as it stands.
  std::vector<Exchange> add_pages(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<Exchange> rows;
    for (const auto& [path, text] : files) {
      add("www/" + path, text);
      rows.push_back({"/" + path, kStatusOk + text});
    }
    return rows;
  }

  DaemonProcess& start(std::vector<std::string> args) {
    daemon_.reset();
    daemon_ = std::make_unique<DaemonProcess>(DaemonOptions{args, {}, dir});
    return *daemon_;
  }
  int port() const { return daemon_->port(); }

  const std::string dir = make_temp_dir();
  const std::string www = dir + "/www";
  const std::string log = dir + "/requests.log";

 private:
  std::unique_ptr<DaemonProcess> daemon_;
};

std::string get_request(const std::string& path) {
  return "GET " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
}
std::string get(int port, const std::string& path) {
  return request(port, get_request(path));
}

// Like mismatches(), with each request the path of a GET.
std::string get_mismatches(int port, std::vector<Exchange> rows) {
  for (auto& row : rows) row.request = get_request(row.request);
  return mismatches(port, rows);
}

// The rows of a data file of a path and the reply to its GET; ${OK} stands
// for the status line of a file sent, ${NOT_FOUND} for the whole reply of one
// that is not.
std::vector<Exchange> get_rows(const std::string& path) {
  std::vector<Exchange> rows;
  for (const auto& row : read_rows(path, {{"OK", kStatusOk}, {"NOT_FOUND", kNotFound}}))
    rows.push_back({row[0], row[1]});
  return rows;
}

std::string get_stats(int port) {
  return request(port, "STATS GET ");
}

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

// The debug page against the real daemon: a command run from a GET, its reply
// and the traces printed meanwhile, shown in a preformatted page.
const std::string kHead =
    kStatusOk + "<html>\n<head><title>LTX HTDEBUG</title></head>\n<body>\n<pre>\n";
const std::string kFoot = "\n</pre>\n</body>\n</html>\n";
const std::string kUnknown =
    "<font color=red><strong>This message type is NOT recognized.</strong></font>\n";

std::string page(const std::string& command, const std::string& body) {
  return kHead + "\n<B>" + command + "</B>\n\n" + body + kFoot;
}

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c == '&'   ? "&amp;"
           : c == '<' ? "&lt;"
           : c == '>' ? "&gt;"
           : c == '"' ? "&quot;"
                      : std::string(1, c);
  }
  return out;
}

// Files and long replies are shown too, but not the debug page itself.
TEST(DebugPage, RunsTheCommandAndShowsItsReplyUnderItInBoldButDoesNotNest) {
  WebSite site;
  site.add("www/index.html", "<p>index</p>");
  DaemonProcess& d = site.start({"-debug", "enabled", "-base", site.www, "-conf", "enabled"});
  EXPECT_EQ("",
            get_mismatches(d.port(),
                           {{"/HTDEBUG?REV", page("REV", "3.3 Build 43")},
                            {"/HTDEBUG?ECHO%20two%20words", page("ECHO two words", " two words")},
                            {"/HTDEBUG/REVISION", page("REVISION", "3.3 Build 43")}}));
  EXPECT_EQ(get_stats(d.port()),
            "GET;3;GET(htmls);0;GET(images);0;GET(java);0;GET(other);0;GET(errors);0");
  EXPECT_EQ(request(d.port(), "STATS REV"), "REV;2");
  EXPECT_EQ(request(d.port(), "STATS ECHO"), "ECHO;1");
  // An unknown or missing command is said so.
  EXPECT_EQ("", mismatches(d.port(), {{"GET /HTDEBUG?rev HTTP/1.0\r\n\r\n", page("rev", kUnknown)},
                                      {"GET /HTDEBUG", page("", kUnknown)},
                                      {"GET /HTDEBUG?", page("", kUnknown)}}));
  EXPECT_EQ(get(d.port(), "/HTDEBUG?GET%20/HTDEBUG?REV"),
            page("GET /HTDEBUG?REV", escaped(kRefused)));
  EXPECT_EQ(get(d.port(), "/HTDEBUG?GET%20/index.html"),
            page("GET /index.html", kStatusOk + "&lt;p&gt;index&lt;/p&gt;"));
  std::string config = get(d.port(), "/HTDEBUG?CONFIG");
  EXPECT_EQ(config.rfind(kHead + "\n<B>CONFIG</B>\n\nUp since;", 0), 0u) << config;
  EXPECT_NE(config.find(";BaseDir;" + site.www + ";"), std::string::npos) << config;
  EXPECT_EQ(config.substr(config.size() - kFoot.size()), kFoot);
  EXPECT_EQ(request(d.port(), "REV"), "3.3 Build 43");
}

// The traces printed meanwhile are shown in blue, markup as text.
TEST(DebugPage, ShowsTheTracesInBlueAndMarkupInTheCommandItsReplyAndTheTracesAsText) {
  WebSite site;
  DaemonProcess& d =
      site.start({"-debug", "enabled", "-d", "0x1060", "-log", site.log, "-lf", "0x40"});
  EXPECT_EQ(get(d.port(), "/HTDEBUG?REV"),
            page("REV", "3.3 Build 43<font color=#0000C0>  REV(1) 3.3 Build 43\n</font>"));
  EXPECT_EQ(get(d.port(), "/HTDEBUG?NOPE"),
            page("NOPE", "<font color=#0000C0>  HTDEBUG: message type NOT recognized.\n</font>" +
                             kUnknown));
  std::string output = d.output();
  EXPECT_NE(output.find("decoded: \"GET /HTDEBUG?REV HTTP/1.0\""), std::string::npos);
  EXPECT_EQ(output.find("REV(1)"), std::string::npos) << output;
  const std::string text = " <script>alert(1)</script> & \"q\"";
  EXPECT_EQ(get(d.port(), "/HTDEBUG?ECHO" + text),
            page(escaped("ECHO" + text),
                 escaped(text) + "<font color=#0000C0>  ECHO(1) " + escaped(text) + "\n</font>"));
  // The request log holds the request as it came; the page shows it escaped.
  std::string log = get(d.port(), "/HTDEBUG?LOGREAD%200%204095");
  EXPECT_NE(log.find(escaped("ECHO" + text)), std::string::npos) << log;
  EXPECT_EQ(log.find("<script>"), std::string::npos) << log;
  // The commands' own replies stay as they are.
  EXPECT_EQ(request(d.port(), "ECHO" + text), text);
}

// A real browser against the real daemon: headless Chromium loads the bundled
// pages and prints the document it built. The debug page's bytes are pinned above.
std::string find_browser() {
  for (const char* path : {"/usr/bin/chromium", "/usr/lib/chromium/chromium"}) {
    if (::access(path, X_OK) == 0) return path;
  }
  return "";
}

// The document the browser built for the page at url.
std::string dump_dom(const std::string& browser, const std::string& url) {
  std::string profile = make_temp_dir();
  std::string command = "timeout 60 " + browser +
                        " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                        " --disable-background-networking --disable-component-update"
                        " --disable-sync --user-data-dir=" +
                        profile + " --dump-dom '" + url + "' 2>/dev/null";
  std::string dom = run_command(command).output;
  std::filesystem::remove_all(profile);
  return dom;
}

// The bundled pages, then the debug page showing markup as text.
TEST(Browser, ShowsTheBundledPagesAndRunsNoScriptOfTheDebugPage) {
  std::string browser = find_browser();
  if (browser.empty()) GTEST_SKIP() << "chromium is not installed (scripts/deps installs it)";
  const std::string www = std::string(TAVRO_SOURCE_DIR) + "/packaging/www";
  WebSite site;
  // A short receive deadline: the browser may open a connection it never uses.
  DaemonProcess& d =
      site.start({"-base", www, "-html", www + "/index.html", "-rxto", "2", "-debug", "enabled"});
  std::string url = "http://127.0.0.1:" + std::to_string(d.port());

  std::string index = dump_dom(browser, url + "/");
  EXPECT_NE(index.find("<title>tavro - adapter management</title>"), std::string::npos) << index;
  EXPECT_NE(index.find("<h1>tavro adapter management</h1>"), std::string::npos) << index;
  EXPECT_NE(index.find("<img src=\"/adapter.gif\""), std::string::npos) << index;
  // The page and its image were both fetched.
  std::string stats = get_stats(d.port());
  EXPECT_EQ(stats.rfind("GET;", 0), 0u) << stats;
  EXPECT_NE(stats.find("GET(htmls);1;GET(images);1;"), std::string::npos) << stats;

  std::string script = "<script>document.body.setAttribute(\"data-ran\",\"ye\"+\"s\")</script>";
  std::string dom = dump_dom(browser, url + "/HTDEBUG?ECHO%20" + script + "<b>bold</b>");
  EXPECT_EQ(dom.find("data-ran=\"yes\""), std::string::npos) << dom;
  EXPECT_EQ(dom.find("<b>bold</b>"), std::string::npos) << dom;
  EXPECT_NE(dom.find("&lt;script&gt;document.body"), std::string::npos) << dom;
  EXPECT_NE(dom.find("&lt;b&gt;bold&lt;/b&gt;"), std::string::npos) << dom;
}

}  // namespace
}  // namespace tavro::testing
