#include "playback/PlaybackError.h"

namespace {

class TPlaybackCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "playback"; }
  std::string message(int code) const override {
    switch (TPlaybackErrc(code)) {
      case TPlaybackErrc::UnsupportedVideoMode:
        return "unsupported video mode";
      case TPlaybackErrc::SegmentTooBig:
        return "segment too big for the frame buffer";
      case TPlaybackErrc::NoSurfaces:
        return "no surfaces for the frame";
      case TPlaybackErrc::OutOfMemory:
        return "out of memory";
    }
    return "unknown playback error";
  }
  // Out of memory is out of memory in every layer's terms.
  std::error_condition default_error_condition(int code) const noexcept override {
    if (TPlaybackErrc(code) == TPlaybackErrc::OutOfMemory) return std::errc::not_enough_memory;
    return std::error_category::default_error_condition(code);
  }
};

}  // namespace

const std::error_category& PlaybackCategory() {
  static const TPlaybackCategory category;
  return category;
}

std::error_code make_error_code(TPlaybackErrc code) { return {int(code), PlaybackCategory()}; }
