// Random films and the seeks the tests make in them: every picture of a film played straight
// through, and seeks that must give exactly those pictures.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../playback_support.h"
#include "PlaybackProbe.h"

// A random film: segments of every depth and of different sizes, pictures that change in
// patches and now and then all over, palette changes, and cursors of both kinds moving about.
// Segments have minFrames to maxFrames frames.
inline std::vector<TWriterSegment> RandomFilm(std::mt19937& rng, int minFrames = 1, int maxFrames = 30) {
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
    const int frames = pick(minFrames, maxFrames);
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
inline std::vector<uint8_t> PictureBytes(const TPlaybackCore& core) {
  const TRasterBitmap* picture = core.Picture();
  std::vector<uint8_t> bytes(picture->Pixels().begin(), picture->Pixels().end());
  if (picture->BitsPerPixel() == 8) {
    const auto* table = reinterpret_cast<const uint8_t*>(picture->ColorTable().data());
    bytes.insert(bytes.end(), table, table + sizeof(TColorTable));
  }
  return bytes;
}

// [segment][frame]: a picture's bytes.
using TPictures = std::vector<std::vector<std::vector<uint8_t>>>;

// Every picture of the film, played straight through: [segment][frame].
// `palette`: the one a film before left.
inline TPictures StraightPictures(const std::vector<uint8_t>& bytes, const TColorTable* palette = nullptr) {
  TCoreFixture f;
  f.LoadBytes(bytes);
  if (palette) f.Core.SetFilmPalette(*palette);
  TPictures pictures(f.Core.Segments().size());
  f.Host.OnComposed = [&] { pictures[size_t(f.Core.CurSegment())].push_back(PictureBytes(f.Core)); };
  EXPECT_EQ(f.Core.SetCurSegment(), kResultOk);
  while (f.Host.Finished == 0 && f.Host.Results.empty()) f.Core.TimerPlayTimer();
  return pictures;
}

// A film's straight pictures, and a core with the film loaded for seeks in it.
struct TSeekFixture : TCoreFixture {
  TPictures Straight;
  explicit TSeekFixture(const std::vector<uint8_t>& film) : Straight(StraightPictures(film)) { LoadBytes(film); }
};

inline std::vector<TFramePos> AllFrames(const TPictures& straight) {
  std::vector<TFramePos> frames;
  for (size_t s = 0; s < straight.size(); ++s)
    for (size_t k = 0; k < straight[s].size(); ++k) frames.push_back({int32_t(s), int32_t(k)});
  return frames;
}

// A seek to `pos` composes that frame, gives its straight picture, and sets the progress to
// the frames played up to and including it.
inline ::testing::AssertionResult SeekGivesStraight(TSeekFixture& f, TFramePos pos) {
  const TPictures& straight = f.Straight;
  if (const TResult r = f.Core.SeekFrame(pos); r != kResultOk)
    return ::testing::AssertionFailure() << "seek result " << r;
  if (f.Core.ComposedFrame() != pos) return ::testing::AssertionFailure() << "composed another frame";
  if (PictureBytes(f.Core) != straight[size_t(pos.Segment)][size_t(pos.Frame)])
    return ::testing::AssertionFailure() << "segment " << pos.Segment << " frame " << pos.Frame;
  int64_t played = pos.Frame + 1;
  for (int32_t before = 0; before < pos.Segment; ++before) played += int64_t(straight[size_t(before)].size());
  if (f.Host.Progress.empty() || f.Host.Progress.back() != played)
    return ::testing::AssertionFailure() << "progress after segment " << pos.Segment << " frame " << pos.Frame;
  return ::testing::AssertionSuccess();
}

// Seeks forwards, one frame back at a time from the end, then in random order.
inline std::vector<TFramePos> SeekOrder(const TPictures& straight, std::mt19937& rng) {
  std::vector<TFramePos> frames = AllFrames(straight), order = frames;
  order.insert(order.end(), frames.rbegin(), frames.rend());
  std::shuffle(frames.begin(), frames.end(), rng);
  order.insert(order.end(), frames.begin(), frames.end());
  return order;
}

// How a second core plays the film for the player's core: as the index pass does, or with
// one of the conditions changed.
struct TPassSetup {
  size_t Budget = TCheckpointStore::kDefaultBudget;
  bool CursorShown = true;
  int ScreenBits = 32;
  bool PlayersPalette = true;  // starts from the palette the player's film starts from
};

// A second core plays `player`'s film (copies of its segments) from its start in another
// thread, its budget shared by work, and hands each segment's checkpoints over when it moves
// on; they come back in film order. The pass core's checkpoints never exceed its budget.
inline std::vector<THandedCheckpoints> PlayPass(const TPlaybackCore& player, const TPassSetup& setup = {}) {
  std::vector<THandedCheckpoints> handed;
  TSegments copies = ShareSegments(player.Segments());
  const TColorTable palette = player.FilmPalette();
  size_t most = 0;
  std::thread pass([&] {
    TRecordingHost host;
    TPlaybackCore core(host);
    host.Core = &core;
    host.Screen = setup.ScreenBits;
    core.TakeFilm(std::move(copies));
    core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize);
    if (setup.PlayersPalette) core.SetFilmPalette(palette);
    core.SetCursorShown(setup.CursorShown);
    core.SetCheckpointBudget(setup.Budget);
    core.ShareCheckpointBudget();
    const int32_t segments = int32_t(core.Segments().size());
    if (core.SetCurSegment() != kResultOk) return;
    for (int32_t playing = 0; playing < segments;) {
      core.TimerPlayTimer();
      most = std::max(most, TPlaybackProbe::CheckpointBytes(core));
      const int32_t now = host.Finished || !host.Results.empty() ? segments : core.CurSegment();
      for (; playing < now; ++playing) handed.push_back(core.TakeCheckpoints(playing));
    }
  });
  pass.join();
  EXPECT_LE(most, setup.Budget);
  return handed;
}
