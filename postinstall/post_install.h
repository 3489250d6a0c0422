// LtxPostInstall: fills the placeholder words of one installed file with the
// values chosen at installation (home directory, port, default page).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace postinstall {

inline constexpr std::size_t kMaxCommandLine = 511;

// The four comma-separated fields of the command line.
struct Fields {
  std::string target;
  std::string home;
  std::string port;
  std::string mix;
};

// Splits text (at most kMaxCommandLine characters are used) at runs of
// commas; false when fewer than four fields are there.
bool split_fields(std::string_view text, Fields* fields);

// Appends text to output with every placeholder replaced (a replacement is
// never searched again). 0, 1 when there is no text, 2 when there is no output.
int replace_all(const char* text, std::size_t length, const char* placeholder,
                const char* replacement, std::string* output);

// 0 done; 1 no path, 2 no placeholder, 3 no replacement; 4 the file cannot be
// opened; 5 its size cannot be read; 6 it is empty; 7 nothing could be read;
// 8 it cannot be written. The file is rewritten through a temporary file
// beside it, so on any failure it stays exactly as it was.
int replace_in_file(const char* path, const char* placeholder, const char* replacement);

// The program: command is its arguments joined by one blank, null when there
// are none. Returns the exit status.
int post_install(const char* command);

}  // namespace postinstall
