#include "cli/ZrFilmArgs.h"

#include <charconv>
#include <cstddef>
#include <string_view>

#include "film/SegmentDuration.h"
#include "playback/FilmClock.h"

namespace {

enum class TOption {
  Segment, Frame, At, From, To, Force, Size,
  Format, Codec, Lossless, Chroma, Quality, Split, NoCursor, MaxWidth, KeyInt, GifPalette, MaxIdle, Chapters,
  Json, FrameActivity, Idle, NoCache
};

// The commands that take options, as bits.
constexpr unsigned kFrames = 1, kFrame = 2, kThumbnail = 4, kExport = 8, kIndex = 16;

unsigned CommandBit(std::string_view command) {
  return command == "frames"      ? kFrames
         : command == "frame"     ? kFrame
         : command == "thumbnail" ? kThumbnail
         : command == "export"    ? kExport
         : command == "index"     ? kIndex
                                  : 0;
}

// The options and the commands that take them.
struct TOptionRule {
  std::string_view Name;
  TOption Option;
  bool TakesValue;
  unsigned Commands;
};

constexpr TOptionRule kOptions[] = {
    {"--segment", TOption::Segment, true, kFrames | kFrame | kExport},
    {"--force", TOption::Force, false, kFrames | kFrame | kExport},
    {"--from", TOption::From, true, kFrames},
    {"--to", TOption::To, true, kFrames},
    {"--at", TOption::At, true, kFrame},
    {"--frame", TOption::Frame, true, kFrame},
    {"--size", TOption::Size, true, kThumbnail},
    {"-s", TOption::Size, true, kThumbnail},
    {"--format", TOption::Format, true, kExport},
    {"--codec", TOption::Codec, true, kExport},
    {"--lossless", TOption::Lossless, false, kExport},
    {"--chroma", TOption::Chroma, true, kExport},
    {"--quality", TOption::Quality, true, kExport},
    {"--split", TOption::Split, false, kExport},
    {"--no-cursor", TOption::NoCursor, false, kExport},
    {"--max-width", TOption::MaxWidth, true, kExport},
    {"--keyint", TOption::KeyInt, true, kExport},
    {"--gif-palette", TOption::GifPalette, true, kExport},
    {"--max-idle", TOption::MaxIdle, true, kExport},
    {"--chapters", TOption::Chapters, true, kExport},
    {"--json", TOption::Json, false, kIndex},
    {"--frames", TOption::FrameActivity, false, kIndex},
    {"--idle", TOption::Idle, true, kIndex},
    {"--no-cache", TOption::NoCache, false, kIndex},
};

// The longest idle threshold index takes, in milliseconds.
constexpr int64_t kMaxIdleMs = 3600000;

// The largest picture side an export scales to.
constexpr int32_t kMaxExportWidth = 65536;

const TOptionRule* FindOption(std::string_view name) {
  for (const TOptionRule& rule : kOptions)
    if (rule.Name == name) return &rule;
  return nullptr;
}

bool ParseNumber(const std::string& text, int32_t least, int32_t& n) {
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < least) return false;
  n = value;
  return true;
}

// Options without a value.
void SetFlag(TOption option, TZrFilmArgs& parsed) {
  switch (option) {
    case TOption::Lossless:
      parsed.Export.Lossless = true;
      break;
    case TOption::Split:
      parsed.Split = true;
      break;
    case TOption::NoCursor:
      parsed.Export.Cursor = false;
      break;
    case TOption::Json:
      parsed.Json = true;
      break;
    case TOption::FrameActivity:
      parsed.FrameActivity = true;
      break;
    case TOption::NoCache:
      parsed.NoCache = true;
      break;
    default:
      parsed.Force = true;
      break;
  }
}

bool ParseValue(TOption option, const std::string& name, const std::string& text, TZrFilmArgs& parsed,
                std::string& error) {
  const std::string quoted = "\"" + text + "\"";
  int64_t millis = 0;
  switch (option) {
    case TOption::Format:
      // Read by the export's own part of the command line (ZrFilmExportArgs.cpp).
      parsed.FormatName = text;
      parsed.FormatGiven = true;
      return true;
    case TOption::Codec:
      parsed.CodecName = text;
      return true;
    case TOption::Chroma:
      if (text == "420" || text == "444") {
        parsed.Export.Chroma444 = text == "444";
        return true;
      }
      error = "--chroma wants 420 or 444, not " + quoted;
      return false;
    case TOption::GifPalette:
      if (text == "film" || text == "picture") {
        parsed.Export.GifPalette = text == "film" ? TGifPalette::Film : TGifPalette::Picture;
        parsed.GifPaletteGiven = true;
        return true;
      }
      error = "--gif-palette wants film or picture, not " + quoted;
      return false;
    case TOption::Quality:
      if (ParseNumber(text, 0, parsed.Export.Quality) && parsed.Export.Quality <= 100) return true;
      error = "--quality wants a number from 0 to 100, not " + quoted;
      return false;
    case TOption::MaxWidth:
      if (ParseNumber(text, 2, parsed.Export.MaxWidth) && parsed.Export.MaxWidth <= kMaxExportWidth) return true;
      error = "--max-width wants a width in pixels from 2 to " + std::to_string(kMaxExportWidth) + ", not " + quoted;
      return false;
    case TOption::KeyInt:
      if (ParseFilmTime(text, millis) && millis >= 1 && millis <= kMaxKeyInterval) {
        parsed.Export.KeyInterval = int32_t(millis);
        return true;
      }
      error = "--keyint wants seconds from 0.001 to " + std::to_string(kMaxKeyInterval / 1000) + ", not " + quoted;
      return false;
    case TOption::Idle:
      if (ParseFilmTime(text, millis) && millis >= 100 && millis <= kMaxIdleMs) {
        parsed.IdleMs = millis;
        return true;
      }
      error = "--idle wants seconds from 0.1 to " + std::to_string(kMaxIdleMs / 1000) + ", not " + quoted;
      return false;
    case TOption::MaxIdle:
      if (ParseFilmTime(text, millis) && millis >= 100) {
        parsed.Export.MaxIdle = millis;
        return true;
      }
      error = "--max-idle wants seconds from 0.1, not " + quoted;
      return false;
    case TOption::Chapters:
      if (text == "segments" || text == "all") {
        parsed.Export.Chapters = text == "all" ? TExportChapters::All : TExportChapters::Segments;
        parsed.ChaptersGiven = true;
        return true;
      }
      error = "--chapters wants segments or all, not " + quoted;
      return false;
    case TOption::Segment:
      if (ParseNumber(text, 1, parsed.Segment)) return true;
      error = "--segment wants a segment number from 1, not " + quoted;
      return false;
    case TOption::Frame:
      if (ParseNumber(text, 0, parsed.Frame)) return true;
      error = "--frame wants a frame number from 0, not " + quoted;
      return false;
    case TOption::At:
    case TOption::From:
    case TOption::To:
      if (!ParseFilmTime(text, millis)) {
        error = name + " wants a time of the film in seconds or h:mm:ss.zzz, not " + quoted;
        return false;
      }
      (option == TOption::At ? parsed.At : option == TOption::From ? parsed.From : parsed.To) = millis;
      return true;
    case TOption::Size:
      if (ParseNumber(text, 1, parsed.Size) && parsed.Size <= kMaxThumbnailSize) return true;
      error = name + " wants a size in pixels from 1 to " + std::to_string(kMaxThumbnailSize) + ", not " + quoted;
      return false;
    case TOption::Force:
    case TOption::Lossless:
    case TOption::Split:
    case TOption::NoCursor:
    case TOption::Json:
    case TOption::FrameActivity:
    case TOption::NoCache:
      break;
  }
  return true;
}

// What the options given say together.
bool CheckCombination(const TZrFilmArgs& parsed, std::string& error) {
  if (parsed.Command == TZrFilmCommand::Frames && parsed.From && parsed.To && *parsed.From > *parsed.To) {
    error = "--from " + FormatFilmDuration(*parsed.From) + " lies after --to " + FormatFilmDuration(*parsed.To);
    return false;
  }
  if (parsed.Command != TZrFilmCommand::Frame) return true;
  const bool byNumber = parsed.Segment > 0 || parsed.Frame >= 0;
  if (parsed.At && byNumber) {
    error = "frame takes --at TIME or --segment N --frame K, not both";
    return false;
  }
  if (!parsed.At && !(parsed.Segment > 0 && parsed.Frame >= 0)) {
    error = byNumber ? "frame wants both --segment N and --frame K" : "frame wants --at TIME or --segment N --frame K";
    return false;
  }
  return true;
}

}  // namespace

bool ParseToolArgs(const std::vector<std::string>& args, TZrFilmArgs& parsed, std::string& error) {
  parsed = TZrFilmArgs{};
  for (const auto& a : args) {
    if (a == "--") break;  // what follows is names, even "--help"
    if (a == "--help" || a == "-h") return true;
    if (a == "--version") {
      parsed.Command = TZrFilmCommand::Version;
      return true;
    }
  }
  if (args.empty()) {
    error = "no command given";
    return false;
  }
  const std::string& command = args[0];
  std::vector<std::string> positional;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      positional.insert(positional.end(), args.begin() + std::ptrdiff_t(i) + 1, args.end());
      break;
    }
    if (a.size() <= 1 || a[0] != '-') {
      positional.push_back(a);
      continue;
    }
    // "--name value" or "--name=value".
    const size_t equals = a.find('=');
    const std::string name = a.substr(0, equals);
    const TOptionRule* rule = FindOption(name);
    if (!rule || (equals != std::string::npos && !rule->TakesValue)) {
      error = "unknown option " + a;
      return false;
    }
    if (!(CommandBit(command) & rule->Commands)) {
      error = (CommandBit(command) ? command + " does not take " : "unknown option ") + name;
      return false;
    }
    if (!rule->TakesValue) {
      SetFlag(rule->Option, parsed);
      continue;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = a.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      const bool number = rule->Option == TOption::Segment || rule->Option == TOption::Frame ||
                          rule->Option == TOption::Quality || rule->Option == TOption::MaxWidth;
      const bool time = rule->Option == TOption::At || rule->Option == TOption::From || rule->Option == TOption::To;
      const bool seconds =
          rule->Option == TOption::KeyInt || rule->Option == TOption::Idle || rule->Option == TOption::MaxIdle;
      error = name + (rule->Option == TOption::Size ? " wants a size"
                      : number                      ? " wants a number"
                      : time                        ? " wants a time"
                      : seconds                     ? " wants seconds"
                                                    : " wants a value");
      return false;
    }
    if (!ParseValue(rule->Option, name, value, parsed, error)) return false;
  }
  if (command == "info" || command == "index") {
    if (positional.size() != 1) {
      error = command + " takes one film";
      return false;
    }
    parsed.Command = command == "info" ? TZrFilmCommand::Info : TZrFilmCommand::Index;
  } else if (command == "extract" || command == "frames") {
    if (positional.size() != 2) {
      error = command + " takes a film and a folder";
      return false;
    }
    parsed.Command = command == "extract" ? TZrFilmCommand::Extract : TZrFilmCommand::Frames;
    parsed.Dir = positional[1];
  } else if (command == "frame" || command == "thumbnail") {
    if (positional.size() != 2) {
      error = command + " takes a film and a picture file";
      return false;
    }
    parsed.Command = command == "frame" ? TZrFilmCommand::Frame : TZrFilmCommand::Thumbnail;
    parsed.Out = positional[1];
  } else if (command == "export") {
    if (positional.size() != 2) {
      error = "export takes a film and a video file";
      return false;
    }
    parsed.Command = TZrFilmCommand::Export;
    parsed.Out = positional[1];
  } else {
    error = "unknown command " + command;
    return false;
  }
  parsed.Film = positional[0];
  return CheckCombination(parsed, error);
}
