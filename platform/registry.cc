#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <vector>

namespace platform {
namespace {

constexpr std::size_t kMaxName = 255;

// Closes a descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::vector<std::string> split_key(const char* key) {
  std::vector<std::string> parts;
  std::string part;
  for (const char* p = key; *p != 0; ++p) {
    if (*p == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += *p;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

// The entry of dir whose name equals name regardless of case; name itself
// when there is none.
std::string actual_name(int dir_fd, const std::string& name) {
  int fd = ::dup(dir_fd);
  if (fd < 0) return name;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return name;
  }
  ::rewinddir(dir);  // the copy shares its position with dir_fd
  std::string found = name;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.' && ::strcasecmp(entry->d_name, name.c_str()) == 0) {
      found = entry->d_name;
      if (found == name) break;
    }
  }
  ::closedir(dir);
  return found;
}

int open_dir(int at, const char* name) {
  return ::openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// ".tmp.<pid>.<n>" of a process that is gone.
bool stale_temporary(const std::string& name) {
  if (name.rfind(".tmp.", 0) != 0) return false;
  char* end = nullptr;
  long pid = std::strtol(name.c_str() + 5, &end, 10);
  if (pid <= 0 || *end != '.' || pid == ::getpid()) return false;
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// Once per root and process: removes what killed writers left behind.
void sweep_once(const std::string& root) {
  static std::mutex mutex;
  static std::set<std::string> swept;
  std::lock_guard hold(mutex);
  if (!swept.insert(root).second) return;
  std::error_code error;
  namespace fs = std::filesystem;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error) && stale_temporary(it->path().filename().string())) {
      fs::remove(it->path(), error);
    }
  }
}

// Opens the key's folder, making missing folders (and the root) when create
// is set. A missing root holds no values.
RegResult open_key(const std::string& root, const char* key, bool create, Fd& out) {
  Fd dir(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0 && errno == ENOENT) {
    if (!create) return RegResult::kNoValue;
    std::error_code ignored;
    std::filesystem::create_directories(root, ignored);
    dir = Fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  if (dir.get() < 0) return RegResult::kRootFailed;
  sweep_once(root);
  for (const std::string& part : split_key(key)) {
    if (!registry_name_ok(part.c_str())) return RegResult::kBadName;
    std::string name = actual_name(dir.get(), part);
    Fd next(open_dir(dir.get(), name.c_str()));
    if (next.get() < 0 && errno == ENOENT) {
      if (!create) return RegResult::kNoValue;
      if (::mkdirat(dir.get(), name.c_str(), 0755) != 0 && errno != EEXIST) {
        return RegResult::kKeyFailed;
      }
      next = Fd(open_dir(dir.get(), name.c_str()));
    }
    if (next.get() < 0) return RegResult::kKeyFailed;
    dir = std::move(next);
  }
  out = std::move(dir);
  return RegResult::kOk;
}

bool parse_dword(const char* text, std::uint32_t* value) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long number = std::strtoull(text, &end, 0);
  if (errno != 0 || number > UINT32_MAX) return false;
  while (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r') ++end;
  if (*end != 0) return false;
  *value = static_cast<std::uint32_t>(number);
  return true;
}

// The values a key's folder holds (its files not beginning with ".").
std::size_t value_count(int dir_fd) {
  int fd = ::dup(dir_fd);
  if (fd < 0) return 0;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return 0;
  }
  ::rewinddir(dir);  // the copy shares its position with dir_fd
  std::size_t count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.' && entry->d_type != DT_DIR) ++count;
  }
  ::closedir(dir);
  return count;
}

int write_all(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

bool registry_name_ok(const char* name) {
  std::size_t length = std::strlen(name);
  return length > 0 && length <= kMaxName && name[0] != '.' && std::strchr(name, '/') == nullptr;
}

std::string Registry::default_root() {
  const char* dir = std::getenv(kRegistryDirVariable);
  return dir != nullptr && *dir != 0 ? dir : kRegistryDefaultDir;
}

RegResult Registry::read_dword(const char* key, const char* name, std::uint32_t* value) const {
  if (!registry_name_ok(name)) return RegResult::kBadName;
  Fd dir;
  RegResult result = open_key(root_, key, false, dir);
  if (result != RegResult::kOk) return result;
  std::string actual = actual_name(dir.get(), name);
  Fd file(::openat(dir.get(), actual.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (file.get() < 0) return errno == ENOENT ? RegResult::kNoValue : RegResult::kIoFailed;
  char text[64];
  ssize_t n = ::read(file.get(), text, sizeof text - 1);
  if (n < 0) return RegResult::kIoFailed;
  text[n] = 0;
  return parse_dword(text, value) ? RegResult::kOk : RegResult::kIoFailed;
}

RegResult Registry::write_dword(const char* key, const char* name, std::uint32_t value) const {
  if (!registry_name_ok(name)) return RegResult::kBadName;
  Fd dir;
  RegResult result = open_key(root_, key, true, dir);
  if (result != RegResult::kOk) return result;
  std::string actual = actual_name(dir.get(), name);
  if (::faccessat(dir.get(), actual.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) != 0 &&
      value_count(dir.get()) >= kMaxValuesPerKey) {
    return RegResult::kIoFailed;
  }
  std::string content = std::to_string(value) + "\n";
  return replace_file_atomically(dir.get(), actual.c_str(), content) == 0 ? RegResult::kOk
                                                                          : RegResult::kIoFailed;
}

int replace_file_atomically(int dir_fd, const char* name, const std::string& content,
                            const std::function<void()>& before_rename) {
  static std::atomic<unsigned> serial{0};
  char temp[64];
  std::snprintf(temp, sizeof temp, ".tmp.%ld.%u", static_cast<long>(::getpid()), serial++);
  Fd file(::openat(dir_fd, temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (file.get() < 0) return errno;
  int error = write_all(file.get(), content);
  if (error == 0 && ::fsync(file.get()) != 0) error = errno;
  if (error == 0 && before_rename) before_rename();
  if (error == 0 && ::renameat(dir_fd, temp, dir_fd, name) != 0) error = errno;
  if (error != 0) {
    ::unlinkat(dir_fd, temp, 0);
    return error;
  }
  ::fsync(dir_fd);
  return 0;
}

}  // namespace platform
