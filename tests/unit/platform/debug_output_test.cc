#include "platform/debug_output.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "tests/support/daemon_process.h"

namespace {

// The target is chosen once per process, so each case runs in a child.
TEST(DebugOutput, GoesToTheNamedFileStandardErrorOrNowhere) {
  const std::string path = tavro::testing::make_temp_dir() + "/debug.out";
  const struct {
    const char* target;  // null: the variable is not set
    const char* standard_error;
  } cases[] = {
      {path.c_str(), "^done$"},
      {"stderr", "^TAVRO: Running WinMain\\(\\)\\.\nsecond\ndone$"},
      {nullptr, "^done$"},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          c.target != nullptr ? ::setenv(platform::kDebugOutputVariable, c.target, 1)
                              : ::unsetenv(platform::kDebugOutputVariable);
          platform::debug_output("TAVRO: Running WinMain().\n");
          platform::debug_output("second\n");
          std::fprintf(stderr, "done");
          std::exit(0);
        },
        ::testing::ExitedWithCode(0), c.standard_error)
        << (c.target != nullptr ? c.target : "unset");
  }
  EXPECT_EQ(tavro::testing::read_file(path), "TAVRO: Running WinMain().\nsecond\n");
}

}  // namespace
