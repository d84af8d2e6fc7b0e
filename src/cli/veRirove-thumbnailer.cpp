#include <iostream>

#include "cli/ThumbnailerTool.h"
#include "film/TempFolder.h"

int main(int argc, char** argv) {
  // Interrupted, the run's temporary folder goes too.
  TRunFolder::RemoveOnSignals();
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunThumbnailer(args, std::cout, std::cerr);
}
