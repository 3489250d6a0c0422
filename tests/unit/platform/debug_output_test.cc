#include "platform/debug_output.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <utility>

#include "tests/support/daemon_process.h"

namespace {

// The target is chosen once per process, so each case runs in a child.
TEST(DebugOutput, GoesToTheNamedFileStandardErrorOrNowhere) {
  const std::string path = tavro::testing::make_temp_dir() + "/debug.out";
  // The variable's value (null: not set) and what goes to standard error.
  const std::pair<const char*, const char*> cases[] = {
      {path.c_str(), "^done$"},
      {"stderr", "^TAVRO: Running WinMain\\(\\)\\.\nsecond\ndone$"},
      {nullptr, "^done$"},
  };
  for (const auto& [target, standard_error] : cases) {
    EXPECT_EXIT(
        {
          target != nullptr ? ::setenv(platform::kDebugOutputVariable, target, 1)
                            : ::unsetenv(platform::kDebugOutputVariable);
          platform::debug_output("TAVRO: Running WinMain().\n");
          platform::debug_output("second\n");
          std::fprintf(stderr, "done");
          std::exit(0);
        },
        ::testing::ExitedWithCode(0), standard_error)
        << (target != nullptr ? target : "unset");
  }
  EXPECT_EQ(tavro::testing::read_file(path), "TAVRO: Running WinMain().\nsecond\n");
}

}  // namespace
