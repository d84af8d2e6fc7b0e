#include <iostream>
#include <new>

#include "cli/ThumbnailerTool.h"
#include "film/TempFolder.h"

int main(int argc, char** argv) {
  // Interrupted, the run's temporary folder goes too.
  TRunFolder::RemoveOnSignals();
  // A command says itself when memory runs out; this catches what runs out around it.
  try {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunThumbnailer(args, std::cout, std::cerr);
  } catch (const std::bad_alloc&) {
    std::cerr << "veRirove-thumbnailer: not enough memory\n";
    return 1;
  }
}
