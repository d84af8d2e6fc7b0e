// Writes the seed corpora of the shell's fuzz targets: command lines (in the layout of
// fuzz_command_line.cpp) and small JPEG files of the kinds libjpeg writes (baseline, grey,
// progressive, arithmetic-coded, with restart markers, CMYK).
// Usage: make_shell_seeds COMMAND_LINE_DIR JPEG_DIR
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jpegwriter/JpegWriter.h"

namespace {

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// Screen 1024 × 768, minimum window 500 × 300, then the arguments separated by NUL bytes.
std::vector<uint8_t> CommandLine(const std::vector<std::string>& args) {
  std::vector<uint8_t> out;
  for (const uint32_t v : {1024u, 768u, 500u, 300u})
    for (int k = 0; k < 4; ++k) out.push_back(uint8_t(v >> (8 * k)));
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) out.push_back(0);
    out.insert(out.end(), args[i].begin(), args[i].end());
  }
  return out;
}

struct TJpegKind {
  const char* Name;
  int Width, Height;
  J_COLOR_SPACE Space;
  int Components;
  bool Progressive = false, Arithmetic = false, Optimize = false;
  int Restart = 0;      // restart interval in MCU rows, 0 for none
  int Sampling = 2;     // horizontal and vertical sampling of the first component
};

std::vector<uint8_t> Jpeg(const TJpegKind& kind) {
  std::vector<uint8_t> pixels(size_t(kind.Width * kind.Components) * size_t(kind.Height));
  const size_t rowBytes = size_t(kind.Width * kind.Components);
  for (size_t y = 0; y < size_t(kind.Height); ++y)
    for (size_t i = 0; i < rowBytes; ++i) pixels[y * rowBytes + i] = uint8_t((i * 7 + y * 13) ^ (i / 5 * y));
  TJpegSettings settings;
  settings.Space = kind.Space;
  settings.Components = kind.Components;
  settings.Quality = 80;
  settings.Sampling = kind.Sampling;
  settings.Progressive = kind.Progressive;
  settings.Arithmetic = kind.Arithmetic;
  settings.Optimize = kind.Optimize;
  settings.RestartRows = kind.Restart;
  std::vector<uint8_t> out;
  std::string error;
  if (!EncodeJpeg(pixels.data(), kind.Width, kind.Height, std::ptrdiff_t(rowBytes), settings, out, error)) {
    std::fprintf(stderr, "make_shell_seeds: %s: %s\n", kind.Name, error.c_str());
    std::exit(1);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_shell_seeds COMMAND_LINE_DIR JPEG_DIR\n");
    return 2;
  }
  const std::string commandLines = argv[1], jpegs = argv[2];
  const std::vector<std::vector<std::string>> lines = {
      {"film.zrcab"},
      {"/size", "640", "480", "/pos", "c", "f.zrcab"},
      {"/pos", "c", "/size", "640", "480", "f.zrcab"},
      {"/size", "640", "480", "/pos", "r", "b"},
      {"/size", "640", "480", "/pos", "0", "700"},
      {"/pos", "-50", "-50"},
      {"/size", "2000", "1500"},
      {"/pos", "10"},
      {"/pos", "l", "t", "/segm", "2", "film"},
      {"/size", "max", "/size", "min"},
      {"/size", "1024", "768", "-CLOSEONFINISH", "Film.ZRCAB"},
      {"/sizes", "12", "", "a.zrcab", "b.zrcab"},
      {"/size", "$280", "0x1E0", "/pos", "x10", "$FFFFFFFF"},
      {"/size", " -2147483648", "+2147483647", "/home/me/film.zrcab"},
      {" \t film.zrcab \x01", "/segm"},
      {"/pos", "10", "top"},
      {"/segm", "2x"},
      {"/start", "83", "film.zrcab"},
      {"/segm", "2", "/start", "0:01:23.250", "f.zrcab"},
      {"-START", "1:05", "/closeonfinish"},
      {"/start", "1:60"},
      {"/start", "-5", "/start"},
      {"f.zrcab", "/start"},
  };
  bool ok = true;
  for (size_t i = 0; i < lines.size(); ++i)
    ok = WriteFile(commandLines + "/line-" + std::to_string(i), CommandLine(lines[i])) && ok;

  const TJpegKind kinds[] = {
      {"baseline-420", 33, 17, JCS_RGB, 3},
      {"baseline-444", 16, 16, JCS_RGB, 3, false, false, false, 0, 1},
      {"grey", 9, 8, JCS_GRAYSCALE, 1},
      {"progressive", 40, 24, JCS_RGB, 3, true},
      {"arithmetic", 24, 24, JCS_RGB, 3, false, true},
      {"progressive-arithmetic", 17, 19, JCS_YCbCr, 3, true, true},
      {"optimized-restart", 48, 32, JCS_RGB, 3, false, false, true, 1},
      {"cmyk", 8, 8, JCS_CMYK, 4},
  };
  for (const TJpegKind& kind : kinds) ok = WriteFile(jpegs + "/" + kind.Name + ".jpg", Jpeg(kind)) && ok;
  if (!ok) std::fprintf(stderr, "make_shell_seeds: cannot write the seeds\n");
  return ok ? 0 : 1;
}
