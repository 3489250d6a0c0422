#include "objects/oid_text.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(OidComponentCount, CountsDotsAndALeadingComponent) {
  EXPECT_EQ(oid_component_count(""), 0);
  EXPECT_EQ(oid_component_count(" 4.3"), 0);
  EXPECT_EQ(oid_component_count(".1.3.6.1.4.1.48217.3."), 9);
  EXPECT_EQ(oid_component_count("4.3.1.17.0"), 5);
  EXPECT_EQ(oid_component_count("2100000000000001"), 1);
  EXPECT_EQ(oid_component_count("2.11.0 5.5"), 3);  // stops at the blank
  EXPECT_EQ(oid_component_count("."), 1);
}

TEST(OidCompare, EqualPrefixesAndPositionsOfDifferenceComponentByComponent) {
  EXPECT_EQ(oid_compare("4.3.1.17.2000", "4.3.1.17", 4), 0);
  EXPECT_EQ(oid_compare("4.3.1.17", "4.3.1.18", 4), -4);
  EXPECT_EQ(oid_compare("4.3.1.18", "4.3.1.17", 4), 4);
  EXPECT_EQ(oid_compare("3.5.1.3", "4.3.1.17", 4), -1);
  EXPECT_EQ(oid_compare("5.1.0", "4.3.1.17", 4), 1);
  EXPECT_EQ(oid_compare("anything", "else", 0), 0);
  // Shorter components sort first, as numbers do.
  EXPECT_EQ(oid_compare("4.3.1.9", "4.3.1.10", 4), -4);
  EXPECT_EQ(oid_compare("4.13.1.2", "4.9.1.2", 4), 2);
  EXPECT_EQ(oid_compare("3.7.1.27", "3.7.1.3", 4), 4);
  // Empty texts and texts that run out.
  EXPECT_EQ(oid_compare("", "1.1.0", 3), -1);
  EXPECT_EQ(oid_compare("1.1.0", "", 3), 1);
  EXPECT_EQ(oid_compare("", "", 3), -1);  // an empty text matches nothing
  EXPECT_EQ(oid_compare("4.3", "4.3.1.17", 4), -3);
  EXPECT_EQ(oid_compare("4.3.1.17.0", "4.3.1", 4), 4);
  // A written value after the blank (a scalar matches, unless the value holds
  // a dot) is met through FCSET in tests/e2e/objects.
}

}  // namespace
}  // namespace tavro
