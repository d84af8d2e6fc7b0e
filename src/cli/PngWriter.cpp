#include "cli/PngWriter.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct TFileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

// The picture's rows in a PNG pixel layout: indexed rows are already PNG rows and go out as
// they are; the others are converted into one row buffer, a row at a time.
class TPngRows {
 public:
  explicit TPngRows(const TRasterBitmap& picture)
      : FPicture(picture), FIndexed(picture.BitsPerPixel() <= 8) {
    if (!FIndexed) FRow.resize(size_t(picture.Width()) * 3);
  }

  bool Indexed() const { return FIndexed; }

  const png_byte* Row(int32_t y) {
    const uint8_t* in = FPicture.Row(y);
    if (FIndexed) return in;
    png_byte* out = FRow.data();
    const int32_t width = FPicture.Width();
    switch (FPicture.BitsPerPixel()) {
      case 16:
        // X1R5G5B5, each channel widened by repeating its top bits.
        for (int32_t x = 0; x < width; ++x, in += 2, out += 3) {
          const uint32_t v = in[0] | uint32_t{in[1]} << 8;
          out[0] = Expand5((v >> 10) & 0x1F);
          out[1] = Expand5((v >> 5) & 0x1F);
          out[2] = Expand5(v & 0x1F);
        }
        break;
      case 24:
        for (int32_t x = 0; x < width; ++x, in += 3, out += 3) {
          out[0] = in[2];
          out[1] = in[1];
          out[2] = in[0];
        }
        break;
      default:
        // B, G, R and a fourth byte that is not part of the picture.
        for (int32_t x = 0; x < width; ++x, in += 4, out += 3) {
          out[0] = in[2];
          out[1] = in[1];
          out[2] = in[0];
        }
        break;
    }
    return FRow.data();
  }

 private:
  static png_byte Expand5(uint32_t v) { return png_byte(v << 3 | v >> 2); }

  const TRasterBitmap& FPicture;
  const bool FIndexed;
  std::vector<png_byte> FRow;
};

// The palette of an indexed picture: its colour table, or black and white for a monochrome
// bitmap, as many entries as its depth can index.
std::vector<png_color> Palette(const TRasterBitmap& picture) {
  std::vector<png_color> palette(size_t(1) << picture.BitsPerPixel());
  if (picture.BitsPerPixel() == 1 && !picture.HasColorTable()) {
    palette[1] = {0xFF, 0xFF, 0xFF};
    return palette;
  }
  for (size_t i = 0; i < palette.size(); ++i) {
    const TColorEntry& e = picture.ColorTable()[i];
    palette[i] = {e.Red, e.Green, e.Blue};
  }
  return palette;
}

// Writes the picture through `png`; false when libpng fails. Everything with a destructor
// lives in the caller, outside the reach of libpng's longjmp.
bool WriteImage(png_structp png, png_infop info, FILE* file, const TRasterBitmap& picture, TPngRows& rows,
                const std::vector<png_color>& palette) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  // Deflate's faster levels lose little on screen pictures: RGB rows repeat in long matches
  // that level 3 finds as well as 6 (within a few per cent) in half the time; indexed rows are a
  // third as long and their matches shorter, and level 5 keeps them within a few per cent.
  png_set_compression_level(png, rows.Indexed() ? 5 : 3);
  // No row filter: screen pictures are flat areas and sharp edges, which the filters predict
  // no better than deflate matches them, and choosing a filter for every row costs more than
  // the deflate itself.
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  const auto width = png_uint_32(picture.Width()), height = png_uint_32(picture.Height());
  if (rows.Indexed()) {
    png_set_IHDR(png, info, width, height, picture.BitsPerPixel(), PNG_COLOR_TYPE_PALETTE,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, palette.data(), int(palette.size()));
  } else {
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  }
  png_write_info(png, info);
  for (int32_t y = 0; y < picture.Height(); ++y) png_write_row(png, rows.Row(y));
  png_write_end(png, nullptr);
  return true;
}

}  // namespace

bool WritePng(const std::string& path, const TRasterBitmap& picture, std::string& error) {
  std::unique_ptr<FILE, TFileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, nullptr);
    error = "no memory to write " + path;
    return false;
  }
  TPngRows rows(picture);
  const std::vector<png_color> palette = rows.Indexed() ? Palette(picture) : std::vector<png_color>();
  const bool written = WriteImage(png, info, file.get(), picture, rows, palette);
  png_destroy_write_struct(&png, &info);
  if (!written) {
    error = "cannot write " + path;
    return false;
  }
  if (std::fflush(file.get()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}
