// Presenting a 1920 × 1080 picture: the copy the windows paint from, made at every tick, next
// to the per-pixel conversion the player made before (kept here as the baseline) and a plain
// memcpy of the frame. Pictures: the desktop of ScreenPicture in the player's two picture
// formats, 32 bits (B, G, R, X) and 8 bits with a colour table.
#include <benchmark/benchmark.h>

#include <QImage>
#include <cstring>
#include <vector>

#include "ScreenPicture.h"
#include "shell/widgets/UzrPresent.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// The conversion the player made at every tick before: a colour per pixel for 32-bit pictures,
// rows and a fresh colour table for 8-bit ones.
void OldConversion(const TRasterBitmap& picture, const TColorTable& palette, QImage& presented) {
  const int width = picture.Width(), height = picture.Height();
  const QImage::Format format = picture.BitsPerPixel() == 8 ? QImage::Format_Indexed8 : QImage::Format_RGB32;
  if (presented.format() != format || presented.size() != QSize(width, height))
    presented = QImage(width, height, format);
  if (format == QImage::Format_Indexed8) {
    for (int y = 0; y < height; ++y) std::memcpy(presented.scanLine(y), picture.Row(y), size_t(width));
    QVector<QRgb> colours(256);
    for (int i = 0; i < 256; ++i) colours[i] = qRgb(palette[i].Red, palette[i].Green, palette[i].Blue);
    presented.setColorTable(colours);
  } else {
    for (int y = 0; y < height; ++y) {
      auto* out = reinterpret_cast<QRgb*>(presented.scanLine(y));
      const uint8_t* in = picture.Row(y);
      for (int x = 0; x < width; ++x, in += 4) out[x] = 0xFF000000u | qRgb(in[2], in[1], in[0]);
    }
  }
}

using TPresent = void (*)(const TRasterBitmap&, const TColorTable&, QImage&);

void BM_Present(benchmark::State& state, TPresent present, int bits) {
  const auto picture = ScreenPicture(kWidth, kHeight, bits);
  QImage presented;
  for (auto _ : state) {
    present(*picture, picture->ColorTable(), presented);
    benchmark::DoNotOptimize(presented.constBits());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(picture->SizeBytes()));
}

BENCHMARK_CAPTURE(BM_Present, copy/32, CopyToPresented, 32)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Present, old/32, OldConversion, 32)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Present, copy/8, CopyToPresented, 8)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Present, old/8, OldConversion, 8)->Unit(benchmark::kMicrosecond);

// The baseline: the bytes of one 32-bit frame copied with memcpy.
void BM_MemcpyFrame(benchmark::State& state) {
  const size_t bytes = size_t(kWidth) * kHeight * 4;
  std::vector<uint8_t> source(bytes), target(bytes);
  for (size_t i = 0; i < source.size(); ++i) source[i] = uint8_t(i * 131);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), bytes);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return RunScreenPictureBenchmarks(argc, argv); }
