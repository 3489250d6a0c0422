// LtxPostInstall run as a program on real files.
#include "postinstall/post_install.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/daemon_process.h"

namespace {

using tavro::testing::binary_dir;
using tavro::testing::make_temp_dir;
using tavro::testing::read_file;
using tavro::testing::write_file;

constexpr uid_t kNobody = 65534;

// Runs the tool with words as its arguments, where "@" stands for the target
// path; as_other drops root first, so that folder permissions apply.
int run_tool(const std::string& target, std::vector<std::string> words, bool as_other = false) {
  for (auto& w : words) {
    for (std::size_t at; (at = w.find('@')) != std::string::npos;) w.replace(at, 1, target);
  }
  std::string program = binary_dir() + "/LtxPostInstall";
  pid_t pid = ::fork();
  if (pid == 0) {
    if (as_other && ::getuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      ::_exit(99);
    }
    std::vector<char*> argv{program.data()};
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(98);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Case {
  const char* name;
  std::string before;
  std::vector<std::string> words;
  int status;
  std::string after;
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

const std::string kTemplate = "home=HOME_DIR port=PORT_NUMBER page=DEFAULT_HTML_FILE HOME_DIR";

const Case kCases[] = {
    {"Both", kTemplate, {"@,c:\\home,81,BOTH"}, 0, "home=c:\\home port=81 page=ltx.html c:\\home"},
    {"LowerCaseMix", kTemplate, {"@,/h,81,both"}, 0, "home=/h port=81 page=ltx.html /h"},
    {"Kvr", kTemplate, {"@,/h,81,KVR"}, 0, "home=/h port=81 page=lanternixe.html /h"},
    {"Qdn", kTemplate, {"@,/h,81,qdn"}, 0, "home=/h port=81 page=ltx.html /h"},
    {"UnknownMix", kTemplate, {"@,/h,81,ALL"}, 0, "home=/h port=81 page=DEFAULT_HTML_FILE /h"},
    {"HomeHoldsPort", "HOME_DIR", {"@,/opt/PORT_NUMBER,81,BOTH"}, 0, "/opt/81"},
    {"EmptyFile", "", {"@,/h,81,BOTH"}, 0, ""},
    {"ThreeFields", kTemplate, {"@,/h,81"}, 1, kTemplate},
    {"NoArguments", kTemplate, {}, 0, kTemplate},
    {"CommaRunsAndBlanks", "[HOME_DIR]", {",,@,, my home ,81,,BOTH,"}, 0, "[ my home ]"},
    {"WordsJoinedByOneBlank", "[HOME_DIR]", {"@,my", "home,81,BOTH"}, 0, "[my home]"},
    {"CrlfAndBinaryKept",
     "a\r\nHOME_DIR\r\n\xff\xfe\x01",
     {"@,/h,81,BOTH"},
     0,
     "a\r\n/h\r\n\xff\xfe\x01"},
    {"ZeroByteKept",
     std::string("HOME_DIR\0PORT_NUMBER", 20),
     {"@,/h,81,BOTH"},
     0,
     std::string("/h\0"
                 "81",
                 5)},
    {"ReplacementNotSearchedAgain",
     "HOME_DIR",
     {"@,HOME_DIRHOME_DIR,81,BOTH"},
     0,
     "HOME_DIRHOME_DIR"},
};

class PostInstallCase : public ::testing::TestWithParam<Case> {};

TEST_P(PostInstallCase, RewritesTheFile) {
  const Case& c = GetParam();
  std::string path = make_temp_dir() + "/target.html";
  write_file(path, c.before);
  EXPECT_EQ(run_tool(path, c.words), c.status);
  EXPECT_EQ(read_file(path), c.after);
}

INSTANTIATE_TEST_SUITE_P(Files, PostInstallCase, ::testing::ValuesIn(kCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(PostInstall, ReadOnlyFolderLeavesTheFileAsItWas) {
  std::string dir = make_temp_dir();
  std::string path = dir + "/tavro.conf";
  write_file(path, kTemplate);
  ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
  if (::getuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
  }
  EXPECT_EQ(run_tool(path, {"@,/h,81,BOTH"}, true), 0);
  EXPECT_EQ(read_file(path), kTemplate);
  ::chmod(dir.c_str(), 0700);
}

TEST(PostInstall, KeepsModeOwnerAndLink) {
  std::string dir = make_temp_dir();
  std::string path = dir + "/tavro.conf";
  write_file(path, kTemplate);
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const uid_t owner = ::getuid() == 0 ? kNobody : ::getuid();
  if (::getuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
  }
  ASSERT_EQ(::symlink(path.c_str(), (dir + "/link").c_str()), 0);
  EXPECT_EQ(run_tool(dir + "/link", {"@,/h,81,BOTH"}), 0);
  EXPECT_EQ(read_file(path), "home=/h port=81 page=ltx.html /h");
  struct stat info;
  ASSERT_EQ(::lstat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(info.st_uid, owner);
  ASSERT_EQ(::lstat((dir + "/link").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
}

TEST(PostInstall, MissingFileIsNotCreated) {
  std::string path = make_temp_dir() + "/gone.conf";
  EXPECT_EQ(run_tool(path, {"@,/h,81,BOTH"}), 0);
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

TEST(PostInstall, ReplaceInFileStatuses) {
  std::string dir = make_temp_dir();
  write_file(dir + "/empty", "");
  EXPECT_EQ(postinstall::replace_in_file(nullptr, "A", "B"), 1);
  EXPECT_EQ(postinstall::replace_in_file((dir + "/empty").c_str(), nullptr, "B"), 2);
  EXPECT_EQ(postinstall::replace_in_file((dir + "/empty").c_str(), "A", nullptr), 3);
  EXPECT_EQ(postinstall::replace_in_file((dir + "/none").c_str(), "A", "B"), 4);
  EXPECT_EQ(postinstall::replace_in_file(dir.c_str(), "A", "B"), 4);
  EXPECT_EQ(postinstall::replace_in_file((dir + "/empty").c_str(), "A", "B"), 6);
}

}  // namespace
