// The progress bar of the control panel, which also seeks: a press or a drag asks for the frame
// under the pointer, and the tool tip tells that frame's time. Its scale is every frame of every
// segment, as the progress it shows. Once the film's index is known, the bar shows it: how busy
// the screen was as a strip of heat, the chapters as ticks and the idle stretches shaded; and a
// pointer over it is told (Hovered), for a preview of the picture there.
#pragma once

#include <QProgressBar>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "shell/player/FilmActivity.h"

class TSeekBar : public QProgressBar {
  Q_OBJECT

 public:
  explicit TSeekBar(QWidget* parent);

  // The frame of the film (counted over all segments, from 0) under pixel x of the bar; -1 when
  // the bar has no frames.
  int64_t FrameAt(int x) const;
  // The tool tip for a frame of the film; an empty text shows none.
  void SetTipText(std::function<QString(int64_t frame)> tip) { FTipText = std::move(tip); }
  // A preview over the bar tells the time instead of the tool tip (whose text still follows).
  void SetPreviewShown(bool on) { FPreviewShown = on; }

  // The index's marks (in the bar's frames); none: the plain progress bar.
  void SetMarks(TSeekBarMarks marks);
  const TSeekBarMarks& Marks() const { return FMarks; }
  // The heat of pixel column x as painted: 0 to 255.
  uint8_t ColumnHeat(int x) const;

 signals:
  // The left button went down on the bar, or moved while down: the frame under it.
  void SeekRequested(int64_t frame);
  // The pointer is over frame `frame` of the bar, at `global` (screen coordinates).
  void Hovered(int64_t frame, QPoint global);
  // The pointer has left the bar.
  void HoverEnded();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  QString TipAt(int x) const;
  // The first frame of pixel column x, and x of a frame.
  int64_t ColumnFirst(int x) const;
  int FrameX(int64_t frame) const;
  // The heat of each pixel column, for the bar's width and range.
  const std::vector<uint8_t>& Columns() const;

  std::function<QString(int64_t)> FTipText;
  bool FPreviewShown = false;
  TSeekBarMarks FMarks;
  mutable std::vector<uint8_t> FColumns;
  mutable std::pair<int64_t, int> FColumnsFor{-1, -1};  // the range and width they were counted for
};
