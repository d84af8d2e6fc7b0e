#include "shell/widgets/UzrPresent.h"

#include <bit>
#include <cstring>

namespace {

QImage::Format PresentedFormat(int bitsPerPixel) {
  switch (bitsPerPixel) {
    case 8:
      return QImage::Format_Indexed8;
    case 16:
      return QImage::Format_RGB555;
    case 24:
      return QImage::Format_BGR888;
    case 32:
      return QImage::Format_RGB32;
    default:
      return QImage::Format_Invalid;
  }
}

}  // namespace

void CopyToPresented(const TRasterBitmap& picture, const TColorTable& palette, QImage& presented) {
  const QImage::Format format = PresentedFormat(picture.BitsPerPixel());
  if (format == QImage::Format_Invalid) {
    presented = QImage();
    return;
  }
  const int width = picture.Width(), height = picture.Height();
  if (presented.format() != format || presented.size() != QSize(width, height)) {
    presented = QImage(width, height, format);
    if (presented.isNull()) return;
  }
  uchar* bits = presented.bits();
  const qsizetype stride = presented.bytesPerLine();
  if (format == QImage::Format_RGB32) {
    // Qt's RGB32 is 0xffRRGGBB in the machine's order, which on a little-endian machine is the
    // picture's B, G, R, X with the fourth byte opaque where the picture's is zero.
    for (int y = 0; y < height; ++y) {
      const uint8_t* in = picture.Row(y);
      auto* out = reinterpret_cast<QRgb*>(bits + y * stride);
      if constexpr (std::endian::native == std::endian::little) {
        for (int x = 0; x < width; ++x) {
          uint32_t v;
          std::memcpy(&v, in + 4 * x, 4);
          out[x] = v | 0xFF000000u;
        }
      } else {
        for (int x = 0; x < width; ++x, in += 4) out[x] = qRgb(in[2], in[1], in[0]);
      }
    }
    return;
  }
  const size_t rowBytes = size_t(width) * size_t(picture.BitsPerPixel() / 8);
  if (stride == picture.Stride()) {
    std::memcpy(bits, picture.Bits(), size_t(stride) * size_t(height));
  } else {
    for (int y = 0; y < height; ++y) std::memcpy(bits + y * stride, picture.Row(y), rowBytes);
  }
  if (format == QImage::Format_Indexed8) {
    QList<QRgb> colours(256);
    for (int i = 0; i < 256; ++i) colours[i] = qRgb(palette[i].Red, palette[i].Green, palette[i].Blue);
    presented.setColorTable(colours);
  }
}
