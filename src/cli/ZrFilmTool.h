// The zrfilm command-line tool: lists a film's segments, extracts its package, and writes
// every composed picture of a film as PNG files. Exit status 0 on success, 1 when the film
// or a file fails, 2 for a wrong command line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

int RunZrFilm(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
