// What a thumbnail is made of: a cheap measure of how much a picture shows, and the picture
// scaled down to fit a square.
#pragma once

#include <cstdint>
#include <memory>

#include "raster/URaster.h"

// The share of a picture, from 0 to 1, that differs from its main colour. A grid of at most
// 64 × 64 pixels spread evenly over the picture is sampled; the colour most samples share at
// 5 bits per channel is the main colour (the average of those samples), and a sample differs
// when one of its channels lies more than 24 away from it. The cost does not grow with the
// picture.
double ContentShare(const TRasterBitmap& picture);

// A picture with less content than this is taken for a blank screen: a single colour, a
// gradient's band or a desktop with a lone cursor on it.
inline constexpr double kMinContentShare = 0.01;

// The size a `width` × `height` picture gets to fit a `size` × `size` square keeping its
// aspect ratio: the longer side becomes `size`, the shorter one is rounded and at least 1. A
// picture that fits already keeps its size: thumbnails are never enlarged.
TRect FitSize(int32_t width, int32_t height, int32_t size);

// The picture scaled to FitSize by area averaging (every source pixel counts with the area it
// covers in the target pixel), as a 32-bit picture; a picture that fits is copied unchanged.
// Nothing when the memory cannot be had.
std::unique_ptr<TRasterBitmap> ScaleToFit(const TRasterBitmap& picture, int32_t size);
