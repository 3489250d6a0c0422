// LtxPostInstall run as a program on real files.
#include "postinstall/post_install.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/daemon_process.h"

namespace {

using namespace tavro::testing;
using namespace std::string_literals;

constexpr uid_t kNobody = 65534;

// Runs the tool with words as its arguments, where "@" stands for the target
// path; as_other drops root first, so that folder permissions apply.
int run_tool(const std::string& target, std::vector<std::string> words, bool as_other = false) {
  const char* other = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  std::string command =
      (as_other && ::getuid() == 0 ? other : "") + binary_dir() + "/LtxPostInstall";
  for (std::string& w : words) {
    for (std::size_t at; (at = w.find('@')) != std::string::npos;) w.replace(at, 1, target);
    command += " '" + w + "'";  // no word holds a quote
  }
  return run_command(command).status;
}

const std::string kTemplate = "home=HOME_DIR port=PORT_NUMBER page=DEFAULT_HTML_FILE HOME_DIR";

TEST(PostInstall, RewritesTheFile) {
  const Vars vars = {{"T", kTemplate}, {"CR", "\r"},   {"LF", "\n"},   {"NUL", "\0"s},
                     {"FF", "\xff"},   {"FE", "\xfe"}, {"X01", "\x01"}};
  for (const auto& row : read_rows("e2e/postinstall/rewrites.txt", vars)) {
    SCOPED_TRACE(row.at(1));
    std::vector<std::string> words;
    for (std::size_t at = 0, bar = 0; !row.at(1).empty() && bar != std::string::npos; at = bar + 1)
      words.push_back(row.at(1).substr(at, (bar = row.at(1).find('|', at)) - at));
    std::string path = make_temp_dir() + "/target.html";
    write_file(path, row.at(0));
    EXPECT_EQ(run_tool(path, words), std::stoi(row.at(2)));
    EXPECT_EQ(read_file(path), row.at(3));
  }
}

// A file of mode 0640 (owned by nobody when run as root), named by a link.
TEST(PostInstall, KeepsModeOwnerAndLinkAndCreatesOrHalfWritesNothing) {
  std::string dir = make_temp_dir(), path = dir + "/tavro.conf", link = dir + "/link";
  write_file(path, kTemplate);
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const uid_t owner = ::getuid() == 0 ? kNobody : ::getuid();
  if (::getuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
  }
  ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
  EXPECT_EQ(run_tool(dir + "/gone.conf", {"@,/h,81,BOTH"}), 0);
  EXPECT_NE(::access((dir + "/gone.conf").c_str(), F_OK), 0) << "a missing file is not created";
  ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
  EXPECT_EQ(run_tool(link, {"@,/h,81,BOTH"}, true), 0);
  EXPECT_EQ(read_file(path), kTemplate) << "a read-only folder leaves the file as it was";
  ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
  EXPECT_EQ(run_tool(link, {"@,/h,81,BOTH"}), 0);
  EXPECT_EQ(read_file(path), "home=/h port=81 page=ltx.html /h");
  struct stat info;
  ASSERT_EQ(::lstat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(info.st_uid, owner);
  ASSERT_EQ(::lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
}

}  // namespace
