// Feeds arbitrary bytes to the JPEG decoder of the About picture. A picture comes out whole
// or not at all: on success an RGB32 picture within the size limit, the same on a second
// decode (no uninitialised pixels); on failure no picture and one of the documented reasons.
#include <QByteArray>
#include <QImage>
#include <QString>
#include <cstdint>

#include "FuzzCheck.h"
#include "shell/artwork/UzrJpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
  QImage image;
  QString error;
  if (!DecodeJpeg(bytes, image, error)) {
    CHECK(image.isNull());
    bool known = false;
    for (const char* reason : {"empty JPEG data", "damaged JPEG: ", "unsupported JPEG: ", "JPEG too large: ",
                               "out of memory decoding JPEG"})
      known = known || error.startsWith(QLatin1String(reason));
    CHECK(known);
    return 0;
  }
  CHECK(error.isEmpty() && image.format() == QImage::Format_RGB32);
  CHECK(image.width() >= 1 && image.height() >= 1 && image.width() <= kMaxJpegSide && image.height() <= kMaxJpegSide);
  QImage again;
  CHECK(DecodeJpeg(bytes, again, error) && again == image);
  return 0;
}
