// Writes a picture as a PNG file.
#pragma once

#include <string>

#include "raster/URaster.h"

// Every picture is written as an 8-bit RGB PNG: indexed pictures (1, 4 and 8 bits) through
// their colour table (a 1-bit picture without one as black and white), 16-bit channels
// widened as the raster does, the fourth byte of a 32-bit pixel dropped. The file decodes to
// the picture's colours. False with a
// message in `error` on failure.
bool WritePng(const std::string& path, const TRasterBitmap& picture, std::string& error);

// Writes the picture as WritePng does, whole or not at all: into a new file beside `path`,
// renamed to `path` when it is complete. The signals that end a run (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT) are held off meanwhile and take effect after, so neither a failure nor an
// interruption leaves part of a picture or a stray file. A file already at `path` is replaced
// when `replace`, else kept and the write fails ("... already exists"). The new file gets the
// permissions a newly created file gets.
bool WritePngFile(const std::string& path, const TRasterBitmap& picture, bool replace, std::string& error);
