#include "cli/Thumbnail.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace {

// The source pixels each target pixel of one axis averages, with their weights. Measured in
// units of 1/(n·m) of the axis (n source, m target pixels): source pixel j covers [j·m, (j+1)·m),
// target pixel i covers [i·n, (i+1)·n), and a weight is the length they share, so the weights
// of a target pixel add up to n.
struct TAxis {
  std::vector<int32_t> First;     // per target pixel: its first source pixel
  std::vector<int32_t> Count;     // and how many follow from it
  std::vector<uint32_t> Weights;  // flat: Count[i] weights for target pixel i
  std::vector<size_t> Offset;     // where those of target pixel i start in Weights

  TAxis(int32_t n, int32_t m) : First(size_t(m)), Count(size_t(m)), Offset(size_t(m)) {
    for (int32_t i = 0; i < m; ++i) {
      const int64_t begin = int64_t{i} * n, end = begin + n;
      const auto first = int32_t(begin / m);
      const auto last = int32_t((end - 1) / m);
      First[size_t(i)] = first;
      Count[size_t(i)] = last - first + 1;
      Offset[size_t(i)] = Weights.size();
      for (int32_t j = first; j <= last; ++j) {
        const int64_t shared = std::min(end, int64_t{j + 1} * m) - std::max(begin, int64_t{j} * m);
        Weights.push_back(uint32_t(shared));
      }
    }
  }
};

uint32_t Channel(uint32_t colour, int c) { return (colour >> (16 - 8 * c)) & 0xFF; }

}  // namespace

double ContentShare(const TRasterBitmap& picture) {
  const int32_t w = picture.Width(), h = picture.Height();
  const int32_t nx = std::min(w, 64), ny = std::min(h, 64);
  std::vector<uint32_t> samples;
  samples.reserve(size_t(nx) * size_t(ny));
  for (int32_t j = 0; j < ny; ++j)
    for (int32_t i = 0; i < nx; ++i)
      samples.push_back(picture.PixelColor(int32_t((2 * int64_t{i} + 1) * w / (2 * nx)),
                                           int32_t((2 * int64_t{j} + 1) * h / (2 * ny))));
  if (samples.empty()) return 0;
  // The most common colour at 5 bits per channel.
  auto bin = [](uint32_t c) { return (c >> 9 & 0x7C00) | (c >> 6 & 0x3E0) | (c >> 3 & 0x1F); };
  std::vector<uint16_t> counts(1 << 15);
  uint32_t mode = 0;
  for (uint32_t c : samples)
    if (++counts[bin(c)] > counts[mode]) mode = bin(c);
  std::array<uint64_t, 3> sum{};
  for (uint32_t c : samples)
    if (bin(c) == mode)
      for (int k = 0; k < 3; ++k) sum[size_t(k)] += Channel(c, k);
  std::array<int, 3> main{};
  for (int k = 0; k < 3; ++k) main[size_t(k)] = int(sum[size_t(k)] / counts[mode]);
  size_t differing = 0;
  for (uint32_t c : samples)
    for (int k = 0; k < 3; ++k)
      if (std::abs(int(Channel(c, k)) - main[size_t(k)]) > 24) {
        ++differing;
        break;
      }
  return double(differing) / double(samples.size());
}

TRect FitSize(int32_t width, int32_t height, int32_t size) {
  if (width <= size && height <= size) return {0, 0, width, height};
  // The shorter side rounded to the nearest pixel.
  auto shorter = [size](int64_t side, int64_t longer) {
    return int32_t(std::max<int64_t>(1, (2 * side * size + longer) / (2 * longer)));
  };
  if (width >= height) return {0, 0, size, shorter(height, width)};
  return {0, 0, shorter(width, height), size};
}

std::unique_ptr<TRasterBitmap> ScaleToFit(const TRasterBitmap& picture, int32_t size) {
  const int32_t sw = picture.Width(), sh = picture.Height();
  const TRect fit = FitSize(sw, sh, size);
  const int32_t dw = fit.Width, dh = fit.Height;
  auto scaled = TRasterBitmap::Create(dw, dh, 32);
  if (!scaled) return nullptr;
  const TAxis across(sw, dw), down(sh, dh);
  std::vector<uint32_t> colours(static_cast<size_t>(sw));
  // A source row averaged across: three sums per target pixel. Neighbouring target rows share
  // a source row at their border, so the last one is kept.
  std::vector<uint64_t> rowSums(size_t(dw) * 3), sums(size_t(dw) * 3);
  int32_t rowInAcross = -1;
  auto averageAcross = [&](int32_t y) {
    if (y == rowInAcross) return;
    for (int32_t x = 0; x < sw; ++x) colours[size_t(x)] = picture.PixelColor(x, y);
    for (int32_t i = 0; i < dw; ++i) {
      uint64_t r = 0, g = 0, b = 0;
      const uint32_t* weight = &across.Weights[across.Offset[size_t(i)]];
      for (int32_t k = 0; k < across.Count[size_t(i)]; ++k) {
        const uint32_t c = colours[size_t(across.First[size_t(i)] + k)];
        r += uint64_t{weight[k]} * Channel(c, 0);
        g += uint64_t{weight[k]} * Channel(c, 1);
        b += uint64_t{weight[k]} * Channel(c, 2);
      }
      rowSums[size_t(i) * 3] = r, rowSums[size_t(i) * 3 + 1] = g, rowSums[size_t(i) * 3 + 2] = b;
    }
    rowInAcross = y;
  };
  const uint64_t total = uint64_t(sw) * uint64_t(sh);
  for (int32_t j = 0; j < dh; ++j) {
    std::fill(sums.begin(), sums.end(), 0);
    const uint32_t* weight = &down.Weights[down.Offset[size_t(j)]];
    for (int32_t k = 0; k < down.Count[size_t(j)]; ++k) {
      averageAcross(down.First[size_t(j)] + k);
      for (size_t v = 0; v < sums.size(); ++v) sums[v] += uint64_t{weight[k]} * rowSums[v];
    }
    uint8_t* out = scaled->Row(j);
    for (int32_t i = 0; i < dw; ++i, out += 4) {
      // B, G, R and a zero fourth byte, each average rounded to the nearest.
      for (int c = 0; c < 3; ++c) out[2 - c] = uint8_t((sums[size_t(i) * 3 + size_t(c)] + total / 2) / total);
      out[3] = 0;
    }
  }
  return scaled;
}
