#include "export/ExportError.h"

#include "playback/PlaybackError.h"

#include <cerrno>
#include <system_error>

#include "export/AvHandles.h"

thread_local std::string tLastLogged;

void CatchAvLog(void* object, int level, const char* format, va_list args) {
  if (level > AV_LOG_ERROR) return;
  char line[512];
  int prefix = 1;
  av_log_format_line2(object, level, format, args, line, sizeof line, &prefix);
  tLastLogged = line;
  while (!tLastLogged.empty() && (tLastLogged.back() == '\n' || tLastLogged.back() == '\r')) tLastLogged.pop_back();
}

[[noreturn]] void ThrowExport(TExportErrc code, std::string details) { throw EExport{code, std::move(details)}; }

void CheckCancel(const std::atomic<bool>* cancel) {
  if (cancel && cancel->load(std::memory_order_relaxed)) ThrowExport(TExportErrc::Cancelled, "cancelled");
}

[[noreturn]] void ThrowAv(int code, const std::string& what) {
  if (code == AVERROR_EXIT) ThrowExport(TExportErrc::Cancelled, "cancelled");
  if (code == AVERROR(ENOMEM)) ThrowExport(TExportErrc::NoMemory, what + ": " + AvErrorText(code));
  if (code == AVERROR(ENOSPC) || code == AVERROR(EDQUOT) || code == AVERROR(EIO) || code == AVERROR(EFBIG) ||
      code == AVERROR(EROFS) || code == AVERROR(EACCES) || code == AVERROR(EPERM))
    ThrowExport(TExportErrc::Write, AvErrorText(code));
  ThrowExport(TExportErrc::Encoder,
              what + ": " + AvErrorText(code) + (tLastLogged.empty() ? "" : " (" + tLastLogged + ")"));
}

void CheckAv(int code, const char* what) {
  if (code < 0) ThrowAv(code, what);
}

TExportErrc FailureCode(const std::exception& e, TExportErrc otherwise) {
  std::error_code code;
  if (const auto* system = dynamic_cast<const std::system_error*>(&e)) code = system->code();
  if (const auto* playback = dynamic_cast<const EPlayback*>(&e)) code = playback->Code();
  return code == std::errc::not_enough_memory ? TExportErrc::NoMemory : otherwise;
}

namespace {

class TExportCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "export"; }
  std::string message(int code) const override {
    switch (TExportErrc(code)) {
      case TExportErrc::None:
        return "done";
      case TExportErrc::Cancelled:
        return "cancelled";
      case TExportErrc::Exists:
        return "the file exists";
      case TExportErrc::IsFilm:
        return "the file is the film itself";
      case TExportErrc::CannotCreate:
        return "the file cannot be created";
      case TExportErrc::Write:
        return "the file cannot be written";
      case TExportErrc::Encoder:
        return "the encoder failed";
      case TExportErrc::Playback:
        return "the film cannot be played";
      case TExportErrc::NoFrames:
        return "there are no frames";
      case TExportErrc::NoSegment:
        return "there is no such segment";
      case TExportErrc::Options:
        return "the options do not fit the format";
      case TExportErrc::NoMemory:
        return "not enough memory";
    }
    return "export failure " + std::to_string(code);
  }
  std::error_condition default_error_condition(int code) const noexcept override {
    if (TExportErrc(code) == TExportErrc::NoMemory) return std::errc::not_enough_memory;
    return std::error_condition(code, *this);
  }
};

}  // namespace

const std::error_category& ExportCategory() {
  static const TExportCategory category;
  return category;
}

std::error_code make_error_code(TExportErrc code) { return {int(code), ExportCategory()}; }
