// The command line of the player: a film path and the switches /closeonfinish, /size, /pos,
// /segm and /start, read by a state machine. Pure: the screen size and the window's minimum size
// are given, so that the rules can be tested on any machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum TArgState { asSwitch = 0, asPosLeft = 1, asPosTop = 2, asSizeWidth = 3, asSizeHeight = 4, asSegment = 5, asStart = 6 };

struct TStartOptions {
  std::string StartFilmPath;  // letter case kept; blanks and control characters trimmed
  int32_t WinLeft = 0;
  int32_t WinTop = 0;
  int32_t WinWidth = 0;
  int32_t WinHeight = 0;
  bool Maximized = true;
  int32_t StartSegment = 0;  // 1-based; 0 means no choice
  // /start: where playback starts, in milliseconds after the start of the film, or of the
  // segment /segm chooses; -1 means no choice.
  int64_t StartMillis = -1;
  bool AutoFullScreen = false;
  bool CloseOnFinish = false;
};

// Reads the arguments (without the program's own path). An argument that begins with '/' is a
// switch, unless it is an absolute path (a further '/' or a '.' in it): those are film paths.
// Without arguments the options stay as given and nothing is read: the caller opens its window
// at its own bounds, without a film. False when an argument cannot be handled (a value that is
// not an integer, a /start value that is not a time): the command line is malformed.
bool ParseCommandLine(const std::vector<std::string>& args, int32_t screenWidth,
                      int32_t screenHeight, int32_t minWidth, int32_t minHeight,
                      TStartOptions& options);

// The standard integer conversion: optional leading blanks, then an optional sign and
// decimal digits, or hexadecimal digits after "$", "x" or "0x" taken as a 32-bit pattern.
// Anything else, trailing characters and decimal numbers outside 32 bits included, fails.
bool StrToInt32(const std::string& text, int32_t& value);

// What the command line asks of the terminal rather than of the window: "--version" or
// "--help" as the only argument. Among other arguments they are switches like any other the
// player does not know, and are skipped.
enum class TTerminalRequest { None, Version, Help };
TTerminalRequest TerminalRequest(const std::vector<std::string>& args);

// The text printed for a request, in UTF-8: the program's name and version, or the command
// line's synopsis in the interface's language.
std::string TerminalText(TTerminalRequest request);
