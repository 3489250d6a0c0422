#include "daemon/commands.h"

#include <cstdio>
#include <cstring>

#include "daemon/daemon.h"

namespace tavro {
namespace {

// "<prefix>;<count>", the prefix with its trailing blank.
int format_prefix_stats(const char* prefix, std::uint32_t count, char* out, std::size_t cap) {
  return std::snprintf(out, cap, "%s;%d", prefix, static_cast<int>(count));
}

}  // namespace

const CommandRow command_table[] = {
    {"GET ", get_request, format_get_stats, nullptr, &Settings::get_req, true},
    {"FCGET ", [](Daemon& d, platform::socket_t s, char* m) { return d.fc_commands.fcget(s, m); },
     [](const Daemon& d, char* out, std::size_t cap) {
       return d.fc_commands.format_get_stats(out, cap);
     },
     close_driver_resources, &Settings::fc_get_req},
    {"FCSET ", [](Daemon& d, platform::socket_t s, char* m) { return d.fc_commands.fcset(s, m); },
     [](const Daemon& d, char* out, std::size_t cap) {
       return d.fc_commands.format_set_stats(out, cap);
     },
     nullptr, &Settings::fc_set_req, true},
    {"HBAAPI ",
     [](Daemon& d, platform::socket_t s, char* m) {
       return d.hbaapi.request(s, m + std::strlen("HBAAPI "));
     },
     [](const Daemon& d, char* out, std::size_t cap) { return d.hbaapi.format_stats(out, cap); },
     [](Daemon& d) { d.hbaapi.unload(); }, &Settings::hba_api_req, true},
    {"REV", rev_request,
     [](const Daemon& d, char* out, std::size_t cap) {
       return format_prefix_stats("REV", d.service.rev, out, cap);
     },
     nullptr, &Settings::rev_req},
    {"ECHO", echo_request,
     [](const Daemon& d, char* out, std::size_t cap) {
       return format_prefix_stats("ECHO", d.service.echo, out, cap);
     },
     nullptr, &Settings::echo_req},
    {"STATS", stats_request,
     [](const Daemon& d, char* out, std::size_t cap) {
       return format_prefix_stats("STATS", d.service.stats, out, cap);
     },
     nullptr, &Settings::stats_req},
    {"CONFIG", config_request,
     [](const Daemon& d, char* out, std::size_t cap) {
       return format_prefix_stats("CONFIG", d.service.config, out, cap);
     },
     nullptr, &Settings::conf_req},
    {"LOGSIZE",
     [](Daemon& d, platform::socket_t s, char* m) { return d.log_commands.logsize(s, m); },
     [](const Daemon& d, char* out, std::size_t cap) {
       return d.log_commands.format_stats(out, cap);
     },
     [](Daemon& d) { d.requests.close(); }, nullptr},
    {"LOGREAD",
     [](Daemon& d, platform::socket_t s, char* m) { return d.log_commands.logread(s, m); }, nullptr,
     nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const CommandRow* find_command(const char* request) {
  for (const CommandRow* row = command_table; row->prefix != nullptr; ++row) {
    if (std::strncmp(request, row->prefix, std::strlen(row->prefix)) == 0) return row;
  }
  return nullptr;
}

void close_driver_resources(Daemon& d) {
  d.channel.qdn_close();
  d.direct.close_all();
  d.events.close();
}

}  // namespace tavro
