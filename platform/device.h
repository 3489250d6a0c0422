// Adapter devices opened by their Windows name "\\.\qv781sNN" and driven by
// I/O control codes with an in buffer and an out buffer.
//
// A device provider module "qv781s" (libqv781s.so, found like every other
// run-time library) serves the devices when it is present. Otherwise the
// character device /dev/qv781sNN is opened and each request is one ioctl(2)
// with the I/O control code as request number and a DeviceIoctl as argument.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

inline constexpr const char* kDeviceProvider = "qv781s";

// The provider's exports (C linkage):
//   int qv781s_open(const char* name);   handle >= 0, or -errno
//   int qv781s_control(int handle, uint32_t code, const void* in, uint32_t in_size,
//                      void* out, uint32_t out_size, uint32_t* returned);  0 or errno
//   int qv781s_close(int handle);        0 or errno
using DeviceOpenFn = int (*)(const char*);
using DeviceControlFn = int (*)(int, std::uint32_t, const void*, std::uint32_t, void*,
                                std::uint32_t, std::uint32_t*);
using DeviceCloseFn = int (*)(int);

// The argument of ioctl(2) on /dev/qv781sNN.
struct DeviceIoctl {
  const void* in;
  std::uint32_t in_size;
  std::uint32_t out_size;
  void* out;
  std::uint32_t returned;  // filled by the driver
};

using device_t = int;
inline constexpr device_t kNoDevice = -1;

class Devices {
 public:
  Devices() = default;
  ~Devices();
  Devices(const Devices&) = delete;
  Devices& operator=(const Devices&) = delete;

  // Opens a device by its Windows name ("\\.\qv781s0A"). Returns kNoDevice
  // with *error set to an errno value when it is not there.
  device_t open(const char* name, int* error);
  // Sends one I/O control request; returns 0, or an errno value. *returned
  // is the count of bytes the driver put into out.
  int control(device_t device, std::uint32_t code, const void* in, std::size_t in_size, void* out,
              std::size_t out_size, std::uint32_t* returned);
  void close(device_t device);

  // True when a provider module serves the devices (known after the first open).
  bool provider() const { return open_ != nullptr; }

 private:
  void bind();

  bool bound_ = false;
  void* module_ = nullptr;
  DeviceOpenFn open_ = nullptr;
  DeviceControlFn control_ = nullptr;
  DeviceCloseFn close_ = nullptr;
};

// "/dev/qv781s0A" for "\\.\qv781s0A"; the name itself when it has no "\\.\".
const char* device_path_tail(const char* name);

}  // namespace platform
