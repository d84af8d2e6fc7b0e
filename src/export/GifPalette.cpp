#include "export/GifPalette.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "export/ExportError.h"
#include "export/ExportWriter.h"

namespace {

// palettegen's and paletteuse's palettes: 16 × 16 pictures of 0xAARRGGBB entries.
constexpr int kPaletteSide = 16;

// A source of BGRA pictures of width × height on the plan's clock.
std::string SourceArgs(const TExportPlan& plan, int32_t width, int32_t height) {
  char args[160];
  std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=1/1", width, height,
                int(AV_PIX_FMT_BGRA), plan.TimeBase.num, plan.TimeBase.den);
  return args;
}

AVFilterContext* AddFilter(AVFilterGraph* graph, const char* filter, const char* name, const std::string& args) {
  AVFilterContext* context = nullptr;
  CheckAv(avfilter_graph_create_filter(&context, avfilter_get_by_name(filter), name,
                                       args.empty() ? nullptr : args.c_str(), nullptr, graph),
          (std::string("the ") + filter + " filter").c_str());
  return context;
}

// GIF's pictures come and go in blocks of megabytes (pictures, their copies, packets), among
// the filters' many small ones. glibc raises its threshold for mapping a block of its own to the
// largest block freed, so these then come from the heap, which small blocks between them keep
// from shrinking: a ten-minute film took gigabytes. A fixed threshold keeps them mapped and
// hands them back whole when freed.
void KeepLargeBlocksMapped() {
  static constexpr int kMappedFrom = 1 << 20;
  ::mallopt(M_MMAP_THRESHOLD, kMappedFrom);
}

TAvGraph NewGraph() {
  TAvGraph graph(avfilter_graph_alloc());
  if (!graph) ThrowExport(TExportErrc::NoMemory, "no memory for the palette filter");
  // The pictures are filtered one by one, in the exporting thread.
  graph->nb_threads = 1;
  return graph;
}

// Parses `description` between the graph's sources, labelled by their names, and its sink
// "out", and sets the graph up.
void ParseGraph(AVFilterGraph* graph, const char* description, std::initializer_list<AVFilterContext*> sources,
                AVFilterContext* sink) {
  AVFilterInOut* outputs = nullptr;
  AVFilterInOut* inputs = avfilter_inout_alloc();
  bool allocated = inputs != nullptr;
  for (auto source = std::rbegin(sources); source != std::rend(sources); ++source) {
    AVFilterInOut* output = avfilter_inout_alloc();
    if (!output) {
      allocated = false;
      break;
    }
    output->name = av_strdup((*source)->name);
    output->filter_ctx = *source;
    output->next = outputs;
    outputs = output;
    allocated = allocated && output->name;
  }
  if (inputs) {
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    allocated = allocated && inputs->name;
  }
  const int parsed = allocated ? avfilter_graph_parse_ptr(graph, description, &inputs, &outputs, nullptr)
                               : AVERROR(ENOMEM);
  avfilter_inout_free(&outputs);
  avfilter_inout_free(&inputs);
  CheckAv(parsed, "palette filter");
  CheckAv(avfilter_graph_config(graph, nullptr), "palette filter");
}

TAvFrame NewFrame(AVPixelFormat format, int32_t width, int32_t height) {
  TAvFrame frame(av_frame_alloc());
  if (!frame) ThrowExport(TExportErrc::NoMemory, "no memory for a frame");
  frame->format = format;
  frame->width = width;
  frame->height = height;
  CheckAv(av_frame_get_buffer(frame.get(), 0), "frame buffer");
  return frame;
}

}  // namespace

// ---- The film's palette ----

TGifPaletteMaker::TGifPaletteMaker(const TExportPlan& plan, bool generate)
    : FPlan(plan), FExact(plan.WantsOnePalette()) {
  if (!generate) return;
  KeepLargeBlocksMapped();
  FSws = CanvasConversion(plan, AV_PIX_FMT_BGRA, plan.CanvasHeight, plan.OutputHeight);
  FPicture = NewFrame(AV_PIX_FMT_BGRA, plan.OutputWidth, plan.OutputHeight);
  FGraph = NewGraph();
  FSource = AddFilter(FGraph.get(), "buffer", "in", SourceArgs(plan, plan.OutputWidth, plan.OutputHeight));
  FSink = AddFilter(FGraph.get(), "buffersink", "out", {});
  // A clear entry is kept for the parts of a picture that stay as they were, as the encoder
  // marks them; every picture counts fully, each once however long it is shown.
  ParseGraph(FGraph.get(), "[in]palettegen=max_colors=256:reserve_transparent=1:stats_mode=full[out]", {FSource},
             FSink);
}

bool TGifPaletteMaker::Add(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed) {
  if (FExact && !FMany) CountColours(canvas, stride, changed);
  if (!FGraph) return FExact && !FMany;
  const uint8_t* src[1] = {canvas};
  const int srcStride[1] = {int(stride)};
  CheckAv(av_frame_make_writable(FPicture.get()), "frame buffer");
  sws_scale(FSws.get(), src, srcStride, 0, FPlan.CanvasHeight, FPicture->data, FPicture->linesize);
  FPicture->pts = FPts++;
  // Pushed through at once: palettegen keeps only its histogram, and the picture is free again.
  CheckAv(av_buffersrc_add_frame_flags(FSource, FPicture.get(), AV_BUFFERSRC_FLAG_KEEP_REF | AV_BUFFERSRC_FLAG_PUSH),
          "palette filter");
  return true;
}

// The colours of the rows that changed, until there are more than 256.
void TGifPaletteMaker::CountColours(const uint8_t* canvas, int64_t stride, std::span<const uint8_t> changed) {
  uint32_t last = UINT32_MAX;
  for (int32_t y = 0; y < FPlan.CanvasHeight; ++y) {
    if (!changed[size_t(y)]) continue;
    const uint8_t* in = canvas + y * stride;
    for (int32_t x = 0; x < FPlan.CanvasWidth; ++x, in += 4) {
      const uint32_t color = uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16;
      if (color == last) continue;
      last = color;
      FColours.insert(color);
      if (FColours.size() > 256) {
        FMany = true;
        FColours = {};
        return;
      }
    }
  }
}

void TGifPaletteMaker::Finish(TExportPlan& plan) {
  if (FExact && !FMany) {
    plan.Palette.assign(FColours.begin(), FColours.end());
    std::sort(plan.Palette.begin(), plan.Palette.end());
    return;
  }
  if (!FGraph) return;
  CheckAv(av_buffersrc_add_frame_flags(FSource, nullptr, 0), "palette filter");
  TAvFrame palette(av_frame_alloc());
  if (!palette) ThrowExport(TExportErrc::NoMemory, "no memory for a frame");
  CheckAv(av_buffersink_get_frame(FSink, palette.get()), "palette filter");
  if (palette->width != kPaletteSide || palette->height != kPaletteSide || palette->format != AV_PIX_FMT_BGRA)
    ThrowExport(TExportErrc::Encoder, "palettegen made no palette");
  plan.FilmPalette.clear();
  for (int y = 0; y < kPaletteSide; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(palette->data[0] + y * palette->linesize[0]);
    plan.FilmPalette.insert(plan.FilmPalette.end(), row, row + kPaletteSide);
  }
  FGraph.reset();
}

// ---- Pictures onto palettes ----

TGifPaletteFilter::TGifPaletteFilter(const TExportPlan& plan) {
  KeepLargeBlocksMapped();
  FGraph = NewGraph();
  FSource = AddFilter(FGraph.get(), "buffer", "in", SourceArgs(plan, plan.OutputWidth, plan.OutputHeight));
  FSink = AddFilter(FGraph.get(), "buffersink", "out", {});
  FOut.reset(av_frame_alloc());
  if (!FOut) ThrowExport(TExportErrc::NoMemory, "no memory for a frame");
  if (plan.FilmPalette.empty()) {
    // A palette made for each picture from its own colours (up to 256, kept exact when there
    // are no more), applied without dithering so flat areas stay flat.
    ParseGraph(FGraph.get(),
               "[in]split[a][b];[a]palettegen=stats_mode=single:reserve_transparent=0:max_colors=256[p];"
               "[b][p]paletteuse=new=1:dither=none,format=pal8[out]",
               {FSource}, FSink);
    return;
  }
  // The film's palette with error diffusion (Sierra Lite, as two-pass GIF tools use), mapped
  // anew only in the rectangle that changed since the picture before: elsewhere the picture
  // keeps the very indices it had, which the encoder then leaves out.
  AVFilterContext* palette =
      AddFilter(FGraph.get(), "buffer", "palette", SourceArgs(plan, kPaletteSide, kPaletteSide));
  ParseGraph(FGraph.get(), "[in][palette]paletteuse=dither=sierra2_4a:diff_mode=rectangle[out]", {FSource, palette},
             FSink);
  TAvFrame entries = NewFrame(AV_PIX_FMT_BGRA, kPaletteSide, kPaletteSide);
  for (int y = 0; y < kPaletteSide; ++y)
    std::memcpy(entries->data[0] + y * entries->linesize[0], plan.FilmPalette.data() + y * kPaletteSide,
                kPaletteSide * sizeof(uint32_t));
  entries->pts = 0;
  CheckAv(av_buffersrc_add_frame_flags(palette, entries.get(), 0), "palette filter");
  CheckAv(av_buffersrc_add_frame_flags(palette, nullptr, 0), "palette filter");
}

void TGifPaletteFilter::Push(AVFrame* picture, const std::function<void(const AVFrame*)>& take) {
  CheckAv(av_buffersrc_add_frame_flags(FSource, picture, 0), "palette filter");
  Drain(take);
}

void TGifPaletteFilter::Finish(const std::function<void(const AVFrame*)>& take) {
  CheckAv(av_buffersrc_add_frame_flags(FSource, nullptr, 0), "palette filter");
  Drain(take);
}

void TGifPaletteFilter::Drain(const std::function<void(const AVFrame*)>& take) {
  for (;;) {
    const int r = av_buffersink_get_frame(FSink, FOut.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
    CheckAv(r, "palette filter");
    take(FOut.get());
    av_frame_unref(FOut.get());
  }
}
