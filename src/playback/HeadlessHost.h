// A host that plays without windows: stops and reports are recorded, composed pictures
// handed to a callback. The command-line tool and the export play films this way.
#pragma once

#include <functional>
#include <string>

#include "playback/UzrPlayback.h"

class THeadlessHost : public IPlaybackHost {
 public:
  TPlaybackCore* Core = nullptr;
  std::function<void()> OnComposed;
  bool Stopped = false;
  bool Finished = false;
  std::string Report;  // the operation and result of a failed step

  void ExecuteStop() override {
    Stopped = true;
    if (Core) Core->Stop();
  }
  void ShowResult(const char* operation, TResult code) override {
    Report = std::string(operation) + ": " + ResultText(code);
  }
  void SegmentActivated(const Segment&, int) override {}
  void SetProgress(int64_t) override {}
  void FrameComposed() override {
    if (OnComposed) OnComposed();
  }
  void FilmFinished() override { Finished = true; }
};
