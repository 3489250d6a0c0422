#include "daemon/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/diag.h"
#include "daemon/daemon.h"
#include "daemon/service_commands.h"
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

// conf_values.txt
TEST_F(SettingsTest, FileValuesUseBaseDetectionEnableWordsAndQuotes) {
  std::string text;
  std::vector<std::string> want;
  for (const auto& row : testing::read_rows("unit/daemon/conf_values.txt"))
    row.at(0) == "conf" ? text += row.at(1) + "\n" : want.emplace_back(row.at(1));
  Daemon d;
  ASSERT_EQ(parse_into(d.settings, {"-c", conf_file(text)}), ParseResult::kOk);
  char reply[4096];
  build_config_reply(d, reply, sizeof reply);
  const std::string config = ";" + std::string(reply) + ";";
  for (const std::string& line : want)
    EXPECT_NE(config.find(";" + line + ";"), std::string::npos) << line << " in " << config;
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

TEST(ConfigAndStatsReplies, AreCutToTheBufferAndNeverWrittenPastIt) {
  Daemon d;
  char out[64 + 8];
  std::memset(out, '#', sizeof out);
  std::size_t n = build_config_reply(d, out, 64);
  EXPECT_LE(n, 63u);
  EXPECT_EQ(out[n], '\0');
  EXPECT_EQ(std::string(out, 15), "Up since;;Revis");
  EXPECT_EQ(std::string(out + 64, 8), std::string(8, '#'));
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(build_stats_reply(d, out, 40), 39u);
  EXPECT_EQ(std::string(out, 39), "GET;0;GET(htmls);0;GET(images);0;GET(ja");
  EXPECT_EQ(std::string(out + 40, 4), "####");
}

}  // namespace
}  // namespace tavro
