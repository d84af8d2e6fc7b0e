// The segments dialog: the film's segments with their numbers, names and durations. Choosing
// one tells the player, which makes it current and, by its transport state, plays it.
// Modeless and on top, so that playback goes on while it is open; closing only hides it.
#pragma once

#include <QDialog>
#include <cstdint>
#include <vector>

#include "film/FilmFile.h"

class QAction;
class QLabel;
class QPushButton;
class QTableWidget;

class TfrmSegments : public QDialog {
  Q_OBJECT

 public:
  // The help topic of the dialog, inside the program's help file.
  static constexpr const char* kHelpTopic = "::/veRirove_v1_2.htm#Segments";

  TfrmSegments();

  // One row per entry: number from 1, name, duration; with no entries one empty row. With
  // `arrived` set, the segments from that index on are still being read: "…" stands for
  // their duration.
  void SetRows(const std::vector<TSegmentListEntry>& entries, int arrived = -1);
  // Makes `row` (from 0) the current and selected one; out of range, the first.
  void SelectRow(int row);
  // Whether the first data row holds a segment (column 0 not empty).
  bool HasFirstRow() const;

 signals:
  // The user chose the segment of the current row (index from 0); the dialog then closes.
  void SegmentChosen(int32_t index);
  // The user asked for help on the dialog: `topic` of the program's help file.
  void HelpRequested(const QString& topic);

 public slots:
  void ASelectExecute();
  void AHelpExecute();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QTableWidget* sgdSegments = nullptr;
  QAction* ASelect = nullptr;
  QAction* AHelp = nullptr;
  QPushButton* btnClose = nullptr;
  QPushButton* btnHelp = nullptr;
};
