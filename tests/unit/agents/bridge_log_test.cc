// How the bridge files net-snmp's own log messages in the event log.
#include <gtest/gtest.h>
#include <syslog.h>

#include "snmphost/bridge.h"

namespace tavro {
namespace {

TEST(BridgeLog, EachSyslogPriorityHasItsEventLevel) {
  // Alarm 1, error 2, warning 4, notice 8, debug 16, as the event log writes them.
  const std::pair<int, int> rows[] = {{LOG_EMERG, 1},   {LOG_CRIT, 1},   {LOG_ERR, 2},
                                      {LOG_WARNING, 4}, {LOG_NOTICE, 8}, {LOG_INFO, 8},
                                      {LOG_DEBUG, 16}};
  for (const auto& [priority, level] : rows) EXPECT_EQ(event_level(priority), level) << priority;
}

}  // namespace
}  // namespace tavro
