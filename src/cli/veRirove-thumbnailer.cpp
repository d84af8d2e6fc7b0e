#include "cli/ThumbnailerTool.h"
#include "cli/ZrFilmCommand.h"

int main(int argc, char** argv) { return ProgramMain("veRirove-thumbnailer", argc, argv, RunThumbnailer); }
