#include "shell/window/SegmentsList.h"

#include <algorithm>

#include "film/SegmentDuration.h"
#include "shell/player/FilmSession.h"
#include "shell/player/Transport.h"

void TSegmentsList::Toggle() {
  if (!frmSegments) return;
  if (frmSegments->isVisible()) {
    frmSegments->close();
    return;
  }
  Fill();
  if (!frmSegments->HasFirstRow()) return;
  // The segment on screen, or the one Play starts at: Enter then stays where the film is.
  const auto shown = FTransport.ShownFrame();
  frmSegments->SelectRow(shown ? shown->Segment : std::max(FTransport.Core().CurSegment(), 0));
  frmSegments->show();
}

void TSegmentsList::Fill() {
  // The loader is busy with the film being loaded; the list comes with it.
  if (!frmSegments || FSession.Loading()) return;
  if (FSession.Reading() && FListed.size() >= FTransport.Segments().size()) {
    // Every listed segment, those still being read without their durations.
    frmSegments->SetRows(FListed, int(FTransport.Segments().size()));
    return;
  }
  if (!FTransport.Segments().empty()) {
    std::vector<TSegmentListEntry> entries;
    for (const auto& segment : FTransport.Segments())
      entries.push_back({segment->Name, segment->FrameCount, segment->FrameRate});
    frmSegments->SetRows(entries);
    return;
  }
  // No film loaded: the list at the head of the film file, extracted afresh. The player's
  // segments stay unloaded.
  if (!FSession.ExtractFilmFile()) return;
  frmSegments->SetRows({});
  FSession.Loader().ReadFilmFileSegmentList();
}

void TSegmentsList::SetRows(const std::vector<TSegmentListEntry>& entries) {
  FListed = entries;
  if (frmSegments) frmSegments->SetRows(entries);
}

int64_t TSegmentsList::ListedMillis() const {
  int64_t millis = 0;
  for (const TSegmentListEntry& entry : FListed) millis += SegmentMillis(entry.FrameCount, entry.FrameRate);
  return millis;
}

void TSegmentsList::Arrived() {
  if (frmSegments && frmSegments->isVisible()) Fill();
}

void TSegmentsList::Clear() {
  FListed.clear();
  if (!frmSegments) return;
  frmSegments->SetRows({});
  frmSegments->hide();
}
