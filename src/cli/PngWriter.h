// Writes a picture as a PNG file.
#pragma once

#include <string>

#include "raster/URaster.h"

// Indexed pictures (1, 4 and 8 bits) are written as indexed PNGs of the same depth with their
// colour table as the palette (a 1-bit picture without one as black and white); 16-, 24- and
// 32-bit ones as 8-bit RGB, 16-bit channels widened as the raster does and the fourth byte of
// a 32-bit pixel dropped. Either way the file decodes to the picture's colours. False with a
// message in `error` on failure.
bool WritePng(const std::string& path, const TRasterBitmap& picture, std::string& error);
