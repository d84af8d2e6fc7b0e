// zrfilm's command line: arguments split at NUL bytes. Whatever they are, the parser ends
// with a command or a reason, and what it accepts reads back the same way.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/ZrFilmArgs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size && args.size() < 64; ++i) {
    if (data[i] == 0)
      args.emplace_back();
    else
      args.back() += char(data[i]);
  }
  TZrFilmArgs parsed;
  std::string error;
  const bool ok = ParseZrFilmArgs(args, parsed, error);
  if (ok != error.empty()) __builtin_trap();
  if (!ok || parsed.Command == TZrFilmCommand::Help) return 0;
  if (parsed.Segment < 0) __builtin_trap();
  if (parsed.Command == TZrFilmCommand::Info && !parsed.Dir.empty()) __builtin_trap();
  // The accepted command written out plainly parses to the same thing.
  std::vector<std::string> again = {parsed.Command == TZrFilmCommand::Info      ? "info"
                                    : parsed.Command == TZrFilmCommand::Extract ? "extract"
                                                                                 : "frames"};
  if (parsed.Segment) again.push_back("--segment=" + std::to_string(parsed.Segment));
  if (parsed.Force) again.push_back("--force");
  again.push_back("--");
  again.push_back(parsed.Film);
  if (parsed.Command != TZrFilmCommand::Info) again.push_back(parsed.Dir);
  TZrFilmArgs reparsed;
  if (!ParseZrFilmArgs(again, reparsed, error)) __builtin_trap();
  if (reparsed.Command != parsed.Command || reparsed.Film != parsed.Film || reparsed.Dir != parsed.Dir ||
      reparsed.Segment != parsed.Segment || reparsed.Force != parsed.Force)
    __builtin_trap();
  return 0;
}
