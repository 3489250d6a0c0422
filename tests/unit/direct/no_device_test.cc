// Built into a folder of its own, where no device provider lies next to the
// program: the devices are looked for as /dev/qv781sNN, which this host does
// not have, so every slot stays empty and the probe is not repeated.
#include <gtest/gtest.h>

#include <cerrno>

#include "daemon/diag.h"
#include "objects/direct/direct_access.h"
#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

TEST(NoDevice, EverySlotHasNoAdapterAndTheProbeIsNotRepeated) {
  platform::Devices devices;
  int error = 0;
  ASSERT_EQ(devices.open("\\\\.\\qv781s00", &error), platform::kNoDevice);
  EXPECT_FALSE(devices.provider());
  EXPECT_EQ(error, ENOENT);

  std::int32_t debug = 0;
  Diag diag(debug);
  DirectAccess direct(diag, testing::make_temp_dir());
  direct.open_all();
  EXPECT_FALSE(direct.opened());
  for (int slot = 0; slot < 8; ++slot) EXPECT_EQ(direct.open_status(slot), kFcNoAdapter);
  EXPECT_EQ(direct.probe_cursor(), 128);
  EXPECT_EQ(direct.device_number(0), -1);
  std::uint32_t values[kSettingCount];
  EXPECT_EQ(direct.settings(0, values), kFcNoAdapter);
}

}  // namespace
}  // namespace tavro
