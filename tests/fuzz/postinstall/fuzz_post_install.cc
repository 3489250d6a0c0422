// LtxPostInstall command lines: split into fields, then the first field used
// as the text and the others as placeholder and replacement.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "postinstall/post_install.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  postinstall::Fields f;
  if (!postinstall::split_fields(text, &f)) return 0;
  if (f.target.size() > postinstall::kMaxCommandLine) std::abort();
  std::string out;
  postinstall::replace_all(f.target.data(), f.target.size(), f.home.c_str(), f.port.c_str(), &out);
  return 0;
}
