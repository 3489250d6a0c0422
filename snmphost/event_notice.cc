#include "snmphost/event_notice.h"

namespace tavro {

int fc_event_severity(std::uint32_t code) {
  switch (code) {
    case 411:
      return 7;  // notify
    case 611:
      return 6;  // warning
    case 711:
      return 5;  // error
    case 811:
      return 4;  // critical
    case 911:
      return 3;  // alert
    default:
      return 1;  // unknown
  }
}

long fc_event_type(std::string_view text) {
  const bool topology = text.find("remote port") != std::string_view::npos ||
                        text.find("RSCN") != std::string_view::npos;
  return topology ? kEventTypeTopology : kEventTypeStatus;
}

}  // namespace tavro
