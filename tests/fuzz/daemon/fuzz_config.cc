// Configuration files and command lines through the option parser.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/diag.h"
#include "base/text.h"
#include "daemon/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    char name[] = "/tmp/tavro-fuzz-conf-XXXXXX";
    int fd = ::mkstemp(name);
    ::close(fd);
    return std::string(name);
  }();
  std::string text(reinterpret_cast<const char*>(data), size);
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  tavro::Settings settings;
  tavro::Diag diag(settings.debug);
  diag.set_stdout(false);
  tavro::conf(settings, path.c_str(), diag);
  settings.debug = 0;

  // The same bytes as command-line words.
  std::vector<char> copy(text.begin(), text.end());
  copy.push_back('\0');
  char* words[64];
  int count = tavro::string2toks(copy.data(), words, 64);
  tavro::Settings from_words;
  tavro::Diag quiet(from_words.debug);
  quiet.set_stdout(false);
  std::vector<const char*> argv(words, words + count);
  for (const char*& w : argv) {
    if (std::string(w) == "-c") w = "-class";  // keep the parser off the file system
  }
  tavro::parse_command_line(from_words, count, argv.data(), quiet);
  return 0;
}
