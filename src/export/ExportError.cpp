#include "export/ExportError.h"

#include <cerrno>

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

[[noreturn]] void ThrowAv(int code, const std::string& what) {
  if (code == AVERROR(ENOSPC) || code == AVERROR(EDQUOT) || code == AVERROR(EIO) || code == AVERROR(EFBIG) ||
      code == AVERROR(EROFS) || code == AVERROR(EACCES) || code == AVERROR(EPERM))
    ThrowExport(TExportErrc::Write, AvErrorText(code));
  ThrowExport(TExportErrc::Encoder, what + ": " + AvErrorText(code) + (tLastLogged.empty() ? "" : " (" + tLastLogged + ")"));
}

void CheckAv(int code, const char* what) {
  if (code < 0) ThrowAv(code, what);
}
