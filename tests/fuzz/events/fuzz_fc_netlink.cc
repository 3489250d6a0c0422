// The FC netlink parser on any datagram: every event it gives is named
// within the text bound, and nothing is read past the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "linux/watch/netlink.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qlinux::watch;
  View view;
  view.hosts.push_back(View::Host{"pci0000:3b/dev00", {}, {}});
  for (const FcEvent& e : parse_fc_events({data, size})) {
    if (e.payload.size() > size) std::abort();
    if (describe(e, view).text.size() > kTextMax) std::abort();
  }
  return 0;
}
