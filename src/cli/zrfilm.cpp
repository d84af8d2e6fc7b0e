#include <iostream>

#include "cli/ZrFilmTool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunZrFilm(args, std::cout, std::cerr);
}
