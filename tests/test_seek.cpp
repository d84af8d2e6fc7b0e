// Random access: the film's clock, times as people type them, and seeks that compose exactly
// the pictures that playing straight through composes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "playback/Checkpoints.h"
#include "playback/FilmClock.h"
#include "playback_support.h"
#include "support/PlaybackProbe.h"
#include "support/SeekFilms.h"

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
  // Neighbours and counting over the segments, the one without frames passed over.
  EXPECT_EQ(FrameAfter(film, {0, 9}), (TFramePos{1, 0}));
  EXPECT_EQ(FrameAfter(film, {1, 4}), (TFramePos{2, 0}));
  EXPECT_FALSE(FrameAfter(film, {2, 2}));
  EXPECT_EQ(FrameBefore(film, {2, 0}), (TFramePos{1, 4}));
  EXPECT_FALSE(FrameBefore(film, {0, 0}));
  EXPECT_FALSE(FrameAfter(film, {4, 0}));
  EXPECT_EQ(FrameOfFilm(film, 15), (TFramePos{2, 0}));
  EXPECT_FALSE(FrameOfFilm(film, 18));
  EXPECT_FALSE(FrameOfFilm(film, -1));
  EXPECT_LT((TFramePos{0, 9}), (TFramePos{1, 0}));
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

TEST(Seek, EveryFrameReachedByASeekIsTheStraightPicture) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    TSeekFixture f(WriteFilm(RandomFilm(rng)));
    for (const TFramePos& pos : SeekOrder(f.Straight, rng)) ASSERT_TRUE(SeekGivesStraight(f, pos));
    EXPECT_TRUE(f.Host.Results.empty());
  }
}

TEST(Seek, PlayingOnAfterASeekGivesTheStraightPictures) {
  std::mt19937 rng(7);
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE(round);
    TSeekFixture f(WriteFilm(RandomFilm(rng)));
    const TPictures& straight = f.Straight;
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

// ---- Checkpoints ----

TEST(Checkpoints, LongSegmentsSeekThroughCheckpointsWithinTheBudget) {
  struct {
    const char* Name;
    size_t Budget;
    bool Kept;     // checkpoints are there after the seeks
    bool Handed;   // a second core played the film first and handed its checkpoints over
    size_t Segments = 2;  // at least
  } cases[] = {
      {"the player's budget", TCheckpointStore::kDefaultBudget, true, false},
      {"a tight budget: spacing widens, other segments give way", 48 << 10, true, false},
      {"no room: every seek plays from the segment's start", 0, false, false},
      {"handed over by a pass over the whole film", TCheckpointStore::kDefaultBudget, true, true},
      {"handed over by a pass, a tight budget shared by work", 48 << 10, true, true},
      {"handed over by a pass over many segments", 320 << 10, true, true, 12},
  };
  std::mt19937 rng(1207);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    for (int round = 0; round < 2; ++round) {
      std::vector<TWriterSegment> film;
      while (film.size() < c.Segments)
        for (auto& segment : RandomFilm(rng, 40, 80)) film.push_back(std::move(segment));
      TSeekFixture f(WriteFilm(film));
      TPlaybackProbe::SetCheckpointBudget(f.Core, c.Budget);
      // Every segment's checkpoints fit in the budget at once: none pushes out another.
      std::vector<std::vector<int32_t>> handed(f.Straight.size());
      if (c.Handed)
        for (THandedCheckpoints& h : PlayPass(f.Core, {.Budget = c.Budget})) {
          const int32_t s = h.Segment();
          if (h.Empty()) continue;
          handed[size_t(s)] = h.Frames();
          ASSERT_TRUE(f.Core.AdoptCheckpoints(std::move(h)));
        }
      for (size_t s = 0; s < handed.size(); ++s)
        EXPECT_EQ(TPlaybackProbe::CheckpointFrames(f.Core, int32_t(s)), handed[s]);
      if (c.Handed) {
        EXPECT_GE(std::count_if(handed.begin(), handed.end(), [](const auto& h) { return h.size() >= 2; }),
                  ptrdiff_t(handed.size() / 2));
      }
      size_t most = 0;
      for (const TFramePos& pos : SeekOrder(f.Straight, rng)) {
        ASSERT_TRUE(SeekGivesStraight(f, pos));
        ASSERT_LE(TPlaybackProbe::CheckpointBytes(f.Core), c.Budget);
        most = std::max(most, TPlaybackProbe::CheckpointFrames(f.Core, pos.Segment).size());
      }
      // A segment of 40 frames or more crosses several checkpoints.
      if (c.Kept) {
        EXPECT_GE(most, 3u);
      } else {
        EXPECT_EQ(most, 0u);
      }
      // With the player's budget, the handed checkpoints were all the seeks needed.
      for (size_t s = 0; c.Handed && c.Budget == TCheckpointStore::kDefaultBudget && s < handed.size(); ++s)
        EXPECT_EQ(TPlaybackProbe::CheckpointFrames(f.Core, int32_t(s)), handed[s]);
      EXPECT_TRUE(f.Host.Results.empty());
    }
  }
}

// Checkpoints handed over from a second core are kept only when they give the pictures this
// core gives; refused ones change nothing here. Kept ones give the straight pictures.
TEST(Checkpoints, HandedOverOnlyWhereTheyHold) {
  TColorTable leftOver{};
  for (size_t i = 0; i < leftOver.size(); ++i) leftOver[i] = {uint8_t(i), uint8_t(3 * i), 7, 0};
  enum TPlayer { Fresh, PlayedThrough, OtherPalette, OtherBuffer, FilmReadAgain, AdoptedTwice };
  struct {
    const char* Name;
    TPlayer Player;
    TPassSetup Pass;
    bool Adopted;
  } cases[] = {
      {"the same conditions", Fresh, {}, true},
      {"they replace the checkpoints playing made", PlayedThrough, {}, true},
      {"the pass without the cursor", Fresh, {.CursorShown = false}, false},
      // The picture is the film's depth whatever the screen's: a window on a 24-bit display
      // takes what a pass with the headless 32 made.
      {"the pass for another screen depth", Fresh, {.ScreenBits = 16}, true},
      {"another frame buffer", OtherBuffer, {}, false},
      {"the same film read again: other segments", FilmReadAgain, {}, false},
      {"a palette left by the film before, not given to the pass", OtherPalette, {.PlayersPalette = false}, false},
      {"a palette left by the film before, given to the pass", OtherPalette, {}, true},
      {"handed over twice", AdoptedTwice, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::mt19937 rng(4711);
    std::vector<TWriterSegment> film = RandomFilm(rng, 30, 50);
    for (auto& segment : film) segment.BitsPerPixel = 8;  // the palette a film starts from shows
    TSeekFixture f(WriteFilm(film));
    if (c.Player == OtherPalette) {
      f.Core.SetFilmPalette(leftOver);
      f.Straight = StraightPictures(WriteFilm(film), &leftOver);
    }
    const std::vector<uint8_t> bytes = WriteFilm(film);
    std::vector<THandedCheckpoints> handed = PlayPass(f.Core, c.Pass);
    if (c.Player == OtherBuffer) f.Core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize / 2);
    if (c.Player == FilmReadAgain) f.LoadBytes(bytes);
    if (c.Player == PlayedThrough) {
      ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
      while (f.Host.Finished == 0) f.Core.TimerPlayTimer();
    }
    for (THandedCheckpoints& h : c.Player == AdoptedTwice ? PlayPass(f.Core) : std::vector<THandedCheckpoints>{})
      ASSERT_TRUE(f.Core.AdoptCheckpoints(std::move(h)));
    ASSERT_EQ(handed.size(), f.Straight.size());
    for (THandedCheckpoints& h : handed) {
      const int32_t s = h.Segment();
      ASSERT_FALSE(h.Empty());
      const auto frames = h.Frames();
      const auto before = TPlaybackProbe::CheckpointFrames(f.Core, s);
      const size_t bytesBefore = TPlaybackProbe::CheckpointBytes(f.Core);
      EXPECT_EQ(f.Core.AdoptCheckpoints(std::move(h)), c.Adopted);
      EXPECT_EQ(TPlaybackProbe::CheckpointFrames(f.Core, s), c.Adopted ? frames : before);
      if (!c.Adopted) {
        EXPECT_EQ(TPlaybackProbe::CheckpointBytes(f.Core), bytesBefore);
      }
    }
    for (const TFramePos& pos : SeekOrder(f.Straight, rng)) ASSERT_TRUE(SeekGivesStraight(f, pos));
  }
  // A segment without checkpoints hands nothing over.
  std::mt19937 rng(5);
  TSeekFixture f(WriteFilm(RandomFilm(rng, 3, 5)));
  EXPECT_TRUE(f.Core.TakeCheckpoints(0).Empty());
  EXPECT_FALSE(f.Core.AdoptCheckpoints(f.Core.TakeCheckpoints(0)));
}

TEST(Checkpoints, PlayingTakesThemAndSeeksInTheSegmentDoNotActivateItAgain) {
  std::mt19937 rng(99);
  TSeekFixture f(WriteFilm(RandomFilm(rng, 30, 60)));
  const TPictures& straight = f.Straight;
  ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
  while (f.Host.Finished == 0) f.Core.TimerPlayTimer();
  for (size_t s = 0; s < straight.size(); ++s)
    EXPECT_FALSE(TPlaybackProbe::CheckpointFrames(f.Core, int32_t(s)).empty());
  const int32_t last = int32_t(straight.size()) - 1;
  const size_t activations = f.Host.Intervals.size();
  ASSERT_TRUE(SeekGivesStraight(f, {last, 3}));
  EXPECT_EQ(f.Host.Intervals.size(), activations + 1);
  for (int32_t k : {20, 2, 0, 29, 28, 27, 5})
    ASSERT_TRUE(SeekGivesStraight(f, {last, k}));
  EXPECT_EQ(f.Host.Intervals.size(), activations + 1);
  // The frame shown again: only the progress hears of it.
  const size_t events = f.Host.Events.size(), progress = f.Host.Progress.size();
  ASSERT_TRUE(SeekGivesStraight(f, {last, 5}));
  EXPECT_EQ(f.Host.Events.size(), events);
  EXPECT_EQ(f.Host.Progress.size(), progress + 1);
}

// Seeks, steps, playing, Stop, choosing a segment and starting it, in random turns: every
// seek gives the straight picture, and so does every frame played after a seek.
TEST(Checkpoints, SeeksAmidPlayingStoppingAndChoosingSegments) {
  std::mt19937 rng(4242);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    TSeekFixture f(WriteFilm(RandomFilm(rng, 10, 70)));
    const TPictures& straight = f.Straight;
    const auto frames = AllFrames(straight);
    bool sought = false;  // playing on from a seek, so the pictures are the straight ones
    f.Host.OnComposed = [&] {
      const TFramePos pos = *f.Core.ComposedFrame();
      if (sought) {
        EXPECT_EQ(PictureBytes(f.Core), straight[size_t(pos.Segment)][size_t(pos.Frame)]);
      }
    };
    for (int action = 0; action < 80; ++action) {
      switch (pick(0, 5)) {
        case 0:
          ASSERT_TRUE(SeekGivesStraight(f, frames[size_t(pick(0, int(frames.size()) - 1))]));
          sought = true;
          break;
        case 1:
        case 2: {  // frame step back or forwards from the frame shown
          const auto shown = f.Core.ComposedFrame();
          if (!shown || !sought) break;
          const auto at = std::find(frames.begin(), frames.end(), *shown) - frames.begin();
          const auto to = std::clamp<ptrdiff_t>(at + (action % 2 ? 1 : -1), 0, ptrdiff_t(frames.size()) - 1);
          ASSERT_TRUE(SeekGivesStraight(f, frames[size_t(to)]));
          break;
        }
        case 3: {  // play on for a while, while nothing stopped playback
          if (!sought) break;
          const int stops = f.Host.Stops;
          for (int n = pick(1, 25); n > 0 && f.Host.Stops == stops; --n) f.Core.TimerPlayTimer();
          if (f.Host.Stops != stops) sought = false;
          break;
        }
        case 4:
          f.Core.Stop();
          sought = false;
          break;
        case 5: {  // a segment chosen and played from its start, from whatever palette is left
          sought = false;
          f.Core.SelectSegment(pick(0, int(straight.size()) - 1));
          ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
          for (int n = pick(0, 10); n > 0 && f.Host.Finished == 0; --n) f.Core.TimerPlayTimer();
          break;
        }
      }
    }
    EXPECT_TRUE(f.Host.Results.empty());
  }
}

// Frames whose runs stop short of the frame's end, so the frame image carries over from
// frame to frame and checkpoints must hold it; at every depth, with the runs combined
// straight into the picture and through the frame image.
TEST(Checkpoints, FramesThatLeavePartOfTheFrameImage) {
  std::mt19937 rng(555);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (const uint8_t bits : {uint8_t(8), uint8_t(24), uint8_t(32)})
    for (const bool straightComposition : {true, false}) {
      SCOPED_TRACE(testing::Message() << int(bits) << " bits, straight " << straightComposition);
      const int32_t width = 13, height = 7, frames = 90;
      std::vector<uint8_t> data, palette;
      TByteWriter track;
      for (int32_t k = 0; k < frames; ++k) {
        // None, some or all of the pixels, in runs of random values.
        const int covered = std::array{0, pick(1, width * height - 1), width * height}[size_t(pick(0, 2))];
        std::vector<TWriterRun> runs;
        for (int done = 0; done < covered;) {
          const int n = std::min(pick(1, 9), covered - done);
          runs.push_back({uint32_t(rng()) & (bits == 8 ? 0xFFu : 0xFFFFFFu), uint32_t(n)});
          done += n;
        }
        const auto record = EncodeFrameRecord(runs, bits);
        data.insert(data.end(), record.begin(), record.end());
        TWriterPaletteChange change;
        if (pick(0, 1)) change.Entries.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0});
        const auto paletteRecord = EncodePaletteRecord(change);
        palette.insert(palette.end(), paletteRecord.begin(), paletteRecord.end());
        track.U16(0).U16(uint16_t(pick(0, width))).U16(uint16_t(pick(0, height)));
      }
      TRawSegment segment = RawSegment("partial", width, height, bits, frames, data, track.Take(),
                                       bits == 8 ? palette : std::vector<uint8_t>{});
      TSeekFixture f(WriteFilmRaw(std::vector<TRawSegment>{segment}));
      const TPictures& straight = f.Straight;
      ASSERT_EQ(straight.size(), 1u);
      ASSERT_EQ(straight[0].size(), size_t(frames));
      TPlaybackProbe::SetStraightComposition(f.Core, straightComposition);
      for (const TFramePos& pos : SeekOrder(straight, rng)) ASSERT_TRUE(SeekGivesStraight(f, pos));
      EXPECT_GE(TPlaybackProbe::CheckpointFrames(f.Core, 0).size(), 3u);
    }
}

// A track shorter than its segment leaves the cursor record where the segment before (or
// the track's last bytes) left it; seeks start a segment with the record playing the film
// from its start gives it, whatever was played before.
TEST(Seek, ShortCursorTracksCarryTheRecordOver) {
  for (const size_t kept : {size_t(0), size_t(3), size_t(10)}) {
    SCOPED_TRACE(kept);
    std::mt19937 rng(uint32_t(31 + kept));
    auto film = RandomFilm(rng, 4, 12);
    while (film.size() < 3) film = RandomFilm(rng, 4, 12);
    std::vector<TRawSegment> raws;
    for (const auto& segment : film) raws.push_back(EncodeSegment(segment));
    for (size_t i = 1; i < raws.size(); i += 2) {
      raws[i].CursorData.resize(std::min(kept, raws[i].CursorData.size()));
      raws[i].CursorDataSize = int32_t(raws[i].CursorData.size());
    }
    TSeekFixture f(WriteFilmRaw(raws));
    const TPictures& straight = f.Straight;
    // Played through first, then every frame sought from the end of another segment.
    ASSERT_EQ(f.Core.SetCurSegment(), kResultOk);
    while (f.Host.Finished == 0) f.Core.TimerPlayTimer();
    const int32_t last = int32_t(straight.size()) - 1;
    for (const TFramePos& pos : AllFrames(straight)) {
      const int32_t other = pos.Segment == last ? 0 : last;
      ASSERT_TRUE(SeekGivesStraight(f, {other, int32_t(straight[size_t(other)].size()) - 1}));
      ASSERT_TRUE(SeekGivesStraight(f, pos));
    }
  }
}

// A film of hundreds of segments: the palette and cursor record a segment starts from are
// played on from those kept every so many segments, and seeks far forwards and back again,
// across them, give what playing straight through gives.
TEST(Seek, SegmentsFarIntoTheFilmStartFromWhatTheOnesBeforeLeft) {
  std::mt19937 rng(700);
  std::vector<TRawSegment> raws;
  while (raws.size() < 700) {
    for (const auto& segment : RandomFilm(rng, 1, 2)) {
      raws.push_back(EncodeSegment(segment));
      // Every third track is empty: the record carries over.
      if (raws.size() % 3 == 0) raws.back().CursorData.clear(), raws.back().CursorDataSize = 0;
    }
  }
  TSeekFixture f(WriteFilmRaw(raws));
  for (const TFramePos& pos : SeekOrder(f.Straight, rng)) ASSERT_TRUE(SeekGivesStraight(f, pos));
}

// A budget shared by work: each segment keeps to its share, and a segment taken out leaves
// what it did not use to those not taken out.
TEST(Checkpoints, SharesOfABudgetSharedByWork) {
  const size_t one = TCheckpoint{}.MemoryBytes();
  struct {
    const char* Name;
    std::vector<int64_t> Work;
    int First;       // checkpoints the first segment keeps, then it is taken out (-1: not)
    int Second;      // checkpoints the second one is given in turn
    bool AllKept;    // the second keeps them all, or widens its spacing
  } cases[] = {
      {"equal work: half the budget each", {1, 1}, -1, 10, true},
      {"one more than half", {1, 1}, -1, 11, false},
      {"a third of the work: a third of the budget", {2, 1}, -1, 6, true},
      {"the first taken out leaves the rest to the second", {1, 1}, 2, 18, true},
      {"but no more", {1, 1}, 2, 19, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TCheckpointStore store;
    store.Reset(2);
    store.SetBudget(20 * one);
    store.ShareByWork(c.Work);
    const auto give = [&](int32_t segment, int count) {
      // One checkpoint a grid step of 64 KiB of work, pictures of no bytes.
      for (int32_t k = 0; k < count; ++k) {
        const int64_t step = int64_t{64} << 10;
        ASSERT_TRUE(store.Wanted(segment, 0, k * step, (k + 1) * step, k));
        auto checkpoint = std::make_unique<TCheckpoint>();
        checkpoint->FrameIndex = k, checkpoint->Work = (k + 1) * step, checkpoint->FrameWork = step;
        store.Add(segment, std::move(checkpoint));
      }
    };
    give(0, std::max(c.First, 0));
    if (c.First >= 0) {
      EXPECT_EQ(store.Take(0).Items.size(), size_t(c.First));
    }
    give(1, c.Second);
    EXPECT_EQ(store.Frames(1).size() == size_t(c.Second), c.AllKept);
    EXPECT_LE(store.Bytes(), 20 * one);
  }
}

TEST(PackedBytes, UnpackWhatWasPacked) {
  std::mt19937 rng(8);
  const size_t big = (size_t{128} << 10) * 5 + 777;  // several chunks and a short one
  std::vector<uint8_t> noise(big), zeros(big, 0), reference(big);
  for (auto& b : noise) b = uint8_t(rng());
  for (size_t i = 0; i < big; ++i) reference[i] = uint8_t(i / 4000);
  std::vector<uint8_t> touched = reference;  // a few changes here and there
  for (int k = 0; k < 30; ++k) touched[size_t(rng()) % big] ^= 0x5A;
  struct {
    const char* Name;
    const std::vector<uint8_t>* Bytes;
    const std::vector<uint8_t>* Reference;  // null: none
    size_t MostMemory;                      // what packing may take at most
  } cases[] = {
      {"the reference itself costs nothing", &reference, &reference, 64},
      {"a few changes cost little", &touched, &reference, 8 << 10},
      {"noise is kept as it is", &noise, nullptr, big + 64},
      {"noise against a reference", &noise, &reference, big + 64},
      {"zeros compress", &zeros, nullptr, 4 << 10},
      {"nothing", nullptr, nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::span<const uint8_t> bytes = c.Bytes ? std::span<const uint8_t>(*c.Bytes) : std::span<const uint8_t>();
    const std::span<const uint8_t> base = c.Reference ? std::span<const uint8_t>(*c.Reference) : std::span<const uint8_t>();
    TPackedBytes packed;
    packed.Pack(bytes, base);
    EXPECT_EQ(packed.Size(), bytes.size());
    EXPECT_LE(packed.MemoryBytes(), c.MostMemory);
    std::vector<uint8_t> out(bytes.size(), 0xEE);
    ASSERT_TRUE(packed.Unpack(out, base));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), bytes.begin(), bytes.end()));
    // Unpacked into the wrong size, or without the reference it was packed against.
    std::vector<uint8_t> longer(bytes.size() + 1);
    EXPECT_FALSE(packed.Unpack(longer, base));
    if (c.Reference && c.Bytes != &noise) {
      EXPECT_FALSE(packed.Unpack(out, {}));
    }
  }
}

}  // namespace
