#include "shell/player/PreviewMaker.h"

#include "playback/HeadlessHost.h"
#include "shell/widgets/UzrPresent.h"

namespace {

// The checkpoints the maker's core may keep: seeks near one another are quick, and the memory
// stays well below the playing core's.
constexpr size_t kCheckpointBudget = size_t{16} << 20;

}  // namespace

TPreviewMaker::TPreviewMaker(QObject* parent) : QObject(parent) {}

TPreviewMaker::~TPreviewMaker() { Stop(); }

void TPreviewMaker::Stop() {
  {
    std::lock_guard lock(FMutex);
    FStopping = true;
    FPending.reset();
  }
  FWake.notify_all();
  if (FThread.joinable()) FThread.join();
  FStopping = false;
}

void TPreviewMaker::SetFilm(TSegments copies) {
  Stop();
  ++FGeneration;
  FSegmentCount = copies.size();
  if (copies.empty()) return;
  FThread = std::thread([this, segments = std::move(copies), generation = FGeneration]() mutable {
    Run(std::move(segments), generation);
  });
}

void TPreviewMaker::Request(TFramePos pos) {
  if (!FThread.joinable()) return;
  {
    std::lock_guard lock(FMutex);
    FPending = pos;
  }
  FWake.notify_all();
}

void TPreviewMaker::Run(TSegments segments, uint64_t generation) {
  THeadlessHost host;
  TPlaybackCore core(host);
  host.Core = &core;
  core.SetCheckpointBudget(kCheckpointBudget);
  core.TakeFilm(std::move(segments));
  const bool ready = core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize) == kResultOk;
  for (;;) {
    TFramePos pos;
    {
      std::unique_lock lock(FMutex);
      FWake.wait(lock, [this] { return FStopping || FPending.has_value(); });
      if (FStopping) return;
      pos = *FPending;
      FPending.reset();
    }
    QImage preview;
    // A frame that cannot be composed (damaged, a depth not shown, no memory) has no preview;
    // playing it tells why.
    try {
      if (ready && core.SeekFrame(pos) == kResultOk && core.Picture()) {
        QImage picture;
        CopyToPresented(*core.Picture(), core.Palette(), picture);
        if (!picture.isNull()) preview = picture.scaledToWidth(kWidth, Qt::SmoothTransformation);
      }
    } catch (...) {
      preview = QImage();
    }
    // Told through the event loop: a maker deleted before then drops the notice with itself.
    QMetaObject::invokeMethod(
        this,
        [this, pos, preview, generation] {
          if (generation == FGeneration) emit Made(pos, preview);
        },
        Qt::QueuedConnection);
  }
}
