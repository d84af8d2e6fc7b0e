#include "shell/artwork/UzrJpeg.h"

// jpeglib.h needs size_t and FILE declared first.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

#include <csetjmp>

namespace {

// A progressive file may hold any number of scans, each a pass over the whole picture: a legal
// scan script can refine every coefficient of every component bit by bit, thousands of passes
// that keep the decoder busy long after the bytes ran short. Real encoders write about ten.
constexpr int kMaxScans = 500;

enum class TFailure { Damaged, Unsupported, TooLarge, OutOfMemory };

// libjpeg reports errors by calling error_exit, whose default ends the program. Ours jumps
// back into DecodeInto instead; the message is formatted there, while the decoder still
// exists.
struct TErrorManager {
  jpeg_error_mgr Base;  // first, so that a j_common_ptr's err can be cast back
  jpeg_progress_mgr Progress;
  std::jmp_buf Jump;
  volatile bool TooManyScans;  // set by the progress monitor, read after the jump
};

TErrorManager& Manager(j_common_ptr cinfo) {
  return *reinterpret_cast<TErrorManager*>(cinfo->err);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) { std::longjmp(Manager(cinfo).Jump, 1); }

// libjpeg only warns about damaged entropy-coded data (bad Huffman codes, a file cut short)
// and goes on, filling the rest with grey. A damaged picture is a failure here, so the first
// warning ends decoding as an error would. Trace messages (level 0 and up) are dropped; nothing
// is ever printed.
void EmitMessage(j_common_ptr cinfo, int msgLevel) {
  if (msgLevel < 0) std::longjmp(Manager(cinfo).Jump, 1);
}

void OutputMessage(j_common_ptr) {}

void ProgressMonitor(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > kMaxScans) {
    Manager(cinfo).TooManyScans = true;
    std::longjmp(Manager(cinfo).Jump, 1);
  }
}

TFailure Classify(int msgCode) {
  switch (msgCode) {
    case JERR_OUT_OF_MEMORY:
      return TFailure::OutOfMemory;
    case JERR_ARITH_NOTIMPL:
    case JERR_BAD_PRECISION:
    case JERR_CCIR601_NOTIMPL:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_EMPTY_IMAGE:
    case JERR_FRACT_SAMPLE_NOTIMPL:
    case JERR_NOTIMPL:
    case JERR_NOT_COMPILED:
    case JERR_SOF_UNSUPPORTED:
      return TFailure::Unsupported;
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
      return TFailure::TooLarge;
    default:
      return TFailure::Damaged;
  }
}

QString Describe(TFailure failure, const QString& detail) {
  switch (failure) {
    case TFailure::Damaged:
      return QStringLiteral("damaged JPEG: ") + detail;
    case TFailure::Unsupported:
      return QStringLiteral("unsupported JPEG: ") + detail;
    case TFailure::TooLarge:
      return QStringLiteral("JPEG too large: ") + detail;
    case TFailure::OutOfMemory:
      break;
  }
  return QStringLiteral("out of memory decoding JPEG");
}

// The part that runs under setjmp. Every object with a destructor lives in the caller, so the
// jump back from libjpeg skips none; `rgb` is only assigned here.
bool DecodeInto(const QByteArray& bytes, QImage& rgb, QString& error) {
  jpeg_decompress_struct cinfo;
  TErrorManager jerr;
  cinfo.err = jpeg_std_error(&jerr.Base);
  jerr.Base.error_exit = ErrorExit;
  jerr.Base.emit_message = EmitMessage;
  jerr.Base.output_message = OutputMessage;
  jerr.Progress.progress_monitor = ProgressMonitor;
  jerr.TooManyScans = false;

  if (setjmp(jerr.Jump)) {
    if (jerr.TooManyScans) {
      error = Describe(TFailure::Unsupported, QStringLiteral("more than %1 scans").arg(kMaxScans));
    } else {
      char message[JMSG_LENGTH_MAX];
      (*jerr.Base.format_message)(reinterpret_cast<j_common_ptr>(&cinfo), message);
      error = Describe(Classify(jerr.Base.msg_code), QString::fromLocal8Bit(message));
    }
    jpeg_destroy_decompress(&cinfo);
    rgb = QImage();
    return false;
  }

  jpeg_create_decompress(&cinfo);
  cinfo.progress = &jerr.Progress;
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.constData()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);

  // The header is complete here and nothing large is allocated yet.
  if (cinfo.image_width > JDIMENSION(kMaxJpegSide) || cinfo.image_height > JDIMENSION(kMaxJpegSide)) {
    error = Describe(TFailure::TooLarge, QStringLiteral("%1 × %2 pixels, at most %3 × %3")
                                             .arg(cinfo.image_width)
                                             .arg(cinfo.image_height)
                                             .arg(kMaxJpegSide));
    jpeg_destroy_decompress(&cinfo);
    return false;
  }

  cinfo.out_color_space = JCS_RGB;  // grey and YCbCr both come out as R, G, B
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 3) {
    error = Describe(TFailure::Unsupported,
                     QStringLiteral("%1 colour components").arg(cinfo.output_components));
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  rgb = QImage(int(cinfo.output_width), int(cinfo.output_height), QImage::Format_RGB888);
  if (rgb.isNull()) {
    error = Describe(TFailure::OutOfMemory, {});
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    // A Format_RGB888 row is exactly what JCS_RGB writes: R, G, B bytes, no padding inside.
    JSAMPROW row = rgb.scanLine(int(cinfo.output_scanline));
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

bool DecodeJpeg(const QByteArray& bytes, QImage& image, QString& error) {
  image = QImage();
  error.clear();
  if (bytes.isEmpty()) {
    error = QStringLiteral("empty JPEG data");
    return false;
  }
  QImage rgb;
  if (!DecodeInto(bytes, rgb, error)) return false;
  image = rgb.convertToFormat(QImage::Format_RGB32);
  if (image.isNull()) {
    error = Describe(TFailure::OutOfMemory, {});
    return false;
  }
  return true;
}
