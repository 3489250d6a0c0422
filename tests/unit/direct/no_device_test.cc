// Without a device provider beside the program the devices are /dev/qv781sNN
// driven by ioctl(2): here in a private mount namespace, answered by the test.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "platform/device.h"
#include "tests/support/daemon_process.h"

namespace {

// The last request the "driver" saw and the raw bytes of its argument.
struct Seen {
  int fd = -1;
  unsigned long code = 0;
  unsigned char arg[32] = {};
} seen;

}  // namespace

// Stands in for the driver: records the request and reports one byte more
// than the out buffer (its size at byte 12) holds.
extern "C" int ioctl(int fd, unsigned long code, ...) noexcept {
  va_list args;
  va_start(args, code);
  auto* arg = static_cast<unsigned char*>(va_arg(args, void*));
  va_end(args);
  seen.fd = fd;
  seen.code = code;
  std::memcpy(seen.arg, arg, sizeof seen.arg);
  std::uint32_t out_size = 0;
  std::memcpy(&out_size, arg + 12, 4);
  std::uint32_t returned = out_size + 1;
  std::memcpy(arg + 24, &returned, 4);
  return 0;
}

namespace platform {
namespace {

template <typename T>
T at(std::size_t offset) {
  T value;
  std::memcpy(&value, seen.arg + offset, sizeof value);
  return value;
}

void under_private_dev() {
  if (::unshare(CLONE_NEWNS) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) _exit(77);
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("tmpfs", "/dev", "tmpfs", 0, nullptr) != 0) {
    _exit(77);
  }
  tavro::testing::write_file("/dev/qv781s0A", "");
  Devices devices;
  int error = 0;
  EXPECT_EQ(devices.open("\\\\.\\qv781s00", &error), kNoDevice);
  EXPECT_EQ(error, ENOENT);
  device_t device = devices.open("\\\\.\\qv781s0A", &error);
  ASSERT_NE(device, kNoDevice) << error;
  struct stat opened, file;
  ASSERT_EQ(::fstat(device, &opened), 0);
  ASSERT_EQ(::stat("/dev/qv781s0A", &file), 0);
  EXPECT_EQ(opened.st_ino, file.st_ino);
  EXPECT_EQ(devices.open("\\\\.\\qv781s0A", &error), kNoDevice) << "opened without sharing";
  EXPECT_EQ(error, EBUSY);

  const char in[5] = "abcd";
  unsigned char out[7] = {};
  std::uint32_t returned = 0;
  EXPECT_EQ(devices.control(device, 0x222082, in, sizeof in, out, sizeof out, &returned), 0);
  EXPECT_EQ(seen.fd, device);
  EXPECT_EQ(seen.code, 0x222082u);
  EXPECT_EQ(at<const void*>(0), in);
  EXPECT_EQ(at<std::uint32_t>(8), sizeof in);
  EXPECT_EQ(at<std::uint32_t>(12), sizeof out);
  EXPECT_EQ(at<void*>(16), out);
  EXPECT_EQ(returned, sizeof out) << "what the driver claims is cut to the buffer";
  devices.close(device);
}

TEST(NoDevice, TheDeviceIsOpenedUnderDevAndDrivenByIoctl) {
  pid_t child = ::fork();
  if (child == 0) {
    under_private_dev();
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private mount namespace";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed: " << status;
}

}  // namespace
}  // namespace platform
