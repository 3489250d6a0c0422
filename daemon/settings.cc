#include "daemon/settings.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/diag.h"
#include "base/text.h"

namespace tavro {

#define TAVRO_SETTING(field) offsetof(Settings, field), sizeof(Settings::field)

const OptionRow option_table[] = {
    {"-c", "ConfName", TAVRO_SETTING(conf_name), kTypeText, "config filename"},
    {"-port", "Port", TAVRO_SETTING(port), kTypeInteger, "HTTP port number"},
    {"-base", "BaseDir", TAVRO_SETTING(base_dir), kTypeText, "html home directory"},
    {"-class", "ClassDir", TAVRO_SETTING(class_dir), kTypeText, "class home directory"},
    {"-image", "ImageDir", TAVRO_SETTING(image_dir), kTypeText, "image home directory"},
    {"-html", "DefaultHtml", TAVRO_SETTING(default_html), kTypeText, "default home html"},
    {"-error", "ErrorHtml", TAVRO_SETTING(error_html), kTypeText, "error html"},
    {"-d", "Debug", TAVRO_SETTING(debug), kTypeInteger, "debug flags"},
    {"-get", "GetReq", TAVRO_SETTING(get_req), kTypeEnable, "GET enable"},
    {"-rev", "RevReq", TAVRO_SETTING(rev_req), kTypeEnable, "REV enable"},
    {"-echo", "EchoReq", TAVRO_SETTING(echo_req), kTypeEnable, "ECHO enable"},
    {"-stats", "StatsReq", TAVRO_SETTING(stats_req), kTypeEnable, "STATS enable"},
    {"-debug", "DebugReq", TAVRO_SETTING(debug_req), kTypeEnable, "DEBUG enable"},
    {"-conf", "ConfReq", TAVRO_SETTING(conf_req), kTypeEnable, "CONFIG enable"},
    {"-log", "LogFile", TAVRO_SETTING(log_file), kTypeText, "log filename"},
    {"-lo", "LogOpen", TAVRO_SETTING(log_open), kTypeInteger, "log open mode"},
    {"-lf", "LogFlags", TAVRO_SETTING(log_flags), kTypeInteger, "log flags"},
    {"-fclog", "FcLogFile", TAVRO_SETTING(fc_log_file), kTypeText, "FC log filename"},
    {"-fclo", "FcLogOpen", TAVRO_SETTING(fc_log_open), kTypeInteger, "FC log open mode"},
    {"-fclf", "FcLogFlags", TAVRO_SETTING(fc_log_flags), kTypeInteger, "FC log flags"},
    {"-fcget", "FcGetReq", TAVRO_SETTING(fc_get_req), kTypeEnable, "FCGET enable"},
    {"-fcset", "FcSetReq", TAVRO_SETTING(fc_set_req), kTypeEnable, "FCSET enable"},
    {"-api", "HbaApiReq", TAVRO_SETTING(hba_api_req), kTypeEnable, "HBAAPI enable"},
    {"-apilib", "HbaApiLib", TAVRO_SETTING(hba_api_lib), kTypeText, "HBAAPI library"},
    {"-rxto", "RecvTimeOut", TAVRO_SETTING(recv_timeout), kTypeInteger, "Socket Receive Timeout"},
    {nullptr, nullptr, 0, 0, 0, nullptr},
};

#undef TAVRO_SETTING

namespace {

char* field(Settings& settings, const OptionRow& row) {
  return reinterpret_cast<char*>(&settings) + row.offset;
}
const char* field(const Settings& settings, const OptionRow& row) {
  return reinterpret_cast<const char*>(&settings) + row.offset;
}

}  // namespace

const OptionRow* find_option(const char* option) {
  for (const OptionRow* row = option_table; row->option != nullptr; ++row) {
    if (std::strcmp(row->option, option) == 0) return row;
  }
  return nullptr;
}

const OptionRow* find_key(const char* key) {
  for (const OptionRow* row = option_table; row->option != nullptr; ++row) {
    if (std::strcmp(row->key, key) == 0) return row;
  }
  return nullptr;
}

std::int32_t integer_setting(const Settings& settings, const OptionRow& row) {
  std::int32_t value;
  std::memcpy(&value, field(settings, row), sizeof value);
  return value;
}

const char* text_setting(const Settings& settings, const OptionRow& row) {
  return field(settings, row);
}

void store_setting(Settings& settings, const OptionRow& row, const char* value) {
  std::int32_t number = 0;
  switch (row.type & kTypeMask) {
    case kTypeText:
      std::snprintf(field(settings, row), row.capacity, "%s", value);
      return;
    case kTypeInteger:
      number = parse_integer_setting(value);
      break;
    case kTypeEnable:
      number = parse_enable(value);
      break;
    case kTypeAccess:
      number = parse_access(value);
      break;
    default:
      return;
  }
  std::memcpy(field(settings, row), &number, sizeof number);
}

std::int32_t parse_integer_setting(const char* text) {
  long long number = std::strtoll(text, nullptr, 0);
  if (number > INT32_MAX) return INT32_MAX;
  if (number < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(number);
}

std::int32_t parse_enable(const char* text) {
  static constexpr const char* kWords[] = {"true", "on", "yes", "enable", "enabled", "0",
                                           "TRUE", "ON", "YES", "ENABLE", "ENABLED", nullptr};
  for (const char* const* w = kWords; *w != nullptr; ++w) {
    if (std::strcmp(text, *w) == 0) return kEnabled;
  }
  return kDisabled;
}

std::int32_t parse_access(const char* text) {
  std::int32_t bits = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == 'R' || *p == 'r') bits |= 0x40;
    if (*p == 'W' || *p == 'w') bits |= 0x20;
    if (*p == 'X' || *p == 'x') bits |= 0x10;
  }
  return bits;
}

void format_access(std::int32_t bits, char out[4]) {
  out[0] = (bits & 0x40) != 0 ? 'r' : '-';
  out[1] = (bits & 0x20) != 0 ? 'w' : '-';
  out[2] = (bits & 0x10) != 0 ? 'x' : '-';
  out[3] = '\0';
}

ParseResult parse_command_line(Settings& settings, int count, const char* const* words,
                               const Diag& diag) {
  bool conf_read = false;
  for (int i = 0; i < count; ++i) {
    const OptionRow* row = find_option(words[i]);
    if (row == nullptr) return ParseResult::kUsage;
    if (i + 1 >= count) {
      diag.print("%s missing argument\n", words[i]);
      return ParseResult::kUsage;
    }
    const char* value = words[++i];
    if (diag.on(0x1)) diag.print("copt() %s=%s\n", row->key, value);
    store_setting(settings, *row, value);
    if (settings.conf_name[0] != '\0' && !conf_read) {
      conf_read = true;
      if (!conf(settings, settings.conf_name, diag)) return ParseResult::kConfigUnreadable;
    }
  }
  return ParseResult::kOk;
}

bool conf(Settings& settings, const char* file_name, const Diag& diag) {
  std::FILE* file = std::fopen(file_name, "r");
  if (file == nullptr) return false;
  struct stat info {};
  if (::fstat(::fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
    std::fclose(file);
    errno = EISDIR;
    return false;
  }
  char line[128];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (line[0] == '#' || line[0] == '\r' || line[0] == '\n') continue;
    char* tokens[2];
    if (string2toks(line, tokens, 2, &diag) < 2) continue;
    const OptionRow* row = find_key(tokens[0]);
    if (row == nullptr) continue;
    if (diag.on(0x2)) diag.print("conf() %s=%s\n", tokens[0], tokens[1]);
    store_setting(settings, *row, tokens[1]);
  }
  std::fclose(file);
  return true;
}

void print_usage(const Diag& diag, const char* program_name) {
  diag.print("\nusage:\n\n  %s [-option(s)]\n\n", program_name);
  diag.print("options:    cfgfile:     description:\n");
  for (const OptionRow* row = option_table; row->option != nullptr; ++row) {
    diag.print("  %-8s  %-12s %-24s\n", row->option, row->key, row->description);
  }
  diag.print("\nnotes:\n  1. Last instance of option prevails.\n\n");
}

}  // namespace tavro
