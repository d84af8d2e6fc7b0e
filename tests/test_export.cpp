// Export to video files, read back through FFmpeg's libraries: what `zrfilm export` and the
// engine write (codec, size, pixel format, colour tags, the pictures and their times, the
// duration, the chapters), what they refuse, and what they leave when they fail or are cut
// short. The pictures expected are those a playback core composes, placed on the canvas.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <linux/capability.h>

#include <algorithm>
#include <atomic>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
}

#include "export/ExportError.h"
#include "export/ExportPlan.h"
#include "export/FilmExport.h"
#include "film/SegmentDuration.h"
#include "index/FilmIndex.h"
#include "io/ScopeGuard.h"
#include "io/UniqueFd.h"
#include "playback_support.h"
#include "support/ChildRun.h"
#include "support/MediaReader.h"
#include "support/TempRootFixture.h"
#include "support/TestFilm.h"

#ifndef VERIROVE_ZRFILM
#error "VERIROVE_ZRFILM must name the zrfilm program"
#endif

namespace fs = std::filesystem;

namespace {

// ---- Films and the pictures they play to ----

struct TPictureRgb {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint32_t> Pixels;  // 0x00RRGGBB, row by row
  friend bool operator==(const TPictureRgb&, const TPictureRgb&) = default;
};

// Three segments of different sizes, depths and frame rates, the largest of odd width and
// height; some frames change nothing. The first segment has a cursor, the second changes its
// palette, the last ends on frames that change nothing.
std::vector<TWriterSegment> MixedFilm() {
  std::vector<TWriterSegment> film(3);
  {
    film[0] = NewSegment("Начало работы — окно", 97, 63, 32, 10);
    TWriterSegment& s = film[0];
    s.Shapes = {SquareCursor()};
    for (int k = 0; k < 12; ++k) {
      const int step = k < 4 ? k : k < 7 ? 4 : k - 2;  // frames 5 and 6 are frame 4 again
      auto p = Painted(s.Width, s.Height, [](int x, int y) { return Rgb(40 + 2 * x, 60 + 2 * y, 160); });
      FillRect(p, s.Width, 5 + 6 * step, 10 + 2 * step, 20, 14, Rgb(224, 192, 32));
      FillRect(p, s.Width, 60, 40, 30, 16, Rgb(20, 20, 20));
      s.Pictures.push_back(std::move(p));
      s.Track.push_back({0, uint16_t(70 - 3 * step), uint16_t(8 + 2 * step)});
    }
  }
  {
    film[1] = NewSegment("Palette", 64, 48, 8, 5);
    TWriterSegment& s = film[1];
    for (int k = 0; k < 6; ++k) {
      const int step = k < 3 ? k : k < 4 ? 2 : 3;  // frame 3 is frame 2 again
      std::vector<uint32_t> p(size_t(s.Width * s.Height), 1);
      FillRect(p, s.Width, 0, 0, 32, 24, 2);
      FillRect(p, s.Width, 32, 24, 32, 24, 3);
      FillRect(p, s.Width, 8 * step, 30, 12, 10, 4);
      s.Pictures.push_back(std::move(p));
    }
    s.PaletteChanges.resize(6);
    s.PaletteChanges[0] = {0, {{0, 0, 0, 0}, {200, 120, 40, 0}, {40, 160, 40, 0}, {30, 30, 180, 0}, {240, 240, 240, 0}}};
    // Frame 4 shows frame 3's pixels in other colours: the palette alone changes it; frame 5
    // changes nothing.
    s.PaletteChanges[4] = {2, {{120, 60, 200, 0}}};
  }
  {
    film[2] = NewSegment("Третий", 75, 45, 24, 25);
    TWriterSegment& s = film[2];
    for (int k = 0; k < 10; ++k) {
      const int step = std::min(k, 6);  // frames 7 to 9 are frame 6 again
      auto p = Painted(s.Width, s.Height, [](int x, int y) { return Rgb(200 - 2 * y, 100 + x, 90); });
      FillRect(p, s.Width, 4 + 7 * step, 12, 16, 16, Rgb(30, 60, 220));
      s.Pictures.push_back(std::move(p));
    }
  }
  return film;
}

// Two 8-bit segments of a few colours each, for GIF, whose palettes hold them exactly.
std::vector<TWriterSegment> PaletteFilm() {
  std::vector<TWriterSegment> film(2);
  {
    film[0] = NewSegment("Первая палитра", 64, 48, 8, 10);
    TWriterSegment& s = film[0];
    for (int k = 0; k < 8; ++k) {
      const int step = k == 3 ? 2 : k;  // frame 3 is frame 2 again
      std::vector<uint32_t> p(size_t(s.Width * s.Height), 0);
      FillRect(p, s.Width, 4 * step, 4, 16, 16, 1);
      FillRect(p, s.Width, 40, 4 + 3 * step, 10, 8, 2);
      FillRect(p, s.Width, 0, 40, 64, 8, 3);
      s.Pictures.push_back(std::move(p));
    }
    s.PaletteChanges.resize(8);
    s.PaletteChanges[0] = {0, {{10, 20, 30, 0}, {250, 10, 10, 0}, {10, 250, 10, 0}, {10, 10, 250, 0}}};
    s.PaletteChanges[6] = {3, {{200, 200, 40, 0}}};
  }
  {
    film[1] = NewSegment("Вторая", 40, 30, 8, 25);
    TWriterSegment& s = film[1];
    for (int k = 0; k < 10; ++k) {
      const int step = std::min(k, 7);  // frames 8 and 9 are frame 7 again
      std::vector<uint32_t> p(size_t(s.Width * s.Height), 5);
      FillRect(p, s.Width, 3 * step, 10, 8, 8, 6);
      s.Pictures.push_back(std::move(p));
    }
    s.PaletteChanges = {{5, {{255, 255, 255, 0}, {0, 0, 0, 0}}}};
  }
  return film;
}

// One 8-bit segment of 64 × 48 showing all 256 indices, whose palette (all but its last
// entry: a record changes at most 255) is replaced by other colours every other frame: each
// picture has 256 colours, the film many more.
std::vector<TWriterSegment> ShiftingPaletteFilm() {
  std::vector<TWriterSegment> film = {NewSegment("Shifting", 64, 48, 8, 10)};
  TWriterSegment& s = film[0];
  s.PaletteChanges.resize(6);
  for (int k = 0; k < 6; ++k) {
    std::vector<uint32_t> p(size_t(s.Width * s.Height));
    for (size_t i = 0; i < p.size(); ++i) p[i] = uint32_t((i + size_t(k)) % 256);
    s.Pictures.push_back(std::move(p));
    if (k % 2) continue;
    TWriterPaletteChange& change = s.PaletteChanges[size_t(k)];
    for (int i = 0; i < 255; ++i)
      change.Entries.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(40 * k), 0});
  }
  return film;
}

// One segment whose picture stays while the cursor moves over it.
std::vector<TWriterSegment> CursorFilm() {
  std::vector<TWriterSegment> film = {NewSegment("Cursor", 64, 48, 32, 10)};
  TWriterSegment& s = film[0];
  s.Shapes = {SquareCursor()};
  for (int k = 0; k < 10; ++k) {
    std::vector<uint32_t> p(size_t(s.Width * s.Height), Rgb(30, 90, 150));
    FillRect(p, s.Width, 40, 8, 16, 30, Rgb(220, 220, 200));
    s.Pictures.push_back(std::move(p));
    s.Track.push_back({0, uint16_t(4 + 4 * k), uint16_t(6 + 2 * k)});
  }
  return film;
}

// One segment of exactly 256 colours in all, as many as a GIF palette holds: a busy
// background of 246 and a square of a colour of its own added by each of the 10 frames, so
// that no picture shows them all.
std::vector<TWriterSegment> FullPaletteFilm() {
  std::vector<TWriterSegment> film = {NewSegment("256", 64, 48, 32, 10)};
  TWriterSegment& s = film[0];
  auto p = Painted(s.Width, s.Height, [](int x, int y) {
    const int i = (x + 64 * y) * 37 % 246;
    return Rgb(i, 255 - i, i * 7 % 256);
  });
  for (int k = 0; k < 10; ++k) {
    FillRect(p, s.Width, 6 * k, 4 * k, 8, 8, Rgb(250, 20 * k, 3));
    s.Pictures.push_back(p);
  }
  return film;
}

// A segment of the size AV1 encoders take.
std::vector<TWriterSegment> SquareFilm() {
  std::vector<TWriterSegment> film = {NewSegment("Квадрат", 128, 128, 32, 10)};
  TWriterSegment& s = film[0];
  for (int k = 0; k < 8; ++k) {
    auto p = Painted(s.Width, s.Height, [](int x, int y) { return Rgb(x * 2, y * 2, 128); });
    FillRect(p, s.Width, 10 + 8 * k, 30, 24, 24, Rgb(250, 250, 40));
    s.Pictures.push_back(std::move(p));
  }
  return film;
}

// Long still pictures, 128 × 128: 15 s at 10 frames a second whose picture changes twice, then
// 4.5 s at 2 frames a second of the picture the first ends on.
std::vector<TWriterSegment> CalmFilm() {
  std::vector<TWriterSegment> film = {NewSegment("Тихо", 128, 128, 32, 10), NewSegment("Ещё тише", 128, 128, 32, 2)};
  auto picture = [](int step) {
    auto p = Painted(128, 128, [](int x, int y) { return Rgb(60 + x, 80 + y / 2, 140); });
    FillRect(p, 128, 8 + 30 * step, 40, 24, 24, Rgb(240, 220, 40));
    return p;
  };
  for (int k = 0; k < 150; ++k) film[0].Pictures.push_back(picture(k < 37 ? 0 : k < 121 ? 1 : 2));
  for (int k = 0; k < 9; ++k) film[1].Pictures.push_back(picture(2));
  return film;
}

// Every frame changes, at 10, 3 and 25 frames a second: times between those key frames are due.
std::vector<TWriterSegment> BusyFilm() {
  std::vector<TWriterSegment> film = {NewSegment("Быстро", 128, 128, 32, 10), NewSegment("Медленно", 128, 128, 32, 3),
                                      NewSegment("Очень быстро", 128, 128, 32, 25)};
  const int frames[] = {33, 7, 60};
  for (size_t i = 0; i < film.size(); ++i)
    for (int k = 0; k < frames[i]; ++k) {
      auto p = Painted(128, 128, [i](int x, int y) { return Rgb(40 * int(i) + x, 200 - y, 90); });
      FillRect(p, 128, (7 * k) % 100, (11 * k) % 100, 20, 20, Rgb(250, 250, 250 - k));
      film[i].Pictures.push_back(std::move(p));
    }
  return film;
}

// Noise that every frame changes a little: small as a film (runs of unchanged pixels), large
// as lossless video (every picture whole).
std::vector<TWriterSegment> NoiseFilm(int32_t width, int32_t height, int frames) {
  std::vector<TWriterSegment> film = {NewSegment("Шум", width, height, 32, 25)};
  TWriterSegment& s = film[0];
  std::mt19937 rng(11);
  std::vector<uint32_t> p(size_t(width * height));
  for (uint32_t& v : p) v = uint32_t(rng()) & 0xFFFFFF;
  for (int k = 0; k < frames; ++k) {
    for (int i = 0; i < 4; ++i) p[size_t(rng()) % p.size()] = uint32_t(rng()) & 0xFFFFFF;
    s.Pictures.push_back(p);
  }
  return film;
}

// A screen that stands still for long: "Работа" (10 frames a second, 15 s) changes a little
// in its first half second, stands still 3.5 s, changes a little at 4 s for half a second,
// stands still 1.5 s, changes a little at 6 s, stands still 4.5 s, changes its whole picture
// at 11 s (far enough from the segment's start for a chapter) and stands still to its end;
// "Ещё" (5 frames a second, 5 s) changes in its first 0.6 s and stands still to its end.
std::vector<TWriterSegment> IdleFilm() {
  std::vector<TWriterSegment> film = {NewSegment("Работа", 64, 48, 32, 10), NewSegment("Ещё", 64, 48, 32, 5)};
  auto picture = [](int scene, int step) {
    auto p = Painted(64, 48, [scene](int x, int y) { return Rgb(40 + 60 * scene + x, 90 + y, 200 - 70 * scene); });
    FillRect(p, 64, 4 + 3 * step, 10 + step, 12, 10, Rgb(250, 240, 30));
    return p;
  };
  for (int k = 0; k < 150; ++k) {
    // The square's steps: 0 to 4, 5 to 9 from 4 s, 10 to 14 from 6 s.
    const int step = k < 40 ? std::min(k, 4) : k < 60 ? 5 + std::min(k - 40, 4) : 10 + std::min(k - 60, 4);
    film[0].Pictures.push_back(k < 110 ? picture(0, step) : picture(1, 0));
  }
  for (int k = 0; k < 25; ++k) film[1].Pictures.push_back(picture(2, std::min(k, 2)));
  return film;
}
// IdleFilm's idle stretches on the film's clock: from the first still frame to the next
// change, or the segment's end.
const std::vector<std::pair<int64_t, int64_t>> kIdleFilmStretches = {
    {500, 4000}, {4500, 6000}, {6500, 11000}, {11100, 15000}, {15600, 20000}};

// The index of IdleFilm, as the index gives it: its idle stretches, the segments' chapters and
// the automatic one where the picture changes whole.
std::shared_ptr<const TFilmIndex> IdleFilmIndex(const TTestFilm& film) {
  auto index = std::make_shared<TFilmIndex>();
  for (const auto& s : film.Segments) {
    TSegmentActivity& a = index->Segments.emplace_back();
    a.Width = s->Width, a.Height = s->Height, a.Frames.resize(size_t(s->FrameCount));
  }
  index->Segments[1].StartMs = 15000;
  index->DurationMs = 20000;
  for (const auto& [start, end] : kIdleFilmStretches)
    index->Idle.push_back({start, end, *FrameAtTime(film.Segments, start)});
  index->Chapters = {{0, {0, 0}, "Работа", false}, {11000, {0, 110}, "Часть 2", true}, {15000, {1, 0}, "Ещё", false}};
  index->Complete = true;
  return index;
}

// Lossless video of noise is large, its film small: writing fails part-way. FFV1 stores every
// picture whole.
std::vector<TWriterSegment> FillingFilm() { return NoiseFilm(64, 48, 300); }
const std::vector<std::string> kFilling = {"--lossless", "--codec", "ffv1"};

TPictureRgb PictureOf(const TRasterBitmap& bitmap) {
  TPictureRgb p;
  p.Width = bitmap.Width(), p.Height = bitmap.Height();
  p.Pixels.resize(size_t(p.Width) * size_t(p.Height));
  for (int32_t y = 0; y < p.Height; ++y)
    for (int32_t x = 0; x < p.Width; ++x) p.Pixels[size_t(y) * size_t(p.Width) + size_t(x)] = bitmap.PixelColor(x, y);
  return p;
}

struct TPlayed {
  TFramePos Pos;
  TPictureRgb Picture;
};

// Every picture a core composes playing the film from its start, or segment `segment` (from
// 1) alone as `zrfilm frames --segment` plays it; with or without the cursor.
std::vector<TPlayed> PlayedPictures(const TTestFilm& film, bool cursor, int32_t segment = 0) {
  TCoreFixture f;
  f.LoadBytes(film.Bytes);
  f.Core.SetCursorShown(cursor);
  std::vector<TPlayed> played;
  auto take = [&] {
    const TFramePos pos = *f.Core.ComposedFrame();
    if (segment == 0 || pos.Segment == segment - 1) played.push_back({pos, PictureOf(*f.Core.Picture())});
  };
  f.Host.OnComposed = take;
  if (segment == 0) {
    EXPECT_EQ(f.Core.SetCurSegment(), kResultOk);
    for (int guard = 0; f.Host.Stops == 0 && guard < 100000; ++guard) f.Core.TimerPlayTimer();
  } else {
    const int32_t frames = film.Segments[size_t(segment - 1)]->FrameCount;
    EXPECT_EQ(f.Core.SeekFrame({segment - 1, 0}), kResultOk);
    take();
    while (f.Host.Stops == 0 && played.back().Pos.Frame < frames - 1) f.Core.TimerPlayTimer();
  }
  return played;
}

// The picture on a canvas of width × height (rounded up to even sizes when `even`), centred
// as if the canvas were not rounded, grey around it.
TPictureRgb OnCanvas(const TPictureRgb& picture, int32_t width, int32_t height, bool even) {
  TPictureRgb canvas;
  canvas.Width = even ? (width + 1) & ~1 : width;
  canvas.Height = even ? (height + 1) & ~1 : height;
  canvas.Pixels.assign(size_t(canvas.Width) * size_t(canvas.Height), Rgb(kCanvasGrey, kCanvasGrey, kCanvasGrey));
  const int32_t left = (width - picture.Width) / 2, top = (height - picture.Height) / 2;
  for (int32_t y = 0; y < picture.Height; ++y)
    std::copy_n(picture.Pixels.begin() + ptrdiff_t(y) * picture.Width, picture.Width,
                canvas.Pixels.begin() + ptrdiff_t(top + y) * canvas.Width + left);
  return canvas;
}

struct TExpectedFrame {
  int64_t Millis = 0;
  TFramePos Pos;
  TPictureRgb Canvas;
};

// The pictures a file must hold and when: every played picture on the canvas at its frame's
// time (from `origin`), less those equal to the one before.
std::vector<TExpectedFrame> ExpectedFrames(const TTestFilm& film, const std::vector<TPlayed>& played, int32_t width,
                                           int32_t height, bool even, int64_t origin = 0) {
  std::vector<TExpectedFrame> frames;
  for (const TPlayed& p : played) {
    TPictureRgb canvas = OnCanvas(p.Picture, width, height, even);
    const int64_t at = FrameTime(film.Segments, p.Pos) - origin;
    // A later picture at the same moment (a segment without a frame rate) replaces it.
    if (!frames.empty() && frames.back().Millis == at) {
      frames.pop_back();
      if (!frames.empty() && frames.back().Canvas == canvas) continue;
    }
    if (!frames.empty() && frames.back().Canvas == canvas) continue;
    frames.push_back({at, p.Pos, std::move(canvas)});
  }
  return frames;
}

// The whole film's pictures on its canvas.
std::vector<TExpectedFrame> WholeFilm(const TTestFilm& film, bool even, bool cursor = true) {
  int32_t width = 0, height = 0;
  for (const auto& s : film.Segments) width = std::max(width, s->Width), height = std::max(height, s->Height);
  return ExpectedFrames(film, PlayedPictures(film, cursor), width, height, even);
}

// Segment `segment` (from 1) alone at its own size, its times from its start.
std::vector<TExpectedFrame> OneSegment(const TTestFilm& film, int32_t segment, bool even) {
  const Segment& s = *film.Segments[size_t(segment - 1)];
  return ExpectedFrames(film, PlayedPictures(film, true, segment), s.Width, s.Height, even,
                        SegmentStart(film.Segments, segment - 1));
}

int64_t SegmentLength(const TTestFilm& film, int32_t index) {
  const Segment& s = *film.Segments[size_t(index)];
  return SegmentMillis(s.FrameCount, s.FrameRate);
}

// ---- What is read back ----

std::string Where(const TExpectedFrame& e) {
  return "segment " + std::to_string(e.Pos.Segment + 1) + " frame " + std::to_string(e.Pos.Frame) + " at " +
         std::to_string(e.Millis) + " ms";
}

// As many pictures as expected, each at its time (within `tolerance` ms), and the file as long
// as the film within its last frame.
void ExpectTimes(const TMedia& media, const std::vector<TExpectedFrame>& expected, int64_t length,
                 int64_t lastFrameMs, int64_t tolerance = 0) {
  ASSERT_EQ(media.Frames.size(), expected.size()) << "pictures in the file";
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_LE(std::abs(media.Frames[i].Millis - expected[i].Millis), tolerance)
        << "picture " << i << " at " << media.Frames[i].Millis << " ms, expected " << Where(expected[i]);
  const int64_t duration = media.DurationMs >= 0 ? media.DurationMs : media.EndMs();
  EXPECT_LE(std::abs(duration - length), lastFrameMs) << "duration " << duration << " ms, the film " << length;
  if (media.Frames.back().DurationMs > 0) {
    EXPECT_LE(std::abs(media.EndMs() - length), lastFrameMs)
        << "the last picture ends at " << media.EndMs() << " ms, the film at " << length;
  }
}

void ExpectExactPictures(const TMedia& media, const std::vector<TExpectedFrame>& expected) {
  ASSERT_EQ(media.Frames.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const TMediaFrame& f = media.Frames[i];
    const TPictureRgb& e = expected[i].Canvas;
    ASSERT_EQ(f.Width, e.Width);
    ASSERT_EQ(f.Height, e.Height);
    ASSERT_EQ(f.Rgb.size(), e.Pixels.size()) << "picture " << i << " is not RGB (" << av_get_pix_fmt_name(f.Format) << ")";
    size_t differing = 0, first = 0;
    for (size_t j = 0; j < e.Pixels.size(); ++j)
      if (f.Rgb[j] != e.Pixels[j] && differing++ == 0) first = j;
    EXPECT_EQ(differing, 0u) << "picture " << i << " (" << Where(expected[i]) << "): first at x "
                             << first % size_t(e.Width) << " y " << first / size_t(e.Width) << ": " << std::hex
                             << f.Rgb[first] << " instead of " << e.Pixels[first];
  }
}

// The luma of every picture against the encoder's input converted by swscale.
void ExpectLuma(const TMedia& media, const std::vector<TExpectedFrame>& expected, double minPsnr) {
  ASSERT_EQ(media.Frames.size(), expected.size());
  double worst = 100;
  for (size_t i = 0; i < expected.size(); ++i) {
    const TMediaFrame& f = media.Frames[i];
    const TPictureRgb& e = expected[i].Canvas;
    ASSERT_EQ(f.Width, e.Width);
    ASSERT_EQ(f.Height, e.Height);
    ASSERT_FALSE(f.Luma.empty()) << "picture " << i << " is not YUV (" << av_get_pix_fmt_name(f.Format) << ")";
    const double psnr = Psnr(f.Luma, ReferenceLuma(e.Pixels, e.Width, e.Height, f.Format));
    EXPECT_GE(psnr, minPsnr) << "picture " << i << " (" << Where(expected[i]) << ")";
    worst = std::min(worst, psnr);
  }
  ::testing::Test::RecordProperty("worst_luma_psnr", std::to_string(worst));
}

// Every segment a chapter, named as the segment, from its start to its end.
void ExpectChapters(const TMedia& media, const TTestFilm& film) {
  ASSERT_EQ(media.Chapters.size(), film.Segments.size());
  for (size_t i = 0; i < film.Segments.size(); ++i) {
    SCOPED_TRACE("chapter " + std::to_string(i + 1));
    EXPECT_EQ(media.Chapters[i].Title, film.Segments[i]->Name);
    const int64_t start = SegmentStart(film.Segments, int32_t(i));
    EXPECT_EQ(media.Chapters[i].StartMs, start);
    EXPECT_EQ(media.Chapters[i].EndMs, start + SegmentLength(film, int32_t(i)));
  }
}

// Key frames on the first picture, at every chapter's start (`starts`, in order), and
// `interval` after the one before (before the file's `length`); nowhere else unless every
// picture is one (`everyPicture`).
void ExpectKeyFramesAt(const TMedia& media, const std::vector<int64_t>& starts, int64_t length, int64_t interval,
                       bool everyPicture = false) {
  std::vector<int64_t> keys;
  for (const TMediaPacket& p : media.Packets)
    if (p.Key) keys.push_back(p.Millis);
  std::sort(keys.begin(), keys.end());
  ASSERT_FALSE(media.Packets.empty());
  EXPECT_TRUE(media.Packets.front().Key);
  std::vector<int64_t> due = {0};
  for (;;) {
    const auto chapter = std::upper_bound(starts.begin(), starts.end(), due.back());
    const int64_t next = std::min(due.back() + interval, chapter != starts.end() ? *chapter : INT64_MAX);
    if (next >= length) break;
    due.push_back(next);
  }
  if (!everyPicture) {
    EXPECT_EQ(keys, due);
    return;
  }
  for (int64_t at : due) EXPECT_TRUE(std::binary_search(keys.begin(), keys.end(), at)) << "no key frame at " << at;
  EXPECT_EQ(keys.size(), media.Packets.size());
}

// The same for a whole film, whose segments are its chapters.
void ExpectKeyFrames(const TMedia& media, const TTestFilm& film, int64_t interval, bool everyPicture = false) {
  std::vector<int64_t> starts;
  for (int32_t i = 0; i < int32_t(film.Segments.size()); ++i)
    if (SegmentLength(film, i) > 0) starts.push_back(SegmentStart(film.Segments, i));
  ExpectKeyFramesAt(media, starts, FilmMillis(film.Segments), interval, everyPicture);
}

// Each picture decoded (a repeated one too) shows what the film shows at its time: exactly, or
// with the luma within `minPsnr`.
void ExpectShownPictures(const TMedia& media, const std::vector<TExpectedFrame>& expected, double minPsnr = 0) {
  ASSERT_GE(media.Frames.size(), expected.size());
  for (size_t i = 0; i < media.Frames.size(); ++i) {
    const TMediaFrame& f = media.Frames[i];
    const auto shown = std::upper_bound(expected.begin(), expected.end(), f.Millis,
                                        [](int64_t at, const TExpectedFrame& e) { return at < e.Millis; });
    ASSERT_NE(shown, expected.begin()) << "picture " << i << " at " << f.Millis << " ms";
    const TPictureRgb& e = std::prev(shown)->Canvas;
    if (minPsnr == 0) {
      EXPECT_TRUE(f.Rgb == e.Pixels) << "picture " << i << " at " << f.Millis << " ms";
    } else {
      EXPECT_GE(Psnr(f.Luma, ReferenceLuma(e.Pixels, e.Width, e.Height, f.Format)), minPsnr)
          << "picture " << i << " at " << f.Millis << " ms";
    }
  }
}

// BT.709 in limited range, as the pictures were converted.
void ExpectBt709(const TMedia& media) {
  ASSERT_FALSE(media.Frames.empty());
  EXPECT_EQ(media.Frames[0].ColorSpace, AVCOL_SPC_BT709);
  EXPECT_EQ(media.Frames[0].ColorRange, AVCOL_RANGE_MPEG);
}

int64_t LastFrameMs(const TTestFilm& film) {
  return TPlaybackCore::FrameInterval(film.Segments.back()->FrameRate);
}

bool HasEncoder(AVCodecID id) { return avcodec_find_encoder(id) != nullptr; }

// Peak signal-to-noise ratio over the R, G and B of two pictures of equal size.
double RgbPsnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  auto bytes = [](const std::vector<uint32_t>& pixels) {
    std::vector<uint8_t> channels;
    for (uint32_t p : pixels) channels.insert(channels.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
    return channels;
  };
  return Psnr(bytes(a), bytes(b));
}

// ---- Running zrfilm ----

using TRun = TChildRun;

struct TExportFixture : TTempRootFixture {
  fs::path Out;  // the folder the files are written to, empty at the start
  int Runs = 0;

  void SetUp() override {
    TTempRootFixture::SetUp();
    Out = Root / "out";
    fs::create_directory(Out);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(Out, fs::perms::owner_all, ec);
    TTempRootFixture::TearDown();
  }

  std::string OutFile(const std::string& name) const { return (Out / name).string(); }

  // Starts `zrfilm export ARGS...` with its standard error going to a file of its own.
  pid_t Start(const std::vector<std::string>& args, const TChildSetup& setup, std::string& errFile) {
    std::vector<std::string> words = {VERIROVE_ZRFILM, "export"};
    words.insert(words.end(), args.begin(), args.end());
    errFile = (Root / ("stderr-" + std::to_string(++Runs))).string();
    return StartChild(words, setup, errFile);
  }

  TRun Wait(pid_t pid, const std::string& errFile, int seconds = 0) { return WaitChild(pid, errFile, seconds); }

  // `zrfilm export` with `args`, then `more`.
  TRun Export(std::vector<std::string> args, const std::vector<std::string>& more, const TChildSetup& setup = {}) {
    args.insert(args.end(), more.begin(), more.end());
    return Export(args, setup);
  }
  TRun Export(const std::vector<std::string>& args, const TChildSetup& setup = {}) {
    std::string errFile;
    const pid_t pid = Start(args, setup, errFile);
    if (pid < 0) return {};
    return Wait(pid, errFile);
  }

  // What zrfilm leaves in its private folder after a run: nothing.
  void ExpectPrivateFolderEmpty() {
    const fs::path own = Root / "veRirove";
    if (fs::exists(own)) {
      EXPECT_TRUE(fs::is_empty(own)) << "left in " << own;
    }
  }
};

// The refusals, failures and interruptions: a ctest entry of their own.
struct TExportFailures : TExportFixture {};

// ---- Formats and the pictures in them ----

// Lossless Matroska, H.264 in RGB at QP 0 unless FFV1 is asked for: every picture that
// changes, exact, at its time; the segments as chapters.
TEST_F(TExportFixture, LosslessMatroskaHoldsEveryChangedPictureExactly) {
  const TTestFilm film(MixedFilm());
  const std::string path = Package("mixed.zrcab", film);
  const auto expected = WholeFilm(film, false);
  // 28 frames, of which 7 change nothing.
  ASSERT_EQ(expected.size(), 21u);
  struct TCase {
    std::string Name;
    std::vector<std::string> Options;
    AVCodecID Codec;
    AVPixelFormat Format;
  };
  const TCase cases[] = {
      {"film.mkv", {"--lossless"}, AV_CODEC_ID_H264, AV_PIX_FMT_GBRP},
      {"ffv1.mkv", {"--lossless", "--codec", "ffv1"}, AV_CODEC_ID_FFV1, AV_PIX_FMT_BGR0},
      // Lossless by itself, as FFV1 is.
      {"rgb.mkv", {"--codec", "h264rgb"}, AV_CODEC_ID_H264, AV_PIX_FMT_GBRP},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRun run = Export({path, OutFile(c.Name)}, c.Options);
    ASSERT_EQ(run.Status, 0) << run.Err;
    // Not a terminal: no progress line.
    EXPECT_EQ(run.Err.find('\r'), std::string::npos) << run.Err;
    ExpectPrivateFolderEmpty();

    const TMedia media = ReadMedia(OutFile(c.Name));
    ASSERT_EQ(media.Error, "");
    EXPECT_EQ(media.Codec, c.Codec) << avcodec_get_name(media.Codec);
    EXPECT_EQ(media.VideoStreams, 1);
    // RGB keeps the odd sizes of the largest segment.
    EXPECT_EQ(media.Width, 97);
    EXPECT_EQ(media.Height, 63);
    EXPECT_EQ(media.Format, c.Format) << av_get_pix_fmt_name(media.Format);
    ExpectTimes(media, expected, FilmMillis(film.Segments), LastFrameMs(film));
    ExpectExactPictures(media, expected);
    ExpectChapters(media, film);
    ExpectKeyFrames(media, film, kDefaultKeyInterval, c.Codec == AV_CODEC_ID_FFV1);
  }
  EXPECT_EQ(Files(Out), (std::vector<std::string>{"ffv1.mkv", "film.mkv", "rgb.mkv"}));
}

// The lossy formats: the codec, pixel format and size each asks for, BT.709 tags, the
// pictures within the quality asked for, their times and the chapters.
TEST_F(TExportFixture, LossyFormatsCarryThePicturesAndTheirTimes) {
  const TTestFilm film(MixedFilm());
  const std::string path = Package("mixed.zrcab", film);
  const auto even = WholeFilm(film, true);
  const auto odd = WholeFilm(film, false);
  struct TCase {
    std::string Name;
    std::vector<std::string> Options;
    AVCodecID Codec;
    AVPixelFormat Format;
    int Width, Height;
  };
  const TCase cases[] = {
      {"film.mp4", {}, AV_CODEC_ID_H264, AV_PIX_FMT_YUV420P, 98, 64},
      {"film444.mp4", {"--chroma", "444"}, AV_CODEC_ID_H264, AV_PIX_FMT_YUV444P, 97, 63},
      {"film.webm", {}, AV_CODEC_ID_VP9, AV_PIX_FMT_YUV420P, 98, 64},
      {"film444.webm", {"--chroma", "444"}, AV_CODEC_ID_VP9, AV_PIX_FMT_YUV444P, 97, 63},
      {"film.mkv", {}, AV_CODEC_ID_H264, AV_PIX_FMT_YUV420P, 98, 64},
      // The extension of the name does not count against --format.
      {"film.video", {"--format", "webm"}, AV_CODEC_ID_VP9, AV_PIX_FMT_YUV420P, 98, 64},
      {"FILM.MP4", {}, AV_CODEC_ID_H264, AV_PIX_FMT_YUV420P, 98, 64},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRun run = Export({path, OutFile(c.Name)}, c.Options);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const TMedia media = ReadMedia(OutFile(c.Name));
    ASSERT_EQ(media.Error, "");
    EXPECT_EQ(media.Codec, c.Codec) << avcodec_get_name(media.Codec);
    EXPECT_EQ(media.VideoStreams, 1);
    EXPECT_EQ(media.Width, c.Width);
    EXPECT_EQ(media.Height, c.Height);
    ASSERT_FALSE(media.Frames.empty());
    EXPECT_EQ(media.Frames[0].Format, c.Format) << av_get_pix_fmt_name(media.Frames[0].Format);
    ExpectBt709(media);
    const auto& expected = c.Format == AV_PIX_FMT_YUV420P ? even : odd;
    ExpectTimes(media, expected, FilmMillis(film.Segments), LastFrameMs(film));
    ExpectLuma(media, expected, 40.0);
    ExpectChapters(media, film);
    ExpectKeyFrames(media, film, kDefaultKeyInterval);
  }
  ExpectPrivateFolderEmpty();
}

// Key frames by film time: a calm film's pictures are shown again as key frames (its second
// chapter starts with no change); a busy one's fall between the times key frames are due.
TEST_F(TExportFixture, KeyFramesFollowTheFilmsTime) {
  const TTestFilm calm(CalmFilm()), busy(BusyFilm());
  const std::string calmPath = Package("calm.zrcab", calm), busyPath = Package("busy.zrcab", busy);
  const auto calmPictures = WholeFilm(calm, false), busyPictures = WholeFilm(busy, false);
  // The calm film's three pictures, the busy film's every frame.
  ASSERT_EQ(calmPictures.size(), 3u);
  ASSERT_EQ(busyPictures.size(), 100u);
  const bool av1 = HasEncoder(AV_CODEC_ID_AV1) && avcodec_find_decoder(AV_CODEC_ID_AV1);
  struct TCase {
    std::string Name;  // "calm..." or "busy..."
    std::vector<std::string> Options = {};
    int64_t Interval = 2000;
  };
  const TCase cases[] = {
      {"calm.mp4"}, {"calm.webm"}, {"busy.mp4"}, {"busy.webm"}, {"busy-av1.webm", {"--codec", "av1"}},
      {"calm-av1.mp4", {"--codec", "av1"}}, {"calm.mkv", {"--lossless"}},
      {"busy-ffv1.mkv", {"--lossless", "--codec", "ffv1"}},
      {"calm-5s.mp4", {"--keyint", "5"}, 5000}, {"busy-0.7s.webm", {"--keyint=0.7"}, 700},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.Options.size() > 1 && c.Options[1] == "av1" && !av1) continue;
    const bool calmFilm = c.Name.starts_with("calm"), lossless = c.Name.ends_with(".mkv");
    const TRun run = Export({calmFilm ? calmPath : busyPath, OutFile(c.Name)}, c.Options);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const TMedia media = ReadMedia(OutFile(c.Name));
    ASSERT_EQ(media.Error, "");
    const TTestFilm& film = calmFilm ? calm : busy;
    ExpectKeyFrames(media, film, c.Interval, c.Name.find("ffv1") != std::string::npos);
    ExpectChapters(media, film);
    ExpectShownPictures(media, calmFilm ? calmPictures : busyPictures, lossless ? 0 : 40.0);
    const int64_t duration = media.DurationMs >= 0 ? media.DurationMs : media.EndMs();
    EXPECT_LE(std::abs(duration - FilmMillis(film.Segments)), LastFrameMs(film)) << duration;
  }
}

// GIF: palettes hold an 8-bit film's few colours exactly; times in centiseconds.
TEST_F(TExportFixture, GifOfAnEightBitFilmKeepsItsColours) {
  const TTestFilm film(PaletteFilm());
  const TRun run = Export({Package("palette.zrcab", film), OutFile("film.gif")});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const TMedia media = ReadMedia(OutFile("film.gif"));
  ASSERT_EQ(media.Error, "");
  EXPECT_EQ(media.Codec, AV_CODEC_ID_GIF);
  EXPECT_EQ(media.Width, 64);
  EXPECT_EQ(media.Height, 48);
  EXPECT_TRUE(media.Chapters.empty());
  const auto expected = WholeFilm(film, false);
  ASSERT_EQ(expected.size(), 15u);  // 18 frames, 3 of which change nothing
  ExpectTimes(media, expected, FilmMillis(film.Segments), LastFrameMs(film), 9);
  ExpectExactPictures(media, expected);

  // A film of many colours and odd sizes: every picture, at its own size, at its time.
  const TTestFilm mixed(MixedFilm());
  const TRun many = Export({Package("mixed.zrcab", mixed), OutFile("mixed.gif")});
  ASSERT_EQ(many.Status, 0) << many.Err;
  const TMedia colours = ReadMedia(OutFile("mixed.gif"), false);
  ASSERT_EQ(colours.Error, "");
  EXPECT_EQ(colours.Width, 97);
  EXPECT_EQ(colours.Height, 63);
  ExpectTimes(colours, WholeFilm(mixed, false), FilmMillis(mixed.Segments), LastFrameMs(mixed), 9);

  // Palettes that change beyond 256 colours in all: with a palette for each picture, still
  // exact.
  const TTestFilm shifting(ShiftingPaletteFilm());
  const TRun shifted =
      Export({Package("shifting.zrcab", shifting), OutFile("shifting.gif"), "--gif-palette", "picture"});
  ASSERT_EQ(shifted.Status, 0) << shifted.Err;
  const TMedia shiftedMedia = ReadMedia(OutFile("shifting.gif"));
  ASSERT_EQ(shiftedMedia.Error, "");
  ExpectExactPictures(shiftedMedia, WholeFilm(shifting, false));
}

// A film of no more than 256 colours gets one palette, so the GIF stores only the changed
// parts of each picture: far less than whole pictures.
TEST_F(TExportFixture, GifOfFewColoursStoresTheChanges) {
  struct TCase {
    std::string Name;
    TTestFilm Film;
    std::vector<std::string> Options = {};
  };
  const TCase cases[] = {{"few", TTestFilm(CursorFilm())},
                         {"exactly 256", TTestFilm(FullPaletteFilm())},
                         {"few, asked for a palette each", TTestFilm(CursorFilm()), {"--gif-palette", "picture"}}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string out = OutFile(c.Name + ".gif");
    const TRun run = Export({Package(c.Name + ".zrcab", c.Film), out}, c.Options);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const TMedia media = ReadMedia(out);
    ASSERT_EQ(media.Error, "");
    const auto expected = WholeFilm(c.Film, false);
    ASSERT_EQ(expected.size(), 10u);
    ExpectExactPictures(media, expected);
    // Ten whole 64 × 48 pictures would take about 10 × 3,072 bytes before compression.
    EXPECT_LT(std::filesystem::file_size(out), 6000u);
  }
}

// GIF of more than 256 colours: one palette for the whole film, dithered, stays close to every
// picture and takes less room than a palette for each picture.
TEST_F(TExportFixture, GifOfManyColoursSharesOnePalette) {
  struct TCase {
    std::string Name;
    TTestFilm Film;
    double MinPsnr;  // dB, over R, G and B
  };
  const TCase cases[] = {{"mixed", TTestFilm(MixedFilm()), 33},
                         {"calm", TTestFilm(CalmFilm()), 40},
                         {"busy", TTestFilm(BusyFilm()), 33}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = Package(c.Name + ".zrcab", c.Film);
    const std::string film = OutFile(c.Name + ".gif"), pictures = OutFile(c.Name + "-pictures.gif");
    ASSERT_EQ(Export({path, film}).Status, 0);
    ASSERT_EQ(Export({path, pictures, "--gif-palette", "picture"}).Status, 0);
    const TMedia media = ReadMedia(film);
    ASSERT_EQ(media.Error, "");
    const auto expected = WholeFilm(c.Film, false);
    ExpectTimes(media, expected, FilmMillis(c.Film.Segments), LastFrameMs(c.Film), 9);
    double worst = 100;
    for (size_t i = 0; i < expected.size(); ++i)
      worst = std::min(worst, RgbPsnr(media.Frames[i].Rgb, expected[i].Canvas.Pixels));
    EXPECT_GE(worst, c.MinPsnr);
    EXPECT_LT(10 * fs::file_size(film), 6 * fs::file_size(pictures));
  }
}

// AV1 in WebM (SVT-AV1 takes 64 × 64 and up, so the film is 128 × 128).
TEST_F(TExportFixture, Av1InWebM) {
  if (!HasEncoder(AV_CODEC_ID_AV1) || !avcodec_find_decoder(AV_CODEC_ID_AV1)) GTEST_SKIP() << "no AV1 codec";
  const TTestFilm film(SquareFilm());
  const TRun run = Export({Package("square.zrcab", film), OutFile("film.webm"), "--codec", "av1"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const TMedia media = ReadMedia(OutFile("film.webm"));
  ASSERT_EQ(media.Error, "");
  EXPECT_EQ(media.Codec, AV_CODEC_ID_AV1) << avcodec_get_name(media.Codec);
  EXPECT_EQ(media.Width, 128);
  EXPECT_EQ(media.Height, 128);
  ASSERT_FALSE(media.Frames.empty());
  EXPECT_EQ(media.Frames[0].Format, AV_PIX_FMT_YUV420P) << av_get_pix_fmt_name(media.Frames[0].Format);
  ExpectBt709(media);
  const auto expected = WholeFilm(film, true);
  ExpectTimes(media, expected, FilmMillis(film.Segments), LastFrameMs(film));
  ExpectLuma(media, expected, 40.0);
  ExpectChapters(media, film);
}

// A higher quality asks for more bytes and gives a truer picture.
TEST_F(TExportFixture, QualityTradesSizeForFidelity) {
  const TTestFilm film(MixedFilm());
  const std::string path = Package("mixed.zrcab", film);
  const auto expected = WholeFilm(film, true);
  double psnr[2] = {};
  uintmax_t bytes[2] = {};
  const char* qualities[2] = {"5", "95"};
  for (int i = 0; i < 2; ++i) {
    const std::string out = OutFile(std::string("q") + qualities[i] + ".mp4");
    const TRun run = Export({path, out, "--quality", qualities[i]});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const TMedia media = ReadMedia(out);
    ASSERT_EQ(media.Frames.size(), expected.size());
    double sum = 0;
    for (size_t k = 0; k < expected.size(); ++k)
      sum += Psnr(media.Frames[k].Luma, ReferenceLuma(expected[k].Canvas.Pixels, expected[k].Canvas.Width,
                                                      expected[k].Canvas.Height, media.Frames[k].Format));
    psnr[i] = sum / double(expected.size());
    bytes[i] = fs::file_size(out);
  }
  EXPECT_LT(bytes[0], bytes[1]);
  EXPECT_LT(psnr[0], psnr[1]);
}

// A segment without a frame rate lasts no time: its pictures are overtaken at once by the
// next segment's first, and at the film's end its last one still shows for a moment. The
// times never go back, so every muxer takes them.
TEST_F(TExportFixture, SegmentsWithoutAFrameRate) {
  std::vector<TWriterSegment> source(4);
  const uint32_t colours[4] = {Rgb(200, 40, 40), Rgb(40, 200, 40), Rgb(40, 40, 200), Rgb(220, 220, 60)};
  const int frames[4] = {5, 3, 4, 2};
  const uint8_t rates[4] = {10, 0, 10, 0};
  for (size_t i = 0; i < 4; ++i) {
    source[i] = NewSegment("s" + std::to_string(i + 1), 48, 32, 32, rates[i]);
    TWriterSegment& s = source[i];
    for (int k = 0; k < frames[i]; ++k) {
      std::vector<uint32_t> p(size_t(48 * 32), colours[i]);
      FillRect(p, 48, 4 * k, 4, 8, 8, Rgb(250, 250, 250));
      s.Pictures.push_back(std::move(p));
    }
  }
  const TTestFilm film(source);
  const std::string path = Package("rates.zrcab", film);
  const auto expected = WholeFilm(film, false);
  // The first segment's 5 pictures, the third's 4, and the last picture of the fourth.
  ASSERT_EQ(expected.size(), 10u);
  EXPECT_EQ(expected.back().Millis, 900);
  for (const char* name : {"rates.mkv", "rates.mp4", "rates.webm", "rates.gif"}) {
    SCOPED_TRACE(name);
    std::vector<std::string> args = {path, OutFile(name)};
    if (std::string(name) == "rates.mkv") args.push_back("--lossless");
    const TRun run = Export(args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const TMedia media = ReadMedia(OutFile(name));
    ASSERT_EQ(media.Error, "");
    ASSERT_EQ(media.Frames.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
      EXPECT_LE(std::abs(media.Frames[i].Millis - expected[i].Millis), 9) << "picture " << i;
    if (std::string(name) == "rates.mkv") ExpectExactPictures(media, expected);
  }
}

// ---- Options ----

// One segment at its own size, its times from its start, no chapters.
TEST_F(TExportFixture, OneSegmentAtItsOwnSize) {
  const TTestFilm film(MixedFilm());
  const std::string path = Package("mixed.zrcab", film);
  struct TCase {
    int32_t Segment;
    std::string Name;
    std::vector<std::string> Options;
    int Width, Height;
  };
  const TCase cases[] = {
      {3, "third.mkv", {"--lossless"}, 75, 45},
      // 8-bit, in the colours the film's first segment leaves its palette.
      {2, "second.mkv", {"--lossless"}, 64, 48},
      {3, "third.mp4", {}, 76, 46},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRun run = Export({path, OutFile(c.Name), "--segment", std::to_string(c.Segment)}, c.Options);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const TMedia media = ReadMedia(OutFile(c.Name));
    ASSERT_EQ(media.Error, "");
    EXPECT_EQ(media.Width, c.Width);
    EXPECT_EQ(media.Height, c.Height);
    EXPECT_TRUE(media.Chapters.empty());
    const bool lossless = c.Options == std::vector<std::string>{"--lossless"};
    const auto expected = OneSegment(film, c.Segment, !lossless);
    const int32_t index = c.Segment - 1;
    ExpectTimes(media, expected, SegmentLength(film, index),
                TPlaybackCore::FrameInterval(film.Segments[size_t(index)]->FrameRate));
    if (lossless)
      ExpectExactPictures(media, expected);
    else
      ExpectLuma(media, expected, 40.0);
  }
}

// --split: a file for every segment, numbered from 1, each like --segment; no file of the
// whole film.
TEST_F(TExportFixture, SplitWritesAFilePerSegment) {
  const TTestFilm film(MixedFilm());
  const std::string path = Package("mixed.zrcab", film);
  const TRun run = Export({path, OutFile("part.mkv"), "--split", "--lossless"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  ASSERT_EQ(Files(Out), (std::vector<std::string>{"part-001.mkv", "part-002.mkv", "part-003.mkv"}));
  for (int32_t s = 1; s <= 3; ++s) {
    SCOPED_TRACE("segment " + std::to_string(s));
    char name[32];
    std::snprintf(name, sizeof name, "part-%03d.mkv", s);
    const TMedia media = ReadMedia(OutFile(name));
    ASSERT_EQ(media.Error, "");
    EXPECT_EQ(media.Width, film.Segments[size_t(s - 1)]->Width);
    EXPECT_EQ(media.Height, film.Segments[size_t(s - 1)]->Height);
    EXPECT_TRUE(media.Chapters.empty());
    const auto expected = OneSegment(film, s, false);
    ExpectTimes(media, expected, SegmentLength(film, s - 1),
                TPlaybackCore::FrameInterval(film.Segments[size_t(s - 1)]->FrameRate));
    ExpectExactPictures(media, expected);
  }
  // MP4 parts take even sizes.
  const TRun mp4 = Export({path, OutFile("clip.mp4"), "--split"});
  ASSERT_EQ(mp4.Status, 0) << mp4.Err;
  const std::pair<int, int> sizes[] = {{98, 64}, {64, 48}, {76, 46}};
  for (int32_t s = 1; s <= 3; ++s) {
    char name[32];
    std::snprintf(name, sizeof name, "clip-%03d.mp4", s);
    const TMedia media = ReadMedia(OutFile(name), false);
    ASSERT_EQ(media.Error, "") << name;
    EXPECT_EQ(std::make_pair(media.Width, media.Height), sizes[s - 1]) << name;
    EXPECT_EQ(media.Frames.size(), OneSegment(film, s, true).size()) << name;
  }
  EXPECT_FALSE(fs::exists(OutFile("clip.mp4")));
}

// Without the cursor the pictures are those of a core that leaves it out, and a cursor that
// moves over a still picture gives one picture lasting the whole film.
TEST_F(TExportFixture, WithoutTheCursor) {
  const TTestFilm film(MixedFilm());
  const TRun run = Export({Package("mixed.zrcab", film), OutFile("plain.mkv"), "--lossless", "--no-cursor"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  const TMedia media = ReadMedia(OutFile("plain.mkv"));
  ASSERT_EQ(media.Error, "");
  const auto plain = WholeFilm(film, false, false);
  const auto withCursor = WholeFilm(film, false, true);
  ASSERT_NE(plain.front().Canvas, withCursor.front().Canvas) << "the film shows no cursor to leave out";
  ExpectTimes(media, plain, FilmMillis(film.Segments), LastFrameMs(film));
  ExpectExactPictures(media, plain);

  const TTestFilm still(CursorFilm());
  const std::string stillPath = Package("still.zrcab", still);
  const TRun moving = Export({stillPath, OutFile("moving.mkv"), "--lossless"});
  ASSERT_EQ(moving.Status, 0) << moving.Err;
  EXPECT_EQ(ReadMedia(OutFile("moving.mkv"), false).Frames.size(), 10u);
  const TRun hidden = Export({stillPath, OutFile("hidden.mkv"), "--lossless", "--no-cursor"});
  ASSERT_EQ(hidden.Status, 0) << hidden.Err;
  const TMedia one = ReadMedia(OutFile("hidden.mkv"));
  const auto expected = WholeFilm(still, false, false);
  ASSERT_EQ(expected.size(), 1u);
  ExpectTimes(one, expected, 1000, 100);
  ExpectExactPictures(one, expected);
}

// The average colour of a picture, to compare a scaled picture with its original.
std::array<double, 3> MeanColour(const std::vector<uint32_t>& pixels) {
  std::array<double, 3> mean{};
  for (uint32_t p : pixels) {
    mean[0] += (p >> 16) & 0xFF;
    mean[1] += (p >> 8) & 0xFF;
    mean[2] += p & 0xFF;
  }
  for (double& m : mean) m /= double(pixels.size());
  return mean;
}

// --max-width scales a wider canvas down, keeping its aspect; a narrower one stays.
TEST_F(TExportFixture, MaxWidthScalesDownWiderFilms) {
  const TTestFilm film(MixedFilm());
  const std::string path = Package("mixed.zrcab", film);
  const auto expected = WholeFilm(film, false);
  struct TCase {
    std::string Name;
    std::vector<std::string> Options;
    int Width;
    double Height;  // the exact height for the aspect; even and within 1 for 4:2:0
    bool Even;
  };
  const TCase cases[] = {
      {"half.mkv", {"--lossless", "--max-width", "48"}, 48, 48.0 * 63 / 97, false},
      {"half.mp4", {"--max-width", "48"}, 48, 48.0 * 63 / 97, true},
      {"wide.mkv", {"--lossless", "--max-width", "400"}, 97, 63, false},
      {"exact.mkv", {"--lossless", "--max-width", "97"}, 97, 63, false},
      // 4:2:0 takes an even width within the one asked for.
      {"odd.mp4", {"--max-width", "47"}, 46, 46.0 * 63 / 97, true},
      {"half.gif", {"--max-width", "48"}, 48, 48.0 * 63 / 97, false},
      {"half-pictures.gif", {"--max-width", "48", "--gif-palette", "picture"}, 48, 48.0 * 63 / 97, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRun run = Export({path, OutFile(c.Name)}, c.Options);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const TMedia media = ReadMedia(OutFile(c.Name));
    ASSERT_EQ(media.Error, "");
    EXPECT_EQ(media.Width, c.Width);
    if (c.Even) {
      EXPECT_EQ(media.Height % 2, 0) << media.Height;
      EXPECT_LT(std::abs(media.Height - c.Height), 2.0) << media.Height;
    } else {
      EXPECT_LT(std::abs(media.Height - c.Height), 1.0) << media.Height;
    }
    ASSERT_EQ(media.Frames.size(), expected.size());
    if (c.Width == 97) {
      ExpectExactPictures(media, expected);
    } else if (!media.Frames[0].Rgb.empty()) {
      // Scaled, each picture keeps its colours on the whole.
      for (size_t i = 0; i < expected.size(); ++i) {
        const auto got = MeanColour(media.Frames[i].Rgb), want = MeanColour(expected[i].Canvas.Pixels);
        for (int ch = 0; ch < 3; ++ch) EXPECT_NEAR(got[size_t(ch)], want[size_t(ch)], 6.0) << "picture " << i;
      }
    }
  }
}

// An existing file is replaced only with --force.
TEST_F(TExportFailures, AnExistingFileIsReplacedOnlyWithForce) {
  const TTestFilm film(PaletteFilm());
  const std::string path = Package("palette.zrcab", film);
  const std::string out = OutFile("film.mp4");
  WriteFileBytes(out, std::vector<uint8_t>{'k', 'e', 'e', 'p'});
  const TRun refused = Export({path, out});
  EXPECT_EQ(refused.Status, 1) << refused.Err;
  EXPECT_NE(refused.Err.find(out), std::string::npos) << refused.Err;
  EXPECT_EQ(fs::file_size(out), 4u);
  EXPECT_EQ(Files(Out), std::vector<std::string>{"film.mp4"});
  const TRun forced = Export({path, out, "--force"});
  ASSERT_EQ(forced.Status, 0) << forced.Err;
  EXPECT_EQ(Files(Out), std::vector<std::string>{"film.mp4"});
  const TMedia media = ReadMedia(out, false);
  EXPECT_EQ(media.Error, "");
  EXPECT_EQ(media.Frames.size(), WholeFilm(film, true).size());
}

// On a terminal, a progress line that rewrites itself; elsewhere none (see the first test).
TEST_F(TExportFixture, ProgressShowsOnATerminal) {
  const TTestFilm film(FillingFilm());
  const std::string path = Package("noise.zrcab", film);
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) GTEST_SKIP() << "no terminal: " << std::strerror(errno);
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  TChildSetup setup;
  setup.Stderr = slave;
  std::string errFile;
  const pid_t pid = Start({path, OutFile("film.mkv"), "--lossless"}, setup, errFile);
  ::close(slave);
  ASSERT_GT(pid, 0);
  std::string shown;
  char buffer[4096];
  for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, size_t(n));
  ::close(master);
  const TRun run = Wait(pid, errFile);
  ASSERT_EQ(run.Status, 0) << shown;
  EXPECT_NE(shown.find("\rzrfilm: "), std::string::npos) << shown;
  EXPECT_NE(shown.find("300 of 300 frames"), std::string::npos) << shown;
  EXPECT_EQ(Files(Out), std::vector<std::string>{"film.mkv"});
}

// ---- Refusals and failures: nothing written, nothing of the user's changed ----


TEST_F(TExportFailures, RefusalsLeaveEverythingAsItWas) {
  const TTestFilm film(MixedFilm());
  const std::string path = Package("mixed.zrcab", film);
  const std::string copy = Package("copy.zrcab", film);
  auto cut = film.Bytes;
  cut.resize(cut.size() - 3);  // the last segment cut short
  const std::string damaged = Write("cut.zrcab", MakeFilmPackage(cut));
  const std::string junk = Write("junk.zrcab", std::vector<uint8_t>(100, 'x'));
  fs::create_directory(Out / "folder.mp4");
  fs::create_symlink(copy, Out / "link.mp4");
  // Not a file to replace, even with --force: a renamed file would take the place of the pipe
  // (or of a device such as /dev/null).
  ASSERT_EQ(::mkfifo((Out / "pipe.mp4").c_str(), 0644), 0);
  auto raw = std::vector<TRawSegment>{EncodeSegment(film.Source[0]), EncodeSegment(film.Source[2])};
  raw[1].BitsPerPixel = 16;  // a depth the player cannot show
  const std::string unplayable = Write("then16.zrcab", MakeFilmPackage(WriteFilmRaw(raw)));
  auto withEmpty = film.Source;
  withEmpty[1].Pictures.clear();
  withEmpty[1].PaletteChanges.clear();
  const std::string emptySegment = Package("empty.zrcab", withEmpty);
  const std::string noise = Package("noise.zrcab", FillingFilm());
  struct TCase {
    std::string Name;
    std::vector<std::string> Args;
    int Status;
    std::string Says = "";  // a part of standard error
    TChildSetup Setup = {};
  };
  const TCase cases[] = {
      {"a missing folder", {path, OutFile("missing/film.mp4")}, 1},
      {"the film itself", {copy, copy, "--force", "--format", "mp4"}, 1},
      {"a folder", {path, OutFile("folder.mp4"), "--force"}, 1},
      {"an unknown extension", {path, OutFile("film.avi")}, 2},
      {"no extension", {path, OutFile("film")}, 2},
      {"an unknown format", {path, OutFile("film.mp4"), "--format", "avi"}, 2},
      {"an unknown codec", {path, OutFile("film.mp4"), "--codec", "mpeg2"}, 2},
      {"lossless MP4", {path, OutFile("film.mp4"), "--lossless"}, 2},
      {"lossless WebM", {path, OutFile("film.webm"), "--lossless"}, 2},
      {"VP9 in MP4", {path, OutFile("film.mp4"), "--codec", "vp9"}, 2},
      {"H.264 in WebM", {path, OutFile("film.webm"), "--codec", "h264"}, 2},
      {"chroma 422", {path, OutFile("film.mp4"), "--chroma", "422"}, 2},
      {"quality 101", {path, OutFile("film.mp4"), "--quality", "101"}, 2},
      {"quality x", {path, OutFile("film.mp4"), "--quality", "x"}, 2},
      {"segment 0", {path, OutFile("film.mp4"), "--segment", "0"}, 2},
      {"max width x", {path, OutFile("film.mp4"), "--max-width", "x"}, 2},
      {"no output", {path}, 2},
      {"an unknown option", {path, OutFile("film.mp4"), "--fast"}, 2},
      {"no such segment", {path, OutFile("film.mp4"), "--segment", "4"}, 1},
      {"no such film", {(Root / "none.zrcab").string(), OutFile("film.mp4")}, 1},
      {"not a film", {junk, OutFile("film.mp4")}, 1},
      {"a damaged film", {damaged, OutFile("film.mp4")}, 1},
      {"a damaged film, lossless", {damaged, OutFile("film.mkv"), "--lossless"}, 1},
      {"a link to the film", {copy, OutFile("link.mp4"), "--force"}, 1},
      {"a pipe", {path, OutFile("pipe.mp4"), "--force"}, 1},
      {"a segment the player cannot show", {unplayable, OutFile("film.mp4")}, 1,
       "then16.zrcab: segment 2: 16 bits per pixel cannot be played\n"},
      {"a segment the player cannot show, its idle stretches cut", {unplayable, OutFile("film.mp4"), "--max-idle", "2"},
       1, "then16.zrcab: segment 2: 16 bits per pixel cannot be played\n"},
      {"no longest idle stretch", {path, OutFile("film.mp4"), "--max-idle", "0"}, 2},
      {"chapters of a GIF", {path, OutFile("film.gif"), "--chapters", "all"}, 2},
      {"a segment without frames", {emptySegment, OutFile("film.mp4"), "--segment", "2"}, 1},
      // Loading takes less than 72 MiB of data, the libraries' own included; playing 64 MiB more.
      {"out of memory", {path, OutFile("film.gif")}, 1, "not enough memory to export the film",
       TChildSetup{.DataLimit = rlim_t{72} << 20, .AsanLargestAllocationMb = 32}},
      // The picture the GIF muxer holds back is freed all the same.
      {"a full disk, GIF", {noise, OutFile("film.gif")}, 1, std::strerror(EFBIG),
       TChildSetup{.FileSizeLimit = 96 * 1024}},
      {"a full disk, GIF of a palette each", {noise, OutFile("film.gif"), "--gif-palette", "picture"}, 1,
       std::strerror(EFBIG), TChildSetup{.FileSizeLimit = 96 * 1024}},
  };
  const auto before = fs::file_size(copy);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRun run = Export(c.Args, c.Setup);
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    EXPECT_FALSE(run.Err.empty());
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
    // Nothing leaked on the way (LeakSanitizer's exit status is 1 as well).
    EXPECT_EQ(run.Err.find("LeakSanitizer"), std::string::npos) << run.Err;
    EXPECT_EQ(Files(Out), (std::vector<std::string>{"folder.mp4", "link.mp4", "pipe.mp4"}));
    if (!fs::is_fifo(Out / "pipe.mp4")) {
      ADD_FAILURE() << "the pipe was replaced";
      fs::remove(Out / "pipe.mp4");
      ::mkfifo((Out / "pipe.mp4").c_str(), 0644);
    }
    EXPECT_TRUE(fs::is_empty(Out / "folder.mp4"));
    EXPECT_TRUE(fs::is_symlink(Out / "link.mp4"));
    EXPECT_FALSE(fs::exists(Out / "missing"));
  }
  EXPECT_EQ(fs::file_size(copy), before);
  EXPECT_TRUE(fs::exists(path));
  ExpectPrivateFolderEmpty();
}

// --split checks every part's name first and places the parts once all are written: a failure
// at any part leaves no part, and no file there before is replaced.
TEST_F(TExportFailures, ASplitThatFailsLeavesNoPart) {
  const TTestFilm film(MixedFilm());
  auto raw = std::vector<TRawSegment>{EncodeSegment(film.Source[0]), EncodeSegment(film.Source[2])};
  raw[1].BitsPerPixel = 16;  // a depth the player cannot show, found when the second part is played
  const std::string unplayable = Write("then16.zrcab", MakeFilmPackage(WriteFilmRaw(raw)));
  const std::string path = Package("mixed.zrcab", film);
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  struct TCase {
    std::string Name;
    std::string Film;  // copied to `Out` under `FilmAs` when that is given
    std::string FilmAs;
    std::vector<std::string> Before;  // files there before, which stay as they were
    std::string Says;
    TChildSetup Setup = {};
  };
  const TCase cases[] = {
      {"the film itself is the second part", path, "part-002.mkv", {}, "part-002.mkv: this is the film itself"},
      {"the second part is a folder", path, "", {"part-002.mkv/"}, "part-002.mkv: a folder"},
      {"the second part cannot be played", unplayable, "", {}, "segment 2: 16 bits per pixel cannot be played"},
      {"... and the first would have replaced a file", unplayable, "", {"part-001.mkv"}, "16 bits per pixel"},
      // Every part is held open until all are written: 64 files besides are the tool's own.
      {"more parts than files it may open", path, "", {}, "--split would hold 3 files open at once; the system lets it hold 2",
       TChildSetup{.OpenFiles = 66}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(Out);
    fs::create_directory(Out);
    std::string filmPath = c.Film;
    if (!c.FilmAs.empty()) fs::copy_file(c.Film, filmPath = OutFile(c.FilmAs));
    for (const std::string& name : c.Before) {
      if (name.ends_with('/')) fs::create_directory(Out / name);
      else WriteFileBytes(OutFile(name), old);
    }
    const auto before = Files(Out);
    const TRun run = Export({filmPath, OutFile("part.mkv"), "--split", "--lossless", "--force"}, c.Setup);
    EXPECT_EQ(run.Status, 1) << run.Err;
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
    EXPECT_EQ(Files(Out), before);
    for (const std::string& name : c.Before) {
      if (!name.ends_with('/')) {
        EXPECT_EQ(FileBytes(Out / name), old) << name;
      }
    }
    if (!c.FilmAs.empty()) {
      EXPECT_EQ(FileBytes(filmPath), FileBytes(c.Film));
    }
  }
  ExpectPrivateFolderEmpty();
}

// An export killed outright leaves its unfinished file; the next export into that folder
// removes it, and no other: not one a live process holds, nor names that only look alike.
TEST_F(TExportFailures, AKilledExportsFileGoesWithTheNextExport) {
  const TTestFilm film(NoiseFilm(320, 240, 100));
  const std::string path = Package("big.zrcab", film);
  std::string errFile;
  const pid_t pid = Start({path, OutFile("film.mkv"), "--lossless", "--codec", "ffv1"}, {}, errFile);
  ASSERT_GT(pid, 0);
  while (Files(Out).empty() && ::waitpid(pid, nullptr, WNOHANG) == 0) ::usleep(500);
  ::kill(pid, SIGKILL);
  EXPECT_EQ(Wait(pid, errFile).Signal, SIGKILL);
  const auto left = Files(Out);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(left[0].starts_with(".export-") && left[0].ends_with(".part")) << left[0];
  // Held by this process, as an export running elsewhere holds its own.
  WriteFileBytes(OutFile(".export-Held01.part"), std::vector<uint8_t>{1});
  const TFd held(::open(OutFile(".export-Held01.part").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(held.Get(), LOCK_EX | LOCK_NB), 0);
  const std::vector<std::string> alike = {".export-Ab12.part", "x.export-AbC123.part", ".export-AbC123.partx"};
  for (const std::string& name : alike) WriteFileBytes(OutFile(name), std::vector<uint8_t>{2});
  fs::create_directory(Out / ".export-Folder.part");

  const TRun run = Export({path, OutFile("small.gif"), "--segment", "1", "--max-width", "32"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  std::vector<std::string> expected = alike;
  expected.insert(expected.end(), {".export-Folder.part", ".export-Held01.part", "small.gif"});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Files(Out), expected);
}

// A folder that cannot be written: root too is held to its permissions here.
TEST_F(TExportFailures, AReadOnlyFolderIsRefused) {
  const TTestFilm film(PaletteFilm());
  const std::string path = Package("palette.zrcab", film);
  fs::permissions(Out, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                           fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  TChildSetup setup;
  setup.HonourPermissions = true;
  const TRun run = Export({path, OutFile("film.mp4")}, setup);
  if (run.Status == kSetupFailed) GTEST_SKIP() << "cannot give up the power to override permissions";
  EXPECT_EQ(run.Status, 1) << run.Err;
  EXPECT_NE(run.Err.find(Out.string()), std::string::npos) << run.Err;
  EXPECT_TRUE(fs::is_empty(Out));
}


// Writing beyond the size a process may write fails (EFBIG), as on a full disk.
TEST_F(TExportFailures, AFailedWriteLeavesNothing) {
  const TTestFilm film(FillingFilm());
  const std::string path = Package("noise.zrcab", film);
  ASSERT_LT(film.Bytes.size(), 64u * 1024u);
  TChildSetup setup;
  setup.FileSizeLimit = 256 * 1024;
  const TRun run = Export({path, OutFile("film.mkv")}, kFilling, setup);
  ASSERT_NE(run.Status, kSetupFailed);
  EXPECT_EQ(run.Status, 1) << run.Err;
  EXPECT_NE(run.Err.find(std::strerror(EFBIG)), std::string::npos) << run.Err;
  EXPECT_TRUE(fs::is_empty(Out)) << Files(Out).front();
  // A file that was to be replaced stays as it was.
  WriteFileBytes(OutFile("film.mkv"), std::vector<uint8_t>{'o', 'l', 'd'});
  const TRun forced = Export({path, OutFile("film.mkv"), "--force"}, kFilling, setup);
  EXPECT_EQ(forced.Status, 1) << forced.Err;
  EXPECT_EQ(Files(Out), std::vector<std::string>{"film.mkv"});
  EXPECT_EQ(fs::file_size(OutFile("film.mkv")), 3u);
  // Smaller than the film itself, the limit stops its extraction into the private folder: one
  // plain line naming the film once, with the reason in words.
  ASSERT_GT(film.Bytes.size(), 4096u);
  setup.FileSizeLimit = 4096;
  const TRun load = Export({path, OutFile("other.mkv"), "--lossless"}, setup);
  EXPECT_EQ(load.Status, 1) << load.Err;
  EXPECT_TRUE(load.Err.starts_with("zrfilm: " + path + ": cannot write to the temporary folder ")) << load.Err;
  EXPECT_TRUE(load.Err.ends_with(std::string(": ") + std::strerror(EFBIG) + "\n")) << load.Err;
  EXPECT_EQ(std::count(load.Err.begin(), load.Err.end(), '\n'), 1) << load.Err;
  EXPECT_EQ(load.Err.find(path), load.Err.rfind(path)) << load.Err;
  ExpectPrivateFolderEmpty();
}

// A full disk: a small file system mounted for the test, where mounting is allowed.
TEST_F(TExportFailures, AFullDiskLeavesNothing) {
  const TTestFilm film(FillingFilm());
  const std::string path = Package("noise.zrcab", film);
  if (::mount("tmpfs", Out.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a small file system: " << std::strerror(errno);
  const auto unmount = OnScopeExit([&] { ::umount2(Out.c_str(), MNT_DETACH); });
  const TRun run = Export({path, OutFile("film.mkv")}, kFilling);
  EXPECT_EQ(run.Status, 1) << run.Err;
  EXPECT_NE(run.Err.find(std::strerror(ENOSPC)), std::string::npos) << run.Err;
  EXPECT_TRUE(fs::is_empty(Out)) << Files(Out).front();
  ExpectPrivateFolderEmpty();
}

// Interrupted (Ctrl+C, or ended by the system): a failure with its usual message, and no file
// left; a film of a hundred thousand segments hears it at any moment. While the film is still
// read, the signal ends zrfilm once its temporary folder is removed.
TEST_F(TExportFailures, AnInterruptedExportLeavesNothing) {
  const TTestFilm film(NoiseFilm(320, 240, 100));
  const std::string path = Package("big.zrcab", film);
  const std::string many = Package("many.zrcab", EmptySegmentsThen(100000, film.Source[0]));
  constexpr int kOnceWriting = -1;
  struct TCase {
    int Signal;
    const std::string& Film;
    bool Replacing;  // with a file to replace, which stays as it was
    int After;       // milliseconds from the start, or kOnceWriting: once the file is there
  };
  const TCase cases[] = {
      {SIGINT, path, false, kOnceWriting}, {SIGTERM, path, true, kOnceWriting}, {SIGHUP, path, false, kOnceWriting},
      {SIGTERM, many, false, kOnceWriting}, {SIGTERM, many, false, 1000}, {SIGINT, many, true, 2500},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.Signal)) + (&c.Film == &many ? ", many segments" : "") + ", after " +
                 std::to_string(c.After));
    if (c.Replacing) WriteFileBytes(OutFile("film.mkv"), std::vector<uint8_t>{'o', 'l', 'd'});
    const auto before = Files(Out);
    std::vector<std::string> args = {c.Film, OutFile("film.mkv")};
    args.insert(args.end(), kFilling.begin(), kFilling.end());
    if (c.Replacing) args.push_back("--force");
    std::string errFile;
    const pid_t pid = Start(args, {}, errFile);
    ASSERT_GT(pid, 0);
    // Until the file being written is there, or the time has come; two minutes at most.
    for (const auto started = std::chrono::steady_clock::now();; ::usleep(500)) {
      const auto waited = std::chrono::steady_clock::now() - started;
      if (c.After == kOnceWriting ? Files(Out) != before : waited >= std::chrono::milliseconds(c.After)) break;
      if (::waitpid(pid, nullptr, WNOHANG) != 0) FAIL() << "zrfilm ended before it wrote";
      if (waited > std::chrono::minutes(2)) {
        ADD_FAILURE() << "zrfilm wrote nothing in two minutes";
        break;
      }
    }
    ::kill(pid, c.Signal);
    const TRun run = Wait(pid, errFile, 60);
    if (c.After == kOnceWriting || run.Signal == 0) {
      EXPECT_EQ(run.Status, 1) << "ended by signal " << run.Signal << ": " << run.Err;
      EXPECT_NE(run.Err.find("interrupted: nothing was written"), std::string::npos) << run.Err;
    } else {
      EXPECT_EQ(run.Signal, c.Signal) << run.Err;
    }
    EXPECT_EQ(Files(Out), before);
    if (c.Replacing) {
      EXPECT_EQ(fs::file_size(OutFile("film.mkv")), 3u);
      fs::remove(OutFile("film.mkv"));
    }
    ExpectPrivateFolderEmpty();
  }
}

// ---- The engine called directly ----

TEST(ExportNames, FormatsAndCodecsByName) {
  struct TPathCase {
    const char* Path;
    std::optional<TExportFormat> Format;
  };
  const TPathCase paths[] = {
      {"a.mp4", TExportFormat::Mp4},  {"dir.x/A.MP4", TExportFormat::Mp4}, {"a.webm", TExportFormat::WebM},
      {"a.MkV", TExportFormat::Mkv},  {"a.gif", TExportFormat::Gif},       {"a.avi", std::nullopt},
      {"mp4", std::nullopt},          {"a.mp4.part", std::nullopt},        {"dir.mp4/a", std::nullopt},
      {".gif", TExportFormat::Gif},
  };
  for (const auto& c : paths) EXPECT_EQ(ExportFormatOfPath(c.Path), c.Format) << c.Path;
  for (TExportFormat f : {TExportFormat::Mp4, TExportFormat::WebM, TExportFormat::Mkv, TExportFormat::Gif}) {
    const std::string ext = ExportExtension(f);
    EXPECT_EQ(ExportFormatOfPath("x" + ext), f) << ext;
    EXPECT_EQ(ParseExportFormat(ext.substr(1)), f) << ext;
  }
  EXPECT_FALSE(ParseExportFormat("MP4x"));
  EXPECT_EQ(ParseExportCodec("h264"), TExportCodec::H264);
  EXPECT_EQ(ParseExportCodec("vp9"), TExportCodec::Vp9);
  EXPECT_EQ(ParseExportCodec("av1"), TExportCodec::Av1);
  EXPECT_EQ(ParseExportCodec("ffv1"), TExportCodec::Ffv1);
  EXPECT_EQ(ParseExportCodec("H264rgb"), TExportCodec::H264Rgb);
  EXPECT_FALSE(ParseExportCodec("hevc"));
  struct TFitCase {
    TExportCodec Codec;
    TExportFormat Format;
    bool Lossless, Fits;
  };
  const TFitCase fits[] = {
      {TExportCodec::Default, TExportFormat::Mp4, false, true}, {TExportCodec::H264, TExportFormat::Mp4, false, true},
      {TExportCodec::Vp9, TExportFormat::Mp4, false, false},    {TExportCodec::Ffv1, TExportFormat::Mp4, false, false},
      {TExportCodec::Vp9, TExportFormat::WebM, false, true},    {TExportCodec::Av1, TExportFormat::WebM, false, true},
      {TExportCodec::H264, TExportFormat::WebM, false, false},  {TExportCodec::Ffv1, TExportFormat::Mkv, true, true},
      {TExportCodec::H264, TExportFormat::Mkv, false, true},    {TExportCodec::H264, TExportFormat::Mkv, true, false},
      {TExportCodec::Vp9, TExportFormat::Gif, false, false},    {TExportCodec::Default, TExportFormat::Gif, false, true},
      {TExportCodec::H264Rgb, TExportFormat::Mkv, true, true},  {TExportCodec::H264Rgb, TExportFormat::Mkv, false, true},
      {TExportCodec::H264Rgb, TExportFormat::Mp4, false, false},
  };
  for (const auto& c : fits)
    EXPECT_EQ(CodecFitsFormat(c.Codec, c.Format, c.Lossless), c.Fits)
        << int(c.Codec) << " in " << ExportExtension(c.Format) << (c.Lossless ? " lossless" : "");
  // One error space: every failure in words of its own, out of memory as the system's.
  std::set<std::string> said;
  for (int code = 0; code <= int(TExportErrc::NoMemory); ++code)
    said.insert(std::error_code(TExportErrc(code)).message());
  EXPECT_EQ(said.size(), size_t(TExportErrc::NoMemory) + 1);
  EXPECT_EQ(std::error_code(TExportErrc::NoMemory), std::errc::not_enough_memory);
  EXPECT_NE(std::error_code(TExportErrc::Playback), std::errc::not_enough_memory);
  // The playback core's out of memory stays that through the export.
  EXPECT_EQ(FailureCode(EPlayback(TPlaybackErrc::OutOfMemory, "no memory"), TExportErrc::Playback), TExportErrc::NoMemory);
  EXPECT_EQ(FailureCode(EPlayback(TPlaybackErrc::NoSurfaces, "no surfaces"), TExportErrc::Playback), TExportErrc::Playback);
}

struct TEngineFixture : TExportFixture {};

// The progress counts the film's frames and the pictures encoded; the result agrees with
// the file.
TEST_F(TEngineFixture, ProgressAndResultCountFramesAndPictures) {
  const TTestFilm film(MixedFilm());
  const TSegments segments = film.Read();
  TExportOptions options;
  options.Format = TExportFormat::Mkv;
  options.Lossless = true;
  std::vector<TExportProgress> seen;
  const TExportResult result =
      ExportFilm(segments, OutFile("film.mkv"), options, false, [&](const TExportProgress& p) { seen.push_back(p); });
  ASSERT_TRUE(result) << int(result.Code) << ": " << result.Details;
  EXPECT_EQ(result.Frames, 28);
  EXPECT_EQ(result.Encoded, 21);
  EXPECT_EQ(result.Bytes, int64_t(fs::file_size(OutFile("film.mkv"))));
  ASSERT_FALSE(seen.empty());
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].TotalFrames, 28);
    EXPECT_LE(seen[i].Encoded, seen[i].Frames);
    if (i > 0) {
      EXPECT_GE(seen[i].Frames, seen[i - 1].Frames);
    }
  }
  EXPECT_EQ(seen.back().Frames, 28);
  EXPECT_EQ(seen.back().Encoded, 21);
  // The engine played copies: the segments are as they were, and play as before.
  ExpectExactPictures(ReadMedia(OutFile("film.mkv")), WholeFilm(film, false));
  EXPECT_EQ(Files(Out), std::vector<std::string>{"film.mkv"});
}

// A film that a core plays (as a window does) is exported from another thread meanwhile:
// both give their pictures exactly.
TEST_F(TEngineFixture, ExportsAFilmThatACoreIsPlaying) {
  const TTestFilm film(MixedFilm());
  const auto reference = PlayedPictures(film, true);
  TCoreFixture f;
  f.LoadBytes(film.Bytes);
  std::vector<TPictureRgb> pictures;
  f.Host.OnComposed = [&] { pictures.push_back(PictureOf(*f.Core.Picture())); };
  TExportOptions options;
  options.Format = TExportFormat::Mkv;
  options.Lossless = true;
  TExportResult result;
  std::atomic<bool> done{false};
  std::thread exporter([&] {
    result = ExportFilm(f.Core.Segments(), OutFile("film.mkv"), options, false);
    done = true;
  });
  // The window plays the film through while the export runs, twice at least.
  int rounds = 0;
  size_t differing = 0;
  while (!done || rounds < 2) {
    pictures.clear();
    const int stops = f.Host.Stops;
    if (f.Core.SetCurSegment() != kResultOk) break;
    while (f.Host.Stops == stops) f.Core.TimerPlayTimer();
    differing += pictures.size() != reference.size();
    for (size_t i = 0; i < std::min(pictures.size(), reference.size()); ++i)
      differing += pictures[i] != reference[i].Picture;
    ++rounds;
  }
  exporter.join();
  EXPECT_GE(rounds, 2);
  EXPECT_EQ(differing, 0u);
  ASSERT_TRUE(result) << result.Details;
  ExpectExactPictures(ReadMedia(OutFile("film.mkv")), WholeFilm(film, false));
}

// Cancelled at any step (before it starts, while a hundred thousand segments are planned, while
// encoding, at the last frame's flush): Cancelled, soon, and no file.
TEST_F(TEngineFixture, CancellingLeavesNoFile) {
  const TTestFilm filling(FillingFilm());
  const TSegments segments = filling.Read();
  const TSegments mixed = TTestFilm(MixedFilm()).Read();
  // Segments without frames, then the filling one.
  TSegments many = RepeatedSegments(TTestFilm(std::vector{NewSegment("шаг", 2, 2)}).Read(), 100000);
  many.back() = std::move(filling.Read().front());
  enum TWhen { kBefore, kMeanwhile, kAtFrame5, kAtLastFrame };
  struct TCase {
    std::string Name;
    const TSegments& Segments;
    TExportFormat Format;
    TWhen When;
  };
  const TCase cases[] = {
      {"before it starts", segments, TExportFormat::Mkv, kBefore},
      {"a hundred thousand segments", many, TExportFormat::Mp4, kMeanwhile},
      {"encoding Matroska", segments, TExportFormat::Mkv, kAtFrame5},
      {"the last frame of MP4", mixed, TExportFormat::Mp4, kAtLastFrame},
      {"encoding GIF", segments, TExportFormat::Gif, kAtFrame5},
      {"the last frame of GIF", mixed, TExportFormat::Gif, kAtLastFrame},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::atomic<bool> cancel{c.When == kBefore};
    TExportOptions options;
    options.Format = c.Format;
    options.Lossless = c.Format == TExportFormat::Mkv;
    std::thread meanwhile;
    if (c.When == kMeanwhile) meanwhile = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      cancel = true;
    });
    const TExportResult result = ExportFilm(
        c.Segments, OutFile(std::string("film") + ExportExtension(c.Format)), options, false,
        [&](const TExportProgress& p) {
          if ((c.When == kAtFrame5 && p.Frames >= 5) || (c.When == kAtLastFrame && p.Frames == p.TotalFrames))
            cancel = true;
        },
        &cancel);
    if (meanwhile.joinable()) meanwhile.join();
    EXPECT_EQ(result.Code, TExportErrc::Cancelled) << result.Details;
    if (c.When == kAtFrame5) {
      EXPECT_LT(result.Frames, 300);
    }
    EXPECT_TRUE(fs::is_empty(Out)) << Files(Out).front();
  }
  // Planning alone hears it too, in its pass over the segments.
  std::atomic<bool> cancel{true};
  EXPECT_THROW(PlanPlaying(many, TExportOptions{}, &cancel), EExport);
  TExportPlan plan = PlanPlaying(many, TExportOptions{});
  EXPECT_EQ(plan.End(), FilmMillis(many));
  EXPECT_THROW(PlanWriting(plan, many, TExportOptions{}, &cancel), EExport);
}

// Idle stretches longer than the limit cut to it: the pictures after each come earlier by what
// was cut, exactly, and the chapters (the segments', and the automatic ones when all are
// asked for) with them; key frames at every chapter's start (and, the interval being an hour,
// nowhere else but the first picture: no picture is shown twice). The engine with an index
// filled in by hand, and zrfilm with the one its pass finds.
TEST_F(TEngineFixture, IdleStretchesCutAndAutomaticChapters) {
  const TTestFilm film(IdleFilm());
  const TSegments segments = film.Read();
  // A moment with every stretch longer than `limit` before it cut to `limit`; `origin`: the
  // start of the one segment exported, whose own stretches count.
  auto cut = [&](int64_t at, int64_t limit, int64_t origin) {
    int64_t written = at;
    for (const auto& [start, end] : kIdleFilmStretches)
      if (end - start > limit && start >= origin)
        written -= std::clamp(at + origin - start - limit, int64_t{0}, end - start - limit);
    return written;
  };
  struct TCase {
    std::string Name;
    int64_t MaxIdle;
    TExportChapters Chapters;
    int32_t Segment;
    TExportFormat Format;
    std::vector<TMediaChapter> Expected;
    // zrfilm's options for the same, run with the index its pass finds; none: the engine with
    // the index filled in by hand.
    std::vector<std::string> Zrfilm = {};
  };
  const auto all = TExportChapters::All, segmentsOnly = TExportChapters::Segments;
  const TCase cases[] = {
      {"cut to 2 s", 2000, segmentsOnly, 0, TExportFormat::Mkv, {{"Работа", 0, 9100}, {"Ещё", 9100, 11700}}},
      {"automatic chapters", 0, all, 0, TExportFormat::Mkv,
       {{"Работа", 0, 11000}, {"Часть 2", 11000, 15000}, {"Ещё", 15000, 20000}}},
      {"both, MP4", 2000, all, 0, TExportFormat::Mp4, {{"Работа", 0, 7000}, {"Часть 2", 7000, 9100}, {"Ещё", 9100, 11700}}},
      {"one segment", 2000, all, 2, TExportFormat::Mkv, {{"Ещё", 0, 2600}}},
      {"zrfilm", 2000, all, 0, TExportFormat::Mkv,
       {{"Работа", 0, 7000}, {"Часть 2", 7000, 9100}, {"Ещё", 9100, 11700}},
       {"--max-idle", "2", "--chapters", "all", "--lossless"}},
      // A stretch of exactly the limit stays as it is.
      {"zrfilm, the limit of a stretch", 1500, all, 0, TExportFormat::Mkv,
       {{"Работа", 0, 6000}, {"Часть 2", 6000, 7600}, {"Ещё", 7600, 9700}},
       {"--max-idle=1.5", "--chapters=all", "--lossless"}},
      {"zrfilm, one segment", 2000, all, 2, TExportFormat::Mkv, {{"Ещё", 0, 2600}},
       {"--max-idle", "0:00:02", "--chapters", "all", "--segment", "2", "--lossless"}},
  };
  const std::string path = Package("idle.zrcab", film);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TExportOptions options;
    options.Format = c.Format;
    options.Lossless = c.Format == TExportFormat::Mkv;
    options.MaxIdle = c.MaxIdle, options.Chapters = c.Chapters, options.Segment = c.Segment;
    options.Index = IdleFilmIndex(film);
    options.KeyInterval = kMaxKeyInterval;
    const std::string out = OutFile(c.Name + ExportExtension(c.Format));
    if (c.Zrfilm.empty()) {
      const TExportResult result = ExportFilm(segments, out, options, false);
      ASSERT_TRUE(result) << result.Details;
    } else {
      const TRun run = Export({path, out, "--keyint", "3600"}, c.Zrfilm);
      ASSERT_EQ(run.Status, 0) << run.Err;
    }
    const int64_t origin = c.Segment ? SegmentStart(film.Segments, c.Segment - 1) : 0;
    auto expected = c.Segment ? OneSegment(film, c.Segment, !options.Lossless) : WholeFilm(film, !options.Lossless);
    for (TExpectedFrame& e : expected) e.Millis = cut(e.Millis, c.MaxIdle ? c.MaxIdle : INT64_MAX / 2, origin);
    const int64_t length = c.Expected.back().EndMs;
    const TMedia media = ReadMedia(out);
    ASSERT_EQ(media.Error, "");
    ExpectTimes(media, expected, length, LastFrameMs(film));
    if (options.Lossless) ExpectExactPictures(media, expected);
    else ExpectLuma(media, expected, 40.0);
    ASSERT_EQ(media.Chapters.size(), c.Expected.size());
    std::vector<int64_t> starts;
    for (size_t i = 0; i < c.Expected.size(); ++i) {
      EXPECT_EQ(media.Chapters[i].Title, c.Expected[i].Title) << i;
      EXPECT_EQ(media.Chapters[i].StartMs, c.Expected[i].StartMs) << i;
      EXPECT_EQ(media.Chapters[i].EndMs, c.Expected[i].EndMs) << i;
      starts.push_back(c.Expected[i].StartMs);
    }
    ExpectKeyFramesAt(media, starts, length, kMaxKeyInterval);
  }
}

// What the engine refuses, each with its own code, writing nothing.
TEST_F(TEngineFixture, RefusalsHaveTheirCodes) {
  const TTestFilm film(MixedFilm());
  const TSegments segments = film.Read();
  const std::string filmPath = Package("film.zrcab", film);
  WriteFileBytes(OutFile("there.mp4"), std::vector<uint8_t>{1, 2, 3});
  auto empty = film.Source;
  empty[1].Pictures.clear();
  empty[1].PaletteChanges.clear();
  const TTestFilm withEmpty(empty);
  const TSegments emptySegments = withEmpty.Read();
  const TTestFilm idle(IdleFilm());
  const TSegments idleSegments = idle.Read();
  auto incomplete = std::make_shared<TFilmIndex>(*IdleFilmIndex(idle));
  incomplete->Complete = false;
  auto with = [](auto change) {
    TExportOptions o;
    change(o);
    return o;
  };
  struct TCase {
    std::string Name;
    const TSegments* Segments;
    std::string Out;
    TExportOptions Options;
    bool Replace;
    std::string FilmPath;
    TExportErrc Code;
  };
  const TCase cases[] = {
      {"exists", &segments, OutFile("there.mp4"), {}, false, {}, TExportErrc::Exists},
      {"the film itself", &segments, filmPath, {}, true, filmPath, TExportErrc::IsFilm},
      {"no folder", &segments, OutFile("none/film.mp4"), {}, false, {}, TExportErrc::CannotCreate},
      {"no segment", &segments, OutFile("film.mp4"), with([](TExportOptions& o) { o.Segment = 4; }), false, {},
       TExportErrc::NoSegment},
      {"a segment without frames", &emptySegments, OutFile("film.mp4"),
       with([](TExportOptions& o) { o.Segment = 2; }), false, {}, TExportErrc::NoFrames},
      {"VP9 in MP4", &segments, OutFile("film.mp4"), with([](TExportOptions& o) { o.Codec = TExportCodec::Vp9; }),
       false, {}, TExportErrc::Options},
      {"lossless MP4", &segments, OutFile("film.mp4"), with([](TExportOptions& o) { o.Lossless = true; }), false, {},
       TExportErrc::Options},
      {"no key interval", &segments, OutFile("film.mp4"), with([](TExportOptions& o) { o.KeyInterval = 0; }), false,
       {}, TExportErrc::Options},
      {"a key interval over an hour", &segments, OutFile("film.mp4"),
       with([](TExportOptions& o) { o.KeyInterval = kMaxKeyInterval + 1; }), false, {}, TExportErrc::Options},
      {"idle stretches without an index", &segments, OutFile("film.mp4"),
       with([](TExportOptions& o) { o.MaxIdle = 2000; }), false, {}, TExportErrc::Options},
      {"automatic chapters without an index", &segments, OutFile("film.mp4"),
       with([](TExportOptions& o) { o.Chapters = TExportChapters::All; }), false, {}, TExportErrc::Options},
      {"the index of another film", &segments, OutFile("film.mp4"),
       with([&](TExportOptions& o) { o.MaxIdle = 2000, o.Index = IdleFilmIndex(idle); }), false, {},
       TExportErrc::Options},
      {"an index not complete", &idleSegments, OutFile("film.mp4"),
       with([&](TExportOptions& o) { o.Chapters = TExportChapters::All, o.Index = incomplete; }), false, {},
       TExportErrc::Options},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TExportResult result = ExportFilm(*c.Segments, c.Out, c.Options, c.Replace, {}, nullptr, c.FilmPath);
    EXPECT_EQ(result.Code, c.Code) << result.Details;
    EXPECT_EQ(Files(Out), std::vector<std::string>{"there.mp4"});
  }
  EXPECT_EQ(fs::file_size(OutFile("there.mp4")), 3u);
  EXPECT_EQ(fs::file_size(filmPath), MakeFilmPackage(film.Bytes).size());
}

// A film without frames has nothing to export.
TEST_F(TEngineFixture, AFilmWithoutFramesExportsNothing) {
  const TSegments none;
  TExportOptions options;
  EXPECT_EQ(ExportFilm(none, OutFile("film.mp4"), options, false).Code, TExportErrc::NoFrames);
  EXPECT_TRUE(fs::is_empty(Out));
}

}  // namespace
