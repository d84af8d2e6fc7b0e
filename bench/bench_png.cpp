// Writing a picture as a PNG file, as `zrfilm frames` does for every composed picture, next to
// FFmpeg's PNG encoder (libavcodec "png", default settings, one thread) encoding the same
// picture and writing the packet to a file in the same folder. Pictures: a desktop with
// windows, text and a menu, at 1920 × 1080 and 1024 × 768, in 32 bits and in 8 bits with a
// colour table. The counter "bytes" is the size of the file written; compare the two cases of
// one picture for the time and size ratios.
#include <benchmark/benchmark.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "ScreenPicture.h"
#include "cli/PngWriter.h"
#include "export/AvHandles.h"

namespace fs = std::filesystem;

namespace {

// One private folder for the files the run writes, removed at exit.
const fs::path& Folder() {
  static const fs::path folder = [] {
    std::string pattern = (fs::temp_directory_path() / "bench_png-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    return fs::path(pattern);
  }();
  return folder;
}

// The pictures, drawn once each.
const TRasterBitmap& Picture(int width, int height, int bits) {
  static std::map<std::tuple<int, int, int>, std::unique_ptr<TRasterBitmap>> pictures;
  auto& picture = pictures[{width, height, bits}];
  if (!picture) picture = ScreenPicture(width, height, bits);
  return *picture;
}

void BM_WritePng(benchmark::State& state, int width, int height, int bits) {
  const TRasterBitmap& picture = Picture(width, height, bits);
  const std::string path = (Folder() / "ours.png").string();
  std::string error;
  for (auto _ : state) {
    if (!WritePng(path, picture, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
  state.counters["bytes"] = double(fs::file_size(path));
}

struct TFileClose {
  void operator()(FILE* f) const { std::fclose(f); }
};

void BM_FfmpegPng(benchmark::State& state, int width, int height, int bits) {
  const TRasterBitmap& picture = Picture(width, height, bits);
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  TAvCodecContext context(codec ? avcodec_alloc_context3(codec) : nullptr);
  TAvFrame frame(av_frame_alloc());
  TAvPacket packet(av_packet_alloc());
  if (!context || !frame || !packet) {
    state.SkipWithError("no PNG encoder");
    return;
  }
  const AVPixelFormat format = bits == 8 ? AV_PIX_FMT_PAL8 : AV_PIX_FMT_RGB24;
  context->width = width;
  context->height = height;
  context->pix_fmt = format;
  context->time_base = {1, 25};
  context->thread_count = 1;
  frame->format = format;
  frame->width = width;
  frame->height = height;
  if (avcodec_open2(context.get(), codec, nullptr) < 0 || av_frame_get_buffer(frame.get(), 0) < 0) {
    state.SkipWithError("cannot open the PNG encoder");
    return;
  }
  // The same picture in the encoder's input format, outside the timing.
  for (int y = 0; y < height; ++y) {
    uint8_t* out = frame->data[0] + ptrdiff_t(y) * frame->linesize[0];
    const uint8_t* in = picture.Row(y);
    if (bits == 8) {
      std::copy_n(in, width, out);
    } else {
      for (int x = 0; x < width; ++x, in += 4, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
      }
    }
  }
  if (bits == 8) {
    auto* palette = reinterpret_cast<uint32_t*>(frame->data[1]);
    for (int i = 0; i < 256; ++i) {
      const TColorEntry& e = picture.ColorTable()[size_t(i)];
      palette[i] = 0xFF000000u | uint32_t(e.Red) << 16 | uint32_t(e.Green) << 8 | e.Blue;
    }
  }
  const std::string path = (Folder() / "ffmpeg.png").string();
  int64_t pts = 0;
  for (auto _ : state) {
    frame->pts = pts++;
    if (avcodec_send_frame(context.get(), frame.get()) < 0 ||
        avcodec_receive_packet(context.get(), packet.get()) < 0) {
      state.SkipWithError("the encoder failed");
      break;
    }
    std::unique_ptr<FILE, TFileClose> file(std::fopen(path.c_str(), "wb"));
    if (!file || std::fwrite(packet->data, 1, size_t(packet->size), file.get()) != size_t(packet->size)) {
      state.SkipWithError("cannot write the file");
      break;
    }
    av_packet_unref(packet.get());
  }
  state.counters["bytes"] = double(fs::file_size(path));
}

BENCHMARK_CAPTURE(BM_WritePng, 1920x1080/32, 1920, 1080, 32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FfmpegPng, 1920x1080/32, 1920, 1080, 32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WritePng, 1024x768/32, 1024, 768, 32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FfmpegPng, 1024x768/32, 1024, 768, 32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WritePng, 1920x1080/8, 1920, 1080, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FfmpegPng, 1920x1080/8, 1920, 1080, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WritePng, 1024x768/8, 1024, 768, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FfmpegPng, 1024x768/8, 1024, 768, 8)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  const int status = RunScreenPictureBenchmarks(argc, argv);
  std::error_code ignored;
  fs::remove_all(Folder(), ignored);
  return status;
}
