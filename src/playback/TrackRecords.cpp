// The palette and cursor records read beside the frames.
#include "playback/TrackRecords.h"

// Reads the palette record at the stream's position into `palette`. A missing record changes
// nothing; entries past 255 are read over, never written.
void ReadPaletteRecord(TMemoryStream& stream, TColorTable& palette) {
  uint8_t count = 0, first = 0;
  if (stream.Read(&count, 1) != 1 || count == 0) return;
  if (stream.Read(&first, 1) != 1) return;
  uint8_t entries[255 * 4];
  const size_t got = stream.Read(entries, size_t(count) * 4);
  for (size_t i = 0; i < got; ++i) {
    const size_t entry = first + i / 4;
    if (entry > 255) break;
    uint8_t* entryBytes = &palette[entry].Blue;
    entryBytes[i % 4] = entries[i];
  }
}

// Reads the cursor record at the track's position into `rec`. A short read at the end of the
// track replaces only the fields it reaches.
void ReadCursorRecord(TMemoryStream& track, TCursorRec& rec) {
  uint8_t bytes[6] = {uint8_t(rec.Index), uint8_t(rec.Index >> 8), uint8_t(rec.X),
                      uint8_t(rec.X >> 8),     uint8_t(rec.Y),     uint8_t(rec.Y >> 8)};
  track.Read(bytes, sizeof bytes);
  rec.Index = uint16_t(bytes[0] | bytes[1] << 8);
  rec.X = uint16_t(bytes[2] | bytes[3] << 8);
  rec.Y = uint16_t(bytes[4] | bytes[5] << 8);
}
