// Export of a film to a video file through FFmpeg's libraries: H.264 in MP4 (or Matroska),
// VP9 or AV1 in WebM, lossless H.264 RGB or FFV1 in Matroska, and GIF.
//
// The film is played by a core of the export's own on copies of the segments
// (ShareSegments), so a film that a window is playing can be exported from another thread.
// Every frame is written at its time on the film's clock (FilmClock.h), each segment at its
// own frame rate; a frame that changes nothing in the picture lengthens the one before it
// instead of being encoded again. Segments of different sizes are centred on a canvas of
// the largest width and height, filled with the player's grey; segments become chapters
// named as the segments, and with the film's index the automatic chapters inside them too.
// Every chapter starts on a key frame, and key frames lie no further apart than the key
// interval of film time: a picture that lasts longer is shown again from there as a key
// frame, so that players can seek and tools can cut anywhere. With the index, idle stretches
// can be cut short: what follows one comes earlier, its chapters with it.
//
// The file is written beside its final name and renamed into place when complete, so an
// export that fails or is cancelled leaves nothing behind, and an existing file is only
// replaced when asked. The process holds the unfinished file (HeldFiles.h); one left by an
// export that was killed is removed by the next export into its folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "io/UniqueFd.h"
#include "playback/FilmClock.h"

enum class TExportFormat { Mp4, WebM, Mkv, Gif };
enum class TExportCodec { Default, H264, Vp9, Av1, Ffv1, H264Rgb };
// GIF's colours: one palette for the whole film (its own colours when it has no more than 256,
// else one made from all its pictures and applied with error diffusion), or one for each picture.
enum class TGifPalette { Film, Picture };
// The chapters written (all but GIF): a chapter for each segment, or also the automatic ones
// the film's index finds inside segments, titled as the index titles them.
enum class TExportChapters { Segments, All };

struct TFilmIndex;

// The canvas colour around smaller segments: the grey of the player's window.
inline constexpr uint8_t kCanvasGrey = 128;

// Key frames every two seconds of film time unless asked otherwise; an hour at most.
inline constexpr int32_t kDefaultKeyInterval = 2000;
inline constexpr int32_t kMaxKeyInterval = 3600 * 1000;

struct TExportOptions {
  TExportFormat Format = TExportFormat::Mp4;
  // Default: H.264 for MP4 and Matroska, VP9 for WebM, H.264 RGB for Matroska with Lossless,
  // the GIF encoder for GIF. H.264 RGB (QP 0) and FFV1 are lossless, in Matroska only.
  TExportCodec Codec = TExportCodec::Default;
  bool Lossless = false;    // Matroska only: H.264 RGB or FFV1 in the pictures' own RGB colours
  bool Chroma444 = false;   // H.264, VP9 and AV1: full colour resolution (yuv444p)
  int Quality = -1;         // 0 (smallest) to 100 (best); -1: the format's default
  int32_t Segment = 0;      // from 1: that segment alone at its own size; 0: the whole film
  bool Cursor = true;       // the recorded cursor is drawn
  int32_t MaxWidth = 0;     // scaled down to this width when wider; 0: not scaled
  // Milliseconds of film time from one key frame to the next, at most (all but GIF), from 1 to
  // kMaxKeyInterval.
  int32_t KeyInterval = kDefaultKeyInterval;
  TGifPalette GifPalette = TGifPalette::Film;  // GIF only
  // Every idle stretch of the index longer than this many milliseconds is cut to this length:
  // the pictures after it come earlier by what was cut, and chapters with them. 0: nothing is
  // cut. Needs Index.
  int64_t MaxIdle = 0;
  TExportChapters Chapters = TExportChapters::Segments;  // All needs Index
  // The film's index (FilmIndex.h), complete, for MaxIdle and TExportChapters::All; its times
  // are on the film's clock also when one segment is exported.
  std::shared_ptr<const TFilmIndex> Index;
};

// The quality used when none is asked for.
inline constexpr int kDefaultQuality = 60;

// The format a file name asks for by its extension (any case): .mp4, .webm, .mkv, .gif.
std::optional<TExportFormat> ExportFormatOfPath(std::string_view path);
// A format or codec by its name on a command line: "mp4", "webm", "mkv", "gif"; "h264",
// "vp9", "av1", "ffv1", "h264rgb".
std::optional<TExportFormat> ParseExportFormat(std::string_view name);
std::optional<TExportCodec> ParseExportCodec(std::string_view name);
// The extension of a format, with its dot: ".mp4".
const char* ExportExtension(TExportFormat format);
// Whether the codec can be written in the format; the codec Default always can.
bool CodecFitsFormat(TExportCodec codec, TExportFormat format, bool lossless);

struct TExportProgress {
  int64_t Frames = 0;       // frames of the film played so far
  int64_t TotalFrames = 0;  // frames of the film (or of the segment) to play
  // Pictures handed to the encoder: unchanged frames are not, a picture shown again as a key
  // frame is once more.
  int64_t Encoded = 0;
};
// Called from the exporting thread after every few frames and at the end.
using TExportProgressFn = std::function<void(const TExportProgress&)>;

enum class TExportErrc {
  None,
  Cancelled,     // cancelled, or interrupted by a signal
  Exists,        // the file exists and was not to be replaced
  IsFilm,        // the file named is the film itself
  CannotCreate,  // the folder is missing or cannot be written; Details: the system's reason
  Write,         // writing failed (disk full, I/O error); Details: the system's reason
  Encoder,       // the encoder is missing or refused the settings; Details: FFmpeg's words
  Playback,      // the film could not be played (a damaged or unsupported segment)
  NoFrames,      // nothing to export: no frames (in the segment)
  NoSegment,     // the segment asked for is not in the film
  Options,       // a codec that does not fit the format, a key interval out of range, an index
                 // missing, incomplete or of another film, and the like
  NoMemory,      // the memory for playing or encoding could not be had
};

// The export's failures are one error space, as FFmpeg's AVERROR codes are one: a
// TExportErrc converts to a std::error_code of this category, and NoMemory compares equal to
// std::errc::not_enough_memory.
const std::error_category& ExportCategory();
std::error_code make_error_code(TExportErrc code);
template <>
struct std::is_error_code_enum<TExportErrc> : std::true_type {};

struct TExportResult {
  TExportErrc Code = TExportErrc::None;
  std::string Details;      // in English: the system's or FFmpeg's reason, or what failed
  int64_t Frames = 0;       // frames of the film played
  int64_t Encoded = 0;      // pictures encoded
  int64_t Bytes = 0;        // size of the file written
  explicit operator bool() const { return Code == TExportErrc::None; }
};

// Exports the film (its segments, which are only read) to `out`. `filmPath`, when given, is
// checked not to be `out`. `cancel`, when set from any thread, ends the export as Cancelled
// within a frame, or a moment in the steps without frames. An existing `out` is replaced only
// with `replace`.
TExportResult ExportFilm(const TSegments& segments, const std::string& out, const TExportOptions& options,
                         bool replace, const TExportProgressFn& progress = {},
                         const std::atomic<bool>* cancel = nullptr, const std::string& filmPath = {});

// Whether `out` may be written: Exists when there is a file and `replace` is not given,
// IsFilm when it is the film at `filmPath` (when given), CannotCreate for a folder, a pipe or
// a device; None otherwise. ExportFilm asks first; a run writing several files asks for each
// before it writes any.
TExportResult CheckExportFile(const std::string& out, bool replace, const std::string& filmPath = {});

// An export written but not in place yet: the file under a temporary name beside `Out()`,
// held by this process. Dropped unplaced, it is removed.
class TExportFile {
 public:
  // Creates the temporary file beside `out`; Path() is empty, with errno set, when it cannot.
  explicit TExportFile(std::string out);
  ~TExportFile();
  TExportFile(const TExportFile&) = delete;
  TExportFile& operator=(const TExportFile&) = delete;

  const std::string& Out() const { return FOut; }
  const std::string& Path() const { return FPath; }
  // Moves the file to Out(), synced to the disk first; a file there is replaced only with
  // `replace`. False with errno set (EEXIST: a file is there) when it cannot be moved.
  bool Place(bool replace);

 private:
  std::string FOut, FPath;
  TFd FHeld;  // holds the temporary file's lock until it is placed or removed
};

// ExportFilm, except that the file written is handed over in `written` instead of being put
// in place: a run writing several files puts them in place only once every one is written.
TExportResult ExportFilmUnplaced(const TSegments& segments, const std::string& out, const TExportOptions& options,
                                 bool replace, const TExportProgressFn& progress, const std::atomic<bool>* cancel,
                                 const std::string& filmPath, std::unique_ptr<TExportFile>& written);
