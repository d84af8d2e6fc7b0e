#include "cli/ZrFilmArgs.h"

namespace {

// The export's format and codec by their names, and what fits the format.
bool CheckExport(TZrFilmArgs& parsed, std::string& error) {
  TExportOptions& o = parsed.Export;
  if (parsed.FormatName) {
    const auto format = ParseExportFormat(*parsed.FormatName);
    if (!format) {
      error = "--format wants mp4, webm, mkv or gif, not \"" + *parsed.FormatName + "\"";
      return false;
    }
    o.Format = *format;
  } else {
    const auto format = ExportFormatOfPath(parsed.Out);
    if (!format) {
      error = "cannot tell the format from the name " + parsed.Out +
              ": end it in .mp4, .webm, .mkv or .gif, or give --format";
      return false;
    }
    o.Format = *format;
  }
  if (parsed.CodecName) {
    const auto codec = ParseExportCodec(*parsed.CodecName);
    if (!codec) {
      error = "--codec wants h264, vp9, av1, h264rgb or ffv1, not \"" + *parsed.CodecName + "\"";
      return false;
    }
    o.Codec = *codec;
  }
  if (o.Lossless && o.Format != TExportFormat::Mkv) {
    error = "--lossless writes Matroska: name the file .mkv or give --format mkv";
    return false;
  }
  if (!CodecFitsFormat(o.Codec, o.Format, o.Lossless)) {
    error = o.Lossless ? "--lossless writes H.264 RGB or FFV1 only" : "this --codec cannot be written in this format";
    return false;
  }
  const bool rgb = o.Format == TExportFormat::Gif || o.Lossless || o.Codec == TExportCodec::Ffv1 ||
                   o.Codec == TExportCodec::H264Rgb;
  if (o.Chroma444 && rgb) {
    error = "--chroma applies to H.264, VP9 and AV1 only";
    return false;
  }
  if (parsed.GifPaletteGiven && o.Format != TExportFormat::Gif) {
    error = "--gif-palette applies to GIF only";
    return false;
  }
  if (parsed.ChaptersGiven && o.Format == TExportFormat::Gif) {
    error = "--chapters applies to MP4, WebM and Matroska only";
    return false;
  }
  if (parsed.Split && parsed.Segment > 0) {
    error = "export takes --split or --segment N, not both";
    return false;
  }
  return true;
}

}  // namespace

bool ParseZrFilmArgs(const std::vector<std::string>& args, TZrFilmArgs& parsed, std::string& error) {
  if (!ParseToolArgs(args, parsed, error)) return false;
  return parsed.Command != TZrFilmCommand::Export || CheckExport(parsed, error);
}
