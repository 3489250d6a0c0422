// A real browser against the real daemon: headless Chromium loads the bundled
// pages and prints the document it built. The debug page's bytes are pinned in
// debug_page_test.cc.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/e2e/http/web_site.h"

namespace tavro::testing {
namespace {

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
