// Writes JPEG files with libjpeg: the About picture at build time, and the pictures that tests
// and fuzz seeds need. Settings start from libjpeg's own defaults.
#pragma once

// jpeglib.h needs size_t and FILE declared first.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <cstdint>
#include <string>
#include <vector>

struct TJpegSettings {
  J_COLOR_SPACE Space = JCS_RGB;
  int Components = 3;
  int Quality = 75;
  // Sampling of the first component, horizontally and vertically (the others stay at 1):
  // 2 is 4:2:0, 1 keeps every component at full resolution (4:4:4).
  int Sampling = 2;
  bool Optimize = false;     // optimal Huffman tables (still baseline)
  bool Progressive = false;  // libjpeg's simple progression
  bool Arithmetic = false;
  int RestartRows = 0;       // restart interval in MCU rows, 0 for none
  // A scan script of one's own; replaces the progression when not empty.
  std::vector<jpeg_scan_info> ScanScript;
};

// Encodes `height` rows of `width` pixels of Components bytes each, row r at
// pixels + r * stride. Integer DCT: the same input gives the same bytes from build to build.
// False with libjpeg's message in `error`.
bool EncodeJpeg(const uint8_t* pixels, int width, int height, std::ptrdiff_t stride,
                const TJpegSettings& settings, std::vector<uint8_t>& out, std::string& error);
