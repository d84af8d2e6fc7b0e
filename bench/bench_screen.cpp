// Playback of a realistic screen recording at 1920 × 1080, frame by frame, and the same
// pictures decoded by libavcodec's QuickTime animation (qtrle) decoder.
//
// The recording: a gradient desktop with a taskbar and a ticking clock, an editor into which
// anti-aliased text is typed, a dialog that opens and is dragged over 40 frames, a menu that
// opens, walks down its items and closes, and a mouse cursor that moves throughout. Frames
// are encoded with the film writer, one delta at a time.
//
// Times are thread CPU time, so that another process on the machine does not count. Every
// figure is also given as a ratio to a memcpy of one 32-bit frame timed in the same run.
#include <benchmark/benchmark.h>

#include <time.h>

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

#include "bench_support.h"

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr size_t kPixels = size_t(kWidth) * kHeight;
constexpr size_t kFrameBytes32 = kPixels * 4;

double ThreadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

uint32_t Rgb(int r, int g, int b) {
  return uint32_t(std::clamp(r, 0, 255) << 16 | std::clamp(g, 0, 255) << 8 | std::clamp(b, 0, 255));
}

uint32_t Blend(uint32_t back, uint32_t ink, int coverage) {  // coverage 0..16
  const auto channel = [&](int shift) {
    const int b = int(back >> shift & 0xFF), i = int(ink >> shift & 0xFF);
    return (b * (16 - coverage) + i * coverage) / 16;
  };
  return Rgb(channel(16), channel(8), channel(0));
}

// A picture being drawn.
struct TCanvas {
  std::vector<uint32_t> Pixels = std::vector<uint32_t>(kPixels);

  void Fill(int32_t left, int32_t top, int32_t w, int32_t h, uint32_t color) {
    for (int32_t y = std::max(top, 0); y < std::min(top + h, kHeight); ++y)
      for (int32_t x = std::max(left, 0); x < std::min(left + w, kWidth); ++x)
        Pixels[size_t(y) * kWidth + x] = color;
  }
  // A one-pixel frame around a rectangle.
  void Frame(int32_t left, int32_t top, int32_t w, int32_t h, uint32_t color) {
    Fill(left, top, w, 1, color);
    Fill(left, top + h - 1, w, 1, color);
    Fill(left, top, 1, h, color);
    Fill(left + w - 1, top, 1, h, color);
  }
};

// Glyphs of anti-aliased text: 8 × 14 coverage maps of two to four strokes, supersampled
// four times in each direction, so their edges take the in-between shades real text has.
constexpr int32_t kGlyphW = 8, kGlyphH = 14, kCellW = 9, kCellH = 18;
using TGlyph = std::array<uint8_t, kGlyphW * kGlyphH>;

std::vector<TGlyph> MakeGlyphs(int count, uint64_t seed) {
  std::vector<TGlyph> glyphs(static_cast<size_t>(count));
  TRandom random{seed};
  for (auto& glyph : glyphs) {
    struct TStroke {
      float X0, Y0, X1, Y1;
    };
    std::vector<TStroke> strokes(2 + random.Next() % 3);
    for (auto& s : strokes)
      s = {float(random.Next() % 7) + 0.5f, float(2 + random.Next() % 11) + 0.5f,
           float(random.Next() % 7) + 0.5f, float(2 + random.Next() % 11) + 0.5f};
    for (int32_t y = 0; y < kGlyphH; ++y)
      for (int32_t x = 0; x < kGlyphW; ++x) {
        int covered = 0;
        for (int sy = 0; sy < 4; ++sy)
          for (int sx = 0; sx < 4; ++sx) {
            const float px = float(x) + (float(sx) + 0.5f) / 4, py = float(y) + (float(sy) + 0.5f) / 4;
            for (const auto& s : strokes) {
              const float dx = s.X1 - s.X0, dy = s.Y1 - s.Y0;
              const float len2 = std::max(dx * dx + dy * dy, 1e-3f);
              const float t = std::clamp(((px - s.X0) * dx + (py - s.Y0) * dy) / len2, 0.0f, 1.0f);
              const float ex = s.X0 + t * dx - px, ey = s.Y0 + t * dy - py;
              if (ex * ex + ey * ey < 0.6f * 0.6f) {
                ++covered;
                break;
              }
            }
          }
        glyph[size_t(y * kGlyphW + x)] = uint8_t(covered);
      }
  }
  return glyphs;
}

void DrawGlyph(TCanvas& canvas, const TGlyph& glyph, int32_t left, int32_t top, uint32_t ink) {
  for (int32_t y = 0; y < kGlyphH; ++y)
    for (int32_t x = 0; x < kGlyphW; ++x) {
      const int32_t px = left + x, py = top + y;
      if (px < 0 || py < 0 || px >= kWidth || py >= kHeight) continue;
      uint32_t& p = canvas.Pixels[size_t(py) * kWidth + px];
      p = Blend(p, ink, glyph[size_t(y * kGlyphW + x)]);
    }
}

// Text of pseudo-characters (indices into the glyphs; 0 is a space).
void DrawText(TCanvas& canvas, const std::vector<TGlyph>& glyphs, const std::vector<int>& text,
              int32_t left, int32_t top, int32_t columns, uint32_t ink) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == 0) continue;
    const int32_t column = int32_t(i % size_t(columns)), line = int32_t(i / size_t(columns));
    DrawGlyph(canvas, glyphs[size_t(text[i])], left + column * kCellW, top + line * kCellH, ink);
  }
}

std::vector<int> Words(int count, uint64_t seed, int glyphCount) {
  TRandom random{seed};
  std::vector<int> text;
  while (int(text.size()) < count) {
    const int length = 2 + int(random.Next() % 8);
    for (int i = 0; i < length; ++i) text.push_back(1 + int(random.Next() % uint32_t(glyphCount - 1)));
    text.push_back(0);
  }
  text.resize(size_t(count));
  return text;
}

// A window: a title bar shading from one blue to another, a body, a border.
void DrawWindow(TCanvas& canvas, int32_t left, int32_t top, int32_t w, int32_t h, uint32_t body) {
  for (int32_t y = 0; y < 24; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int32_t px = left + x, py = top + y;
      if (px < 0 || py < 0 || px >= kWidth || py >= kHeight) continue;
      canvas.Pixels[size_t(py) * kWidth + px] = Rgb(10 + x * 60 / w, 36 + x * 90 / w, 106 + x * 110 / w);
    }
  canvas.Fill(left, top + 24, w, h - 24, body);
  canvas.Frame(left, top, w, h, Rgb(64, 64, 64));
}

// The recording's script, frame by frame.
struct TScene {
  static constexpr int kFrames = 139;
  std::vector<TGlyph> Glyphs = MakeGlyphs(64, 0x5EED);
  std::vector<uint32_t> Desktop = std::vector<uint32_t>(kPixels);
  std::vector<int> EditorText = Words(2400, 17, 64);
  std::vector<int> DialogText = Words(120, 23, 64);
  std::vector<int> MenuItems = Words(16 * 14, 29, 64);

  TScene() {
    // A diagonal gradient with a faint texture: neighbouring pixels rarely agree.
    for (int32_t y = 0; y < kHeight; ++y)
      for (int32_t x = 0; x < kWidth; ++x) {
        const int t = (x + y) * 256 / (kWidth + kHeight);
        const int grain = int((uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u) >> 29);
        Desktop[size_t(y) * kWidth + x] = Rgb(20 + t / 3 + grain, 60 + t / 2 + grain, 120 + t / 2);
      }
  }

  // Characters typed by frame f: one a frame in frames 1–40 and 99–138.
  static int Typed(int f) { return 300 + std::clamp(f, 0, 40) + std::clamp(f - 98, 0, 40); }

  // The cursor's position at frame f.
  static std::pair<int, int> Mouse(int f) {
    if (f >= 41 && f <= 81) return {700 + 12 * (f - 41), 310 + 5 * (f - 41)};  // on the title bar
    if (f >= 83 && f <= 98) return {360, 150 + 20 * std::clamp(f - 84, 0, 13)};
    return {1100 + 3 * (f % 50), 500 + 2 * (f % 50)};
  }

  void Draw(int f, TCanvas& canvas) const {
    canvas.Pixels = Desktop;
    // The editor with its text.
    DrawWindow(canvas, 100, 80, 1000, 760, Rgb(255, 255, 255));
    std::vector<int> typed(EditorText.begin(), EditorText.begin() + Typed(f));
    DrawText(canvas, Glyphs, typed, 112, 112, 104, Rgb(20, 20, 20));
    // The caret blinks every five frames.
    if (f / 5 % 2 == 0) {
      const int32_t n = Typed(f);
      canvas.Fill(112 + n % 104 * kCellW, 112 + n / 104 * kCellH, 1, 15, Rgb(0, 0, 0));
    }
    // The taskbar and its clock, which ticks every ten frames.
    canvas.Fill(0, kHeight - 40, kWidth, 40, Rgb(32, 36, 44));
    const int seconds = 1000 + f / 10;
    std::vector<int> clock;
    for (int v : {seconds / 600 % 6, seconds / 60 % 10, -1, seconds / 10 % 6, seconds % 10})
      clock.push_back(v < 0 ? 0 : 1 + v);
    DrawText(canvas, Glyphs, clock, kWidth - 80, kHeight - 30, 8, Rgb(230, 230, 230));
    // The dialog: opened at frame 41, dragged in frames 42–81, closed at 82.
    if (f >= 41 && f <= 81) {
      const int32_t left = 500 + 12 * (f - 41), top = 300 + 5 * (f - 41);
      DrawWindow(canvas, left, top, 420, 280, Rgb(236, 233, 216));
      DrawText(canvas, Glyphs, DialogText, left + 16, top + 40, 40, Rgb(0, 0, 0));
      for (int32_t b = 0; b < 2; ++b) {
        canvas.Fill(left + 200 + b * 104, top + 236, 90, 28, Rgb(245, 244, 238));
        canvas.Frame(left + 200 + b * 104, top + 236, 90, 28, Rgb(0, 60, 116));
      }
    }
    // The menu: opened at frame 83, its highlight walking down in frames 84–97, closed at 98.
    if (f >= 83 && f <= 97) {
      canvas.Fill(300, 100, 240, 14 * 22 + 8, Rgb(250, 250, 250));
      canvas.Frame(300, 100, 240, 14 * 22 + 8, Rgb(120, 120, 120));
      const int highlighted = f - 84;
      for (int item = 0; item < 14; ++item) {
        const bool lit = item == highlighted;
        if (lit) canvas.Fill(302, 104 + item * 22, 236, 22, Rgb(49, 106, 197));
        std::vector<int> label(MenuItems.begin() + item * 16, MenuItems.begin() + item * 16 + 16);
        DrawText(canvas, Glyphs, label, 320, 108 + item * 22, 16,
                 lit ? Rgb(255, 255, 255) : Rgb(0, 0, 0));
      }
    }
  }
};

// Every pixel of every frame random: what neither format can make smaller.
struct TNoise {
  static constexpr int kFrames = 6;
  void Draw(int f, TCanvas& canvas) const {
    TRandom random{0xD1B54A32D192ED03ull + uint64_t(f) * 104729};
    for (auto& p : canvas.Pixels) p = random.Next() & 0xFFFFFFu;
  }
};

enum class TContent { Screen, Noise };

// One content as a film segment and as qtrle packets, built once per depth.
struct TEncoded {
  int Frames = 0;
  std::vector<uint8_t> FrameData;  // the film's frame records
  std::vector<uint8_t> Track;      // the cursor track
  std::vector<std::vector<uint8_t>> Packets;  // qtrle, the first one a key frame
  AVPixelFormat PixelFormat = AV_PIX_FMT_NONE;
};

struct TCodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct TFrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct TPacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using TCodecContext = std::unique_ptr<AVCodecContext, TCodecContextDeleter>;
using TAvFrame = std::unique_ptr<AVFrame, TFrameDeleter>;
using TAvPacket = std::unique_ptr<AVPacket, TPacketDeleter>;

void Check(int result, const char* what) {
  if (result < 0) throw std::runtime_error(std::string("libavcodec: ") + what + " failed");
}

// A qtrle encoder at 24 bits (RGB24) or 32 bits (ARGB), with one key frame at the start.
TCodecContext QtrleEncoder(AVPixelFormat format, int frames) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_QTRLE);
  if (!codec) throw std::runtime_error("libavcodec has no qtrle encoder");
  TCodecContext context(avcodec_alloc_context3(codec));
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
  TCodecContext encoder = QtrleEncoder(encoded.PixelFormat, encoded.Frames);
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
    Core.AddSegment(std::move(segment));
    if (Core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) != kResultOk)
      throw std::runtime_error("no frame buffer");
    if (Core.SetCurSegment() != kResultOk) throw std::runtime_error("activation failed");
  }

  // Plays the segment's frames from the first, as the timer does, minus the presenting.
  void Restart() {
    Core.Rewind();
    Segment& segment = *Core.Segments()[0];
    segment.CursStream.SetPosition(0);
  }
  void PlayFrame() {
    Core.DecodeFrame();
    Core.ComposeFrame();
    Core.NextFrame();
  }
};

// The baseline: one 1920 × 1080 32-bit frame copied with memcpy, the median of a few.
struct TMemcpyBaseline {
  std::vector<uint8_t> Source = std::vector<uint8_t>(kFrameBytes32, 0x5A);
  std::vector<uint8_t> Target = std::vector<uint8_t>(kFrameBytes32);
  std::vector<double> Times;

  void Measure(int times) {
    for (int i = 0; i < times; ++i) {
      const double t0 = ThreadSeconds();
      std::memcpy(Target.data(), Source.data(), kFrameBytes32);
      benchmark::DoNotOptimize(Target.data());
      benchmark::ClobberMemory();
      Times.push_back(ThreadSeconds() - t0);
    }
  }
  double Median() {
    std::sort(Times.begin(), Times.end());
    return Times.empty() ? 0 : Times[Times.size() / 2];
  }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

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
// through libavcodec's qtrle decoder with one thread, the two taking turns in each
// iteration. "speedup" is qtrle's time over ours: above 1, ours is faster; the first frame,
// a whole picture in both formats, is also given apart.
void BM_AgainstQtrle(benchmark::State& state, TContent content, int bits) {
  const TEncoded& encoded = Encoded(content, bits);
  TPlayer player(encoded, bits, false);

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_QTRLE);
  if (!codec) throw std::runtime_error("libavcodec has no qtrle decoder");
  TCodecContext decoder(avcodec_alloc_context3(codec));
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
  for (auto _ : state) {
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
