// The pictures of the screen benchmarks, at 1920 × 1080: a realistic screen recording drawn
// frame by frame, and pictures of noise.
//
// The recording: a gradient desktop with a taskbar and a ticking clock, an editor into which
// anti-aliased text is typed, a dialog that opens and is dragged over 40 frames, a menu that
// opens, walks down its items and closes, and a mouse cursor that moves throughout.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "bench_support.h"

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr size_t kPixels = size_t(kWidth) * kHeight;
constexpr size_t kFrameBytes32 = kPixels * 4;

inline uint32_t Rgb(int r, int g, int b) {
  return uint32_t(std::clamp(r, 0, 255) << 16 | std::clamp(g, 0, 255) << 8 | std::clamp(b, 0, 255));
}

inline uint32_t Blend(uint32_t back, uint32_t ink, int coverage) {  // coverage 0..16
  const auto channel = [&](int shift) {
    const int b = int(back >> shift & 0xFF), i = int(ink >> shift & 0xFF);
    return (b * (16 - coverage) + i * coverage) / 16;
  };
  return Rgb(channel(16), channel(8), channel(0));
}

// A picture being drawn.
struct TCanvas {
  std::vector<uint32_t> Pixels = std::vector<uint32_t>(kPixels);

  void Fill(int32_t left, int32_t top, int32_t w, int32_t h, uint32_t color) {
    for (int32_t y = std::max(top, 0); y < std::min(top + h, kHeight); ++y)
      for (int32_t x = std::max(left, 0); x < std::min(left + w, kWidth); ++x)
        Pixels[size_t(y) * kWidth + x] = color;
  }
  // A one-pixel frame around a rectangle.
  void Frame(int32_t left, int32_t top, int32_t w, int32_t h, uint32_t color) {
    Fill(left, top, w, 1, color);
    Fill(left, top + h - 1, w, 1, color);
    Fill(left, top, 1, h, color);
    Fill(left + w - 1, top, 1, h, color);
  }
};

// Glyphs of anti-aliased text: 8 × 14 coverage maps of two to four strokes, supersampled
// four times in each direction, so their edges take the in-between shades real text has.
constexpr int32_t kGlyphW = 8, kGlyphH = 14, kCellW = 9, kCellH = 18;
using TGlyph = std::array<uint8_t, kGlyphW * kGlyphH>;

inline std::vector<TGlyph> MakeGlyphs(int count, uint64_t seed) {
  std::vector<TGlyph> glyphs(static_cast<size_t>(count));
  TRandom random{seed};
  for (auto& glyph : glyphs) {
    struct TStroke {
      float X0, Y0, X1, Y1;
    };
    std::vector<TStroke> strokes(2 + random.Next() % 3);
    for (auto& s : strokes)
      s = {float(random.Next() % 7) + 0.5f, float(2 + random.Next() % 11) + 0.5f,
           float(random.Next() % 7) + 0.5f, float(2 + random.Next() % 11) + 0.5f};
    for (int32_t y = 0; y < kGlyphH; ++y)
      for (int32_t x = 0; x < kGlyphW; ++x) {
        int covered = 0;
        for (int sy = 0; sy < 4; ++sy)
          for (int sx = 0; sx < 4; ++sx) {
            const float px = float(x) + (float(sx) + 0.5f) / 4, py = float(y) + (float(sy) + 0.5f) / 4;
            for (const auto& s : strokes) {
              const float dx = s.X1 - s.X0, dy = s.Y1 - s.Y0;
              const float len2 = std::max(dx * dx + dy * dy, 1e-3f);
              const float t = std::clamp(((px - s.X0) * dx + (py - s.Y0) * dy) / len2, 0.0f, 1.0f);
              const float ex = s.X0 + t * dx - px, ey = s.Y0 + t * dy - py;
              if (ex * ex + ey * ey < 0.6f * 0.6f) {
                ++covered;
                break;
              }
            }
          }
        glyph[size_t(y * kGlyphW + x)] = uint8_t(covered);
      }
  }
  return glyphs;
}

inline void DrawGlyph(TCanvas& canvas, const TGlyph& glyph, int32_t left, int32_t top, uint32_t ink) {
  for (int32_t y = 0; y < kGlyphH; ++y)
    for (int32_t x = 0; x < kGlyphW; ++x) {
      const int32_t px = left + x, py = top + y;
      if (px < 0 || py < 0 || px >= kWidth || py >= kHeight) continue;
      uint32_t& p = canvas.Pixels[size_t(py) * kWidth + px];
      p = Blend(p, ink, glyph[size_t(y * kGlyphW + x)]);
    }
}

// Text of pseudo-characters (indices into the glyphs; 0 is a space).
inline void DrawText(TCanvas& canvas, const std::vector<TGlyph>& glyphs, const std::vector<int>& text,
              int32_t left, int32_t top, int32_t columns, uint32_t ink) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == 0) continue;
    const int32_t column = int32_t(i % size_t(columns)), line = int32_t(i / size_t(columns));
    DrawGlyph(canvas, glyphs[size_t(text[i])], left + column * kCellW, top + line * kCellH, ink);
  }
}

inline std::vector<int> Words(int count, uint64_t seed, int glyphCount) {
  TRandom random{seed};
  std::vector<int> text;
  while (int(text.size()) < count) {
    const int length = 2 + int(random.Next() % 8);
    for (int i = 0; i < length; ++i) text.push_back(1 + int(random.Next() % uint32_t(glyphCount - 1)));
    text.push_back(0);
  }
  text.resize(size_t(count));
  return text;
}

// A window: a title bar shading from one blue to another, a body, a border.
inline void DrawWindow(TCanvas& canvas, int32_t left, int32_t top, int32_t w, int32_t h, uint32_t body) {
  for (int32_t y = 0; y < 24; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int32_t px = left + x, py = top + y;
      if (px < 0 || py < 0 || px >= kWidth || py >= kHeight) continue;
      canvas.Pixels[size_t(py) * kWidth + px] = Rgb(10 + x * 60 / w, 36 + x * 90 / w, 106 + x * 110 / w);
    }
  canvas.Fill(left, top + 24, w, h - 24, body);
  canvas.Frame(left, top, w, h, Rgb(64, 64, 64));
}

// The recording's script, frame by frame.
struct TScene {
  static constexpr int kFrames = 139;
  std::vector<TGlyph> Glyphs = MakeGlyphs(64, 0x5EED);
  std::vector<uint32_t> Desktop = std::vector<uint32_t>(kPixels);
  std::vector<int> EditorText = Words(2400, 17, 64);
  std::vector<int> DialogText = Words(120, 23, 64);
  std::vector<int> MenuItems = Words(16 * 14, 29, 64);

  TScene() {
    // A diagonal gradient with a faint texture: neighbouring pixels rarely agree.
    for (int32_t y = 0; y < kHeight; ++y)
      for (int32_t x = 0; x < kWidth; ++x) {
        const int t = (x + y) * 256 / (kWidth + kHeight);
        const int grain = int((uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u) >> 29);
        Desktop[size_t(y) * kWidth + x] = Rgb(20 + t / 3 + grain, 60 + t / 2 + grain, 120 + t / 2);
      }
  }

  // Characters typed by frame f: one a frame in frames 1–40 and 99–138.
  static int Typed(int f) { return 300 + std::clamp(f, 0, 40) + std::clamp(f - 98, 0, 40); }

  // The cursor's position at frame f.
  static std::pair<int, int> Mouse(int f) {
    if (f >= 41 && f <= 81) return {700 + 12 * (f - 41), 310 + 5 * (f - 41)};  // on the title bar
    if (f >= 83 && f <= 98) return {360, 150 + 20 * std::clamp(f - 84, 0, 13)};
    return {1100 + 3 * (f % 50), 500 + 2 * (f % 50)};
  }

  void Draw(int f, TCanvas& canvas) const {
    canvas.Pixels = Desktop;
    // The editor with its text.
    DrawWindow(canvas, 100, 80, 1000, 760, Rgb(255, 255, 255));
    std::vector<int> typed(EditorText.begin(), EditorText.begin() + Typed(f));
    DrawText(canvas, Glyphs, typed, 112, 112, 104, Rgb(20, 20, 20));
    // The caret blinks every five frames.
    if (f / 5 % 2 == 0) {
      const int32_t n = Typed(f);
      canvas.Fill(112 + n % 104 * kCellW, 112 + n / 104 * kCellH, 1, 15, Rgb(0, 0, 0));
    }
    // The taskbar and its clock, which ticks every ten frames.
    canvas.Fill(0, kHeight - 40, kWidth, 40, Rgb(32, 36, 44));
    const int seconds = 1000 + f / 10;
    std::vector<int> clock;
    for (int v : {seconds / 600 % 6, seconds / 60 % 10, -1, seconds / 10 % 6, seconds % 10})
      clock.push_back(v < 0 ? 0 : 1 + v);
    DrawText(canvas, Glyphs, clock, kWidth - 80, kHeight - 30, 8, Rgb(230, 230, 230));
    // The dialog: opened at frame 41, dragged in frames 42–81, closed at 82.
    if (f >= 41 && f <= 81) {
      const int32_t left = 500 + 12 * (f - 41), top = 300 + 5 * (f - 41);
      DrawWindow(canvas, left, top, 420, 280, Rgb(236, 233, 216));
      DrawText(canvas, Glyphs, DialogText, left + 16, top + 40, 40, Rgb(0, 0, 0));
      for (int32_t b = 0; b < 2; ++b) {
        canvas.Fill(left + 200 + b * 104, top + 236, 90, 28, Rgb(245, 244, 238));
        canvas.Frame(left + 200 + b * 104, top + 236, 90, 28, Rgb(0, 60, 116));
      }
    }
    // The menu: opened at frame 83, its highlight walking down in frames 84–97, closed at 98.
    if (f >= 83 && f <= 97) {
      canvas.Fill(300, 100, 240, 14 * 22 + 8, Rgb(250, 250, 250));
      canvas.Frame(300, 100, 240, 14 * 22 + 8, Rgb(120, 120, 120));
      const int highlighted = f - 84;
      for (int item = 0; item < 14; ++item) {
        const bool lit = item == highlighted;
        if (lit) canvas.Fill(302, 104 + item * 22, 236, 22, Rgb(49, 106, 197));
        std::vector<int> label(MenuItems.begin() + item * 16, MenuItems.begin() + item * 16 + 16);
        DrawText(canvas, Glyphs, label, 320, 108 + item * 22, 16,
                 lit ? Rgb(255, 255, 255) : Rgb(0, 0, 0));
      }
    }
  }
};

// Every pixel of every frame random: what neither format can make smaller.
struct TNoise {
  static constexpr int kFrames = 6;
  void Draw(int f, TCanvas& canvas) const {
    TRandom random{0xD1B54A32D192ED03ull + uint64_t(f) * 104729};
    for (auto& p : canvas.Pixels) p = random.Next() & 0xFFFFFFu;
  }
};

