// The segments dialog as the main window uses it: it lists the loaded film's segments, or, when
// the film is not loaded, those named at the head of its film file.
#pragma once

#include <QPointer>
#include <vector>

#include "film/FilmFile.h"
#include "shell/dialogs/UzrSegments.h"

class TFilmSession;
class TTransport;

class TSegmentsList {
 public:
  TSegmentsList(TFilmSession& session, const TTransport& transport) : FSession(session), FTransport(transport) {}

  void SetDialog(TfrmSegments* dialog) { frmSegments = dialog; }
  TfrmSegments* Dialog() const { return frmSegments; }
  // "Сегменты": an open dialog closes; else it opens on the film's segments, when there are any,
  // the current segment's row selected.
  void Toggle();
  // Lists the loaded segments, or those of the film file when the film is not loaded (raises
  // EFilmLoad when that list cannot be read).
  void Fill();
  void SetRows(const std::vector<TSegmentListEntry>& entries);
  // The length of the film as its list gives it (0 without one).
  int64_t ListedMillis() const;
  // Segments of the film have arrived while the rest is read (or the reading has ended): the
  // rows of those that have show their durations.
  void Arrived();
  // No film: the list is empty and the dialog closed.
  void Clear();

 private:
  TFilmSession& FSession;
  const TTransport& FTransport;
  QPointer<TfrmSegments> frmSegments;
  std::vector<TSegmentListEntry> FListed;  // the film's list, while its segments arrive
};
