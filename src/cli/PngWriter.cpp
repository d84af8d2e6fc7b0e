#include "cli/PngWriter.h"

#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "io/FilePlace.h"
#include "io/ScopeGuard.h"
#include "io/UniqueFd.h"

namespace {

struct TFileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

// The picture's rows as 8-bit RGB rows, converted into one row buffer a row at a time. Every
// picture is written as RGB, whatever its depth, so that a picture reads back as the same
// kind of file for every segment; indexed pixels go through the colour table.
class TPngRows {
 public:
  explicit TPngRows(const TRasterBitmap& picture)
      : FPicture(picture), FRow(size_t(picture.Width()) * 3) {
    const int bits = picture.BitsPerPixel();
    if (bits > 8) return;
    // The colours an index names: the colour table, or black and white for a monochrome
    // bitmap without one.
    for (size_t i = 0; i < (size_t(1) << bits); ++i) {
      if (bits == 1 && !picture.HasColorTable()) {
        FColors[i] = i ? 0xFFFFFFu : 0;
      } else {
        const TColorEntry& e = picture.ColorTable()[i];
        FColors[i] = uint32_t{e.Red} | uint32_t{e.Green} << 8 | uint32_t{e.Blue} << 16;
      }
    }
  }

  const png_byte* Row(int32_t y) {
    const uint8_t* in = FPicture.Row(y);
    png_byte* out = FRow.data();
    const int32_t width = FPicture.Width();
    switch (FPicture.BitsPerPixel()) {
      case 1:
        for (int32_t x = 0; x < width; ++x, out += 3) PutIndex(out, (in[x >> 3] >> (7 - (x & 7))) & 1);
        break;
      case 4:
        for (int32_t x = 0; x < width; ++x, out += 3) PutIndex(out, (in[x >> 1] >> (x & 1 ? 0 : 4)) & 0xF);
        break;
      case 8:
        for (int32_t x = 0; x < width; ++x, out += 3) PutIndex(out, in[x]);
        break;
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
  void PutIndex(png_byte* out, size_t index) const {
    const uint32_t c = FColors[index];
    out[0] = png_byte(c), out[1] = png_byte(c >> 8), out[2] = png_byte(c >> 16);
  }

  const TRasterBitmap& FPicture;
  std::vector<png_byte> FRow;
  uint32_t FColors[256] = {};  // indexed pictures: red, green, blue from the low byte
};

// Writes the picture through `png`; false when libpng fails. Everything with a destructor
// lives in the caller, outside the reach of libpng's longjmp.
bool WriteImage(png_structp png, png_infop info, FILE* file, const TRasterBitmap& picture,
                TPngRows& rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  // Deflate's level 3 loses little on screen pictures: their rows repeat in long matches that
  // it finds as well as level 6 (within a few per cent) in half the time.
  png_set_compression_level(png, 3);
  // No row filter: screen pictures are flat areas and sharp edges, which the filters predict
  // no better than deflate matches them, and choosing a filter for every row costs more than
  // the deflate itself.
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_IHDR(png, info, png_uint_32(picture.Width()), png_uint_32(picture.Height()), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = 0; y < picture.Height(); ++y) png_write_row(png, rows.Row(y));
  png_write_end(png, nullptr);
  return true;
}

// Writes the picture into an open file, named `path` in messages.
bool WritePngTo(FILE* file, const std::string& path, const TRasterBitmap& picture, std::string& error) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, nullptr);
    error = "no memory to write " + path;
    return false;
  }
  TPngRows rows(picture);
  const bool written = WriteImage(png, info, file, picture, rows);
  png_destroy_write_struct(&png, &info);
  if (!written) {
    error = "cannot write " + path;
    return false;
  }
  if (std::fflush(file) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// Holds off the signals that end a run until it goes out of scope; one that came meanwhile is
// delivered then.
class TSignalsHeld {
 public:
  TSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held, sig);
    ::pthread_sigmask(SIG_BLOCK, &held, &FBefore);
  }
  ~TSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &FBefore, nullptr); }
  TSignalsHeld(const TSignalsHeld&) = delete;
  TSignalsHeld& operator=(const TSignalsHeld&) = delete;

 private:
  sigset_t FBefore;
};

}  // namespace

bool WritePng(const std::string& path, const TRasterBitmap& picture, std::string& error) {
  std::unique_ptr<FILE, TFileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  return WritePngTo(file.get(), path, picture, error);
}

bool WritePngFile(const std::string& path, const TRasterBitmap& picture, bool replace, std::string& error) {
  const std::string folder = FolderOf(path);
  // A short name of its own in the same folder, whatever the length of the picture's name.
  std::string temporary;
  TSignalsHeld held;
  TFd fd(CreateFileBeside(path, "zrfilm-XXXXXX.part", temporary));
  if (!fd) {
    error = "cannot create a file in " + folder + ": " + std::strerror(errno);
    return false;
  }
  // Gone unless it was moved into place, also when memory runs out on the way.
  bool done = false;
  const auto removeTemporary = OnScopeExit([&] {
    if (!done) ::unlink(temporary.c_str());
  });
  std::unique_ptr<FILE, TFileCloser> file(::fdopen(fd.Get(), "wb"));
  if (!file) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  fd.Release();  // the file closes it
  done = WritePngTo(file.get(), path, picture, error);
  if (std::fclose(file.release()) != 0 && done) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    done = false;
  }
  if (done && !MoveIntoPlace(temporary, path, replace)) {
    error = errno == EEXIST ? path + " already exists" : "cannot write " + path + ": " + std::strerror(errno);
    done = false;
  }
  return done;
}
