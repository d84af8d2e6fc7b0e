// Feeds arbitrary command lines to the player's argument parser. Input: the screen width and
// height and the window's minimum width and height (four little-endian 32-bit numbers), then
// the arguments separated by NUL bytes (empty arguments included; the parser skips them).
//
// Besides crashes and undefined behaviour it checks what must hold whatever the arguments:
// - the integer conversion agrees with one built on the C library's strtoll/strtoull;
// - the command line fails exactly when a word read as a switch value is neither one of the
//   keywords allowed there nor an integer (for /start: not a time); the switches set the size, state, segment and
//   closing as given (a model that tracks only which word each switch still expects);
// - switches and keywords ignore letter case;
// - the window ends inside the screen when it fits, else on its right or bottom edge;
// - the film path is one of the arguments, trimmed.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "playback/FilmClock.h"
#include "shell/app/UzrCommandLine.h"

namespace {

std::string Case(std::string s, bool upper) {
  for (char& c : s) c = char(upper ? std::toupper(static_cast<unsigned char>(c)) : std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool AllOf(const std::string& s, size_t from, int (*test)(int)) {
  if (from >= s.size()) return false;
  for (size_t i = from; i < s.size(); ++i)
    if (!test(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

// The conversion rules, on the C library: leading blanks; "$", "x" or "0x" and hexadecimal
// digits whose value fits 32 bits (taken as the bit pattern); or a sign and decimal digits
// within the 32-bit range. Nothing may follow.
std::optional<int32_t> ReferenceInt(const std::string& text) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return std::nullopt;
  size_t hex = std::string::npos;
  if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') hex = i + 1;
  else if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) hex = i + 2;
  if (hex != std::string::npos) {
    if (!AllOf(text, hex, ::isxdigit)) return std::nullopt;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str() + hex, nullptr, 16);
    if (errno == ERANGE || v > 0xFFFFFFFFull) return std::nullopt;
    return int32_t(uint32_t(v));
  }
  const size_t digits = i + (text[i] == '+' || text[i] == '-');
  if (!AllOf(text, digits, ::isdigit)) return std::nullopt;
  errno = 0;
  const long long v = std::strtoll(text.c_str() + i, nullptr, 10);
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return std::nullopt;
  return int32_t(v);
}

// Which words the switches take, written as a queue of expectations rather than as the
// parser's six states: the result the command line must have, and the values it must keep.
struct TExpected {
  bool Ok = true;
  bool CloseOnFinish = false;
  int32_t StartSegment = 0;
  int64_t StartMillis = -1;
  bool Maximized = true;
  bool AutoFullScreen = false;
  int32_t Width = 0, Height = 0;
};

TExpected Expect(const std::vector<std::string>& args, int32_t screenWidth, int32_t screenHeight,
                 int32_t minWidth, int32_t minHeight) {
  TExpected e;
  e.Width = screenWidth, e.Height = screenHeight;
  enum TWant { wNone, wPosLeft, wPosTop, wWidth, wHeight, wSegment, wStart } want = wNone;
  for (const std::string& a : args) {
    if (a.empty()) continue;
    const std::string w = Case(a, false);
    const std::optional<int32_t> n = ReferenceInt(w);
    const TWant now = want;
    want = wNone;
    if (now == wNone) {
      const std::string s = w[0] == '-' ? "/" + w.substr(1) : w;
      if (s == "/closeonfinish") e.CloseOnFinish = true;
      if (s == "/pos") want = wPosLeft;
      if (s == "/size") want = wWidth;
      if (s == "/segm") want = wSegment;
      if (s == "/start") want = wStart;
      continue;
    }
    if (now == wStart) {
      // A time of the film's clock, as people type it (the clock's own tests check the reading).
      int64_t millis = 0;
      if (!ParseFilmTime(w, millis)) {
        e.Ok = false;
        return e;
      }
      e.StartMillis = millis;
      continue;
    }
    if (now == wPosLeft && (w == "c" || w == "l" || w == "r")) {
      if (w != "c") want = wPosTop;
      continue;
    }
    if (now == wPosTop && (w == "t" || w == "b")) continue;
    if (now == wWidth && (w == "max" || w == "min")) {
      e.Maximized = w == "max";
      e.AutoFullScreen = e.AutoFullScreen || w == "max";
      if (w == "min") e.Width = minWidth, e.Height = minHeight;
      continue;
    }
    if (!n) {
      e.Ok = false;
      return e;
    }
    if (now == wPosLeft) want = wPosTop;
    if (now == wWidth) want = wHeight, e.Maximized = false, e.Width = *n;
    if (now == wHeight) e.Height = *n, e.AutoFullScreen = e.Width == screenWidth && e.Height == screenHeight;
    if (now == wSegment) e.StartSegment = *n;
  }
  return e;
}

std::string Trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

int32_t ReadI32(const uint8_t*& data, size_t& size) {
  uint32_t v = 0;
  for (int k = 0; k < 4 && size; ++k, ++data, --size) v |= uint32_t(*data) << (8 * k);
  return int32_t(v);
}

// Where the window must end in one direction: inside the screen when it fits, else with its
// far edge on the screen's edge.
void CheckPlaced(int32_t position, int32_t screen, int32_t size) {
  const int64_t room = int64_t(screen) - size;
  if (room >= 0) {
    CHECK(position >= 0 && position <= room);
  } else {
    CHECK(position == int32_t(room < INT32_MIN ? INT32_MIN : room));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int32_t screenWidth = ReadI32(data, size), screenHeight = ReadI32(data, size);
  const int32_t minWidth = ReadI32(data, size), minHeight = ReadI32(data, size);
  std::vector<std::string> args;
  if (size) {
    args.emplace_back();
    for (size_t i = 0; i < size; ++i) {
      if (data[i] == 0) args.emplace_back();
      else args.back() += char(data[i]);
    }
  }

  // The integer conversion on every word, and on the renderings of a number from the input.
  for (const std::string& a : args) {
    int32_t got = 0x5A5A5A5A;
    const std::optional<int32_t> want = ReferenceInt(a);
    CHECK(StrToInt32(a, got) == want.has_value());
    if (want) CHECK(got == *want);
  }
  if (size >= 4) {
    const uint8_t* p = data;
    size_t n = size;
    const int32_t v = ReadI32(p, n);
    char text[32];
    for (int form = 0; form < 5; ++form) {
      const unsigned bits = uint32_t(v);
      if (form == 0) std::snprintf(text, sizeof text, "%d", v);
      if (form == 1) std::snprintf(text, sizeof text, "  %+d", v);
      if (form == 2) std::snprintf(text, sizeof text, "$%X", bits);
      if (form == 3) std::snprintf(text, sizeof text, "0x%08x", bits);
      if (form == 4) std::snprintf(text, sizeof text, "x%x", bits);
      int32_t got = 0;
      CHECK(StrToInt32(text, got) && got == v);
    }
  }

  TStartOptions options;
  options.WinWidth = 123;
  const bool ok = ParseCommandLine(args, screenWidth, screenHeight, minWidth, minHeight, options);
  if (args.empty()) {
    CHECK(ok && options.WinWidth == 123);  // nothing is read
    return 0;
  }
  const TExpected expected = Expect(args, screenWidth, screenHeight, minWidth, minHeight);
  CHECK(ok == expected.Ok);

  // Upper and lower case read the same, the film path apart.
  for (const bool upper : {false, true}) {
    std::vector<std::string> cased;
    for (const std::string& a : args) cased.push_back(Case(a, upper));
    TStartOptions other;
    CHECK(ParseCommandLine(cased, screenWidth, screenHeight, minWidth, minHeight, other) == ok);
    if (!ok) continue;
    CHECK(other.WinLeft == options.WinLeft && other.WinTop == options.WinTop);
    CHECK(other.WinWidth == options.WinWidth && other.WinHeight == options.WinHeight);
    CHECK(other.Maximized == options.Maximized && other.AutoFullScreen == options.AutoFullScreen);
    CHECK(other.StartSegment == options.StartSegment && other.CloseOnFinish == options.CloseOnFinish);
    CHECK(other.StartMillis == options.StartMillis);
    CHECK(other.StartFilmPath == Case(options.StartFilmPath, upper));
  }
  if (!ok) return 0;

  CHECK(options.CloseOnFinish == expected.CloseOnFinish);
  CHECK(options.StartSegment == expected.StartSegment);
  CHECK(options.StartMillis == expected.StartMillis && options.StartMillis >= -1);
  CHECK(options.Maximized == expected.Maximized && options.AutoFullScreen == expected.AutoFullScreen);
  CHECK(options.WinWidth == expected.Width && options.WinHeight == expected.Height);
  CheckPlaced(options.WinLeft, screenWidth, options.WinWidth);
  CheckPlaced(options.WinTop, screenHeight, options.WinHeight);
  if (!options.StartFilmPath.empty()) {
    bool found = false;
    for (const std::string& a : args) found = found || Trimmed(a) == options.StartFilmPath;
    CHECK(found);
    CHECK(Trimmed(options.StartFilmPath) == options.StartFilmPath);
  }
  return 0;
}
