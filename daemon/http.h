// HTTP file serving: a minimal HTTP/1.0 GET of the management pages, images
// and applet files under the HTML home directory, and the debug page that runs
// a daemon command from a browser and shows its reply with the traces printed
// meanwhile.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/net.h"

namespace tavro {

struct Daemon;
struct Settings;

struct HttpState {
  std::uint32_t get_count = 0;  // every GET, refused ones included
  std::uint32_t get_html_count = 0;
  std::uint32_t get_image_count = 0;
  std::uint32_t get_applet_count = 0;
  std::uint32_t get_other_count = 0;
  std::uint32_t get_error_count = 0;
  bool debug_page_open = false;
};

struct FileType {
  const char* extension;  // compared exactly with the name's text from its last "."
  std::uint32_t HttpState::*counter;
  std::int32_t log_bit;  // LogFlags bit that notes the request in the request log
};

extern const FileType file_type_table[];
// Files of any other type, or without a ".".
extern const FileType other_file_type;

const FileType& file_type(const char* file_name);

// The "GET " row: serves a file or the debug page. Returns -1 when refused.
int get_request(Daemon& daemon, platform::socket_t s, char* message);
// "GET;<n>;GET(htmls);<n>;GET(images);<n>;GET(java);<n>;GET(other);<n>;GET(errors);<n>"
int format_get_stats(const Daemon& daemon, char* out, std::size_t cap);

// Replaces every "%" followed by two hexadecimal digits by the byte they give.
void percent_decode(char* text);

// The directory files are served from: BaseDir, or the working directory.
const char* html_home(const Settings& settings);
// Maps a request path to a file name: "/" gives DefaultHtml, a path beginning
// with "/" is placed under the HTML home directory, any other path stays as it
// is. False when the name does not fit into cap bytes.
bool map_path(const Settings& settings, const char* path, char* out, std::size_t cap);
// True when a "/"-separated component of path is "..".
bool has_parent_component(const char* path);
// Opens a regular file for reading; when home is given, only one that lies
// inside home once links are resolved. Returns the descriptor, or -1.
int open_served_file(const char* file_name, const char* home);

}  // namespace tavro
