// The segments dialog: the film's segments with their numbers, names and durations; choosing
// one makes it current and, by the transport state, plays it. Modeless and on top, so that
// playback goes on while it is open; closing only hides it.
#pragma once

#include <QDialog>
#include <vector>

#include "film/FilmFile.h"

class QAction;
class QLabel;
class QPushButton;
class QTableWidget;
class TTelvoriPlayer;

class TfrmSegments : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmSegments(TTelvoriPlayer& player);

  // One row per entry: number from 1, name, duration; with no entries one empty row.
  void SetRows(const std::vector<TSegmentListEntry>& entries);
  // Whether the first data row holds a segment (column 0 not empty).
  bool HasFirstRow() const;

  QTableWidget* sgdSegments = nullptr;
  QAction* ASelect = nullptr;
  QAction* AHelp = nullptr;
  QPushButton* btnClose = nullptr;
  QPushButton* btnHelp = nullptr;

 public slots:
  void ASelectExecute();
  void AHelpExecute();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TTelvoriPlayer& FPlayer;
};
