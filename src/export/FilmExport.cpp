#include "export/FilmExport.h"

extern "C" {
#include <libavutil/log.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "export/ExportCanvas.h"
#include "export/ExportError.h"
#include "export/ExportPlan.h"
#include "export/ExportWriter.h"
#include "export/GifPalette.h"
#include "export/KeyFrames.h"
#include "film/SegmentDuration.h"
#include "io/FilePlace.h"
#include "io/HeldFiles.h"
#include "io/SameFile.h"
#include "io/TextCase.h"
#include "io/UniqueFd.h"
#include "playback/HeadlessHost.h"
#include "playback/UzrPlayback.h"

namespace {

// ---- The file written ----

// The name of an unfinished export beside its final name.
constexpr char kTemporaryPattern[] = ".export-XXXXXX.part";

// ---- Playing ----

// Plays the segments from the start through a core of its own, the cursor drawn or not;
// `composed` hears of every composed picture and may stop the playing by returning false.
// A failure to play throws Playback (NoMemory when memory ran out), a cancel Cancelled.
// `first` is the number (from 1) of the first segment in the film, for messages.
void PlayThrough(TSegments segments, int32_t first, bool cursor, const std::atomic<bool>* cancel,
                 const std::function<bool(TPlaybackCore&)>& composed) {
  THeadlessHost host;
  TPlaybackCore core(host);
  host.Core = &core;
  core.SetCursorShown(cursor);
  // Played straight through, never sought: checkpoints for seeking would only take memory.
  core.SetCheckpointBudget(0);
  core.TakeFilm(std::move(segments));
  if (core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) != kResultOk)
    ThrowExport(TExportErrc::NoMemory, "no memory for the frame buffer");
  bool more = true;
  host.OnComposed = [&] { more = composed(core); };
  try {
    const TResult started = core.SetCurSegment();
    if (started != kResultOk)
      ThrowExport(TExportErrc::Playback, host.Report.empty() ? ResultText(started) : host.Report);
    while (more && !host.Stopped && host.Report.empty()) {
      CheckCancel(cancel);
      core.TimerPlayTimer();
    }
  } catch (const EPlayback& e) {
    // A depth the player cannot show, in the tool's words as `zrfilm frames` says it.
    if (e.Code() == TPlaybackErrc::UnsupportedVideoMode && core.HasCurrentSegment())
      ThrowExport(TExportErrc::Playback,
                  "segment " + std::to_string(first + core.CurSegment()) + ": " +
                      std::to_string(int(core.Segments()[size_t(core.CurSegment())]->BitsPerPixel)) +
                      " bits per pixel cannot be played");
    ThrowExport(FailureCode(e, TExportErrc::Playback), e.what());
  }
  if (!host.Report.empty()) ThrowExport(TExportErrc::Playback, host.Report);
}

// GIF's palette for the whole film, from every picture the export places on its canvas
// (GifPalette.h); with a palette for each picture, only the film's own colours when there are
// no more than 256. Playing costs little against encoding, and one palette for the whole
// animation lets the GIF encoder store only what changed from picture to picture.
void PlanGifPalette(const TSegments& segments, TExportPlan& plan, const TExportOptions& options,
                    const std::atomic<bool>* cancel) {
  const bool film = options.GifPalette == TGifPalette::Film;
  if (!film && !plan.WantsOnePalette()) return;
  TExportCanvas canvas(plan.CanvasWidth, plan.CanvasHeight, plan.Width, plan.Height);
  TGifPaletteMaker maker(plan, film);
  bool more = true;
  PlayThrough(ShareSegments(segments), plan.First + 1, options.Cursor, cancel, [&](TPlaybackCore& core) {
    if (canvas.Place(*core.Picture(), core.Palette(), [] {})) {
      more = maker.Add(canvas.Bits(), canvas.Stride(), canvas.ChangedRows());
      canvas.ChangesEncoded();
    }
    return more;
  });
  maker.Finish(plan);
}

TExportResult Run(const TSegments& film, const std::string& out, const TExportOptions& options, bool replace,
                  const TExportProgressFn& progress, const std::atomic<bool>* cancel, const std::string& filmPath,
                  std::unique_ptr<TExportFile>& written) {
  TExportResult result;
  TExportPlan plan = PlanPlaying(film, options, cancel);

  // Before anything is played: the file's name.
  const TExportResult target = CheckExportFile(out, replace, filmPath);
  if (!target) ThrowExport(target.Code, target.Details);

  PlanWriting(plan, film, options, cancel);
  const TSegments played = PlayedSegments(film, plan, options);
  if (plan.Gif) PlanGifPalette(played, plan, options, cancel);

  // Unfinished exports that were killed in this folder go first.
  RemoveAbandonedFiles(FolderOf(out), kTemporaryPattern);
  auto temporary = std::make_unique<TExportFile>(out);
  if (temporary->Path().empty()) ThrowExport(TExportErrc::CannotCreate, FolderOf(out) + ": " + std::strerror(errno));
  TExportWriter writer(plan, cancel);
  writer.Open(temporary->Path());

  TExportCanvas canvas(plan.CanvasWidth, plan.CanvasHeight, plan.Width, plan.Height);
  int64_t shownAt = -1;  // when the picture on the canvas started; -1: nothing yet
  bool finished = false;
  TKeyFrames keys(plan.KeyInterval, plan.Chapters);
  auto encodeShown = [&](int64_t until) {
    if (shownAt < 0) return;
    // A segment without a frame rate lasts no time; its last picture still gets a moment.
    const int64_t minimum = TPlaybackCore::FrameInterval(uint8_t(plan.MaxRate));
    const int64_t shownUntil = shownAt + std::max(until - shownAt, finished ? minimum : 1);
    // A picture lasting past the moment a key frame is due is shown again from there, as one.
    for (int64_t from = shownAt; from < shownUntil;) {
      const bool key = keys.Take(from);
      const int64_t to = std::min(shownUntil, keys.Next(from));
      writer.Encode(canvas.Bits(), canvas.Stride(), canvas.ChangedRows(), from, to - from, key);
      canvas.ChangesEncoded();
      ++result.Encoded;
      from = to;
      if (from < shownUntil) CheckCancel(cancel);
    }
  };
  TExportProgress state;
  state.TotalFrames = plan.TotalFrames;
  PlayThrough(ShareSegments(played), plan.First + 1, options.Cursor, cancel, [&](TPlaybackCore& core) {
    const std::optional<TFramePos> pos = core.ComposedFrame();
    if (!pos) return true;
    const int64_t at = plan.FrameTime(played, *pos);
    ++result.Frames;
    const bool later = at > shownAt;
    canvas.Place(*core.Picture(), core.Palette(), [&] {
      // The picture shown so far is encoded before the canvas changes, unless the new one
      // comes at the same moment and replaces it.
      if (later) encodeShown(at);
      if (later || shownAt < 0) shownAt = at;
    });
    state.Frames = result.Frames;
    state.Encoded = result.Encoded;
    if (progress) progress(state);
    return true;
  });
  CheckCancel(cancel);
  finished = true;
  encodeShown(plan.End());
  writer.Finish();
  CheckCancel(cancel);

  struct stat stats {};
  if (::stat(temporary->Path().c_str(), &stats) == 0) result.Bytes = stats.st_size;
  written = std::move(temporary);
  // The last figures, the flush's pictures counted.
  state.Frames = result.Frames;
  state.Encoded = result.Encoded;
  if (progress) progress(state);
  return result;
}

// Runs the export, its failures handed back as the result; the file stays unplaced.
TExportResult RunCaught(const TSegments& segments, const std::string& out, const TExportOptions& options,
                        bool replace, const TExportProgressFn& progress, const std::atomic<bool>* cancel,
                        const std::string& filmPath, std::unique_ptr<TExportFile>& written) {
  av_log_set_callback(CatchAvLog);
  tLastLogged.clear();
  TExportResult failed;
  try {
    return Run(segments, out, options, replace, progress, cancel, filmPath, written);
  } catch (const EExport& e) {
    failed.Code = e.Code;
    failed.Details = e.Details;
  } catch (const std::bad_alloc&) {
    failed.Code = TExportErrc::NoMemory;
    failed.Details = "not enough memory";
  } catch (const std::exception& e) {
    failed.Code = FailureCode(e, TExportErrc::Playback);
    failed.Details = e.what();
  }
  written.reset();
  return failed;
}

}  // namespace

std::optional<TExportFormat> ParseExportFormat(std::string_view name) {
  const std::string n = LowerAscii(name);
  if (n == "mp4") return TExportFormat::Mp4;
  if (n == "webm") return TExportFormat::WebM;
  if (n == "mkv") return TExportFormat::Mkv;
  if (n == "gif") return TExportFormat::Gif;
  return std::nullopt;
}

std::optional<TExportFormat> ExportFormatOfPath(std::string_view path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return std::nullopt;
  return ParseExportFormat(path.substr(dot + 1));
}

std::optional<TExportCodec> ParseExportCodec(std::string_view name) {
  const std::string n = LowerAscii(name);
  if (n == "h264") return TExportCodec::H264;
  if (n == "vp9") return TExportCodec::Vp9;
  if (n == "av1") return TExportCodec::Av1;
  if (n == "ffv1") return TExportCodec::Ffv1;
  if (n == "h264rgb") return TExportCodec::H264Rgb;
  return std::nullopt;
}

const char* ExportExtension(TExportFormat format) {
  switch (format) {
    case TExportFormat::Mp4:
      return ".mp4";
    case TExportFormat::WebM:
      return ".webm";
    case TExportFormat::Mkv:
      return ".mkv";
    case TExportFormat::Gif:
      break;
  }
  return ".gif";
}

bool CodecFitsFormat(TExportCodec codec, TExportFormat format, bool lossless) {
  const bool losslessCodec = codec == TExportCodec::Ffv1 || codec == TExportCodec::H264Rgb;
  if (lossless) return format == TExportFormat::Mkv && (codec == TExportCodec::Default || losslessCodec);
  switch (format) {
    case TExportFormat::Mp4:
      return codec == TExportCodec::Default || codec == TExportCodec::H264 || codec == TExportCodec::Av1;
    case TExportFormat::WebM:
      return codec == TExportCodec::Default || codec == TExportCodec::Vp9 || codec == TExportCodec::Av1;
    case TExportFormat::Mkv:
      return true;
    case TExportFormat::Gif:
      return codec == TExportCodec::Default;
  }
  return false;
}

TExportResult CheckExportFile(const std::string& out, bool replace, const std::string& filmPath) {
  TExportResult r;
  struct stat existing {};
  if (!filmPath.empty() && SameFile(filmPath, out)) {
    r.Code = TExportErrc::IsFilm, r.Details = out;
  } else if (::stat(out.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) {
      r.Code = TExportErrc::CannotCreate, r.Details = out + ": a folder";
    } else if (!S_ISREG(existing.st_mode)) {
      // A pipe or a device is never replaced by a file, not even when replacing was asked.
      r.Code = TExportErrc::CannotCreate, r.Details = out + ": not a regular file";
    } else if (!replace) {
      r.Code = TExportErrc::Exists, r.Details = out;
    }
  }
  return r;
}

TExportFile::TExportFile(std::string out) : FOut(std::move(out)) {
  FHeld.Reset(CreateHeldFileBeside(FOut, kTemporaryPattern, FPath));
  if (!FHeld) FPath.clear();
}

TExportFile::~TExportFile() {
  if (!FPath.empty()) ::unlink(FPath.c_str());
}

bool TExportFile::Place(bool replace) {
  if (FPath.empty() || !MoveIntoPlace(FPath, FOut, replace)) return false;
  FPath.clear();
  FHeld.Reset();
  return true;
}

TExportResult ExportFilmUnplaced(const TSegments& segments, const std::string& out, const TExportOptions& options,
                                 bool replace, const TExportProgressFn& progress, const std::atomic<bool>* cancel,
                                 const std::string& filmPath, std::unique_ptr<TExportFile>& written) {
  return RunCaught(segments, out, options, replace, progress, cancel, filmPath, written);
}

TExportResult ExportFilm(const TSegments& segments, const std::string& out, const TExportOptions& options,
                         bool replace, const TExportProgressFn& progress, const std::atomic<bool>* cancel,
                         const std::string& filmPath) {
  std::unique_ptr<TExportFile> written;
  TExportResult result = RunCaught(segments, out, options, replace, progress, cancel, filmPath, written);
  if (!result) return result;
  if (!written->Place(replace)) {
    const int error = errno;
    TExportResult failed;
    failed.Code = error == EEXIST ? TExportErrc::Exists : TExportErrc::Write;
    failed.Details = error == EEXIST ? out : out + ": " + std::strerror(error);
    return failed;
  }
  return result;
}
