#include "cli/ZrFilmCommand.h"
#include "cli/ZrFilmTool.h"

int main(int argc, char** argv) { return ProgramMain("zrfilm", argc, argv, RunZrFilm); }
