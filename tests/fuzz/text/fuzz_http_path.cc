// A request path through decoding, the parent check, the mapping to a file
// name under a web root and the file type lookup.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "daemon/http.h"
#include "daemon/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static tavro::Settings settings = [] {
    tavro::Settings s;
    std::snprintf(s.base_dir, sizeof s.base_dir, "/srv/www");
    std::snprintf(s.default_html, sizeof s.default_html, "/srv/www/index.html");
    return s;
  }();
  std::string path(reinterpret_cast<const char*>(data), size);
  path.resize(path.find('\0') == std::string::npos ? path.size() : path.find('\0'));
  tavro::percent_decode(path.data());
  tavro::has_parent_component(path.c_str());
  char name[64];  // small, so that long paths take the refusal branch
  if (tavro::map_path(settings, path.c_str(), name, sizeof name)) tavro::file_type(name);
  return 0;
}
