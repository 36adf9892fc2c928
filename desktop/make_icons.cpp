// make_icons FOLDER writes the program's icon theme under FOLDER (see desktop/icon.h), for the
// package to install. Exits with 1 when a file cannot be written.

#include <cstdio>

#include "desktop/icon.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icons FOLDER\n");
    return 2;
  }
  if (!desktop::WriteIconTheme(argv[1])) {
    std::fprintf(stderr, "make_icons: cannot write the icons under %s\n", argv[1]);
    return 1;
  }
  return 0;
}
