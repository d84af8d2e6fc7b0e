// The zrfilm command-line tool: lists a film's segments, extracts its package, writes the
// composed pictures of a film, all, a range or one, as PNG files, and a thumbnail for file
// managers. Exit status 0 on success, 1 when the film or a file fails or nothing was left to
// write, 2 for a wrong command line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

int RunZrFilm(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
