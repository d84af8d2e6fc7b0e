#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "cli/ZrFilmCommand.h"
#include "film/SegmentDuration.h"
#include "index/IndexCache.h"
#include "index/IndexPass.h"

namespace {

// A JSON string: quotes, backslashes and control characters escaped, the rest as UTF-8.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\', out += ch;
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

const char* Bool(bool b) { return b ? "true" : "false"; }

// The flags of a frame as words; "-" for none.
std::string FlagWords(uint8_t flags) {
  std::string words;
  const auto add = [&](uint8_t flag, const char* word) {
    if (flags & flag) words += (words.empty() ? "" : ",") + std::string(word);
  };
  add(TFrameActivity::kCursorMoved, "cursor-moved");
  add(TFrameActivity::kCursorShape, "cursor-shape");
  add(TFrameActivity::kSceneChange, "scene");
  return words.empty() ? "-" : words;
}

void WriteJson(std::ostream& out, const TSegments& segments, const TFilmIndex& index, bool frames) {
  out << "{\"duration_ms\": " << FilmMillis(segments) << ", \"segments\": [";
  int64_t start = 0;
  for (size_t i = 0; i < segments.size(); ++i) {
    const Segment& s = *segments[i];
    out << (i ? ", " : "") << "{\"number\": " << (i + 1) << ", \"name\": " << JsonString(s.Name)
        << ", \"start_ms\": " << start << ", \"frames\": " << s.FrameCount;
    if (frames) {
      out << ", \"activity\": [";
      const std::vector<TFrameActivity>* activity = i < index.Segments.size() ? &index.Segments[i].Frames : nullptr;
      for (size_t f = 0; activity && f < activity->size(); ++f) {
        const TFrameActivity& a = (*activity)[f];
        out << (f ? ", " : "") << "{\"frame\": " << f << ", \"time_ms\": "
            << start + SegmentMillis(int32_t(f), s.FrameRate) << ", \"changed\": " << a.Changed << ", \"box\": ["
            << a.Left << ", " << a.Top << ", " << a.Right << ", " << a.Bottom
            << "], \"cursor_moved\": " << Bool(a.Flags & TFrameActivity::kCursorMoved)
            << ", \"cursor_shape\": " << Bool(a.Flags & TFrameActivity::kCursorShape)
            << ", \"scene_change\": " << Bool(a.Flags & TFrameActivity::kSceneChange) << "}";
      }
      out << "]";
    }
    out << "}";
    start += SegmentMillis(s.FrameCount, s.FrameRate);
  }
  out << "], \"chapters\": [";
  for (size_t i = 0; i < index.Chapters.size(); ++i) {
    const TChapter& c = index.Chapters[i];
    out << (i ? ", " : "") << "{\"start_ms\": " << c.StartMs << ", \"title\": " << JsonString(c.Title)
        << ", \"automatic\": " << Bool(c.Automatic) << "}";
  }
  out << "], \"idle\": [";
  for (size_t i = 0; i < index.Idle.size(); ++i)
    out << (i ? ", " : "") << "{\"start_ms\": " << index.Idle[i].StartMs << ", \"end_ms\": " << index.Idle[i].EndMs
        << "}";
  out << "]}\n";
}

// One line per segment, chapter and idle stretch (and frame, with `frames`), fields apart by
// tabs, times as hh:mm:ss.zzz of the film.
void WriteText(std::ostream& out, const TSegments& segments, const TFilmIndex& index, bool frames) {
  out << "duration\t" << FormatFilmDuration(FilmMillis(segments)) << "\n";
  int64_t start = 0;
  for (size_t i = 0; i < segments.size(); ++i) {
    const Segment& s = *segments[i];
    out << "segment\t" << (i + 1) << "\t" << FormatFilmDuration(start) << "\t"
        << Count(s.FrameCount, "frame", "frames") << "\t" << Printable(s.Name) << "\n";
    start += SegmentMillis(s.FrameCount, s.FrameRate);
  }
  for (const TChapter& c : index.Chapters)
    out << "chapter\t" << FormatFilmDuration(c.StartMs) << "\t" << (c.Automatic ? "automatic" : "segment") << "\t"
        << Printable(c.Title) << "\n";
  for (const TIdleStretch& idle : index.Idle)
    out << "idle\t" << FormatFilmDuration(idle.StartMs) << "\t" << FormatFilmDuration(idle.EndMs) << "\t"
        << FormatFilmDuration(idle.EndMs - idle.StartMs) << "\n";
  if (!frames) return;
  for (size_t i = 0; i < index.Segments.size(); ++i) {
    const TSegmentActivity& segment = index.Segments[i];
    const uint8_t rate = segments[i]->FrameRate;
    for (size_t f = 0; f < segment.Frames.size(); ++f) {
      const TFrameActivity& a = segment.Frames[f];
      out << "frame\t" << (i + 1) << "\t" << f << "\t"
          << FormatFilmDuration(segment.StartMs + SegmentMillis(int32_t(f), rate)) << "\t" << a.Changed << "\t"
          << a.Left << "," << a.Top << "," << a.Right << "," << a.Bottom << "\t" << FlagWords(a.Flags) << "\n";
    }
  }
}

}  // namespace

// Plays the film once and lists what its index holds.
int TTool::Index(const TZrFilmArgs& args) {
  const std::string& film = args.Film;
  TToolUi ui(Program, Err, film);
  TSegments segments;
  if (!Load(film, ui, segments)) return kFailed;

  // A film indexed before is not played again; a damaged one is neither read from the cache
  // nor kept in it, as its index holds only what could be read.
  const bool cache = !args.NoCache && !ui.Damaged();
  TFilmIndex index;
  std::string failure;
  if (!cache || !ReadIndexCache(film, args.IdleMs, index)) {
    TIndexOptions options;
    options.IdleMs = args.IdleMs;
    const bool terminal = ::isatty(STDERR_FILENO);
    index = IndexFilm(segments, options, nullptr, [&](int64_t done, int64_t total) {
      if (terminal && total > 0) std::fprintf(stderr, "\rzrfilm: %lld of %lld frames", static_cast<long long>(done),
                                              static_cast<long long>(total));
    }, &failure);
    if (terminal && !segments.empty()) std::fputc('\n', stderr);
    if (cache) WriteIndexCache(film, args.IdleMs, index);
  }

  if (args.Json) WriteJson(Out, segments, index, args.FrameActivity);
  else WriteText(Out, segments, index, args.FrameActivity);
  if (!failure.empty()) return Fail(film, failure);
  return ui.Damaged() || !index.Complete ? kFailed : kOk;
}
