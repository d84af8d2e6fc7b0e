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

// Writes the picture as WritePng does, whole or not at all: into a new file beside `path`,
// renamed to `path` when it is complete. The signals that end a run (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT) are held off meanwhile and take effect after, so neither a failure nor an
// interruption leaves part of a picture or a stray file. A file already at `path` is replaced
// when `replace`, else kept and the write fails ("... already exists"). The new file gets the
// permissions a newly created file gets.
bool WritePngFile(const std::string& path, const TRasterBitmap& picture, bool replace, std::string& error);
