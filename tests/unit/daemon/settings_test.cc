#include "daemon/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/diag.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  std::string conf_file(const std::string& text) {
    std::string path = dir_ + "/tavro.conf";
    testing::write_file(path, text);
    return path;
  }
  ParseResult parse(std::vector<std::string> words) { return parse_into(settings_, words); }
  static ParseResult parse_into(Settings& settings, const std::vector<std::string>& words) {
    std::vector<const char*> argv;
    for (const auto& w : words) argv.push_back(w.c_str());
    Diag diag{settings.debug};
    return parse_command_line(settings, static_cast<int>(argv.size()), argv.data(), diag);
  }

  std::string dir_ = testing::make_temp_dir();
  Settings settings_;
};

TEST_F(SettingsTest, OnlyTheFirstConfigurationFileIsReadAtThePlaceOfDashC) {
  std::string file = conf_file("Port 81\nConfName other.conf\n");
  std::string second = dir_ + "/second.conf";
  testing::write_file(second, "Port 99\n");
  ASSERT_EQ(parse({"-port", "80", "-c", file, "-c", second}), ParseResult::kOk);
  EXPECT_EQ(settings_.port, 81);
  EXPECT_EQ(std::string(settings_.conf_name), second);

  Settings later;
  ASSERT_EQ(parse_into(later, {"-c", file, "-port", "80"}), ParseResult::kOk);
  EXPECT_EQ(later.port, 80);
}

// The first 127 characters of a long line form one line (here a comment); the
// rest is a line of its own. Paths with blanks need quotes.
TEST_F(SettingsTest, FileValuesUseBaseDetectionEnableWordsAndQuotes) {
  std::string file = conf_file("# comment line\n\n##" + std::string(125, '#') +
                               "Port 0x51\n"
                               "Debug 010\n"
                               "Unknown 5\n"
                               "LogOpen\n"
                               "RecvTimeOut many\n"
                               "GetReq off\n"
                               "FcGetReq ENABLED\n"
                               "FcSetReq 0\n"
                               "HbaApiReq True\n"
                               "RevReq 1\n"
                               "BaseDir /srv/my pages\n"
                               "ErrorHtml \"/srv/my pages/error.html\" trailing words\n");
  ASSERT_EQ(parse({"-c", file}), ParseResult::kOk);
  EXPECT_EQ(settings_.port, 81);
  EXPECT_EQ(settings_.debug, 8);
  EXPECT_EQ(settings_.log_open, 0);
  EXPECT_EQ(settings_.recv_timeout, 0);
  EXPECT_EQ(settings_.get_req, kDisabled);
  EXPECT_EQ(settings_.fc_get_req, kEnabled);
  EXPECT_EQ(settings_.fc_set_req, kEnabled);
  EXPECT_EQ(settings_.hba_api_req, kDisabled);
  EXPECT_EQ(settings_.rev_req, kDisabled);
  EXPECT_STREQ(settings_.base_dir, "/srv/my");
  EXPECT_STREQ(settings_.error_html, "/srv/my pages/error.html");
}

// Integers beyond 32 bits stay at the nearest end; texts are cut to their
// setting.
TEST_F(SettingsTest, ValuesThatDoNotFitAreClampedOrCut) {
  const struct {
    const char* text;
    std::int32_t value;
  } rows[] = {{"0x7FFFFFFF", INT32_MAX},  {"0x80000000", INT32_MAX},  {"99999999999", INT32_MAX},
              {"-2147483648", INT32_MIN}, {"-0x80000001", INT32_MIN}, {"4294967296", INT32_MAX}};
  for (const auto& row : rows) EXPECT_EQ(parse_integer_setting(row.text), row.value) << row.text;
  std::string long_path(400, 'p');
  ASSERT_EQ(parse({"-d", "0x80000000", "-base", long_path, "-apilib", "libhbaapi.so"}),
            ParseResult::kOk);
  EXPECT_EQ(settings_.debug, INT32_MAX);
  EXPECT_EQ(std::string(settings_.base_dir), std::string(255, 'p'));
  EXPECT_STREQ(settings_.hba_api_lib, "libhbaa");
  EXPECT_EQ(settings_.recv_timeout, 12);  // the neighbouring setting is intact
}

TEST(EnableAndAccess, OnlyTheListedSpellingsEnable) {
  for (const char* yes :
       {"true", "on", "yes", "enable", "enabled", "0", "TRUE", "ON", "YES", "ENABLE", "ENABLED"}) {
    EXPECT_EQ(parse_enable(yes), kEnabled) << yes;
  }
  for (const char* no : {"True", "1", "off", "", "enabled "})
    EXPECT_EQ(parse_enable(no), kDisabled) << no;

  EXPECT_EQ(parse_access("rWx?"), 0x70);
  char text[4];
  format_access(0x50, text);
  EXPECT_STREQ(text, "r-x");
}

}  // namespace
}  // namespace tavro
