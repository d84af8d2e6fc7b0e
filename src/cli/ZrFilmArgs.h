// zrfilm's command line, read without touching any file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class TZrFilmCommand { Help, Info, Extract, Frames };

struct TZrFilmArgs {
  TZrFilmCommand Command = TZrFilmCommand::Help;
  std::string Film;
  std::string Dir;       // extract, frames
  int32_t Segment = 0;   // frames --segment N (from 1); 0: every segment
  bool Force = false;    // frames --force: write into a folder that is not empty
};

// Reads the arguments after the program name. False with the reason in `error` for a wrong
// command line. "--help" or "-h" anywhere before "--" asks for the usage; after "--" every
// word is a name, even one that starts with "-".
bool ParseZrFilmArgs(const std::vector<std::string>& args, TZrFilmArgs& parsed, std::string& error);
