// The film's index: what each frame changed, idle stretches, scene changes and chapters,
// previews, and a pass that ends cleanly.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "index/IndexCache.h"
#include "index/IndexPass.h"
#include "index/IndexWorker.h"
#include "support/IndexFilms.h"
#include "support/PlaybackProbe.h"
#include "support/SeekFilms.h"
#include "support/TempRootFixture.h"

namespace {

TSegments Segments(const std::vector<TWriterSegment>& source) { return ReadTestFilm(WriteFilm(source)); }

// A segment of `frames` pictures painted by `paint(frame, picture)` over the one before.
template <class TPaint>
TWriterSegment Painted(int32_t w, int32_t h, uint8_t bits, int32_t frames, TPaint paint) {
  TWriterSegment s = NewSegment("s", w, h, bits);
  std::vector<uint32_t> picture(size_t(w) * size_t(h), 0);
  for (int32_t f = 0; f < frames; ++f) {
    paint(f, picture);
    s.Pictures.push_back(picture);
  }
  return s;
}

}  // namespace

// Every frame's changed pixels and their box, read from the runs, are what comparing the
// pictures the core composes finds.
TEST(TIndexPass, ChangesAreWhatThePicturesShow) {
  const auto stripes = [](int32_t f, std::vector<uint32_t>& p) { FillRect(p, 40, f * 3, f, 5, 7, Rgb(f * 40, 9, 200)); };
  const auto indices = [](int32_t f, std::vector<uint32_t>& p) { FillRect(p, 40, 30 - f, 2 * f, 4, 3, uint32_t(f * 17 + 1)); };
  struct TRow {
    const char* What;
    std::vector<uint8_t> Film;
  } rows[] = {
      {"the known film", WriteFilm(KnownActivitySegments())},
      {"24 bits", WriteFilm(std::vector{Painted(40, 20, 24, 8, stripes)})},
      {"8 bits", WriteFilm(std::vector{Painted(40, 20, 8, 8, indices)})},
      // Records that stop short: the rest of the frame image goes into the picture again.
      {"short records",
       ShortRecordsFilm({{{0x112233, 32}}, {{0, 10}}, {}, {{1, 5}}, {{0, 2}, {0x10, 4}, {0, 26}}, {}, {{0, 3}}})},
      {"a short first record", ShortRecordsFilm({{{0x40, 12}}, {}, {{7, 32}}, {{0, 31}}})},
      // At 24 bits the pixel after a short record's last one loses its blue byte in the frame
      // image (each pixel is stored as a word).
      {"short records at 24 bits",
       ShortRecordsFilm({{{0x0000FF, 32}}, {{0, 5}}, {}, {{0x0100FF, 32}}, {{0x010000, 9}}, {}, {{0xFF, 32}}, {{0, 8}}, {}}, 24)},
      {"short records at 8 bits", ShortRecordsFilm({{{3, 32}}, {{0, 5}}, {}, {{9, 7}}, {}}, 8)},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.What);
    const TSegments segments = ReadTestFilm(row.Film);
    const TFilmIndex index = IndexFilm(segments);
    const auto shown = PictureChanges(segments);
    ASSERT_TRUE(index.Complete);
    ASSERT_EQ(index.Segments.size(), shown.size());
    for (size_t s = 0; s < shown.size(); ++s) {
      ASSERT_EQ(index.Segments[s].Frames.size(), shown[s].size());
      for (size_t f = 0; f < shown[s].size(); ++f) {
        const TFrameActivity &a = index.Segments[s].Frames[f], &b = shown[s][f];
        if (b.Changed == UINT32_MAX) continue;
        EXPECT_EQ(a.Changed, b.Changed) << "segment " << s << " frame " << f;
        EXPECT_EQ(std::vector({a.Left, a.Top, a.Right, a.Bottom}), std::vector({b.Left, b.Top, b.Right, b.Bottom}))
            << "segment " << s << " frame " << f;
      }
    }
  }
}

// The known film: every idle stretch within 0.5 s of its ends and no other, every scene change
// at its frame, the chapters.
TEST(TIndexPass, FindsTheKnownMoments) {
  const TSegments segments = Segments(KnownActivitySegments());
  const TFilmIndex index = IndexFilm(segments);
  ASSERT_TRUE(index.Complete);
  EXPECT_EQ(index.DurationMs, 80200);

  const std::pair<int64_t, int64_t> idle[] = {{5000, 15000}, {39000, 60000}, {60200, 70000}, {70200, 76000}};
  ASSERT_EQ(index.Idle.size(), std::size(idle));
  for (size_t i = 0; i < std::size(idle); ++i) {
    EXPECT_NEAR(double(index.Idle[i].StartMs), double(idle[i].first), 500) << i;
    EXPECT_NEAR(double(index.Idle[i].EndMs), double(idle[i].second), 500) << i;
  }

  std::vector<TFramePos> scenes;
  for (size_t s = 0; s < index.Segments.size(); ++s)
    for (size_t f = 0; f < index.Segments[s].Frames.size(); ++f)
      if (index.Segments[s].Frames[f].Flags & TFrameActivity::kSceneChange) scenes.push_back({int32_t(s), int32_t(f)});
  EXPECT_EQ(scenes, (std::vector<TFramePos>{{0, 0}, {0, 150}, {0, 160}, {0, 389}, {1, 0}, {1, 80}}));

  struct TExpected {
    int64_t Ms;
    TFramePos Pos;
    std::string Title;
    bool Automatic;
  } chapters[] = {{0, {0, 0}, "Первый", false},      {15000, {0, 150}, "Часть 2", true},
                  {38900, {0, 389}, "Часть 3", true}, {60000, {1, 0}, "Второй", false},
                  {76000, {1, 80}, "Часть 2", true}};
  ASSERT_EQ(index.Chapters.size(), std::size(chapters));
  for (size_t i = 0; i < std::size(chapters); ++i) {
    EXPECT_EQ(index.Chapters[i].StartMs, chapters[i].Ms) << i;
    EXPECT_EQ(index.Chapters[i].Pos, chapters[i].Pos) << i;
    EXPECT_EQ(index.Chapters[i].Title, chapters[i].Title) << i;
    EXPECT_EQ(index.Chapters[i].Automatic, chapters[i].Automatic) << i;
  }

  // The cursor alone and its shape.
  const auto& first = index.Segments[0].Frames;
  EXPECT_EQ(first[200].Flags & TFrameActivity::kCursorMoved, TFrameActivity::kCursorMoved);
  EXPECT_EQ(first[200].Changed, 0u);
  EXPECT_EQ(index.Segments[1].Frames[50].Flags, TFrameActivity::kCursorShape);

  // A longer threshold keeps only the stretches that long.
  TIndexOptions options;
  options.IdleMs = 10000;
  EXPECT_EQ(IndexFilm(segments, options).Idle.size(), 2u);
  EXPECT_EQ(index.IdleAt(40000), &index.Idle[1]);
  EXPECT_EQ(index.IdleAt(38999), nullptr);
}

// A preview at every chapter and every few seconds, 160 pixels wide, all within the budget;
// a small budget drops periodic ones first.
TEST(TIndexPass, PreviewsStayWithinTheirBudget) {
  const TSegments segments = Segments(KnownActivitySegments());
  const size_t each = 160 * 120 * 4;
  struct TRow {
    size_t Budget;
    size_t AtLeast, AtMost;
  } rows[] = {{size_t{8} << 20, 5 + 80 / 5 - 1, 5 + 80 / 5 + 1}, {each * 8, 5, 8}, {each * 5, 5, 5}};
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Budget);
    TIndexOptions options;
    options.PreviewBudget = row.Budget;
    const TFilmIndex index = IndexFilm(segments, options);
    EXPECT_GE(index.Previews.size(), row.AtLeast);
    EXPECT_LE(index.Previews.size(), row.AtMost);
    for (size_t i = 1; i < index.Previews.size(); ++i) EXPECT_LE(index.Previews[i - 1].TimeMs, index.Previews[i].TimeMs);
    for (const TChapter& c : index.Chapters) {
      const TPreview* p = index.PreviewAt(c.StartMs);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(p->TimeMs, c.StartMs);
      EXPECT_EQ(p->Pixels.size(), 160u * 120u);
      EXPECT_EQ(p->Width, 160);
      EXPECT_EQ(p->Height, 120);
    }
  }
}

// The box filter: a picture of two halves gives two halves, their seam the mean.
TEST(TIndexPass, PreviewIsTheMeanOfThePixelsUnderIt) {
  auto picture = TRasterBitmap::Create(480, 6, 32);
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 480; ++x) {
      const uint32_t c = x < 241 ? 0x00FF0000 : 0x000000FF;
      std::memcpy(picture->Row(y) + 4 * x, &c, 4);
    }
  const TPreview p = ScalePreview(*picture, 160);
  EXPECT_EQ(p.Height, 2);
  EXPECT_EQ(p.Pixels[0], 0xFF0000u);
  EXPECT_EQ(p.Pixels[80], 0x5500AAu);  // one red and two blue
  EXPECT_EQ(p.Pixels[159], 0x0000FFu);
}

// A pass ends cleanly with what it has: cancelled, at a segment it cannot play, or on a film
// without segments.
TEST(TIndexPass, EndsCleanlyWithWhatItHas) {
  std::vector<TRawSegment> withDeep;
  for (const TWriterSegment& s : KnownActivitySegments()) withDeep.push_back(EncodeSegment(s));
  withDeep.insert(withDeep.begin() + 1, withDeep[1]);
  withDeep[1].BitsPerPixel = 16;
  // Segment 2 declares 400 frames over 3 records, 600 frames after segment 1.
  std::vector<TRawSegment> pastData = {withDeep[0], EncodeSegment(Painted(8, 4, 32, 3, [](int32_t f, auto& p) {
                                         FillRect(p, 8, f, 0, 2, 2, 0xFF);
                                       }))};
  pastData[1].FrameCount = pastData[1].ListFrameCount = 400;
  struct TRow {
    const char* What;
    std::vector<uint8_t> Film;
    bool Cancel;
    bool Complete;
    size_t Segments;
    std::string Failure;
    int64_t Reported;  // the frames progress heard of last; -1: none
  } rows[] = {
      {"cancelled", WriteFilm(KnownActivitySegments()), true, false, 0, "", 0},
      {"a segment of 16 bits", WriteFilmRaw(withDeep), false, false, 1, "segment 2: 16 bits per pixel cannot be played", 600},
      {"no segments", WriteFilm(std::vector<TWriterSegment>{}), false, true, 0, "", -1},
      {"more frames than it takes", WriteFilm(KnownActivitySegments()), false, false, 1,
       "the film has more than 600 frames: only those were indexed", 600},
      // 3 frames with records, then 257 in a row without.
      {"frames past the data", WriteFilmRaw(pastData), false, false, 2,
       "segment 2 is damaged: its frames go on past its frame data", 600 + 3 + 257},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.What);
    const TSegments segments = ReadTestFilm(row.Film);
    std::atomic<bool> cancel{row.Cancel};
    int64_t reported = -1;
    std::string failure = "?";
    TIndexOptions options;
    options.MaxFrames = row.Segments == 1 ? 600 : kMaxIndexFrames;
    const TFilmIndex index =
        IndexFilm(segments, options, &cancel, [&](int64_t done, int64_t) { reported = done; }, &failure);
    EXPECT_EQ(index.Complete, row.Complete);
    EXPECT_EQ(index.Segments.size(), row.Segments);
    EXPECT_EQ(failure, row.Failure);
    EXPECT_EQ(reported, row.Reported);
  }
}

namespace {

// A cache file's bytes with its checksum made right again after a change.
std::vector<uint8_t> Resealed(std::vector<uint8_t> bytes) {
  uint64_t h = 14695981039346656037ull;
  for (size_t i = 0; i + 8 < bytes.size(); ++i) h = (h ^ bytes[i]) * 1099511628211ull;
  for (int i = 0; i < 8; ++i) bytes[bytes.size() - 8 + size_t(i)] = uint8_t(h >> (8 * i));
  return bytes;
}

void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = uint8_t(v >> (8 * i));
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

struct TIndexCache : TTempRootFixture {};

}  // namespace

// An index read back is the index written; bytes that are not an index of this film and
// threshold, however they differ, give none, and nothing is allocated beyond what they hold.
TEST(TIndexCacheFormat, ReadsBackWhatItWroteAndNothingElse) {
  TFilmIndex index = IndexFilm(Segments(KnownActivitySegments()));
  const TIndexCacheKey key{1234, 5678, 0x9ABC};
  const std::vector<uint8_t> good = EncodeFilmIndex(index, key, 5000);
  TFilmIndex back;
  ASSERT_TRUE(DecodeFilmIndex(good, key, 5000, back));
  EXPECT_EQ(EncodeFilmIndex(back, key, 5000), good);
  EXPECT_EQ(back.Chapters[2].Title, "Часть 3");
  EXPECT_EQ(back.Segments[0].Frames[389].Flags, index.Segments[0].Frames[389].Flags);
  EXPECT_EQ(back.Previews.back().Pixels, index.Previews.back().Pixels);

  // The header: magic 0, version 8, key 12, threshold 36, duration 44, segment count 52, the
  // first segment's frame count 72.
  const auto patched = [&](size_t at, uint32_t v) {
    std::vector<uint8_t> b = good;
    PutU32(b, at, v);
    return Resealed(b);
  };
  std::vector<uint8_t> flipped = good;
  flipped[good.size() / 2] ^= 0x10;
  struct TRow {
    const char* What;
    std::vector<uint8_t> Bytes;
    TIndexCacheKey Key;
    int64_t IdleMs;
  } rows[] = {
      {"empty", {}, key, 5000},
      {"the magic alone", Bytes(std::string("ZRINDEX", 8)), key, 5000},
      {"cut after the header", std::vector<uint8_t>(good.begin(), good.begin() + 60), key, 5000},
      {"cut by one byte", std::vector<uint8_t>(good.begin(), good.end() - 1), key, 5000},
      {"a byte changed", flipped, key, 5000},
      {"another version", patched(8, kIndexCacheVersion + 1), key, 5000},
      {"another film", good, {1234, 5679, 0x9ABC}, 5000},
      {"another threshold", good, key, 10000},
      {"a foreign file", Bytes("\x89PNG\r\n\x1a\n and more bytes after them"), key, 5000},
      {"four billion segments", patched(52, 0xFFFFFFFF), key, 5000},
      {"four billion frames", patched(72, 0xFFFFFFFF), key, 5000},
      {"one segment fewer", patched(52, 1), key, 5000},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.What);
    TFilmIndex read;
    read.DurationMs = 1;
    EXPECT_FALSE(DecodeFilmIndex(row.Bytes, row.Key, row.IdleMs, read));
    EXPECT_EQ(read.DurationMs, 0);
    EXPECT_TRUE(read.Segments.empty());
  }
}

// Where the cache lies, and a damaged file in its place ignored and written anew.
TEST_F(TIndexCache, KeepsCompleteIndexesWhereTheUserCacheIs) {
  struct TFolderRow {
    const char* Xdg;
    const char* Home;
    std::string Folder;
  } folders[] = {{"/x/cache", "/h", "/x/cache/veRirove"},
                 {"relative", "/h", "/h/.cache/veRirove"},
                 {nullptr, "/h", "/h/.cache/veRirove"},
                 {nullptr, nullptr, ""}};
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  for (const TFolderRow& row : folders) {
    row.Xdg ? ::setenv("XDG_CACHE_HOME", row.Xdg, 1) : ::unsetenv("XDG_CACHE_HOME");
    row.Home ? ::setenv("HOME", row.Home, 1) : ::unsetenv("HOME");
    EXPECT_EQ(IndexCacheFolder(), row.Folder);
  }
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (Root / "cache").c_str(), 1);

  const std::string film = Package("known.zrcab", KnownActivitySegments());
  TFilmIndex index = IndexFilm(Segments(KnownActivitySegments()));
  TFilmIndex read;
  EXPECT_FALSE(ReadIndexCache(film, 5000, read));
  index.Complete = false;
  EXPECT_FALSE(WriteIndexCache(film, 5000, index));
  EXPECT_FALSE(std::filesystem::exists(Root / "cache"));
  index.Complete = true;
  ASSERT_TRUE(WriteIndexCache(film, 5000, index));
  const std::vector<std::string> files = Files(Root / "cache" / "veRirove");
  ASSERT_EQ(files.size(), 1u);
  const std::filesystem::path kept = Root / "cache" / "veRirove" / files[0];
  EXPECT_TRUE(ReadIndexCache(film, 5000, read));
  EXPECT_FALSE(ReadIndexCache(film, 4000, read));

  std::vector<uint8_t> damaged = FileBytes(kept);
  damaged.resize(damaged.size() / 3);
  Write("cache/veRirove/" + files[0], damaged);
  EXPECT_FALSE(ReadIndexCache(film, 5000, read));
  ASSERT_TRUE(WriteIndexCache(film, 5000, index));
  EXPECT_TRUE(ReadIndexCache(film, 5000, read));
  EXPECT_EQ(Files(Root / "cache" / "veRirove"), files);

  // Past the limit the least recently used go; what is not a kept index stays.
  const std::vector<uint8_t> one = FileBytes(kept);
  Write("cache/veRirove/notes.txt", Bytes("mine"));
  const std::string second = Package("second.zrcab", KnownActivitySegments()),
                    third = Package("third.zrcab", KnownActivitySegments());
  const uint64_t twoFit = one.size() * 2 + one.size() / 2;
  ASSERT_TRUE(WriteIndexCache(second, 5000, index, twoFit));
  EXPECT_EQ(Files(Root / "cache" / "veRirove").size(), 3u);
  EXPECT_TRUE(ReadIndexCache(film, 5000, read));  // used: the second is now the oldest
  ASSERT_TRUE(WriteIndexCache(third, 5000, index, twoFit));
  EXPECT_TRUE(ReadIndexCache(film, 5000, read));
  EXPECT_FALSE(ReadIndexCache(second, 5000, read));
  EXPECT_TRUE(ReadIndexCache(third, 5000, read));
  EXPECT_EQ(Files(Root / "cache" / "veRirove").size(), 3u);
  // The film changed: its kept index is another film's.
  std::vector<TWriterSegment> shorter = KnownActivitySegments();
  shorter.pop_back();
  Package("known.zrcab", shorter);
  EXPECT_FALSE(ReadIndexCache(film, 5000, read));
}

// A core plays the film at its interval while the pass indexes the same film over and over
// beside it: no tick is late by its interval or more.
TEST(TIndexWorker, PlayingBesideThePassIsNeverLate) {
  using TClock = std::chrono::steady_clock;
  const TSegments film = Segments(KnownActivitySegments());
  THeadlessHost host;
  TPlaybackCore core(host);
  host.Core = &core;
  core.TakeFilm(ShareSegments(film));
  ASSERT_EQ(core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize), kResultOk);
  ASSERT_EQ(core.SetCurSegment(), kResultOk);
  TIndexWorker worker;
  std::atomic<int> passes{0};
  const auto interval = std::chrono::milliseconds(TPlaybackCore::FrameInterval(10));
  const TClock::time_point start = TClock::now();
  TClock::duration latest{};
  for (int tick = 1; tick <= 40; ++tick) {
    if (!worker.Running()) worker.Start(film, "", {}, {{}, [&](auto, auto) { ++passes; }});
    const TClock::time_point due = start + tick * interval;
    std::this_thread::sleep_until(due);
    core.TimerTimer();
    latest = std::max(latest, TClock::now() - due);
  }
  worker.Cancel();
  EXPECT_LT(latest, interval);
  EXPECT_GE(passes.load(), 1);
}

// Cancelled in the middle of a long film, the pass ends within 0.5 s and hands nothing over.
TEST(TIndexWorker, CancelEndsThePassAtOnce) {
  const TSegments film = RepeatedSegments(Segments(KnownActivitySegments()), 60);
  TIndexWorker worker;
  std::atomic<int64_t> done{0};
  std::atomic<bool> finished{false};
  worker.Start(film, "", {}, {[&](int64_t frames, int64_t) { done = frames; }, [&](auto, auto) { finished = true; }});
  while (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto before = std::chrono::steady_clock::now();
  worker.Cancel();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
  EXPECT_FALSE(worker.Running());
  EXPECT_FALSE(finished);
}

// With the film's path the worker keeps the index, and hands the kept one over without playing.
TEST_F(TIndexCache, TheWorkerKeepsAndReadsTheIndex) {
  const std::string path = Package("known.zrcab", KnownActivitySegments());
  const TSegments film = Segments(KnownActivitySegments());
  for (const bool kept : {false, true}) {
    TIndexWorker worker;
    std::shared_ptr<const TFilmIndex> index;
    std::atomic<int> progress{0};
    std::vector<int32_t> played;
    TIndexOptions options;
    options.SegmentPlayed = [&](TPlaybackCore& core, int32_t segment) {
      EXPECT_EQ(core.ComposedFrame()->Segment, segment);
      played.push_back(segment);
    };
    worker.Start(film, path, options, {[&](int64_t, int64_t) { ++progress; }, [&](auto i, auto) { index = i; }});
    while (worker.Running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(index);
    EXPECT_TRUE(index->Complete);
    EXPECT_EQ(index->Chapters.size(), 5u);
    EXPECT_EQ(progress > 0, !kept);
    EXPECT_EQ(played, (kept ? std::vector<int32_t>{} : std::vector<int32_t>{0, 1}));
    EXPECT_EQ(Files(Root / "cache" / "veRirove").size(), 1u);
  }
}

// The pass hands every segment's checkpoints to the player, whose core adopts them all and
// seeks through them to the pictures playing gives; with a kept index the worker still plays
// the film for them, after handing the index over.
TEST_F(TIndexCache, ThePassHandsTheCheckpointsOver) {
  std::mt19937 rng(1207);
  std::vector<TWriterSegment> source;
  while (source.size() < 3)
    for (auto& segment : RandomFilm(rng, 40, 80)) source.push_back(std::move(segment));
  const std::string path = Package("random.zrcab", source);
  for (const bool kept : {false, true}) {
    SCOPED_TRACE(kept ? "kept" : "played");
    TSeekFixture f(WriteFilm(source));
    std::mutex lock;
    std::vector<THandedCheckpoints> handed;
    TIndexOptions options;
    options.FilmPalette = f.Core.FilmPalette();
    options.Checkpoints = [&](THandedCheckpoints&& c) {
      const std::lock_guard<std::mutex> hold(lock);
      handed.push_back(std::move(c));
    };
    bool finished = false;
    TIndexWorker worker;
    worker.Start(f.Core.Segments(), path, options, {{}, [&](auto, auto) { finished = true; }});
    while (worker.Running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(finished);
    ASSERT_FALSE(handed.empty());
    for (THandedCheckpoints& c : handed) {
      const int32_t s = c.Segment();
      const std::vector<int32_t> frames = c.Frames();
      EXPECT_TRUE(f.Core.AdoptCheckpoints(std::move(c)));
      EXPECT_EQ(TPlaybackProbe::CheckpointFrames(f.Core, s), frames);
    }
    for (const TFramePos pos : AllFrames(f.Straight)) ASSERT_TRUE(SeekGivesStraight(f, pos));
  }
}
