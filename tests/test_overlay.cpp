// The cursor overlay, the playback step and whole films played against their pictures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <numeric>
#include <sstream>

#include "playback_support.h"
#include "support/PlaybackProbe.h"

#ifndef VERIROVE_GOLDEN_DIR
#error "VERIROVE_GOLDEN_DIR must name the folder of the golden files"
#endif

namespace {

TWriterShape Arrow() {
  // Mask-only: black outline rows, white inside, the rest transparent.
  TWriterShape s;
  s.Width = s.Height = 32;
  s.HotSpotX = 2, s.HotSpotY = 3;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const bool inside = x < 12 && y < 20 && x <= y;
      s.AndMask.push_back(inside ? 0 : 1);
      s.XorMask.push_back(inside && x > 0 && x < y ? 1 : 0);
    }
  return s;
}

TWriterShape Block(int32_t size, uint32_t colour) {
  // Colour shape: a square whose every other row keeps the background.
  TWriterShape s;
  s.Width = s.Height = size;
  s.HotSpotX = s.HotSpotY = size / 2;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      s.AndMask.push_back(uint8_t(y % 2));
      s.Color.push_back(y % 2 ? 0 : colour + uint32_t(x));
    }
  return s;
}

std::vector<uint32_t> Pattern(int32_t w, int32_t h, int k, uint32_t mask) {
  std::vector<uint32_t> p(size_t(w) * size_t(h));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      // A still background with a band that moves, like a window being dragged.
      const bool band = x >= 3 * k && x < 3 * k + 9 && y > 2;
      p[size_t(y * w + x)] = (band ? 0x00C08040u + uint32_t(y) : 0x00102030u * uint32_t(1 + (x / 7 + y / 5) % 3)) & mask;
    }
  return p;
}

// The picture a segment should show after frame k: its source picture with the cursor of
// track record k drawn over it.
std::unique_ptr<TRasterBitmap> Expected(const TWriterSegment& s, size_t k, const TColorTable& palette,
                                        const TCursorList& shapes, const TWriterCursorRec& rec) {
  const bool indexed = s.BitsPerPixel == 8;
  auto bmp = TRasterBitmap::Create(s.Width, s.Height, indexed ? 8 : 32);
  if (indexed) bmp->SetColorTable(palette);
  for (int32_t y = 0; y < s.Height; ++y)
    for (int32_t x = 0; x < s.Width; ++x) {
      const uint32_t v = s.Pictures[k][size_t(y * s.Width + x)];
      uint8_t* p = bmp->Row(y) + (indexed ? x : 4 * x);
      if (indexed) {
        p[0] = uint8_t(v);
      } else {
        p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = 0;
      }
    }
  if (const TzrCursor* shape = shapes.Items(rec.Index)) shape->Draw(*bmp, rec.X, rec.Y);
  return bmp;
}

uint64_t Fnv(std::span<const uint8_t> bytes) {
  uint64_t h = 14695981039346656037ull;
  for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
  return h;
}

std::vector<TWriterSegment> GoldenFilm() {
  std::vector<TWriterSegment> film;
  for (uint8_t bits : {uint8_t(32), uint8_t(24), uint8_t(8)}) {
    TWriterSegment s;
    s.Name = "golden " + std::to_string(bits);
    s.Width = bits == 24 ? 61 : 58;  // 61 × 3 = 183 bytes a row: 1 byte of padding
    s.Height = 37;
    s.BitsPerPixel = bits;
    s.FrameRate = 12;
    s.Shapes = {Arrow(), Block(9, 0x00305070), Block(40, 0x00603010)};
    const int frames = 12;
    for (int k = 0; k < frames; ++k) {
      s.Pictures.push_back(Pattern(s.Width, s.Height, k, bits == 8 ? 0x3F : 0xFFFFFF));
      // Moves across the frame and off its edges; frame 5 names an empty slot.
      const uint16_t index = k == 5 ? 7 : uint16_t(k % 3);
      s.Track.push_back({index, uint16_t(k * 6 % s.Width), uint16_t(k % 4 == 0 ? 0 : k * 3)});
      if (bits == 8) {
        TWriterPaletteChange change;
        change.FirstIndex = uint8_t(k == 0 ? 0 : 10 + k);
        for (int i = 0; i < (k == 0 ? 64 : 3); ++i)
          change.Entries.push_back({uint8_t(i * 4 + k), uint8_t(255 - i * 3), uint8_t(i * 2), 0});
        s.PaletteChanges.push_back(change);
      }
    }
    film.push_back(std::move(s));
  }
  return film;
}

TEST(PlayedFilms, EveryComposedPictureIsTheSourceWithItsCursor) {
  const auto film = GoldenFilm();
  TCoreFixture f;
  f.Load(film);
  std::vector<std::string> checksums;
  TColorTable palette{};
  size_t frame = 0;
  f.Host.OnComposed = [&] {
    const int32_t s = f.Core.CurSegment();
    const auto& source = film[size_t(s)];
    const size_t k = size_t(f.Core.FrameIndex());
    if (source.BitsPerPixel == 8) {
      const auto& change = source.PaletteChanges[k];
      for (size_t i = 0; i < change.Entries.size(); ++i) palette[change.FirstIndex + i] = change.Entries[i];
    }
    auto expected = Expected(source, k, palette, *f.Core.Segments()[size_t(s)]->CursorList, source.Track[k]);
    const auto picture = f.Core.Picture()->Pixels();
    ASSERT_TRUE(std::equal(picture.begin(), picture.end(), expected->Pixels().begin(), expected->Pixels().end()))
        << "segment " << s << " frame " << k;
    std::ostringstream line;
    line << s + 1 << " " << k << " " << std::hex << Fnv(picture);
    checksums.push_back(line.str());
    ++frame;
  };
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  while (f.Host.Finished == 0 && frame < 100) f.Core.TimerPlayTimer();
  EXPECT_EQ(frame, 36u);
  EXPECT_EQ(f.Host.Finished, 1);

  // The per-frame checksums are kept in the golden file, so that any change to the pictures
  // the player composes shows up, also where the model above would change along with it.
  const std::string path = std::string(VERIROVE_GOLDEN_DIR) + "/played_film.txt";
  if (std::getenv("VERIROVE_UPDATE_GOLDEN")) {
    std::ofstream out(path);
    for (const auto& line : checksums) out << line << "\n";
  }
  std::ifstream in(path);
  ASSERT_TRUE(in) << path;
  std::vector<std::string> golden;
  for (std::string line; std::getline(in, line);) golden.push_back(line);
  EXPECT_EQ(checksums, golden);
}

// A 32-bit segment 20 × 12 of one grey colour, with the shapes and track given.
TRawSegment GreySegment(const std::string& name, int frames, std::vector<TWriterShape> shapes,
                        std::vector<uint8_t> track) {
  TWriterSegment s;
  s.Name = name;
  s.Width = 20, s.Height = 12, s.BitsPerPixel = 32;
  for (int k = 0; k < frames; ++k) s.Pictures.push_back(std::vector<uint32_t>(240, 0x00808080));
  s.Shapes = std::move(shapes);
  auto raw = EncodeSegment(s);
  raw.CursorData = std::move(track);
  raw.CursorDataSize = int32_t(raw.CursorData.size());
  return raw;
}

std::vector<uint8_t> Track(std::initializer_list<TWriterCursorRec> records) {
  TByteWriter w;
  for (const auto& r : records) w.U16(r.Index).U16(r.X).U16(r.Y);
  return w.Take();
}

int CountNotGrey(const TRasterBitmap& picture) {
  int n = 0;
  for (int32_t y = 0; y < picture.Height(); ++y)
    for (int32_t x = 0; x < picture.Width(); ++x) n += picture.PixelValue(x, y) != 0x00808080u;
  return n;
}

TEST(CursorOverlay, TheTrackIsReadInStepWithTheFrames) {
  struct Step {
    uint16_t index, x, y;  // FCursorRec after the frame
    bool drawn;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> track;
    std::vector<Step> steps;
  };
  auto full = Track({{0, 10, 6}, {9, 11, 7}, {1, 0, 0}});
  auto cutTo2 = full;
  cutTo2.insert(cutTo2.end(), {1, 0});
  auto cutTo4 = full;
  cutTo4.insert(cutTo4.end(), {0, 0, 19, 0});
  const std::vector<Case> cases = {
      {"an empty slot draws nothing", full,
       {{0, 10, 6, true}, {9, 11, 7, false}, {1, 0, 0, true}, {1, 0, 0, true}}},
      {"a final record of 2 bytes takes the index only", cutTo2,
       {{0, 10, 6, true}, {9, 11, 7, false}, {1, 0, 0, true}, {1, 0, 0, true}, {1, 0, 0, true}}},
      {"a final record of 4 bytes takes index and X", cutTo4,
       {{0, 10, 6, true}, {9, 11, 7, false}, {1, 0, 0, true}, {0, 19, 0, true}, {0, 19, 0, true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TCoreFixture f;
    f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{
        GreySegment("s", int(c.steps.size()), {Arrow(), Block(9, 0x00305070)}, c.track)}));
    ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
    for (size_t k = 0; k < c.steps.size(); ++k) {
      TPlaybackProbe::DecodeFrame(f.Core);
      TPlaybackProbe::ComposeFrame(f.Core);
      const auto& rec = TPlaybackProbe::CursorRec(f.Core);
      EXPECT_EQ(rec.Index, c.steps[k].index) << k;
      EXPECT_EQ(rec.X, c.steps[k].x) << k;
      EXPECT_EQ(rec.Y, c.steps[k].y) << k;
      EXPECT_EQ(CountNotGrey(*f.Core.Picture()) > 0, c.steps[k].drawn) << k;
      EXPECT_EQ(TPlaybackProbe::CursorTrack(f.Core).Position(), std::min(6 * (k + 1), c.track.size())) << k;
      TPlaybackProbe::NextFrame(f.Core);
    }
  }
}

TEST(CursorOverlay, CursorsLeaveNoTraceAtTheEdgesOrWhenLargerThanTheSavedArea) {
  struct Case {
    const char* name;
    TWriterShape shape;
    uint16_t x, y;
  };
  const Case cases[] = {
      {"arrow at the corner", Arrow(), 0, 0},
      {"arrow past the bottom right", Arrow(), 19, 11},
      {"colour block of 40 × 40", Block(40, 0x00FF0000), 10, 6},
      {"colour block of 40 × 40 at the corner", Block(40, 0x0000FF00), 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TCoreFixture f;
    // The cursor shows on frame 0 and is gone (empty slot) on frame 1.
    f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{
        GreySegment("s", 2, {c.shape}, Track({{0, c.x, c.y}, {1, 0, 0}}))}));
    ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
    f.Core.TimerPlayTimer();
    EXPECT_GT(CountNotGrey(*f.Core.Picture()), 0);
    f.Core.TimerPlayTimer();
    EXPECT_EQ(CountNotGrey(*f.Core.Picture()), 0);
  }
}

TEST(CursorOverlay, AnEmptyTrackKeepsTheLastRecordIntoTheNextSegment) {
  TCoreFixture f;
  f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{
      GreySegment("a", 1, {Arrow()}, Track({{0, 5, 5}})),
      GreySegment("b", 2, {Block(9, 0x00FF00FF), Arrow()}, {})}));
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  f.Core.TimerPlayTimer();  // segment a's only frame, then b is activated
  ASSERT_EQ(f.Core.CurSegment(), 1);
  for (int k = 0; k < 2; ++k) {
    f.Core.TimerPlayTimer();
    EXPECT_EQ(TPlaybackProbe::CursorRec(f.Core).Index, 0);
    EXPECT_EQ(TPlaybackProbe::CursorRec(f.Core).X, 5);
    // Slot 0 of segment b is the colour block, its hot spot (4, 4) on (5, 5): its even rows
    // clear the picture and put their colour in.
    EXPECT_EQ(f.Core.Picture()->PixelValue(5, 5), 0x00FF00FFu + 4);
    EXPECT_EQ(f.Core.Picture()->PixelValue(5, 4), 0x00808080u);
  }
}

TEST(CursorOverlay, EightBitPicturesKeepTheirIndicesAcrossPaletteChanges) {
  TWriterSegment s;
  s.Name = "eight";
  s.Width = 16, s.Height = 8, s.BitsPerPixel = 8;
  for (int k = 0; k < 3; ++k) s.Pictures.push_back(std::vector<uint32_t>(128, 3));
  s.PaletteChanges = {{0, {{0, 0, 0, 0}, {255, 255, 255, 0}, {9, 9, 9, 0}, {50, 60, 70, 0}}},
                      {3, {{1, 2, 3, 0}}},
                      {}};
  s.Shapes = {Arrow()};
  s.Track = {{0, 4, 4}, {0, 8, 4}, {0, 8, 4}};
  TCoreFixture f;
  f.Load(std::span(&s, 1));
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  for (int k = 0; k < 3; ++k) {
    f.Core.TimerPlayTimer();
    // Outside the arrow every index is 3, whatever colour entry 3 has become.
    EXPECT_EQ(f.Core.Picture()->PixelValue(15, 0), 3u) << k;
    EXPECT_EQ(f.Core.Picture()->PixelValue(0, 7), 3u) << k;
    // The arrow's white inside is the entry nearest to white: 1.
    EXPECT_EQ(f.Core.Picture()->PixelValue(s.Track[size_t(k)].X - 2 + 1, 4 - 3 + 5), 1u) << k;
  }
}

// ---- The playback step ----

TEST(PlaybackStep, FrameIntervalsFollowTheFrameRate) {
  const std::pair<int, int> cases[] = {{15, 66}, {25, 40}, {30, 33}, {255, 3}, {0, 100}, {1, 1000}};
  for (auto [rate, ms] : cases) EXPECT_EQ(TPlaybackCore::FrameInterval(uint8_t(rate)), ms) << rate;
}

std::vector<TRawSegment> ThreeSegments(int a, int b, int c) {
  std::vector<TRawSegment> segments;
  for (int frames : {a, b, c}) {
    auto s = GreySegment("seg" + std::to_string(frames), frames, {}, {});
    s.FrameRate = s.ListFrameRate = uint8_t(frames);
    segments.push_back(s);
  }
  return segments;
}

TEST(PlaybackStep, ProgressRunsOverTheSegmentsAndTheFilmEnds) {
  TCoreFixture f;
  f.LoadBytes(WriteFilmRaw(ThreeSegments(10, 20, 5)));
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  for (int tick = 0; tick < 100 && f.Host.Finished == 0; ++tick) f.Core.TimerTimer();
  std::vector<int64_t> expected(35);
  std::iota(expected.begin(), expected.end(), 1);
  EXPECT_EQ(f.Host.Progress, expected);
  EXPECT_EQ(f.Host.Finished, 1);
  EXPECT_EQ(f.Host.Stops, 1);
  EXPECT_EQ(f.Host.Intervals, (std::vector<int>{100, 50, 200}));
  EXPECT_TRUE(f.Host.Results.empty());
}

TEST(PlaybackStep, EachTickPresentsThePictureComposedBefore) {
  TCoreFixture f;
  f.LoadBytes(WriteFilmRaw(ThreeSegments(3, 1, 1)));
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  f.Host.Events.clear();
  for (int tick = 0; tick < 5 && f.Host.Finished == 0; ++tick) {
    f.Core.TimerTimer();
    f.Host.Events.push_back("|");
  }
  // The last frame of a segment is composed but never presented: the next activation
  // clears the picture first.
  const std::vector<std::string> expected = {
      "compose 0", "present", "compose 1", "|",
      "present", "compose 2", "activate seg1", "|",
      "compose 0", "activate seg1", "present", "compose 0", "stop", "finished", "|"};
  std::vector<std::string> events;
  for (const auto& e : f.Host.Events) events.push_back(e.rfind("present", 0) == 0 ? "present" : e);
  EXPECT_EQ(events, expected);
}

TEST(PlaybackStep, AFilmThatEndsInTheFirstStepOfATickIsNotPlayedAgain) {
  TCoreFixture f;
  f.LoadBytes(WriteFilmRaw(std::vector<TRawSegment>{GreySegment("only", 1, {}, {})}));
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  f.Core.TimerTimer();
  EXPECT_EQ(f.Host.Finished, 1);
  EXPECT_EQ(f.Host.Progress, (std::vector<int64_t>{1}));
  for (const auto& e : f.Host.Events) EXPECT_NE(e.rfind("present", 0), 0u) << e;
}

TEST(PlaybackStep, ActivationChecksComeInTheirOrder) {
  TCoreFixture noBuffer(0);
  noBuffer.Core.FreeFrameBuffer();
  EXPECT_EQ(noBuffer.Core.SetCurSegment(), kResultSegmentIsNil);
  EXPECT_EQ(TPlaybackProbe::NextSegment(noBuffer.Core), kResultSegmentIsNil);
  TCoreFixture empty;
  EXPECT_EQ(empty.Core.SetCurSegment(), kResultNoSegments);
  TCoreFixture past;
  past.LoadBytes(WriteFilmRaw(ThreeSegments(1, 1, 1)));
  EXPECT_FALSE(past.Core.SelectSegment(3));  // no such segment: nothing changes
  EXPECT_EQ(past.Core.CurSegment(), 0);
  EXPECT_TRUE(past.Core.SelectSegment(2));
  EXPECT_EQ(TPlaybackProbe::NextSegment(past.Core), kResultOutOfIndexBound);
  EXPECT_EQ(past.Core.CurSegment(), 3);
  // Past the last segment: activation starts at the first.
  EXPECT_EQ(past.Core.SetCurSegment(), kResultOk);
  EXPECT_EQ(past.Core.CurSegment(), 0);
}

}  // namespace
