// Films whose moments are known, for testing what the index finds: each segment is a list of
// steps, each step a number of frames doing one thing to the screen. The tests state where
// the idle stretches and scene changes of such a film lie.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filmwriter/FilmWriter.h"

enum class TScreenAction {
  Still,        // nothing changes
  Scene,        // the step's first frame paints the whole screen a new colour; then still
  Small,        // a 2 × 2 square moves by its size every frame
  CursorAlone,  // the cursor moves one pixel every frame; nothing else changes
  Caret,        // a 1 × 6 caret shows for 250 ms and hides for 250 ms (2 Hz of film time)
  Stripe,       // every frame paints the next twentieth of the screen's rows (5 % a frame)
  Shape,        // the step's first frame gives the cursor its other shape; then still
};

struct TScreenStep {
  int32_t Frames = 0;
  TScreenAction Action = TScreenAction::Still;
};

struct TActivitySegmentPlan {
  std::string Name;
  uint8_t FrameRate = 10;
  std::vector<TScreenStep> Steps;
};

// A segment of width × height (at least 40 × 20), 32 bits per pixel, from the plan.
TWriterSegment MakeActivitySegment(const TActivitySegmentPlan& plan, int32_t width = 64, int32_t height = 48);
