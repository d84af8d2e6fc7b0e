// The playback core's one error kind. EPlayback carries a TPlaybackErrc and an English
// message for whoever reports the fault; the front ends choose their own words by the code.
#pragma once

#include <stdexcept>
#include <string>
#include <system_error>
#include <type_traits>

enum class TPlaybackErrc {
  // A segment of a depth other than 8, 24 or 32 bits per pixel: valid, but not shown.
  UnsupportedVideoMode = 1,
  // A segment's frame data larger than the frame buffer.
  SegmentTooBig,
  // No surfaces for a segment's frame: a size no picture may have (no pixels, beyond 65,536
  // a side or 256 MiB), or no memory for them.
  NoSurfaces,
  // No memory for the area saved under the cursor.
  OutOfMemory,
};

const std::error_category& PlaybackCategory();
std::error_code make_error_code(TPlaybackErrc code);

template <>
struct std::is_error_code_enum<TPlaybackErrc> : std::true_type {};

// A film the player cannot show: playback stops and the user is told.
class EPlayback : public std::runtime_error {
 public:
  EPlayback(TPlaybackErrc code, const std::string& message) : std::runtime_error(message), FCode(code) {}
  TPlaybackErrc Code() const { return FCode; }

 private:
  TPlaybackErrc FCode;
};
