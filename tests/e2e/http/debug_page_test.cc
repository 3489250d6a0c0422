// The debug page against the real daemon: a command run from a GET, its reply
// and the traces printed meanwhile, shown in a preformatted page.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/http/web_site.h"

namespace tavro::testing {
namespace {

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

}  // namespace
}  // namespace tavro::testing
