// The registry of the Windows programs, kept as files: one directory stands
// for HKEY_LOCAL_MACHINE, each component of a key path (separated by
// backslashes, "System\CurrentControlSet") is a folder, and each DWORD value is a file
// of that name holding the number as decimal text and a line end. Key and
// value names match regardless of case, as they do on Windows.
//
// A write never leaves a half-written value: the text goes to a hidden
// temporary file in the key's folder, is flushed to disk and renamed over the
// value, and the folder is flushed too. The temporary files of writers that
// died before their rename are removed when a root is first used.
//
// A registry folder that does not exist yet holds no values: reads find none
// and the first write makes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

inline constexpr const char* kRegistryDirVariable = "TAVRO_REGISTRY_DIR";
inline constexpr const char* kRegistryDefaultDir = "/var/lib/tavro/registry";
// Values one key may hold: a write of a new name beyond them fails (kIoFailed).
inline constexpr std::size_t kMaxValuesPerKey = 256;

enum class RegResult {
  kOk,
  kRootFailed,  // the registry directory cannot be opened
  kKeyFailed,   // a key folder cannot be opened or made
  kNoValue,     // the value does not exist
  kBadName,     // a key or value name that cannot be stored
  kIoFailed,    // reading or writing the value failed, or it holds no number
};

class Registry {
 public:
  explicit Registry(std::string root) : root_(std::move(root)) {}

  // TAVRO_REGISTRY_DIR when set and not empty, else /var/lib/tavro/registry.
  static std::string default_root();

  const std::string& root() const { return root_; }

  RegResult read_dword(const char* key, const char* name, std::uint32_t* value) const;
  // Creates the root and the key's folders as needed.
  RegResult write_dword(const char* key, const char* name, std::uint32_t value) const;

 private:
  std::string root_;
};

// A name that can stand as one folder or file: not empty, at most 255
// bytes, without "/" and not beginning with ".".
bool registry_name_ok(const char* name);

// Replaces dir/name with content atomically and durably. before_rename, when
// given, runs after the temporary file is written and flushed. Returns 0 or
// an errno value; on failure the old file is untouched and no temporary file
// is left.
int replace_file_atomically(int dir_fd, const char* name, const std::string& content,
                            const std::function<void()>& before_rename = {});

}  // namespace platform
