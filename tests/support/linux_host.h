// The real daemon on the Linux libraries over a copy of a sysfs fixture tree,
// with its HBA API through the system's common library in a private mount
// namespace whose /etc/hba.conf names only the vendor library.
#pragma once

#include <string>
#include <vector>

#include "tests/support/daemon_process.h"

namespace tavro::testing {

// A copy of the fixture tree tests/fixtures/sysfs/<name>, so that writes land in it.
std::string sysfs_fixture(const std::string& name);
// Why the namespace cannot be made here; empty when it can.
std::string no_namespace();
// The words after unshare that run command in that namespace.
std::vector<std::string> in_namespace(const std::string& command);
// tavro copied to a folder of its own, where no simulated libhbaapi.so lies,
// with FCGET and HBAAPI enabled and the libraries of linux/ on the tree at root.
DaemonOptions linux_daemon(const std::string& root);

}  // namespace tavro::testing
