// Realistic screen pictures for the benchmarks that encode or present whole pictures: a
// gradient desktop with icons, overlapping windows full of anti-aliased text, a menu and a
// task bar, drawn with QPainter. The same size always gives the same picture.
#pragma once

#include <QImage>
#include <cstdint>
#include <memory>

#include "raster/URaster.h"

// The desktop as Qt draws it (Format_RGB32).
QImage DrawScreenPicture(int width, int height);

// The picture in one of the player's picture formats: 32 bits (B, G, R, X) or 8 bits with a
// colour table of at most 256 colours taken from the picture.
std::unique_ptr<TRasterBitmap> ScreenPicture(int width, int height, int bitsPerPixel);

// The benchmarks' main: starts the offscreen platform the drawing needs, then runs the
// benchmarks the command line selects. 1 for arguments it does not know.
int RunScreenPictureBenchmarks(int argc, char** argv);
