// The demo film: three short segments that look like a screen recording, one per video mode.
//
//   1. "Знакомство"   24 bits, 640 × 480, 10 frames/s, 50 frames: a slide whose bullet points
//      appear one by one while a progress bar fills; a black-and-white (mask-only) arrow.
//   2. "Рабочий стол" 32 bits, 640 × 480, 12 frames/s, 72 frames: a desktop with a task bar;
//      a window is dragged by its title bar, then text is typed into it letter by letter;
//      a colour arrow that turns into a colour I-beam over the text.
//   3. "Палитра"      8 bits, 640 × 480, 15 frames/s, 60 frames: a spiral whose colours
//      cycle through palette changes while the picture stays the same; a mask-only arrow.
#pragma once

#include <vector>

#include "filmwriter/FilmWriter.h"

// Draws the segments with QPainter, so a QGuiApplication must exist (fonts need it); the
// offscreen platform is enough. The result is the same on every run.
std::vector<TWriterSegment> MakeDemoSegments();
