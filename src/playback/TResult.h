// Result codes of the player's operations: 0 is success, each other code has a fixed text.
#pragma once

#include <cstdint>

using TResult = uint8_t;

inline constexpr TResult kResultOk = 0;
inline constexpr TResult kResultOutOfIndexBound = 2;
inline constexpr TResult kResultSegmentIsNil = 11;
inline constexpr TResult kResultFrameIsNil = 12;
inline constexpr TResult kResultNoSegments = 14;
// Reported when the frame image has no pixels; it has no text of its own.
inline constexpr TResult kResultNoFrameImage = 15;

// The text of a code, as the result box shows it.
inline const char* ResultText(TResult code) {
  static const char* const kTexts[] = {
      "All Right",          "Cannot Alloc Memory", "Out Of Index Bound",  "Less than Min Size",
      "Less Zero",          "Film Is Empty",       "Film Is Nil",         "Film Stream Is Nil",
      "CursorStream Is Nil", "Segment List Is Nil", "CurPos Is Nil",      "Segment Is Nil",
      "Frame Is Nil",       "Out Of Memory",       "No Segments",
  };
  if (code < sizeof kTexts / sizeof kTexts[0]) return kTexts[code];
  if (code == 16) return "UnKnown Error";
  return "Out of bounds of TResult";
}
