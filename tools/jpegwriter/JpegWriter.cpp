#include "jpegwriter/JpegWriter.h"

#include <csetjmp>
#include <cstdlib>

namespace {

struct TErrorManager {
  jpeg_error_mgr Base;  // first, so that a j_common_ptr's err can be cast back
  std::jmp_buf Jump;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<TErrorManager*>(cinfo->err)->Jump, 1);
}

}  // namespace

bool EncodeJpeg(const uint8_t* pixels, int width, int height, std::ptrdiff_t stride,
                const TJpegSettings& settings, std::vector<uint8_t>& out, std::string& error) {
  jpeg_compress_struct cinfo;
  TErrorManager jerr;
  cinfo.err = jpeg_std_error(&jerr.Base);
  jerr.Base.error_exit = ErrorExit;
  unsigned char* buffer = nullptr;
  unsigned long length = 0;
  if (setjmp(jerr.Jump)) {
    char message[JMSG_LENGTH_MAX];
    (*cinfo.err->format_message)(reinterpret_cast<j_common_ptr>(&cinfo), message);
    error = message;
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buffer, &length);
  cinfo.image_width = JDIMENSION(width);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = settings.Components;
  cinfo.in_color_space = settings.Space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, settings.Quality, TRUE);  // baseline-compatible tables
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.optimize_coding = settings.Optimize ? TRUE : FALSE;
  cinfo.arith_code = settings.Arithmetic ? TRUE : FALSE;
  cinfo.restart_in_rows = settings.RestartRows;
  if (cinfo.num_components > 1)
    cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = settings.Sampling;
  if (!settings.ScanScript.empty()) {
    cinfo.scan_info = settings.ScanScript.data();
    cinfo.num_scans = int(settings.ScanScript.size());
  } else if (settings.Progressive) {
    jpeg_simple_progression(&cinfo);
  }
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    // libjpeg does not write through the row pointer; the cast only satisfies its signature.
    JSAMPROW row = const_cast<JSAMPROW>(pixels + std::ptrdiff_t(cinfo.next_scanline) * stride);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  out.assign(buffer, buffer + length);
  std::free(buffer);
  return true;
}
