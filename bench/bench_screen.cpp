// Playback of a realistic screen recording at 1920 × 1080, frame by frame, and the same
// pictures decoded by libavcodec's QuickTime animation (qtrle) decoder.
//
// The recording is the one of ScreenScene.h; its frames are encoded with the film writer, one
// delta at a time.
//
// Times are thread CPU time, so that another process on the machine does not count. Every
// figure is also given as a ratio to a memcpy of one 32-bit frame timed in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include "ScreenScene.h"
#include "support/PlaybackProbe.h"
#include "export/AvHandles.h"

namespace {

enum class TContent { Screen, Noise };

// One content as a film segment and as qtrle packets, built once per depth.
struct TEncoded {
  int Frames = 0;
  std::vector<uint8_t> FrameData;  // the film's frame records
  std::vector<uint8_t> Track;      // the cursor track
  std::vector<std::vector<uint8_t>> Packets;  // qtrle, the first one a key frame
  AVPixelFormat PixelFormat = AV_PIX_FMT_NONE;
};

void Check(int result, const char* what) {
  if (result < 0) throw std::runtime_error(std::string("libavcodec: ") + what + " failed");
}

// A qtrle encoder at 24 bits (RGB24) or 32 bits (ARGB), with one key frame at the start.
TAvCodecContext QtrleEncoder(AVPixelFormat format, int frames) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_QTRLE);
  if (!codec) throw std::runtime_error("libavcodec has no qtrle encoder");
  TAvCodecContext context(avcodec_alloc_context3(codec));
  context->width = kWidth;
  context->height = kHeight;
  context->pix_fmt = format;
  context->time_base = {1, 10};
  context->gop_size = frames + 1;
  context->thread_count = 1;
  Check(avcodec_open2(context.get(), codec, nullptr), "opening the qtrle encoder");
  return context;
}

template <typename TSource>
void Encode(const TSource& source, int bits, TEncoded& encoded) {
  encoded.Frames = TSource::kFrames;
  encoded.PixelFormat = bits == 24 ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_ARGB;
  TAvCodecContext encoder = QtrleEncoder(encoded.PixelFormat, encoded.Frames);
  TAvFrame frame(av_frame_alloc());
  frame->format = encoded.PixelFormat;
  frame->width = kWidth;
  frame->height = kHeight;
  Check(av_frame_get_buffer(frame.get(), 0), "allocating a frame");
  TAvPacket packet(av_packet_alloc());

  TCanvas previous, current;
  std::fill(previous.Pixels.begin(), previous.Pixels.end(), 0u);
  TByteWriter track;
  for (int f = 0; f < encoded.Frames; ++f) {
    source.Draw(f, current);
    const auto record = EncodeFrameRecord(DeltaRuns(previous.Pixels, current.Pixels, bits), bits);
    encoded.FrameData.insert(encoded.FrameData.end(), record.begin(), record.end());
    const auto [mx, my] = TScene::Mouse(f);
    track.U16(0).U16(uint16_t(mx)).U16(uint16_t(my));

    Check(av_frame_make_writable(frame.get()), "making a frame writable");
    for (int32_t y = 0; y < kHeight; ++y) {
      uint8_t* row = frame->data[0] + ptrdiff_t(y) * frame->linesize[0];
      for (int32_t x = 0; x < kWidth; ++x) {
        const uint32_t p = current.Pixels[size_t(y) * kWidth + x];
        if (bits == 32) *row++ = 0xFF;  // alpha
        *row++ = uint8_t(p >> 16), *row++ = uint8_t(p >> 8), *row++ = uint8_t(p);
      }
    }
    frame->pts = f;
    Check(avcodec_send_frame(encoder.get(), frame.get()), "sending a frame to the encoder");
    while (avcodec_receive_packet(encoder.get(), packet.get()) == 0) {
      encoded.Packets.emplace_back(packet->data, packet->data + packet->size);
      av_packet_unref(packet.get());
    }
    std::swap(previous, current);
  }
  Check(avcodec_send_frame(encoder.get(), nullptr), "draining the encoder");
  while (avcodec_receive_packet(encoder.get(), packet.get()) == 0) {
    encoded.Packets.emplace_back(packet->data, packet->data + packet->size);
    av_packet_unref(packet.get());
  }
  encoded.Track = track.Take();
  if (int(encoded.Packets.size()) != encoded.Frames)
    throw std::runtime_error("the qtrle encoder gave a packet count other than the frames'");
  if (encoded.FrameData.size() > TPlaybackCore::kFrameBufferSize)
    throw std::runtime_error("the benchmark segment does not fit the frame buffer");
}

const TEncoded& Encoded(TContent content, int bits) {
  static std::map<std::pair<TContent, int>, TEncoded> cache;
  auto [it, added] = cache.try_emplace({content, bits});
  if (added) {
    if (content == TContent::Screen) Encode(TScene{}, bits, it->second);
    else Encode(TNoise{}, bits, it->second);
  }
  return it->second;
}

// A core playing the content's segment, with or without its cursor.
struct TPlayer {
  TBenchHost Host;
  TPlaybackCore Core{Host};

  TPlayer(const TEncoded& encoded, int bits, bool cursor) {
    Host.Core = &Core;
    auto segment = std::make_unique<Segment>();
    segment->Width = kWidth;
    segment->Height = kHeight;
    segment->BitsPerPixel = uint8_t(bits);
    segment->FrameCount = encoded.Frames;
    segment->FrameRate = 10;
    segment->FrameDataSize = int32_t(encoded.FrameData.size());
    segment->Name = "screen";
    segment->SegStream.Assign(encoded.FrameData);
    std::vector<uint8_t> track = encoded.Track;
    // Without a cursor every record names slot 1, which is empty.
    if (!cursor)
      for (size_t i = 0; i < track.size(); i += 6) track[i] = 1;
    segment->CursorDataSize = int32_t(track.size());
    segment->CursStream.Assign(track);
    segment->CursorList->Add(ArrowCursor());
    TPlaybackProbe::AddSegment(Core, std::move(segment));
    if (Core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) != kResultOk)
      throw std::runtime_error("no frame buffer");
    if (Core.SetCurSegment() != kResultOk) throw std::runtime_error("activation failed");
  }

  // Plays the segment's frames from the first, as the timer does, minus the presenting.
  void Restart() {
    TPlaybackProbe::Rewind(Core);
    Segment& segment = *Core.Segments()[0];
    segment.CursStream.SetPosition(0);
  }
  void PlayFrame() {
    TPlaybackProbe::DecodeFrame(Core);
    TPlaybackProbe::ComposeFrame(Core);
    TPlaybackProbe::NextFrame(Core);
  }
};

// Every frame of the screen recording, timed one by one; the counters are the mean and the
// 90th percentile over the frames (each frame's time the median over the iterations), in
// microseconds and as multiples of the memcpy baseline.
void BM_ScreenSequence(benchmark::State& state, int bits, bool cursor) {
  const TEncoded& encoded = Encoded(TContent::Screen, bits);
  TPlayer player(encoded, bits, cursor);
  TMemcpyBaseline baseline;
  std::vector<std::vector<double>> times(size_t(encoded.Frames));
  for (auto _ : state) {
    player.Restart();
    for (int f = 0; f < encoded.Frames; ++f) {
      const double t0 = ThreadSeconds();
      player.PlayFrame();
      times[size_t(f)].push_back(ThreadSeconds() - t0);
    }
    benchmark::DoNotOptimize(player.Core.Picture()->Bits());
    baseline.Measure(4);
  }
  if (player.Core.LastResult() != kResultOk) state.SkipWithError("playback stopped");

  std::vector<double> perFrame;
  for (const auto& t : times) perFrame.push_back(Median(t));
  double sum = 0;
  for (double t : perFrame) sum += t;
  const double mean = sum / double(perFrame.size());
  std::sort(perFrame.begin(), perFrame.end());
  const double p90 = perFrame[size_t(double(perFrame.size() - 1) * 0.9 + 0.5)];
  const double memcpyTime = baseline.Median();
  state.counters["mean_us"] = mean * 1e6;
  state.counters["p90_us"] = p90 * 1e6;
  state.counters["max_us"] = perFrame.back() * 1e6;
  state.counters["memcpy_us"] = memcpyTime * 1e6;
  state.counters["mean/memcpy"] = mean / memcpyTime;
  state.counters["p90/memcpy"] = p90 / memcpyTime;
  state.counters["film_MB"] = double(encoded.FrameData.size()) / 1e6;
}
BENCHMARK_CAPTURE(BM_ScreenSequence, 32/cursor, 32, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScreenSequence, 24/cursor, 24, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScreenSequence, 32/nocursor, 32, false)->Unit(benchmark::kMillisecond);

// The same pictures through our decoder and composition (no cursor, which qtrle has not) and
// through libavcodec's qtrle decoder with one thread, the two and a memcpy of the frame taking
// turns in each iteration. "speedup" is qtrle's time over ours: above 1, ours is faster; the
// first frame, a whole picture in both formats, is also given apart. "ours/memcpy" and
// "qtrle/memcpy" are the mean frame over the median memcpy.
void BM_AgainstQtrle(benchmark::State& state, TContent content, int bits) {
  const TEncoded& encoded = Encoded(content, bits);
  TPlayer player(encoded, bits, false);

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_QTRLE);
  if (!codec) throw std::runtime_error("libavcodec has no qtrle decoder");
  TAvCodecContext decoder(avcodec_alloc_context3(codec));
  decoder->width = kWidth;
  decoder->height = kHeight;
  decoder->bits_per_coded_sample = bits;
  decoder->thread_count = 1;
  Check(avcodec_open2(decoder.get(), codec, nullptr), "opening the qtrle decoder");
  TAvFrame frame(av_frame_alloc());
  TAvPacket packet(av_packet_alloc());
  std::vector<TAvPacket> packets;
  for (const auto& bytes : encoded.Packets) {
    TAvPacket p(av_packet_alloc());
    Check(av_new_packet(p.get(), int(bytes.size())), "allocating a packet");
    std::memcpy(p->data, bytes.data(), bytes.size());
    packets.push_back(std::move(p));
  }
  packets.front()->flags |= AV_PKT_FLAG_KEY;

  // Times of the first frame, a whole picture, and of the frames after it.
  double ours[2] = {0, 0}, theirs[2] = {0, 0};
  TMemcpyBaseline baseline;
  for (auto _ : state) {
    baseline.Measure(2);
    player.Restart();
    for (int f = 0; f < encoded.Frames; ++f) {
      const double t0 = ThreadSeconds();
      player.PlayFrame();
      ours[f > 0] += ThreadSeconds() - t0;
    }
    benchmark::DoNotOptimize(player.Core.Picture()->Bits());

    for (size_t f = 0; f < packets.size(); ++f) {
      const double t0 = ThreadSeconds();
      Check(av_packet_ref(packet.get(), packets[f].get()), "referencing a packet");
      Check(avcodec_send_packet(decoder.get(), packet.get()), "sending a packet");
      av_packet_unref(packet.get());
      Check(avcodec_receive_frame(decoder.get(), frame.get()), "receiving a frame");
      benchmark::DoNotOptimize(frame->data[0]);
      av_frame_unref(frame.get());
      theirs[f > 0] += ThreadSeconds() - t0;
    }
  }
  if (player.Core.LastResult() != kResultOk) state.SkipWithError("playback stopped");
  const double iterations = double(state.iterations());
  const double frames = iterations * encoded.Frames;
  state.counters["ours_us/frame"] = (ours[0] + ours[1]) / frames * 1e6;
  state.counters["qtrle_us/frame"] = (theirs[0] + theirs[1]) / frames * 1e6;
  state.counters["speedup"] = (theirs[0] + theirs[1]) / (ours[0] + ours[1]);
  state.counters["ours/memcpy"] = (ours[0] + ours[1]) / frames / baseline.Median();
  state.counters["qtrle/memcpy"] = (theirs[0] + theirs[1]) / frames / baseline.Median();
  state.counters["first_ours_us"] = ours[0] / iterations * 1e6;
  state.counters["first_qtrle_us"] = theirs[0] / iterations * 1e6;
  state.counters["speedup_after_first"] = theirs[1] / ours[1];
  size_t qtrleBytes = 0;
  for (const auto& p : encoded.Packets) qtrleBytes += p.size();
  state.counters["film_MB"] = double(encoded.FrameData.size()) / 1e6;
  state.counters["qtrle_MB"] = double(qtrleBytes) / 1e6;
}
BENCHMARK_CAPTURE(BM_AgainstQtrle, screen/24, TContent::Screen, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AgainstQtrle, screen/32, TContent::Screen, 32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AgainstQtrle, noise/24, TContent::Noise, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AgainstQtrle, noise/32, TContent::Noise, 32)->Unit(benchmark::kMillisecond);

}  // namespace
