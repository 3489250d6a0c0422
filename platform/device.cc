#include "platform/device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "platform/module_loader.h"

namespace platform {
namespace {

constexpr const char* kWindowsDevicePrefix = "\\\\.\\";

bool fits_u32(std::size_t size) {
  return size <= UINT32_MAX;
}

}  // namespace

const char* device_path_tail(const char* name) {
  std::size_t n = std::strlen(kWindowsDevicePrefix);
  return std::strncmp(name, kWindowsDevicePrefix, n) == 0 ? name + n : name;
}

Devices::~Devices() {
  if (module_ != nullptr) unload_module(module_);
}

void Devices::bind() {
  if (bound_) return;
  bound_ = true;
  int error = 0;
  module_ = load_module(kDeviceProvider, &error);
  if (module_ == nullptr) return;
  auto open = reinterpret_cast<DeviceOpenFn>(module_symbol(module_, "qv781s_open"));
  auto control = reinterpret_cast<DeviceControlFn>(module_symbol(module_, "qv781s_control"));
  auto close = reinterpret_cast<DeviceCloseFn>(module_symbol(module_, "qv781s_close"));
  if (open == nullptr || control == nullptr || close == nullptr) {
    unload_module(module_);
    module_ = nullptr;
    return;
  }
  open_ = open;
  control_ = control;
  close_ = close;
}

device_t Devices::open(const char* name, int* error) {
  bind();
  int handle = -1;
  if (open_ != nullptr) {
    handle = open_(name);
    if (handle < 0) {
      *error = handle == INT_MIN ? ENOENT : -handle;
      return kNoDevice;
    }
    return handle;
  }
  std::string path = std::string("/dev/") + device_path_tail(name);
  handle = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (handle < 0) {
    *error = errno;
    return kNoDevice;
  }
  // Opened without sharing: a second opener is refused.
  if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
    *error = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(handle);
    return kNoDevice;
  }
  return handle;
}

int Devices::control(device_t device, std::uint32_t code, const void* in, std::size_t in_size,
                     void* out, std::size_t out_size, std::uint32_t* returned) {
  *returned = 0;
  if (device < 0) return EBADF;
  if (!fits_u32(in_size) || !fits_u32(out_size)) return EINVAL;
  auto in32 = static_cast<std::uint32_t>(in_size);
  auto out32 = static_cast<std::uint32_t>(out_size);
  if (control_ != nullptr) {
    std::uint32_t got = 0;
    int error = control_(device, code, in, in32, out, out32, &got);
    *returned = got > out32 ? out32 : got;
    return error;
  }
  DeviceIoctl request{in, in32, out32, out, 0};
  if (::ioctl(device, static_cast<unsigned long>(code), &request) < 0) return errno;
  *returned = request.returned > out32 ? out32 : request.returned;
  return 0;
}

void Devices::close(device_t device) {
  if (device < 0) return;
  if (close_ != nullptr) {
    close_(device);
  } else {
    ::close(device);
  }
}

}  // namespace platform
