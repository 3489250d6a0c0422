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

struct Case {
  std::string before;
  std::vector<std::string> words;
  int status;
  std::string after;
};

const std::string kTemplate = "home=HOME_DIR port=PORT_NUMBER page=DEFAULT_HTML_FILE HOME_DIR";

const Case kCases[] = {
    {kTemplate, {"@,c:\\home,81,BOTH"}, 0, "home=c:\\home port=81 page=ltx.html c:\\home"},
    {kTemplate, {"@,/h,81,both"}, 0, "home=/h port=81 page=ltx.html /h"},
    {kTemplate, {"@,/h,81,KVR"}, 0, "home=/h port=81 page=lanternixe.html /h"},
    {kTemplate, {"@,/h,81,qdn"}, 0, "home=/h port=81 page=ltx.html /h"},
    {kTemplate, {"@,/h,81,ALL"}, 0, "home=/h port=81 page=DEFAULT_HTML_FILE /h"},
    {"HOME_DIR", {"@,/opt/PORT_NUMBER,81,BOTH"}, 0, "/opt/81"},  // the home holds the port
    {"", {"@,/h,81,BOTH"}, 0, ""},
    {kTemplate, {"@,/h,81"}, 1, kTemplate},
    {kTemplate, {}, 0, kTemplate},
    {"[HOME_DIR]", {",,@,, my home ,81,,BOTH,"}, 0, "[ my home ]"},
    {"[HOME_DIR]", {"@,my", "home,81,BOTH"}, 0, "[my home]"},  // words joined by one blank
    {"a\r\nHOME_DIR\r\n\xff\xfe\x01", {"@,/h,81,BOTH"}, 0, "a\r\n/h\r\n\xff\xfe\x01"},
    {"HOME_DIR\0PORT_NUMBER"s, {"@,/h,81,BOTH"}, 0, "/h\0"s + "81"},
    {"HOME_DIR", {"@,HOME_DIRHOME_DIR,81,BOTH"}, 0, "HOME_DIRHOME_DIR"},  // not searched again
};

TEST(PostInstall, RewritesTheFile) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.words.empty() ? "" : c.words[0]);
    std::string path = make_temp_dir() + "/target.html";
    write_file(path, c.before);
    EXPECT_EQ(run_tool(path, c.words), c.status);
    EXPECT_EQ(read_file(path), c.after);
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
