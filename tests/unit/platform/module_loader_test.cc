#include "platform/module_loader.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/daemon_process.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// The same test library is built twice: probe 1 next to the test programs,
// probe 2 in the "probe" directory below them.
int probe(void* module) {
  auto id = reinterpret_cast<int (*)()>(platform::module_symbol(module, "probe_id"));
  return id != nullptr ? id() : -1;
}

class ScopedPath {
 public:
  explicit ScopedPath(const std::string& value) {
    if (const char* old = std::getenv(platform::kLibraryPathVariable)) saved_ = old, had_ = true;
    ::setenv(platform::kLibraryPathVariable, value.c_str(), 1);
  }
  ~ScopedPath() {
    if (had_) {
      ::setenv(platform::kLibraryPathVariable, saved_.c_str(), 1);
    } else {
      ::unsetenv(platform::kLibraryPathVariable);
    }
  }

 private:
  std::string saved_;
  bool had_ = false;
};

TEST(ModuleLoader, FindsTheLibraryNextToTheExecutable) {
  EXPECT_EQ(platform::executable_dir(), fs::canonical(tavro::testing::binary_dir()).string());
  int error = 0;
  void* module = platform::load_module("TavroFaultTest", &error);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(probe(module), 1);
  platform::unload_module(module);
}

TEST(ModuleLoader, PathVariableComesFirstAndSkipsEmptyAndMissingEntries) {
  std::string probe_dir = tavro::testing::binary_dir() + "/probe";
  ScopedPath path("::/nonexistent/dir:" + probe_dir + ":");
  int error = 0;
  void* module = platform::load_module("TavroFaultTest", &error);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(probe(module), 2);
  platform::unload_module(module);
}

TEST(ModuleLoader, MissingLibraryReportsNotFound) {
  int error = 0;
  EXPECT_EQ(platform::load_module("TavroNoSuchLibrary", &error), nullptr);
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(platform::module_present("TavroNoSuchLibrary"));
}

TEST(ModuleLoader, PresenceProbeNeverLoads) {
  // A copy under a name that no other test loads.
  std::string dir = tavro::testing::make_temp_dir();
  fs::copy_file(tavro::testing::binary_dir() + "/libTavroFaultTest.so",
                dir + "/libTavroPresenceProbe.so");
  ScopedPath path(dir);
  EXPECT_FALSE(platform::module_present("TavroPresenceProbe"));
  EXPECT_FALSE(platform::module_present("TavroPresenceProbe"));
  int error = 0;
  void* module = platform::load_module("TavroPresenceProbe", &error);
  ASSERT_NE(module, nullptr);
  EXPECT_TRUE(platform::module_present("TavroPresenceProbe"));
  platform::unload_module(module);
  EXPECT_FALSE(platform::module_present("TavroPresenceProbe"));
  fs::remove_all(dir);
}

// The system's own search (here: LD_LIBRARY_PATH, read when a program
// starts) is the last resort. Runs this test program again with it set.
TEST(ModuleLoader, FallsBackToTheSystemSearch) {
  if (std::getenv("TAVRO_SYSTEM_SEARCH_CHILD") != nullptr) {
    int error = 0;
    void* module = platform::load_module("TavroSystemProbe", &error);
    std::exit(module != nullptr && probe(module) == 1 ? 0 : 3);
  }
  std::string dir = tavro::testing::make_temp_dir();
  fs::copy_file(tavro::testing::binary_dir() + "/libTavroFaultTest.so",
                dir + "/libTavroSystemProbe.so");
  std::string self = fs::read_symlink("/proc/self/exe");
  std::string filter = "--gtest_filter=ModuleLoader.FallsBackToTheSystemSearch";
  char* argv[] = {self.data(), filter.data(), nullptr};
  std::string library_path = "LD_LIBRARY_PATH=" + dir;
  std::string marker = "TAVRO_SYSTEM_SEARCH_CHILD=1";
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("LD_LIBRARY_PATH=", 0) != 0) env.push_back(*e);
  }
  env.push_back(library_path.data());
  env.push_back(marker.data());
  env.push_back(nullptr);
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, env.data()), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  fs::remove_all(dir);
}

}  // namespace
