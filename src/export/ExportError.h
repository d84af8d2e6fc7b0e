// How the export fails on its way: a failure is thrown as EExport with its code and the
// system's or FFmpeg's words for it, and ExportFilm hands it back as its result.
#pragma once

#include <atomic>
#include <cstdarg>
#include <exception>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "export/FilmExport.h"

// FFmpeg's messages go nowhere but here: the last error it logged on this thread, which a
// failure then carries in its details, rather than lines on the terminal or the player's
// standard error.
extern thread_local std::string tLastLogged;

void CatchAvLog(void* object, int level, const char* format, va_list args);

// A failure on the way: what it is and FFmpeg's or the system's words for it.
struct EExport {
  TExportErrc Code;
  std::string Details;
};

[[noreturn]] void ThrowExport(TExportErrc code, std::string details);

// Throws Cancelled when `cancel` is given and set. Every step of an export that may take long
// (planning a film of a million segments, counting colours, encoding, flushing the encoder,
// completing the file) asks, so that a cancel or a signal is heard within a moment.
void CheckCancel(const std::atomic<bool>* cancel);

// In loops over segments or chapters: asks once every kCancelStride rounds.
inline constexpr int64_t kCancelStride = 4096;
inline void CheckCancelEvery(int64_t round, const std::atomic<bool>* cancel) {
  if (round % kCancelStride == 0) CheckCancel(cancel);
}

// A libav error in writing the file is the file's fault (disk full, I/O); AVERROR_EXIT is a
// cancel heard by the file's interrupt callback; any other is the encoder's or muxer's.
[[noreturn]] void ThrowAv(int code, const std::string& what);

void CheckAv(int code, const char* what);

// The code for a failure of a layer below while the film is played: NoMemory when it is out
// of memory in that layer's words (a std::system_error equal to std::errc::not_enough_memory),
// `otherwise` for anything else.
TExportErrc FailureCode(const std::exception& e, TExportErrc otherwise);
