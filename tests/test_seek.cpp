// Random access: the film's clock, times as people type them, and seeks that compose exactly
// the pictures that playing straight through composes.
#include <gtest/gtest.h>

#include <random>

#include "playback/FilmClock.h"
#include "playback_support.h"

namespace {

std::unique_ptr<Segment> ClockSegment(int32_t frames, uint8_t rate) {
  auto segment = std::make_unique<Segment>();
  segment->FrameCount = frames;
  segment->FrameRate = rate;
  return segment;
}

TSegments ClockFilm(std::initializer_list<std::pair<int32_t, uint8_t>> segments) {
  TSegments film;
  for (const auto& [frames, rate] : segments) film.push_back(ClockSegment(frames, rate));
  return film;
}

TEST(FilmClock, FramesAndTimesOverTheWholeFilm) {
  // 10 frames at 4/s (2.5 s), a segment without a rate, 3 frames at 3/s (1 s), an empty one.
  const TSegments film = ClockFilm({{10, 4}, {5, 0}, {3, 3}, {0, 10}});
  EXPECT_EQ(FilmMillis(film), 3500);
  EXPECT_EQ(SegmentStart(film, 2), 2500);
  struct {
    int64_t Millis;
    TFramePos Frame;
  } cases[] = {
      {-5, {0, 0}},    {0, {0, 0}},     {249, {0, 0}},   {250, {0, 1}},
      {2499, {0, 9}},  {2500, {2, 0}},  {2832, {2, 0}},  {2833, {2, 1}},
      {3166, {2, 1}},  {3167, {2, 2}},  {3499, {2, 2}},  {3500, {2, 2}},
      {99999, {2, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Millis);
    const auto frame = FrameAtTime(film, c.Millis);
    ASSERT_TRUE(frame);
    EXPECT_EQ(*frame, c.Frame);
  }
  // Every frame's time leads back to that frame, in segments that last some time.
  for (int32_t s : {0, 2})
    for (int32_t f = 0; f < film[size_t(s)]->FrameCount; ++f)
      EXPECT_EQ(FrameAtTime(film, FrameTime(film, {s, f})), (TFramePos{s, f}));
  EXPECT_EQ(FrameTime(film, {2, 1}), 2500 + 333);
  EXPECT_EQ(FirstFrame(film), (TFramePos{0, 0}));
  EXPECT_EQ(LastFrame(film), (TFramePos{2, 2}));
  EXPECT_FALSE(FrameAtTime(ClockFilm({{0, 10}}), 0));
  EXPECT_FALSE(LastFrame(TSegments{}));
}

TEST(FilmClock, TimesAsPeopleTypeThem) {
  struct {
    const char* Text;
    int64_t Millis;  // -1: malformed
  } cases[] = {
      {"0", 0},
      {"83", 83000},
      {"83.5", 83500},
      {"83.25", 83250},
      {"1:23", 83000},
      {"90:00", 5400000},
      {"0:01:23.250", 83250},
      {"2:00:00", 7200000},
      {"0.001", 1},
      {"", -1},
      {"-1", -1},
      {"1:2", -1},
      {"1:60", -1},
      {"1:00:60", -1},
      {"1:2:3:4", -1},
      {"1.", -1},
      {".5", -1},
      {"1.2345", -1},
      {"1:23.", -1},
      {" 1", -1},
      {"1 ", -1},
      {"1e3", -1},
      {"99999999999", -1},
      {"100000:00:00", -1},
      {"99999:59:59.999", 359999999999},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    int64_t millis = -7;
    EXPECT_EQ(ParseFilmTime(c.Text, millis), c.Millis >= 0);
    if (c.Millis >= 0) {
      EXPECT_EQ(millis, c.Millis);
    }
  }
  EXPECT_EQ(FormatClock(83999), "0:01:23");
  EXPECT_EQ(FormatClock(300000), "0:05:00");
  EXPECT_EQ(FormatClock(36000000 + 61000), "10:01:01");
  EXPECT_EQ(FormatClock(-5), "0:00:00");
}

// ---- Seeks ----

// A random film: segments of every depth and of different sizes, pictures that change in
// patches and now and then all over, palette changes, and cursors of both kinds moving about.
std::vector<TWriterSegment> RandomFilm(std::mt19937& rng) {
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<TWriterSegment> film;
  const int segments = pick(2, 4);
  for (int s = 0; s < segments; ++s) {
    TWriterSegment seg;
    seg.Name = "s" + std::to_string(s);
    seg.BitsPerPixel = uint8_t(std::array{8, 24, 32}[size_t(pick(0, 2))]);
    seg.Width = pick(5, 40);
    seg.Height = pick(3, 30);
    seg.FrameRate = uint8_t(pick(1, 25));
    const int frames = pick(1, 30);
    const uint32_t valueMask = seg.BitsPerPixel == 8 ? 0xFFu : 0xFFFFFFu;
    std::vector<uint32_t> picture(size_t(seg.Width * seg.Height));
    for (int f = 0; f < frames; ++f) {
      if (pick(0, 6) == 0) {
        for (uint32_t& p : picture) p = uint32_t(rng()) & valueMask;
      } else {
        const int patches = pick(0, 3);
        for (int k = 0; k < patches; ++k) {
          const int x0 = pick(0, seg.Width - 1), y0 = pick(0, seg.Height - 1);
          const int x1 = pick(x0, seg.Width - 1), y1 = pick(y0, seg.Height - 1);
          const uint32_t value = uint32_t(rng()) & valueMask;
          for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) picture[size_t(y * seg.Width + x)] = value;
        }
      }
      seg.Pictures.push_back(picture);
      if (seg.BitsPerPixel == 8) {
        TWriterPaletteChange change;
        if (pick(0, 2) == 0) {
          change.FirstIndex = uint8_t(pick(0, 250));
          for (int e = pick(1, 5); e > 0; --e)
            change.Entries.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0});
        }
        seg.PaletteChanges.push_back(change);
      }
      seg.Track.push_back({uint16_t(pick(0, 2)), uint16_t(pick(0, seg.Width + 5)),
                           uint16_t(pick(0, seg.Height + 5))});
    }
    TWriterShape mask;
    mask.Width = mask.Height = 32;
    mask.HotSpotX = 3, mask.HotSpotY = 2;
    mask.AndMask.resize(32 * 32);
    mask.XorMask.resize(32 * 32);
    for (size_t i = 0; i < mask.AndMask.size(); ++i) {
      mask.AndMask[i] = uint8_t(rng() & 1);
      mask.XorMask[i] = uint8_t(rng() & 1);
    }
    TWriterShape colour;
    colour.Width = colour.Height = 16;
    colour.AndMask.resize(16 * 16);
    colour.Color.resize(16 * 16);
    for (size_t i = 0; i < colour.Color.size(); ++i) {
      colour.AndMask[i] = uint8_t(rng() & 1);
      colour.Color[i] = uint32_t(rng()) & 0xFFFFFFu;
    }
    seg.Shapes = {mask, colour};
    film.push_back(std::move(seg));
  }
  return film;
}

// The picture's bytes, palette included for 8-bit pictures.
std::vector<uint8_t> PictureBytes(const TPlaybackCore& core) {
  const TRasterBitmap* picture = core.Picture();
  std::vector<uint8_t> bytes(picture->Pixels().begin(), picture->Pixels().end());
  if (picture->BitsPerPixel() == 8) {
    const auto* table = reinterpret_cast<const uint8_t*>(picture->ColorTable().data());
    bytes.insert(bytes.end(), table, table + sizeof(TColorTable));
  }
  return bytes;
}

// Every picture of the film, played straight through: [segment][frame].
std::vector<std::vector<std::vector<uint8_t>>> StraightPictures(const std::vector<uint8_t>& bytes) {
  TCoreFixture f;
  f.LoadBytes(bytes);
  std::vector<std::vector<std::vector<uint8_t>>> pictures(f.Core.Segments().size());
  f.Host.OnComposed = [&] { pictures[size_t(f.Core.CurSegment())].push_back(PictureBytes(f.Core)); };
  EXPECT_EQ(f.Core.SetCurSegment(), kResultOk);
  while (f.Host.Finished == 0 && f.Host.Results.empty()) f.Core.TimerPlayTimer();
  return pictures;
}

TEST(Seek, EveryFrameReachedByASeekIsTheStraightPicture) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    const auto bytes = WriteFilm(RandomFilm(rng));
    const auto straight = StraightPictures(bytes);
    TCoreFixture f;
    f.LoadBytes(bytes);
    std::vector<TFramePos> frames;
    for (size_t s = 0; s < straight.size(); ++s)
      for (size_t k = 0; k < straight[s].size(); ++k) frames.push_back({int32_t(s), int32_t(k)});
    // Forwards, backwards, then in random order.
    std::vector<TFramePos> order = frames;
    order.insert(order.end(), frames.rbegin(), frames.rend());
    std::shuffle(frames.begin(), frames.end(), rng);
    order.insert(order.end(), frames.begin(), frames.end());
    for (const TFramePos& pos : order) {
      ASSERT_EQ(f.Core.SeekFrame(pos), kResultOk);
      ASSERT_EQ(f.Core.ComposedFrame(), pos);
      ASSERT_EQ(PictureBytes(f.Core), straight[size_t(pos.Segment)][size_t(pos.Frame)])
          << "segment " << pos.Segment << " frame " << pos.Frame;
      // The progress counts the frames played up to and including this one.
      int64_t played = pos.Frame + 1;
      for (int32_t before = 0; before < pos.Segment; ++before) played += int64_t(straight[size_t(before)].size());
      ASSERT_EQ(f.Host.Progress.back(), played);
    }
    EXPECT_TRUE(f.Host.Results.empty());
  }
}

TEST(Seek, PlayingOnAfterASeekGivesTheStraightPictures) {
  std::mt19937 rng(7);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    const auto bytes = WriteFilm(RandomFilm(rng));
    const auto straight = StraightPictures(bytes);
    TCoreFixture f;
    f.LoadBytes(bytes);
    // A seek to a random frame, then play to the end of the film.
    const int32_t s = int32_t(rng() % straight.size());
    const int32_t k = int32_t(rng() % straight[size_t(s)].size());
    ASSERT_EQ(f.Core.SeekFrame({s, k}), kResultOk);
    std::vector<TFramePos> played;
    f.Host.OnComposed = [&] {
      const TFramePos pos = *f.Core.ComposedFrame();
      played.push_back(pos);
      EXPECT_EQ(PictureBytes(f.Core), straight[size_t(pos.Segment)][size_t(pos.Frame)]);
    };
    while (f.Host.Finished == 0 && f.Host.Results.empty()) f.Core.TimerPlayTimer();
    // Every frame after the one sought, in order, and nothing else.
    std::vector<TFramePos> expected;
    for (int32_t seg = s; seg < int32_t(straight.size()); ++seg)
      for (int32_t fr = seg == s ? k + 1 : 0; fr < int32_t(straight[size_t(seg)].size()); ++fr)
        expected.push_back({seg, fr});
    EXPECT_EQ(played, expected);
    EXPECT_EQ(f.Host.Finished, 1);
  }
}

TEST(Seek, FramesThatDoNotExistChangeNothing) {
  std::mt19937 rng(3);
  TCoreFixture f;
  f.LoadBytes(WriteFilm(RandomFilm(rng)));
  ASSERT_EQ(f.Core.SeekFrame({0, 0}), kResultOk);
  const auto before = PictureBytes(f.Core);
  const int32_t segments = int32_t(f.Core.Segments().size());
  for (const TFramePos pos : {TFramePos{-1, 0}, TFramePos{segments, 0}, TFramePos{0, -1},
                              TFramePos{0, f.Core.Segments()[0]->FrameCount}}) {
    EXPECT_EQ(f.Core.SeekFrame(pos), kResultOutOfIndexBound);
    EXPECT_EQ(f.Core.ComposedFrame(), (TFramePos{0, 0}));
    EXPECT_EQ(PictureBytes(f.Core), before);
  }
}

}  // namespace
