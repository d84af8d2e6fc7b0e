// Build-time tool: renders the About picture and writes it as a baseline JPEG file, so that the
// picture the About box shows is made by the build and never kept in the repository.
//
//   make_about_jpeg <output.jpg>
//
// Quality 92 and full-resolution chroma (4:4:4): the picture is small and full of thin
// coloured edges (film-strip holes, the pointer, the lettering). 4:2:0 would save about 2.5 KB
// of 12 KB but miss single channels by up to 65 levels at those edges; 4:4:4 stays within 23.
// Integer DCT and fixed tables make the output byte-identical from build to build.
#include <QImage>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "jpegwriter/JpegWriter.h"
#include "shell/artwork/UzrArtwork.h"

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

  TJpegSettings settings;
  settings.Quality = 92;
  settings.Sampling = 1;     // 4:4:4
  settings.Optimize = true;  // optimal Huffman tables are still baseline
  std::vector<uint8_t> jpeg;
  std::string error;
  if (!EncodeJpeg(rgb.constBits(), rgb.width(), rgb.height(), rgb.bytesPerLine(), settings, jpeg, error)) {
    std::fprintf(stderr, "make_about_jpeg: cannot encode the picture: %s\n", error.c_str());
    return 1;
  }
  const uint8_t* data = jpeg.data();
  const size_t size = jpeg.size();

  // Write beside the target and rename, so that an interrupted build never leaves a
  // truncated picture that looks up to date.
  const std::string temporary = path + ".part";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  bool ok = file != nullptr;
  int savedErrno = ok ? 0 : errno;
  if (ok && std::fwrite(data, 1, size, file) != size) ok = false, savedErrno = errno;
  if (file && std::fclose(file) != 0 && ok) ok = false, savedErrno = errno;
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) ok = false, savedErrno = errno;
  if (!ok) {
    std::remove(temporary.c_str());
    std::fprintf(stderr, "make_about_jpeg: cannot write %s: %s\n", path.c_str(),
                 std::strerror(savedErrno));
    return 1;
  }
  return 0;
}
