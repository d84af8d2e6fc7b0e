#include "shell/app/UzrCommandLine.h"

#include <algorithm>

#include "io/TextCase.h"
#include "io/Version.h"
#include "playback/FilmClock.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Switches are words; a path that starts at the root ("/home/me/film.zrcab") is a film path
// here, where paths begin with '/' rather than a drive letter.
bool LooksLikeAbsolutePath(const std::string& argument) {
  return argument.size() > 1 && argument[0] == '/' &&
         argument.find_first_of("/.", 1) != std::string::npos;
}

// a − b, kept within 32 bits (the window arithmetic of huge requested sizes).
int32_t Minus(int32_t a, int32_t b) {
  return int32_t(std::clamp<int64_t>(int64_t{a} - b, INT32_MIN, INT32_MAX));
}

// Blanks and control characters at both ends go.
std::string Trim(const std::string& s) {
  size_t begin = 0, end = s.size();
  while (begin < end && static_cast<unsigned char>(s[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(s[end - 1]) <= ' ') --end;
  return s.substr(begin, end - begin);
}

}  // namespace

bool StrToInt32(const std::string& text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i == text.size()) return false;
  // Hexadecimal: "$", "x" or "0x", then digits taken as the 32-bit pattern.
  size_t hex = 0;
  if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') {
    hex = i + 1;
  } else if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = i + 2;
  }
  if (hex) {
    if (hex == text.size()) return false;
    uint64_t v = 0;
    for (size_t k = hex; k < text.size(); ++k) {
      const int d = HexDigit(text[k]);
      if (d < 0) return false;
      v = v * 16 + uint64_t(d);
      if (v > 0xFFFFFFFFull) return false;
    }
    value = int32_t(uint32_t(v));
    return true;
  }
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > int64_t{2147483648}) return false;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) return false;
  value = int32_t(v);
  return true;
}

bool ParseCommandLine(const std::vector<std::string>& args, int32_t screenWidth,
                      int32_t screenHeight, int32_t minWidth, int32_t minHeight,
                      TStartOptions& options) {
  if (args.empty()) return true;
  options = TStartOptions{};
  options.WinWidth = screenWidth;
  options.WinHeight = screenHeight;
  options.AutoFullScreen = false;

  TArgState state = asSwitch;
  for (const std::string& argument : args) {
    if (argument.empty()) continue;  // the platform skips empty arguments
    std::string copy = LowerAscii(argument);
    int32_t number = 0;
    switch (state) {
      case asSwitch:
        if (copy[0] == '-') copy[0] = '/';
        if (copy == "/closeonfinish") {
          options.CloseOnFinish = true;
        } else if (copy == "/size") {
          state = asSizeWidth;
        } else if (copy == "/pos") {
          state = asPosLeft;
        } else if (copy == "/segm") {
          state = asSegment;
        } else if (copy == "/start") {
          state = asStart;
        } else if (copy[0] != '/' || LooksLikeAbsolutePath(argument)) {
          options.StartFilmPath = argument;
        }
        break;
      case asPosLeft:
        if (copy == "c") {
          options.WinLeft = Minus(screenWidth, options.WinWidth) / 2;
          options.WinTop = Minus(screenHeight, options.WinHeight) / 2;
          state = asSwitch;
          break;
        }
        if (copy == "l") {
          options.WinLeft = 0;
        } else if (copy == "r") {
          options.WinLeft = Minus(screenWidth, options.WinWidth);
        } else if (StrToInt32(copy, number)) {
          options.WinLeft = number;
        } else {
          return false;
        }
        state = asPosTop;
        break;
      case asPosTop:
        if (copy == "t") {
          options.WinTop = 0;
        } else if (copy == "b") {
          options.WinTop = Minus(screenHeight, options.WinHeight);
        } else if (StrToInt32(copy, number)) {
          options.WinTop = number;
        } else {
          return false;
        }
        state = asSwitch;
        break;
      case asSizeWidth:
        if (copy == "max") {
          options.AutoFullScreen = true;
          options.Maximized = true;
          state = asSwitch;
        } else if (copy == "min") {
          options.Maximized = false;
          options.WinWidth = minWidth;
          options.WinHeight = minHeight;
          state = asSwitch;
        } else {
          options.Maximized = false;
          if (!StrToInt32(copy, number)) return false;
          options.WinWidth = number;
          state = asSizeHeight;
        }
        break;
      case asSizeHeight:
        if (!StrToInt32(copy, number)) return false;
        options.WinHeight = number;
        options.AutoFullScreen = options.WinWidth == screenWidth && options.WinHeight == screenHeight;
        state = asSwitch;
        break;
      case asSegment:
        if (!StrToInt32(copy, number)) return false;
        options.StartSegment = number;
        state = asSwitch;
        break;
      case asStart:
        if (!ParseFilmTime(copy, options.StartMillis)) return false;
        state = asSwitch;
        break;
    }
  }

  options.StartFilmPath = Trim(options.StartFilmPath);
  // The clamps use the requested size: a window larger than the screen ends with its right or
  // bottom edge on the screen's edge and a negative corner.
  options.WinLeft = std::max(options.WinLeft, 0);
  options.WinTop = std::max(options.WinTop, 0);
  if (options.WinLeft > Minus(screenWidth, options.WinWidth))
    options.WinLeft = Minus(screenWidth, options.WinWidth);
  if (options.WinTop > Minus(screenHeight, options.WinHeight))
    options.WinTop = Minus(screenHeight, options.WinHeight);
  return true;
}

TTerminalRequest TerminalRequest(const std::vector<std::string>& args) {
  if (args.size() != 1) return TTerminalRequest::None;
  if (args[0] == "--version") return TTerminalRequest::Version;
  if (args[0] == "--help") return TTerminalRequest::Help;
  return TTerminalRequest::None;
}

std::string TerminalText(TTerminalRequest request) {
  switch (request) {
    case TTerminalRequest::Version:
      return std::string("veRirove ") + kVersion + "\n";
    case TTerminalRequest::Help:
      return "Использование: veRirove [фильм] [/closeonfinish]\n"
             "                        [/size max|min|Ш В]\n"
             "                        [/pos c|(l|r|X) (t|b|Y)]\n"
             "                        [/segm N] [/start ВРЕМЯ]\n"
             "       veRirove --help | --version\n"
             "\n"
             "Проигрыватель фильмов: пакетов .zrcab и исполняемых фильмов .exe. Указанный\n"
             "фильм открывается и сразу воспроизводится.\n"
             "\n"
             "  /closeonfinish  завершить программу, когда фильм доиграет до конца\n"
             "  /size max       окно развёрнуто на весь экран\n"
             "  /size min       окно наименьшего размера, 500 × 300\n"
             "  /size Ш В       окно шириной Ш и высотой В пикселей\n"
             "  /pos c          окно по центру экрана\n"
             "  /pos X Y        левый верхний угол окна в точке (X, Y); вместо X можно указать\n"
             "                  l или r, вместо Y — t или b\n"
             "  /segm N         начать с сегмента N (нумерация с 1)\n"
             "  /start ВРЕМЯ    начать с этого времени фильма: секунды (83.5) или\n"
             "                  ч:мм:сс.ззз (0:01:23.500)\n"
             "  --help          эта справка\n"
             "  --version       версия программы\n"
             "\n"
             "Вместо «/» можно писать «-», регистр букв не важен, незнакомые ключи\n"
             "пропускаются. --help и --version действуют, только если указаны одни.\n"
             "Код завершения: 0 — фильм воспроизведён или не открывался, 1 — фильм не\n"
             "удалось открыть или воспроизвести, или командная строка неверна.\n"
             "Подробно — в справке программы (F1), раздел «Командная строка».\n";
    case TTerminalRequest::None:
      break;
  }
  return {};
}
