// zrfilm's command line: arguments split at NUL bytes. Whatever they are, the parser ends
// with a command or a reason, and what it accepts reads back the same way.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/ZrFilmArgs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size && args.size() < 64; ++i) {
    if (data[i] == 0)
      args.emplace_back();
    else
      args.back() += char(data[i]);
  }
  TZrFilmArgs parsed;
  std::string error;
  const bool ok = ParseZrFilmArgs(args, parsed, error);
  if (ok != error.empty()) __builtin_trap();
  if (!ok || parsed.Command == TZrFilmCommand::Help || parsed.Command == TZrFilmCommand::Version) return 0;
  if (parsed.Segment < 0 || parsed.Frame < -1) __builtin_trap();
  if (parsed.Command == TZrFilmCommand::Info && !parsed.Dir.empty()) __builtin_trap();
  // What the commands promise: frame has --at or both numbers, never both ways; a range is
  // never backwards; times are never negative.
  const bool frame = parsed.Command == TZrFilmCommand::Frame;
  const bool thumbnail = parsed.Command == TZrFilmCommand::Thumbnail;
  const bool exporting = parsed.Command == TZrFilmCommand::Export;
  // An export's settings always fit its format, and only an export has any.
  const TExportOptions& o = parsed.Export;
  if (!CodecFitsFormat(o.Codec, o.Format, o.Lossless)) __builtin_trap();
  if (o.Lossless && o.Format != TExportFormat::Mkv) __builtin_trap();
  if (o.Quality < -1 || o.Quality > 100 || o.MaxWidth < 0 || o.MaxWidth == 1 || o.Segment != 0) __builtin_trap();
  if (parsed.Split && parsed.Segment) __builtin_trap();
  if (o.Chroma444 && (o.Format == TExportFormat::Gif || o.Lossless || o.Codec == TExportCodec::Ffv1)) __builtin_trap();
  // A longest idle stretch is none or at least the index's shortest; GIF has no chapters to ask for.
  if (o.MaxIdle < 0 || (o.MaxIdle > 0 && o.MaxIdle < 100) || (parsed.ChaptersGiven && o.Format == TExportFormat::Gif)) __builtin_trap();
  const TExportOptions plain;
  if (!exporting && (parsed.Split || o.Lossless || o.Chroma444 || o.Quality != plain.Quality || !o.Cursor ||
                     o.MaxWidth || o.Codec != plain.Codec || parsed.FormatGiven || o.MaxIdle ||
                     o.Chapters != plain.Chapters))
    __builtin_trap();
  if (frame && (parsed.At.has_value() == (parsed.Segment > 0 && parsed.Frame >= 0))) __builtin_trap();
  if (frame && parsed.At && (parsed.Segment || parsed.Frame >= 0)) __builtin_trap();
  if (!frame && (parsed.At || parsed.Frame >= 0)) __builtin_trap();
  if (!frame && !thumbnail && !exporting && !parsed.Out.empty()) __builtin_trap();
  // A thumbnail's size lies in its range, and only a thumbnail has one of its own.
  if (parsed.Size < 1 || parsed.Size > kMaxThumbnailSize) __builtin_trap();
  if (!thumbnail && parsed.Size != kThumbnailSize) __builtin_trap();
  if (thumbnail && (parsed.Segment || parsed.Force)) __builtin_trap();
  if (parsed.Command != TZrFilmCommand::Frames && (parsed.From || parsed.To)) __builtin_trap();
  if (parsed.From && parsed.To && *parsed.From > *parsed.To) __builtin_trap();
  for (const auto& t : {parsed.At, parsed.From, parsed.To})
    if (t && *t < 0) __builtin_trap();
  // The accepted command written out plainly parses to the same thing.
  const bool indexing = parsed.Command == TZrFilmCommand::Index;
  std::vector<std::string> again = {parsed.Command == TZrFilmCommand::Info      ? "info"
                                    : parsed.Command == TZrFilmCommand::Extract ? "extract"
                                    : frame                                     ? "frame"
                                    : thumbnail                                 ? "thumbnail"
                                    : exporting                                 ? "export"
                                    : indexing                                  ? "index"
                                                                                : "frames"};
  // Times as whole seconds and milliseconds.
  auto time = [](int64_t millis) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(millis / 1000),
                  static_cast<long long>(millis % 1000));
    return std::string(text);
  };
  if (parsed.Segment) again.push_back("--segment=" + std::to_string(parsed.Segment));
  if (parsed.Frame >= 0) again.push_back("--frame=" + std::to_string(parsed.Frame));
  if (parsed.At) again.push_back("--at=" + time(*parsed.At));
  if (parsed.From) again.push_back("--from=" + time(*parsed.From));
  if (parsed.To) again.push_back("--to=" + time(*parsed.To));
  if (parsed.Force) again.push_back("--force");
  if (parsed.Size != kThumbnailSize) again.insert(again.end(), {"-s", std::to_string(parsed.Size)});
  if (exporting) {
    static const char* const kFormats[] = {"mp4", "webm", "mkv", "gif"};
    static const char* const kCodecs[] = {"", "h264", "vp9", "av1", "ffv1"};
    again.push_back(std::string("--format=") + kFormats[int(o.Format)]);
    if (o.Codec != TExportCodec::Default) again.push_back(std::string("--codec=") + kCodecs[int(o.Codec)]);
    if (o.Lossless) again.push_back("--lossless");
    if (o.Chroma444) again.push_back("--chroma=444");
    if (o.Quality >= 0) again.push_back("--quality=" + std::to_string(o.Quality));
    if (o.MaxWidth) again.push_back("--max-width=" + std::to_string(o.MaxWidth));
    if (!o.Cursor) again.push_back("--no-cursor");
    if (parsed.Split) again.push_back("--split");
    if (o.MaxIdle) again.push_back("--max-idle=" + time(o.MaxIdle));
    if (parsed.ChaptersGiven) again.push_back(o.Chapters == TExportChapters::All ? "--chapters=all" : "--chapters=segments");
  }
  if (indexing) {
    if (parsed.Json) again.push_back("--json");
    if (parsed.FrameActivity) again.push_back("--frames");
    if (parsed.NoCache) again.push_back("--no-cache");
    again.push_back("--idle=" + time(parsed.IdleMs));
  }
  again.push_back("--");
  again.push_back(parsed.Film);
  if (parsed.Command == TZrFilmCommand::Extract || parsed.Command == TZrFilmCommand::Frames) again.push_back(parsed.Dir);
  if (frame || thumbnail || exporting) again.push_back(parsed.Out);
  TZrFilmArgs reparsed;
  if (!ParseZrFilmArgs(again, reparsed, error)) __builtin_trap();
  if (reparsed.Command != parsed.Command || reparsed.Film != parsed.Film || reparsed.Dir != parsed.Dir ||
      reparsed.Out != parsed.Out || reparsed.Segment != parsed.Segment || reparsed.Frame != parsed.Frame ||
      reparsed.At != parsed.At || reparsed.From != parsed.From || reparsed.To != parsed.To ||
      reparsed.Force != parsed.Force || reparsed.Size != parsed.Size || reparsed.Split != parsed.Split ||
      reparsed.Export.Format != o.Format || reparsed.Export.Codec != o.Codec || reparsed.Export.Lossless != o.Lossless ||
      reparsed.Export.Chroma444 != o.Chroma444 || reparsed.Export.Quality != o.Quality ||
      reparsed.Export.MaxWidth != o.MaxWidth || reparsed.Export.Cursor != o.Cursor ||
      reparsed.Export.MaxIdle != o.MaxIdle || reparsed.Export.Chapters != o.Chapters || reparsed.Json != parsed.Json ||
      reparsed.FrameActivity != parsed.FrameActivity || reparsed.IdleMs != parsed.IdleMs ||
      reparsed.NoCache != parsed.NoCache)
    __builtin_trap();
  return 0;
}
