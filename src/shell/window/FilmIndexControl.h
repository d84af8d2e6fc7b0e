// What the window does with the film's index: its pass, run beside playback once a film has
// loaded (TIndexWorker), the seek bar's heat, chapter ticks and idle shading, the preview over
// the seek bar (from the index, else made by a seek in the background), and "Пропускать
// простои", remembered between runs. The moves themselves (chapters, jumps over idle time) are
// the transport's.
#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <memory>
#include <string>

#include "index/FilmIndex.h"
#include "playback/FilmClock.h"

class TIndexWorker;
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

  // Looks at the film the transport holds (cheap; the window calls it whenever its time
  // changes): a film loaded since (not `loading` any more) gets its index pass, started here;
  // its index comes once found. `filmPath` keys the index kept in the user's cache folder;
  // a `damaged` film's is not kept.
  void FollowFilm(const std::string& filmPath, bool loading, bool damaged);
  // The index of the film loaded has been found (in part, when its pass ended early).
  void SetIndex(std::shared_ptr<const TFilmIndex> index);
  // The film has been left (another is being opened, or the window closes): its pass is
  // called off, its index, marks and previews go.
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
  std::unique_ptr<TIndexWorker> FWorker;
  // The film the pass was started for (its first segment and count; none: no pass), and the
  // pass's number, so that an index of a film left is dropped.
  const void* FIndexedFilm = nullptr;
  size_t FIndexedSegments = 0;
  uint64_t FPass = 0;
  std::vector<TChapter> FChapters;
  size_t FChaptersFor = 0;  // the film's segments when they were listed
  // Previews made by seeks, by frame of the film; the frame the popup waits for (-1: none).
  QHash<int64_t, QImage> FMade;
  int64_t FWaitingFor = -1;
};
