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
#include "io/SameFile.h"
#include "io/TextCase.h"
#include "io/UniqueFd.h"
#include "playback/HeadlessHost.h"
#include "playback/UzrPlayback.h"

namespace {

// ---- The file written ----

// Removes the temporary file unless it has been moved into place.
class TTemporaryFile {
 public:
  explicit TTemporaryFile(const std::string& out) {
    // Only the name is kept: the writer opens the file itself.
    const TFd fd(CreateFileBeside(out, ".export-XXXXXX.part", FPath));
    if (!fd) {
      const int error = errno;
      FPath.clear();
      ThrowExport(TExportErrc::CannotCreate, FolderOf(out) + ": " + std::strerror(error));
    }
  }
  ~TTemporaryFile() {
    if (!FPath.empty()) ::unlink(FPath.c_str());
  }
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;
  const std::string& Path() const { return FPath; }
  void Kept() { FPath.clear(); }

 private:
  std::string FPath;
};

// ---- Playing ----

// Plays the segments from the start through a core of its own, the cursor drawn or not;
// `composed` hears of every composed picture and may stop the playing by returning false.
// A failure to play throws Playback (NoMemory when memory ran out), a cancel Cancelled.
void PlayThrough(TSegments segments, bool cursor, const std::atomic<bool>* cancel,
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
      if (cancel && cancel->load(std::memory_order_relaxed)) ThrowExport(TExportErrc::Cancelled, "cancelled");
      core.TimerPlayTimer();
    }
  } catch (const EPlayback& e) {
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
  PlayThrough(ShareSegments(segments), options.Cursor, cancel, [&](TPlaybackCore& core) {
    if (canvas.Place(*core.Picture(), core.Palette(), [] {})) {
      more = maker.Add(canvas.Bits(), canvas.Stride(), canvas.ChangedRows());
      canvas.ChangesEncoded();
    }
    return more;
  });
  maker.Finish(plan);
}

TExportResult Run(const TSegments& film, const std::string& out, const TExportOptions& options, bool replace,
                  const TExportProgressFn& progress, const std::atomic<bool>* cancel, const std::string& filmPath) {
  TExportResult result;
  TExportPlan plan = PlanPlaying(film, options);

  // Before anything is played: the file's name.
  if (!filmPath.empty() && SameFile(filmPath, out)) ThrowExport(TExportErrc::IsFilm, out);
  struct stat existing {};
  if (::stat(out.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) ThrowExport(TExportErrc::CannotCreate, out + ": a folder");
    // A pipe or a device is never replaced by a file, not even when replacing was asked.
    if (!S_ISREG(existing.st_mode)) ThrowExport(TExportErrc::CannotCreate, out + ": not a regular file");
    if (!replace) ThrowExport(TExportErrc::Exists, out);
  }

  PlanWriting(plan, film, options);
  const TSegments played = PlayedSegments(film, plan, options);
  const TSegments& clock = played;  // the clock reads only the segments' information
  if (plan.Gif) PlanGifPalette(played, plan, options, cancel);

  TTemporaryFile temporary(out);
  TExportWriter writer(plan);
  writer.Open(temporary.Path());

  TExportCanvas canvas(plan.CanvasWidth, plan.CanvasHeight, plan.Width, plan.Height);
  const int64_t end = FilmMillis(clock);
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
      if (from < shownUntil && cancel && cancel->load(std::memory_order_relaxed))
        ThrowExport(TExportErrc::Cancelled, "cancelled");
    }
  };
  TExportProgress state;
  state.TotalFrames = plan.TotalFrames;
  PlayThrough(ShareSegments(played), options.Cursor, cancel, [&](TPlaybackCore& core) {
    const std::optional<TFramePos> pos = core.ComposedFrame();
    if (!pos) return true;
    const int64_t at = FrameTime(clock, *pos);
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
  if (cancel && cancel->load()) ThrowExport(TExportErrc::Cancelled, "cancelled");
  finished = true;
  encodeShown(end);
  writer.Finish();
  if (cancel && cancel->load()) ThrowExport(TExportErrc::Cancelled, "cancelled");

  struct stat written {};
  if (::stat(temporary.Path().c_str(), &written) == 0) result.Bytes = written.st_size;
  if (!MoveIntoPlace(temporary.Path(), out, replace)) {
    if (errno == EEXIST) ThrowExport(TExportErrc::Exists, out);
    ThrowExport(TExportErrc::Write, out + ": " + std::strerror(errno));
  }
  temporary.Kept();
  state.Frames = result.Frames;
  state.Encoded = result.Encoded;
  if (progress) progress(state);
  return result;
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

TExportResult ExportFilm(const TSegments& segments, const std::string& out, const TExportOptions& options,
                         bool replace, const TExportProgressFn& progress, const std::atomic<bool>* cancel,
                         const std::string& filmPath) {
  av_log_set_callback(CatchAvLog);
  tLastLogged.clear();
  try {
    return Run(segments, out, options, replace, progress, cancel, filmPath);
  } catch (const EExport& e) {
    TExportResult failed;
    failed.Code = e.Code;
    failed.Details = e.Details;
    return failed;
  } catch (const std::bad_alloc&) {
    TExportResult failed;
    failed.Code = TExportErrc::NoMemory;
    failed.Details = "not enough memory";
    return failed;
  } catch (const std::exception& e) {
    TExportResult failed;
    failed.Code = FailureCode(e, TExportErrc::Playback);
    failed.Details = e.what();
    return failed;
  }
}
