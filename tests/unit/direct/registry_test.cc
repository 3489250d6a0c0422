// The registry stand-in: values as files, names regardless of case, writes
// that a crash cannot tear.
#include "platform/registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "objects/direct/direct_access.h"
#include "objects/direct/fcdi_table.h"
#include "tests/support/daemon_process.h"

namespace platform {
namespace {

using tavro::testing::make_temp_dir;
using tavro::testing::read_file;
using tavro::testing::write_file;

constexpr const char* kKey = "System\\CurrentControlSet\\Services\\qv781s\\qv781s0A";

class RegistryTest : public ::testing::Test {
 protected:
  std::string root_ = make_temp_dir();
  std::string key_dir_ = root_ + "/System/CurrentControlSet/Services/qv781s/qv781s0A";
  Registry registry_{root_};
  std::uint32_t value_ = 0;
};

// Keys and values match regardless of case (files are checked end to end).
TEST_F(RegistryTest, CaseMissingValuesBadContentsAndBadNames) {
  ASSERT_EQ(registry_.write_dword(kKey, "LOGERROR", 4294967295u), RegResult::kOk);
  EXPECT_EQ(registry_.read_dword("SYSTEM\\currentcontrolset\\services\\QV781S\\qv781s0a",
                                 "logerror", &value_),
            RegResult::kOk);
  EXPECT_EQ(value_, 4294967295u);
  EXPECT_EQ(read_file(key_dir_ + "/LOGERROR"), "4294967295\n");
  EXPECT_EQ(registry_.read_dword(kKey, "Other", &value_), RegResult::kNoValue);
  ASSERT_EQ(registry_.write_dword(kKey, "AlPa", 1), RegResult::kOk);
  write_file(key_dir_ + "/AlPa", "0x10\n");
  EXPECT_EQ(registry_.read_dword(kKey, "AlPa", &value_), RegResult::kOk);
  EXPECT_EQ(value_, 16u);
  for (const char* bad : {"abc\n", "4294967296\n", "", "-1"}) {
    write_file(key_dir_ + "/AlPa", bad);
    EXPECT_EQ(registry_.read_dword(kKey, "AlPa", &value_), RegResult::kIoFailed) << bad;
  }
  // Names that would leave their folder are refused.
  for (const std::string& name :
       std::vector<std::string>{"", "..", ".hidden", "a/b", "../../x", std::string(256, 'n')}) {
    EXPECT_EQ(registry_.write_dword(kKey, name.c_str(), 1), RegResult::kBadName) << name;
  }
  EXPECT_EQ(registry_.write_dword(kKey, std::string(255, 'n').c_str(), 1), RegResult::kOk);
  EXPECT_EQ(registry_.write_dword("System\\..\\x", "v", 1), RegResult::kBadName);
  EXPECT_FALSE(std::filesystem::exists(root_ + "/x"));
}

// A key holds a bounded number of values; what killed writers left is swept
// away. (A registry folder not made yet is met in tests/e2e/direct.)
TEST_F(RegistryTest, ValueLimitAndStaleTemporaryFiles) {
  for (std::size_t i = 1; i < kMaxValuesPerKey; ++i) {
    ASSERT_EQ(registry_.write_dword(kKey, ("v" + std::to_string(i)).c_str(), 1), RegResult::kOk);
  }
  EXPECT_EQ(registry_.write_dword(kKey, "last", 1), RegResult::kOk);
  EXPECT_EQ(registry_.write_dword(kKey, "one-more", 1), RegResult::kIoFailed);
  EXPECT_EQ(registry_.write_dword(kKey, "LAST", 2), RegResult::kOk);  // not a new name
  EXPECT_EQ(registry_.read_dword(kKey, "one-more", &value_), RegResult::kNoValue);

  pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  std::string root = make_temp_dir(), key = root + "/System/qv781s";
  std::filesystem::create_directories(key);
  const std::string dead = "/.tmp." + std::to_string(gone) + ".0";
  const std::string live = "/.tmp." + std::to_string(::getppid()) + ".0";
  write_file(key + dead, "1");
  write_file(root + dead, "1");
  write_file(key + live, "1");
  Registry(root).read_dword("System\\qv781s", "AlPa", &value_);
  EXPECT_FALSE(std::filesystem::exists(key + dead));
  EXPECT_FALSE(std::filesystem::exists(root + dead));
  EXPECT_TRUE(std::filesystem::exists(key + live));
}

// A writer killed after its new value is on disk but before the rename
// leaves the old value whole, and readers see only the old value.
TEST_F(RegistryTest, WriterKilledBeforeTheRenameLeavesTheOldValueWhole) {
  ASSERT_EQ(registry_.write_dword(kKey, "LogError", 2), RegResult::kOk);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  if (child == 0) {
    int dir = ::open(key_dir_.c_str(), O_RDONLY | O_DIRECTORY);
    replace_file_atomically(dir, "LogError", "123456789\n", [&] {
      char byte = 1;
      (void)!::write(ready[1], &byte, 1);
      ::pause();
    });
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(registry_.read_dword(kKey, "LogError", &value_), RegResult::kOk);
  EXPECT_EQ(value_, 2u);
  EXPECT_EQ(read_file(key_dir_ + "/LogError"), "2\n");
  ASSERT_EQ(registry_.write_dword(kKey, "LogError", 3), RegResult::kOk);
  EXPECT_EQ(read_file(key_dir_ + "/LogError"), "3\n");
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST_F(RegistryTest, FailedWriteLeavesTheOldValueAndNoTemporaryFile) {
  ASSERT_EQ(registry_.write_dword(kKey, "AlPa", 5), RegResult::kOk);
  // A folder in the value's place cannot be replaced by a file.
  ASSERT_EQ(::mkdir((key_dir_ + "/ShadowRam").c_str(), 0755), 0);
  EXPECT_EQ(registry_.write_dword(kKey, "ShadowRam", 1), RegResult::kIoFailed);
  auto entries = std::filesystem::directory_iterator(key_dir_);
  EXPECT_EQ(std::distance(begin(entries), end(entries)), 2);  // AlPa and the folder
  EXPECT_EQ(read_file(key_dir_ + "/AlPa"), "5\n");
}

// The daemon's registry under TAVRO_REGISTRY_DIR is used in the end-to-end tests.
TEST(Registry, RootWithoutTheEnvironmentIsTheSystemFolder) {
  ::setenv(kRegistryDirVariable, "", 1);
  EXPECT_EQ(Registry::default_root(), "/var/lib/tavro/registry");
  ::unsetenv(kRegistryDirVariable);
}

}  // namespace
}  // namespace platform

// The direct-object tables and value parsing.
namespace tavro {
namespace {

// What the rows read is checked end to end (tests/e2e/direct).
TEST(FcdiTable, SettingNamesAndNoRowHidesALaterOneByPrefix) {
  const char* names[] = {"MaxFrameSize",  "AlPa",           "Point2Point", "ShadowRam",
                         "AutoDiscovery", "LogInformation", "LogWarning",  "LogError"};
  for (int i = 0; i < 8; ++i) EXPECT_STREQ(fcdi_set_table[i + 1].setting, names[i]);
  // No row hides a later one by being its prefix.
  for (const fcdi_oid_entry* later = fcdi_get_table; later->oid != nullptr; ++later) {
    for (const fcdi_oid_entry* earlier = fcdi_get_table; earlier < later; ++earlier) {
      EXPECT_NE(std::strncmp(later->oid, earlier->oid, std::strlen(earlier->oid)), 0)
          << earlier->oid << " hides " << later->oid;
    }
  }
}

TEST(SettingValue, NumbersWithBasePrefixesThatFit32Bits) {
  for (const auto& row : testing::read_rows("unit/direct/setting_values.txt")) {
    std::uint32_t value = 99;
    const bool ok = parse_setting_value(row.at(0).c_str(), std::stoi(row.at(1)), &value);
    EXPECT_EQ(ok, row.at(2) != "refused") << row.at(0);
    if (ok) {
      EXPECT_EQ(std::to_string(value), row.at(2)) << row.at(0);
    }
  }
}

}  // namespace
}  // namespace tavro
