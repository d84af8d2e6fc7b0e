// Shared by the playback tests: a host that records what the core asks of it, and films
// made by the writer, read back and handed to a core.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "film/FilmFile.h"
#include "filmwriter/FilmWriter.h"
#include "playback/UzrPlayback.h"
#include "support/TestFilm.h"

struct TRecordingHost : IPlaybackHost {
  TPlaybackCore* Core = nullptr;
  std::vector<std::string> Events;
  std::vector<int64_t> Progress;
  std::vector<int> Intervals;
  std::vector<std::pair<std::string, int>> Results;
  std::function<void()> OnComposed;
  int Stops = 0;
  int Finished = 0;
  int Screen = 32;

  void ExecuteStop() override {
    ++Stops;
    Events.push_back("stop");
    if (Core) Core->Stop();
  }
  void ShowResult(const char* operation, TResult code) override {
    Results.emplace_back(operation, code);
    Events.push_back(std::string("result ") + operation);
  }
  void SegmentActivated(const Segment& segment, int intervalMs) override {
    Intervals.push_back(intervalMs);
    Events.push_back("activate " + segment.Name);
  }
  void SetProgress(int64_t position) override { Progress.push_back(position); }
  void FrameComposed() override {
    Events.push_back("compose " + std::to_string(Core ? Core->FrameIndex() : -1));
    if (OnComposed) OnComposed();
  }
  void PresentPicture() override {
    Events.push_back("present " + std::to_string(Core ? Core->FrameIndex() : -1));
  }
  void FilmFinished() override {
    ++Finished;
    Events.push_back("finished");
  }
  int ScreenBits() const override { return Screen; }
};

// A core with its frame buffer, playing the segments of a film written from `segments`.
struct TCoreFixture {
  TRecordingHost Host;
  TPlaybackCore Core{Host};

  explicit TCoreFixture(size_t frameBuffer = TPlaybackCore::kFrameBufferSize) {
    Host.Core = &Core;
    Core.AllocFrameBuffer(frameBuffer);
  }

  void Load(std::span<const TWriterSegment> segments) { LoadBytes(WriteFilm(segments)); }

  void LoadBytes(const std::vector<uint8_t>& film) {
    TSegments read = ReadTestFilm(film);
    Core.ClearSegments();
    Core.TakeFilm(std::move(read));
    Core.SelectSegment(0);
  }
};

// A segment from raw frame data, cursor track and palette data.
inline TRawSegment RawSegment(const std::string& name, int32_t width, int32_t height, uint8_t bits,
                              int32_t frames, std::vector<uint8_t> frameData,
                              std::vector<uint8_t> track = {}, std::vector<uint8_t> palette = {}) {
  TRawSegment s;
  s.ListName = s.Name = name;
  s.Width = width, s.Height = height, s.BitsPerPixel = bits;
  s.ListFrameCount = s.FrameCount = frames;
  s.ListFrameRate = s.FrameRate = 10;
  s.FrameDataSize = int32_t(frameData.size());
  s.FrameData = std::move(frameData);
  s.CursorDataSize = int32_t(track.size());
  s.CursorData = std::move(track);
  s.PaletteDataSize = int32_t(palette.size());
  s.PaletteData = std::move(palette);
  return s;
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
