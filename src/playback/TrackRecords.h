// The records read beside the frames: an 8-bit segment's palette record and the cursor
// track's record, one of each a frame.
#pragma once

#include <cstdint>

#include "io/MemoryStream.h"
#include "raster/URaster.h"

// The 6-byte cursor track record.
struct TCursorRec {
  uint16_t Index = 0;
  uint16_t X = 0;
  uint16_t Y = 0;
  friend bool operator==(const TCursorRec&, const TCursorRec&) = default;
};

// Reads the palette record at the stream's position into `palette`.
void ReadPaletteRecord(TMemoryStream& stream, TColorTable& palette);
// Reads the cursor record at the track's position into `rec`.
void ReadCursorRecord(TMemoryStream& track, TCursorRec& rec);
