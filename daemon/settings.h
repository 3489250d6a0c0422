// The daemon's settings and the option table that drives the command line,
// the configuration file, the usage text and the CONFIG reply.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavro {

class Diag;

inline constexpr std::size_t kTextSetting = 256;     // 255 characters and the terminator
inline constexpr std::size_t kHbaApiLibSetting = 8;  // 7 characters and the terminator

inline constexpr std::int32_t kEnabled = 0;
inline constexpr std::int32_t kDisabled = 1;

struct Settings {
  char conf_name[kTextSetting] = "";
  std::int32_t port = 0;
  char base_dir[kTextSetting] = "";
  char class_dir[kTextSetting] = "";
  char image_dir[kTextSetting] = "";
  char default_html[kTextSetting] = "";
  char error_html[kTextSetting] = "";
  std::int32_t debug = 0;
  std::int32_t get_req = kEnabled;
  std::int32_t rev_req = kEnabled;
  std::int32_t echo_req = kEnabled;
  std::int32_t stats_req = kEnabled;
  std::int32_t debug_req = kDisabled;
  std::int32_t conf_req = kDisabled;
  char log_file[kTextSetting] = "";
  std::int32_t log_open = 0;
  std::int32_t log_flags = 0;
  char fc_log_file[kTextSetting] = "";
  std::int32_t fc_log_open = 0;
  std::int32_t fc_log_flags = 0;
  std::int32_t fc_get_req = kDisabled;
  std::int32_t fc_set_req = kDisabled;
  std::int32_t hba_api_req = kDisabled;
  char hba_api_lib[kHbaApiLibSetting] = "HBAAPI";
  std::int32_t recv_timeout = 12;
};

inline constexpr std::uint32_t kTypeInteger = 0x10000;
inline constexpr std::uint32_t kTypeText = 0x20000;
inline constexpr std::uint32_t kTypeEnable = 0x40000;
inline constexpr std::uint32_t kTypeAccess = 0x80000;
inline constexpr std::uint32_t kTypeMask = 0xF0000;

// One setting: where it lives inside Settings (offset and capacity in bytes)
// and how its text is parsed.
struct OptionRow {
  const char* option;
  const char* key;
  std::size_t offset;
  std::size_t capacity;
  std::uint32_t type;
  const char* description;
};

extern const OptionRow option_table[];

const OptionRow* find_option(const char* option);
const OptionRow* find_key(const char* key);

// Stores a value by the row's type; text longer than the setting is cut.
void store_setting(Settings& settings, const OptionRow& row, const char* value);
std::int32_t integer_setting(const Settings& settings, const OptionRow& row);
const char* text_setting(const Settings& settings, const OptionRow& row);

// A number with base detection, as a 32-bit strtol reads it: beyond the
// range it stays at the nearest end.
std::int32_t parse_integer_setting(const char* text);
std::int32_t parse_enable(const char* text);
std::int32_t parse_access(const char* text);
// Writes three characters and a terminator: "r"/"-", "w"/"-", "x"/"-".
void format_access(std::int32_t bits, char out[4]);

enum class ParseResult { kOk, kUsage, kConfigUnreadable };

// Applies the command-line words after the program word. The configuration
// file named by "-c" is read at its place among the options, once. On
// kConfigUnreadable, settings.conf_name names the file.
ParseResult parse_command_line(Settings& settings, int count, const char* const* words,
                               const Diag& diag);

// Applies a configuration file; false when it cannot be opened.
bool conf(Settings& settings, const char* file_name, const Diag& diag);

// The usage text (without ending the process).
void print_usage(const Diag& diag, const char* program_name);

}  // namespace tavro
