// Letter case in names a user or a package may write in any case (formats, codecs, switches,
// file names from Windows). Only A to Z fold, whatever the locale: the bytes of a UTF-8 or
// Windows-1251 name stay as they are.
#pragma once

#include <string>
#include <string_view>

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

inline std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}
