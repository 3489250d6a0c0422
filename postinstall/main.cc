// Program entry of LtxPostInstall.
#include <string>

#include "postinstall/post_install.h"

int main(int argc, char** argv) {
  if (argc < 2) return postinstall::post_install(nullptr);
  std::string command = argv[1];
  for (int i = 2; i < argc; ++i) command.append(" ").append(argv[i]);
  return postinstall::post_install(command.c_str());
}
