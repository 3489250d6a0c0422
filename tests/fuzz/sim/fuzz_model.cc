// A simulator model file: the adapters and faults, the devices section and
// the HBA API faults section, each parsed from the same text as the
// libraries parse it. A bad file must be refused with an error, never crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/hbaapi/hbaapi_model.h"
#include "sim/model.h"
#include "sim/qv781s/device_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  sim::Model model;
  sim::Faults faults;
  if (sim::parse_model(text, 0, model, faults, error)) {
    std::vector<sim::Device> devices;
    sim::parse_devices(text, model, devices, error);
  }
  sim::HbaFaults hba;
  sim::parse_hba_faults(text, hba, error);
  return 0;
}
