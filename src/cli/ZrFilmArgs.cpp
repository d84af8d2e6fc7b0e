#include "cli/ZrFilmArgs.h"

#include <charconv>
#include <cstddef>

namespace {

bool ParseSegmentNumber(const std::string& text, int32_t& n, std::string& error) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size() || n < 1) {
    error = "--segment wants a segment number from 1, not \"" + text + "\"";
    return false;
  }
  return true;
}

}  // namespace

bool ParseZrFilmArgs(const std::vector<std::string>& args, TZrFilmArgs& parsed, std::string& error) {
  parsed = TZrFilmArgs{};
  for (const auto& a : args) {
    if (a == "--") break;  // what follows is names, even "--help"
    if (a == "--help" || a == "-h") return true;
  }
  if (args.empty()) {
    error = "no command given";
    return false;
  }
  const std::string& command = args[0];
  std::vector<std::string> positional;
  bool framesOptions = command == "frames";
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      positional.insert(positional.end(), args.begin() + std::ptrdiff_t(i) + 1, args.end());
      break;
    }
    if (framesOptions && a == "--segment") {
      if (i + 1 >= args.size()) {
        error = "--segment wants a number";
        return false;
      }
      if (!ParseSegmentNumber(args[++i], parsed.Segment, error)) return false;
    } else if (framesOptions && a.rfind("--segment=", 0) == 0) {
      if (!ParseSegmentNumber(a.substr(10), parsed.Segment, error)) return false;
    } else if (framesOptions && a == "--force") {
      parsed.Force = true;
    } else if (a.size() > 1 && a[0] == '-') {
      error = "unknown option " + a;
      return false;
    } else {
      positional.push_back(a);
    }
  }
  if (command == "info") {
    if (positional.size() != 1) {
      error = "info takes one film";
      return false;
    }
    parsed.Command = TZrFilmCommand::Info;
  } else if (command == "extract" || command == "frames") {
    if (positional.size() != 2) {
      error = command + " takes a film and a folder";
      return false;
    }
    parsed.Command = command == "extract" ? TZrFilmCommand::Extract : TZrFilmCommand::Frames;
    parsed.Dir = positional[1];
  } else {
    error = "unknown command " + command;
    return false;
  }
  parsed.Film = positional[0];
  return true;
}
