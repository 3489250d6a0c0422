#include "platform/module_loader.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL;

std::vector<std::string> search_dirs() {
  std::vector<std::string> dirs;
  if (const char* path = std::getenv(kLibraryPathVariable)) {
    std::string list = path;
    std::size_t start = 0;
    while (start <= list.size()) {
      std::size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      if (end > start) dirs.push_back(list.substr(start, end - start));
      start = end + 1;
    }
  }
  std::string own = executable_dir();
  if (!own.empty()) dirs.push_back(own);
  return dirs;
}

// The system's errno after a failed dlopen is not reliable; a missing file
// is the common case.
int load_error(int saved) {
  return saved != 0 ? saved : ENOENT;
}

}  // namespace

std::string module_file_name(const char* name) {
  return std::string("lib") + name + ".so";
}

std::string executable_dir() {
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string text(path, static_cast<std::size_t>(n));
  std::size_t slash = text.rfind('/');
  if (slash == std::string::npos) return {};
  return text.substr(0, slash == 0 ? 1 : slash);
}

void* load_module(const char* name, int* error, std::string* failed) {
  const std::string file = module_file_name(name);
  struct stat found {};
  for (const std::string& dir : search_dirs()) {
    std::string path = dir + "/" + file;
    if (::lstat(path.c_str(), &found) != 0) continue;
    errno = 0;
    if (void* module = ::dlopen(path.c_str(), kOpenFlags)) return module;
    if (error != nullptr) *error = ::access(path.c_str(), R_OK) != 0 ? errno : ENOEXEC;
    if (failed != nullptr) *failed = path;
    return nullptr;
  }
  errno = 0;
  if (void* module = ::dlopen(file.c_str(), kOpenFlags)) return module;
  if (error != nullptr) *error = load_error(errno);
  return nullptr;
}

bool module_present(const char* name) {
  const std::string file = module_file_name(name);
  std::vector<std::string> candidates{file};
  for (const std::string& dir : search_dirs()) candidates.push_back(dir + "/" + file);
  for (const std::string& candidate : candidates) {
    if (void* module = ::dlopen(candidate.c_str(), kOpenFlags | RTLD_NOLOAD)) {
      ::dlclose(module);
      return true;
    }
  }
  return false;
}

void* module_symbol(void* module, const char* symbol) {
  if (module == nullptr) return nullptr;
  return ::dlsym(module, symbol);
}

std::string module_path(void* module) {
  link_map* map = nullptr;
  if (module == nullptr || ::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr)
    return {};
  return map->l_name != nullptr ? map->l_name : "";
}

void unload_module(void* module) {
  if (module != nullptr) ::dlclose(module);
}

}  // namespace platform
