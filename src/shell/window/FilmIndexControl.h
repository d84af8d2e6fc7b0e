// What the window does with the film's index: the seek bar's heat, chapter ticks and idle
// shading, the preview over the seek bar (from the index, else made by a seek in the
// background), and "Пропускать простои", remembered between runs. The moves themselves
// (chapters, jumps over idle time) are the transport's.
#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <memory>

#include "index/FilmIndex.h"
#include "playback/FilmClock.h"

class TPreviewMaker;
class TPreviewPopup;
class TSeekBar;
class TTransport;
struct TPlayerActions;

class TFilmIndexControl : public QObject {
  Q_OBJECT

 public:
  // Found by its object name, "ctlFilmIndex".
  TFilmIndexControl(const TPlayerActions& actions, TTransport& transport, TSeekBar& bar, QWidget& window);
  ~TFilmIndexControl() override;

  // The index of the film loaded has been found (in part, while its pass goes on).
  void SetIndex(std::shared_ptr<const TFilmIndex> index);
  // The film has been left (another is being opened, or the window closes): its index, marks
  // and previews go.
  void FilmLeft();

  TPreviewPopup* Popup() const { return FPopup; }

 private:
  void Hover(int64_t frame, QPoint global);
  void PreviewMade(TFramePos pos, const QImage& picture);
  // The preview's place while a seek makes its picture: the proportions of the segment's.
  QSize PlaceFor(TFramePos pos) const;

  TTransport& FTransport;
  TSeekBar& FBar;
  TPreviewPopup* FPopup;
  TPreviewMaker* FMaker;
  std::vector<TChapter> FChapters;
  size_t FChaptersFor = 0;  // the film's segments when they were listed
  // Previews made by seeks, by frame of the film; the frame the popup waits for (-1: none).
  QHash<int64_t, QImage> FMade;
  int64_t FWaitingFor = -1;
};
