// Build-time tool: renders the About picture and writes it as a baseline JPEG file, so that the
// picture the About box shows is made by the build and never kept in the repository.
//
//   make_about_jpeg <output.jpg>
//
// Quality 92 and full-resolution chroma (4:4:4): the picture is small and full of thin
// coloured edges (film-strip holes, the pointer, the lettering). 4:2:0 would save about 2.5 KB
// of 12 KB but miss single channels by up to 65 levels at those edges; 4:4:4 stays within 23.
// Integer DCT and fixed tables make the output byte-identical from build to build.
// jpeglib.h needs size_t and FILE declared first.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <QImage>
#include <cerrno>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/UzrArtwork.h"

namespace {

constexpr int kQuality = 92;

struct TErrorManager {
  jpeg_error_mgr Base;  // first, so that a j_common_ptr's err can be cast back
  std::jmp_buf Jump;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<TErrorManager*>(cinfo->err);
  std::longjmp(manager->Jump, 1);
}

// Encodes a Format_RGB888 picture into `out` (allocated by libjpeg; the caller frees it).
// False with a message in `error` when libjpeg fails.
bool Encode(const QImage& rgb, unsigned char** out, unsigned long* outSize, std::string& error) {
  jpeg_compress_struct cinfo;
  TErrorManager jerr;
  cinfo.err = jpeg_std_error(&jerr.Base);
  jerr.Base.error_exit = ErrorExit;
  if (setjmp(jerr.Jump)) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo.err->format_message)(reinterpret_cast<j_common_ptr>(&cinfo), message);
    error = message;
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, outSize);
  cinfo.image_width = JDIMENSION(rgb.width());
  cinfo.image_height = JDIMENSION(rgb.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, kQuality, TRUE);  // force baseline-compatible tables
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.optimize_coding = TRUE;  // optimal Huffman tables are still baseline
  // 4:4:4: every component at full resolution.
  for (int c = 0; c < cinfo.num_components; ++c) {
    cinfo.comp_info[c].h_samp_factor = 1;
    cinfo.comp_info[c].v_samp_factor = 1;
  }
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    // libjpeg does not write through the row pointer; the cast only satisfies its signature.
    JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(int(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output.jpg>\n", argv[0]);
    return 2;
  }
  const std::string path = argv[1];
  const QImage rgb = AboutPicture().convertToFormat(QImage::Format_RGB888);
  if (rgb.isNull()) {
    std::fprintf(stderr, "make_about_jpeg: the About picture could not be drawn\n");
    return 1;
  }

  unsigned char* data = nullptr;
  unsigned long size = 0;
  std::string error;
  if (!Encode(rgb, &data, &size, error)) {
    std::free(data);
    std::fprintf(stderr, "make_about_jpeg: cannot encode the picture: %s\n", error.c_str());
    return 1;
  }

  // Write beside the target and rename, so that an interrupted build never leaves a
  // truncated picture that looks up to date.
  const std::string temporary = path + ".part";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  bool ok = file != nullptr;
  int savedErrno = ok ? 0 : errno;
  if (ok && std::fwrite(data, 1, size, file) != size) ok = false, savedErrno = errno;
  if (file && std::fclose(file) != 0 && ok) ok = false, savedErrno = errno;
  std::free(data);
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) ok = false, savedErrno = errno;
  if (!ok) {
    std::remove(temporary.c_str());
    std::fprintf(stderr, "make_about_jpeg: cannot write %s: %s\n", path.c_str(),
                 std::strerror(savedErrno));
    return 1;
  }
  return 0;
}
