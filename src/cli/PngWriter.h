// Writes a picture as an 8-bit RGB PNG file.
#pragma once

#include <string>

#include "raster/URaster.h"

// 8-bit pictures are written through their colour table, 32-bit ones as B, G, R (the fourth
// byte is not part of the picture). False with a message in `error` on failure.
bool WritePng(const std::string& path, const TRasterBitmap& picture, std::string& error);
