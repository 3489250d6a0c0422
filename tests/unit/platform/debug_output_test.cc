#include "platform/debug_output.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The target is chosen once per process, so each case runs in a child.
TEST(DebugOutput, GoesToTheNamedFile) {
  std::string path = "/tmp/tavro-debug-output-" + std::to_string(::getpid());
  std::remove(path.c_str());
  EXPECT_EXIT(
      {
        ::setenv(platform::kDebugOutputVariable, path.c_str(), 1);
        platform::debug_output("TAVRO: Running WinMain().\n");
        platform::debug_output("second\n");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "TAVRO: Running WinMain().\nsecond\n");
  std::remove(path.c_str());
}

TEST(DebugOutput, GoesToStandardErrorOrNowhere) {
  EXPECT_EXIT(
      {
        ::setenv(platform::kDebugOutputVariable, "stderr", 1);
        platform::debug_output("to stderr\n");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "to stderr");
  EXPECT_EXIT(
      {
        ::unsetenv(platform::kDebugOutputVariable);
        platform::debug_output("nowhere\n");
        std::fprintf(stderr, "done");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "^done$");
}

}  // namespace
