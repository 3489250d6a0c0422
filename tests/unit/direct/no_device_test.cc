// Built into a folder of its own, where no device provider lies next to the
// program: the devices are looked for as /dev/qv781sNN, which this host does
// not have. How the adapter table treats a missing device is checked end to
// end (tests/e2e/direct).
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/device.h"

namespace platform {
namespace {

TEST(NoDevice, TheDeviceIsLookedForUnderDevAndIsMissing) {
  Devices devices;
  int error = 0;
  ASSERT_EQ(devices.open("\\\\.\\qv781s00", &error), kNoDevice);
  EXPECT_FALSE(devices.provider());
  EXPECT_EQ(error, ENOENT);
}

}  // namespace
}  // namespace platform
