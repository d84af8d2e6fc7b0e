// FFmpeg's objects held by unique_ptr and released by their own functions, and FFmpeg's
// words for an error code.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

struct TAvOutputFree {
  // The file first, if it was opened, then the container.
  void operator()(AVFormatContext* c) const {
    if (c->pb) avio_closep(&c->pb);
    avformat_free_context(c);
  }
};
struct TAvInputClose {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct TAvCodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct TAvFrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct TAvPacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct TAvSwsFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct TAvBufferPoolFree {
  // Its buffers still out are freed when they come back.
  void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
};
struct TAvGraphFree {
  void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
using TAvOutput = std::unique_ptr<AVFormatContext, TAvOutputFree>;
using TAvInput = std::unique_ptr<AVFormatContext, TAvInputClose>;
using TAvCodecContext = std::unique_ptr<AVCodecContext, TAvCodecContextFree>;
using TAvFrame = std::unique_ptr<AVFrame, TAvFrameFree>;
using TAvPacket = std::unique_ptr<AVPacket, TAvPacketFree>;
using TAvSws = std::unique_ptr<SwsContext, TAvSwsFree>;
using TAvGraph = std::unique_ptr<AVFilterGraph, TAvGraphFree>;
using TAvBufferPool = std::unique_ptr<AVBufferPool, TAvBufferPoolFree>;

inline std::string AvErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}
