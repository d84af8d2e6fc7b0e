// Feeds arbitrary bytes to the cursor shape reader, record after record within one memory
// budget, and draws each shape at the corners of true-colour and 8-bit targets.
#include <cstddef>
#include <cstdint>

#include "cursor/UzrCursor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TByteReader stream(std::span<const uint8_t>(data, size));
  auto screen = TRasterBitmap::Create(40, 30, 32);
  auto indexed = TRasterBitmap::Create(37, 21, 8);
  TColorTable table{};
  for (int i = 0; i < 256; ++i) table[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
  indexed->SetColorTable(table);

  // The records share one budget, as the shapes of a segment do.
  TShapeBudget budget;
  TzrCursor shape;
  for (int records = 0; records < 16 && stream.Remaining() > 0; ++records) {
    const size_t before = stream.Position();
    shape.LoadFromStream(stream, budget);
    if (stream.Position() <= before) __builtin_trap();  // a record always moves the reader
    if (budget.Used() > budget.Limit()) __builtin_trap();
    for (auto* target : {screen.get(), indexed.get()}) {
      shape.Draw(*target, 0, 0);
      shape.Draw(*target, target->Width() - 1, target->Height() - 1);
      shape.Draw(*target, -31, 17);
    }
    if (stream.Overrun()) break;
  }
  return 0;
}
