#include "platform/module_loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/daemon_process.h"

namespace {

namespace fs = std::filesystem;
using tavro::testing::binary_dir;

// The same test library is built twice: probe 1 next to the test programs,
// probe 2 in the "probe" directory below them.
int probe(const char* name) {
  int error = 0;
  void* module = platform::load_module(name, &error);
  auto id = reinterpret_cast<int (*)()>(platform::module_symbol(module, "probe_id"));
  int found = module == nullptr ? -error : (id != nullptr ? id() : 0);
  platform::unload_module(module);
  return found;
}

// The test library under a name no other test loads, in a folder of its own.
std::string copy_library(const std::string& name) {
  std::string dir = tavro::testing::make_temp_dir();
  fs::copy_file(binary_dir() + "/libTavroFaultTest.so", dir + "/lib" + name + ".so");
  return dir;
}

TEST(ModuleLoader, PathVariableComesFirstAndSkipsEmptyAndMissingEntries) {
  ::setenv(platform::kLibraryPathVariable,
           ("::/nonexistent/dir:" + binary_dir() + "/probe:").c_str(), 1);
  EXPECT_EQ(probe("TavroFaultTest"), 2);
  ::unsetenv(platform::kLibraryPathVariable);
}

TEST(ModuleLoader, PresenceProbeNeverLoads) {
  ::setenv(platform::kLibraryPathVariable, copy_library("TavroPresenceProbe").c_str(), 1);
  EXPECT_FALSE(platform::module_present("TavroPresenceProbe"));
  EXPECT_FALSE(platform::module_present("TavroPresenceProbe"));
  void* module = platform::load_module("TavroPresenceProbe", nullptr);
  ASSERT_NE(module, nullptr);
  EXPECT_TRUE(platform::module_present("TavroPresenceProbe"));
  platform::unload_module(module);
  EXPECT_FALSE(platform::module_present("TavroPresenceProbe"));
  ::unsetenv(platform::kLibraryPathVariable);
}

// The system's own search (here: LD_LIBRARY_PATH, read when a program
// starts) is the last resort. Runs this test program again with it set.
TEST(ModuleLoader, FallsBackToTheSystemSearch) {
  if (std::getenv("TAVRO_SYSTEM_SEARCH_CHILD") != nullptr) {
    std::exit(probe("TavroSystemProbe") == 1 ? 0 : 3);
  }
  std::string command = "LD_LIBRARY_PATH='" + copy_library("TavroSystemProbe") +
                        "' TAVRO_SYSTEM_SEARCH_CHILD=1 '" +
                        fs::read_symlink("/proc/self/exe").string() +
                        "' --gtest_filter=ModuleLoader.FallsBackToTheSystemSearch >/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace
