// Every object of TAVRO-PRIVATE-MIB resolves by name with snmptranslate, to
// an object the agent serves, with the SNMP type and access the agent gives it;
// and every object the agent serves has a name.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "objects/handlers.h"
#include "objects/oid_table.h"
#include "tests/support/snmpd_process.h"

namespace tavro::testing {
namespace {

constexpr char kAgent[] = ".1.3.6.1.4.1.48217.3.";

struct MibObject {
  std::string syntax;
  std::string access;
};

// The module's objects by name, without tables and rows.
std::map<std::string, MibObject> mib_objects() {
  std::string text = read_file(std::string(TAVRO_MIB_DIR) + "/TAVRO-PRIVATE-MIB.txt");
  std::regex object(R"((\w+) OBJECT-TYPE\s+SYNTAX\s+(\w+)[^\n]*\s+MAX-ACCESS\s+([\w-]+))");
  std::map<std::string, MibObject> objects;
  for (std::sregex_iterator it(text.begin(), text.end(), object), end; it != end; ++it) {
    std::string syntax = (*it)[2];
    if (syntax == "SEQUENCE" || std::regex_match(syntax, std::regex("[A-Z]\\w*Entry"))) continue;
    objects[(*it)[1]] = {syntax, (*it)[3]};
  }
  return objects;
}

// Runs snmptranslate -On over the names with only the module and the
// stand-in to read; returns the numeric OIDs in order, or fails on any
// complaint.
std::vector<std::string> translate(const std::map<std::string, MibObject>& objects) {
  std::string dir = make_temp_dir();
  // Debian's net-snmp comes without the IETF modules; SNMPv2-SMI.txt has the
  // few definitions the module takes from that one.
  write_file(dir + "/SNMPv2-SMI.txt", test_data("e2e/mib/SNMPv2-SMI.txt"));
  std::filesystem::create_directory(dir + "/cert_indexes");  // else net-snmp says it made it
  std::string command = "env -i PATH=/usr/bin:/bin HOME=" + dir + " SNMPCONFPATH=" + dir +
                        " SNMP_PERSISTENT_DIR=" + dir + " MIBDIRS=" + dir +
                        ":" TAVRO_MIB_DIR " MIBS=TAVRO-PRIVATE-MIB snmptranslate -On";
  for (const auto& [name, object] : objects) command += " TAVRO-PRIVATE-MIB::" + name;
  ClientResult result = run_command(command + " 2>" + dir + "/errors");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read_file(dir + "/errors"), "");
  std::vector<std::string> oids;
  std::istringstream lines(result.output);
  for (std::string oid; std::getline(lines, oid);) {
    if (!oid.empty()) oids.push_back(oid);
  }
  return oids;
}

// The SNMP type the agent gives a value type code.
std::string snmp_syntax(int type) {
  return type == 1 || type == 6 ? "Integer32" : type == 2 || type == 7 ? "Gauge32" : "OCTET";
}

const oid_entry* find_row(const oid_entry* table, const std::string& suffix) {
  for (const oid_entry* row = table; row->oid != nullptr; ++row) {
    if (suffix == row->oid && row->handler != qdn_not_supported) return row;
  }
  return nullptr;
}

TEST(Mib, EveryObjectResolvesToAServedObject) {
  std::map<std::string, MibObject> objects = mib_objects();
  ASSERT_GT(objects.size(), 100u);
  std::vector<std::string> oids = translate(objects);
  ASSERT_EQ(oids.size(), objects.size());
  std::set<std::string> named;
  auto oid = oids.begin();
  for (const auto& [name, object] : objects) {
    SCOPED_TRACE(name + " " + *oid);
    ASSERT_EQ(oid->rfind(kAgent, 0), 0u);
    std::string suffix = oid++->substr(sizeof kAgent - 1);
    if (object.access == "not-accessible") continue;  // an index
    // A scalar's row carries the instance 0.
    if (find_row(oid_get_table, suffix + ".0") || find_row(oid_set_table, suffix + ".0")) {
      suffix += ".0";
    }
    named.insert(suffix);
    const oid_entry* read = find_row(oid_get_table, suffix);
    const oid_entry* write = find_row(oid_set_table, suffix);
    EXPECT_EQ(write != nullptr, object.access == "read-write");
    const oid_entry* row = read != nullptr ? read : write;
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(snmp_syntax(row->type), object.syntax);
  }
  for (const oid_entry* table : {oid_get_table, oid_set_table}) {
    for (const oid_entry* row = table; row->oid != nullptr; ++row) {
      bool served = find_row(oid_get_table, row->oid) || find_row(oid_set_table, row->oid);
      EXPECT_EQ(named.count(row->oid), served ? 1u : 0u) << row->oid;
    }
  }
}

}  // namespace
}  // namespace tavro::testing
