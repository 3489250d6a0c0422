#include "objects/oid_text.h"

#include <gtest/gtest.h>

#include "tests/support/daemon_process.h"

namespace tavro {
namespace {

// Components compare as numbers: shorter ones sort first. A written value
// after the blank (a scalar matches, unless the value holds a dot) is met
// through FCSET in tests/e2e/objects.
TEST(OidText, CountsAndComparesComponentByComponent) {
  for (const auto& row : testing::read_rows("unit/objects/oid_texts.txt")) {
    SCOPED_TRACE(row.at(1));
    if (row.at(0) == "count") {
      EXPECT_EQ(oid_component_count(row.at(1).c_str()), std::stoi(row.at(2)));
    } else {
      EXPECT_EQ(oid_compare(row.at(1).c_str(), row.at(2).c_str(), std::stoi(row.at(3))),
                std::stoi(row.at(4)));
    }
  }
}

}  // namespace
}  // namespace tavro
