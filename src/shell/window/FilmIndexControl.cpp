#include "shell/window/FilmIndexControl.h"

#include <QAction>

#include "index/IndexWorker.h"
#include "shell/app/PlayerSettings.h"
#include "shell/player/FilmActivity.h"
#include "shell/player/FilmChapters.h"
#include "shell/player/PreviewMaker.h"
#include "shell/player/Transport.h"
#include "shell/widgets/PreviewPopup.h"
#include "shell/widgets/UzrSeekBar.h"
#include "shell/window/PlayerActions.h"

namespace {

// Previews made by seeks that are kept (about 60 KiB each).
constexpr int kMadeKept = 128;

}  // namespace

TFilmIndexControl::TFilmIndexControl(const TPlayerActions& actions, TTransport& transport, TSeekBar& bar,
                                     QWidget& window)
    : QObject(&window),
      FTransport(transport),
      FBar(bar),
      FPopup(new TPreviewPopup(&window)),
      FMaker(new TPreviewMaker(this)),
      FWorker(std::make_unique<TIndexWorker>()) {
  setObjectName(QStringLiteral("ctlFilmIndex"));
  FBar.SetPreviewShown(true);
  connect(&FBar, &TSeekBar::Hovered, this, &TFilmIndexControl::Hover);
  connect(&FBar, &TSeekBar::HoverEnded, FPopup, &QWidget::hide);
  connect(FMaker, &TPreviewMaker::Made, this, &TFilmIndexControl::PreviewMade);
  // The choice of the run before.
  const bool skip = TPlayerSettings().Flag(PlayerSettingsKey::kSkipIdle, false);
  actions.ASkipIdle->setChecked(skip);
  FTransport.SetSkipIdle(skip);
  connect(actions.ASkipIdle, &QAction::toggled, this, [this](bool on) {
    FTransport.SetSkipIdle(on);
    TPlayerSettings().SetFlag(PlayerSettingsKey::kSkipIdle, on);
  });
}

// The pass is called off before the maker and the rest go.
TFilmIndexControl::~TFilmIndexControl() { FWorker->Cancel(); }

void TFilmIndexControl::FollowFilm(const std::string& filmPath, bool loading, bool damaged) {
  const TSegments& segments = FTransport.Segments();
  const void* film = segments.empty() ? nullptr : segments.front().get();
  if (loading || (film == FIndexedFilm && segments.size() == FIndexedSegments)) return;
  FilmLeft();
  FIndexedFilm = film;
  FIndexedSegments = segments.size();
  if (!film) return;
  // The worker's news comes on its thread: it is passed to this one, and dropped there when the
  // film has been left meanwhile.
  const uint64_t pass = ++FPass;
  TIndexWorker::TCallbacks callbacks;
  callbacks.Finished = [this, pass](std::shared_ptr<const TFilmIndex> index, std::string) {
    QMetaObject::invokeMethod(
        this, [this, pass, index] { if (pass == FPass) SetIndex(index); }, Qt::QueuedConnection);
  };
  // The pass plays every segment through: the checkpoints it gathers are handed to the playing
  // core, so that the first seek into a segment never played is as quick as later ones.
  TIndexOptions options;
  options.FilmPalette = FTransport.Core().FilmPalette();
  options.Checkpoints = [this, pass](THandedCheckpoints&& checkpoints) {
    auto handed = std::make_shared<THandedCheckpoints>(std::move(checkpoints));
    QMetaObject::invokeMethod(
        this, [this, pass, handed] { if (pass == FPass) FTransport.Core().AdoptCheckpoints(std::move(*handed)); },
        Qt::QueuedConnection);
  };
  FWorker->Start(segments, damaged ? std::string() : filmPath, std::move(options), std::move(callbacks));
}

void TFilmIndexControl::SetIndex(std::shared_ptr<const TFilmIndex> index) {
  FTransport.SetIndex(index);
  FChapters = FTransport.Chapters();
  FChaptersFor = FTransport.Segments().size();
  FBar.SetMarks(index ? SeekBarMarks(FTransport.Segments(), *index, FChapters) : TSeekBarMarks{});
}

void TFilmIndexControl::FilmLeft() {
  FWorker->Cancel();
  ++FPass;
  FIndexedFilm = nullptr;
  FIndexedSegments = 0;
  SetIndex(nullptr);
  FMaker->SetFilm({});
  FMade.clear();
  FWaitingFor = -1;
  FPopup->hide();
}

QSize TFilmIndexControl::PlaceFor(TFramePos pos) const {
  const Segment& segment = *FTransport.Segments()[size_t(pos.Segment)];
  if (segment.Width <= 0 || segment.Height <= 0) return {};
  const int height = int(std::clamp<int64_t>(int64_t(TPreviewMaker::kWidth) * segment.Height / segment.Width, 1,
                                             4 * TPreviewMaker::kWidth));
  return {TPreviewMaker::kWidth, height};
}

void TFilmIndexControl::Hover(int64_t frame, QPoint global) {
  const TSegments& segments = FTransport.Segments();
  const std::optional<TFramePos> pos = FrameOfFilm(segments, frame);
  if (!pos) return FPopup->hide();
  // The chapters follow the film's segments, which may still be arriving.
  if (FChaptersFor != segments.size()) {
    FChapters = FTransport.Chapters();
    FChaptersFor = segments.size();
  }
  QString text = QString::fromStdString(FormatClock(FrameTime(segments, *pos)));
  if (const TChapter* chapter = ChapterAt(FChapters, *pos); chapter && !chapter->Title.empty())
    text += QStringLiteral("  ") + QString::fromStdString(chapter->Title);
  QImage picture;
  const TFilmIndex* index = FTransport.Index().get();
  if (const TPreview* preview = index ? PreviewShowing(*index, segments, FChapters, *pos) : nullptr) {
    picture = QImage(reinterpret_cast<const uchar*>(preview->Pixels.data()), preview->Width, preview->Height,
                     preview->Width * 4, QImage::Format_RGB32)
                  .copy();
    FWaitingFor = -1;
  } else if (const auto made = FMade.constFind(frame); made != FMade.constEnd()) {
    picture = *made;
    FWaitingFor = -1;
  } else {
    // Made in the background; the place waits for it, the time shows at once.
    if (FMaker->SegmentCount() != segments.size()) FMaker->SetFilm(ShareSegments(segments));
    FMaker->Request(*pos);
    FWaitingFor = frame;
  }
  FPopup->ShowAt(global, picture, picture.isNull() ? PlaceFor(*pos) : picture.size(), text);
}

void TFilmIndexControl::PreviewMade(TFramePos pos, const QImage& picture) {
  const int64_t frame = FilmFrameIndex(FTransport.Segments(), pos);
  if (frame < 0 || picture.isNull()) return;
  if (FMade.size() >= kMadeKept) FMade.clear();
  FMade.insert(frame, picture);
  if (frame == FWaitingFor && FPopup->isVisible()) {
    FPopup->SetPicture(picture);
    FWaitingFor = -1;
  }
}
