// The progress bar of the control panel, which also seeks: a press or a drag asks for the frame
// under the pointer, and the tool tip tells that frame's time. Its scale is every frame of every
// segment, as the progress it shows.
#pragma once

#include <QProgressBar>
#include <cstdint>
#include <functional>

class TSeekBar : public QProgressBar {
  Q_OBJECT

 public:
  explicit TSeekBar(QWidget* parent);

  // The frame of the film (counted over all segments, from 0) under pixel x of the bar; -1 when
  // the bar has no frames.
  int64_t FrameAt(int x) const;
  // The tool tip for a frame of the film; an empty text shows none.
  void SetTipText(std::function<QString(int64_t frame)> tip) { FTipText = std::move(tip); }

 signals:
  // The left button went down on the bar, or moved while down: the frame under it.
  void SeekRequested(int64_t frame);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  QString TipAt(int x) const;

  std::function<QString(int64_t)> FTipText;
};
