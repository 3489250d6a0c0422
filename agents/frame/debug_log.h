// The agents' debug log: one line per call, appended only while the file
// exists. Creating the file switches the log on (within a second), deleting
// it switches it off; the agent never creates it.
#pragma once

#include <cstddef>
#include <string>

namespace tavro {

inline constexpr const char* kDebugLogVariable = "TAVRO_SNMP_DEBUG_LOG";
inline constexpr const char* kDebugLogPath = "/var/log/tavro/qsnmpdbg.log";

class DebugLog {
 public:
  static constexpr std::size_t kLineSize = 4096;

  // The file TAVRO_SNMP_DEBUG_LOG names, or the default.
  DebugLog();
  explicit DebugLog(std::string path) : path_(std::move(path)) {}

  // False while the file was found missing less than a second ago: a line
  // need not even be formatted.
  bool on() const;
  // Formats one line into the agent's line buffer and appends it with "\n".
  void line(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Appends text as it is (the line buffer is not touched).
  void write(const char* text);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  // When the file was last found missing, on a coarse clock (read without a
  // system call): it is looked for again a second later, not for every line.
  long long missing_since_ms_ = -1;
  char buffer_[kLineSize + 1] = {};
};

}  // namespace tavro
