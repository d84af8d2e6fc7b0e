// The playback core: the frame buffer and decoder, the display surfaces with composition,
// the cursor overlay, segment activation and the playback step.
//
// One object holds the film's segments and everything a frame passes through on its way to
// the picture. The main window, the command-line tool and the tests drive it the same way:
// SetCurSegment activates the current segment, TimerPlayTimer plays one frame (decode,
// compose, progress, next frame, next segment), TimerTimer is one tick of the clock. What
// belongs to windows (stopping, reports, the timer interval, placing and presenting the
// picture) is asked of the host.
//
// A frame is an exclusive-or delta: its runs are expanded into the frame image and the
// frame image is combined with the picture. The runs are combined with the picture directly
// (a run of zeros changes nothing); when they cover the whole frame, the frame image after
// it depends on that frame alone, so it is only rebuilt when a later frame leaves part of it
// as it was.
//
// Seeks restore checkpoints of the decoding state (Checkpoints.h), taken while a segment
// plays and while a seek plays towards its frame, or handed over by a second core that
// played the film from its start in another thread (THandedCheckpoints).
//
// UzrPlayback.cpp holds the film, the frame buffer, activation and the playback step; the
// runs are decoded by FrameDecoder.h, the surfaces, composition and cursor overlay are in
// PlaybackSurfaces.cpp, seeks and checkpoints in PlaybackSeek.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "film/FilmFile.h"
#include "playback/Checkpoints.h"
#include "playback/FrameDecoder.h"
#include "playback/PlaybackError.h"
#include "playback/FilmClock.h"
#include "playback/TResult.h"
#include "playback/TrackRecords.h"
#include "raster/URaster.h"

// One segment's checkpoints taken out of one core for another (TakeCheckpoints,
// AdoptCheckpoints), with what they were made under. A value that owns its memory, so it may
// be moved to another thread; it keeps the segment's frame data and track alive, so that the
// core adopting them can tell its segment is the same one.
class THandedCheckpoints {
 public:
  int32_t Segment() const { return FSegment; }
  bool Empty() const { return FCheckpoints.Empty(); }
  size_t Bytes() const { return FCheckpoints.Bytes; }
  std::vector<int32_t> Frames() const;

 private:
  friend class TPlaybackCore;
  int32_t FSegment = -1;
  // What the pictures depend on besides the segment: the cursor drawn or not, the frame
  // buffer (it bounds where frames lie), and the palette and cursor record the segment
  // started from. Not the screen's depth: the picture has the film's.
  bool FCursorShown = true;
  size_t FFrameBufferSize = 0;
  TColorTable FStartPalette{};
  TCursorRec FStartCursor;
  // The segment itself: its picture and its bytes, which these copies keep alive.
  int32_t FWidth = 0, FHeight = 0;
  uint8_t FBitsPerPixel = 0;
  TMemoryStream FFrames, FTrack;
  TSegmentCheckpoints FCheckpoints;
};

class IPlaybackHost {
 public:
  virtual ~IPlaybackHost() = default;
  // Executes the Stop action (AStop): playback stops and the current segment becomes 0.
  virtual void ExecuteStop() = 0;
  // Reports a non-zero result code under an operation name.
  virtual void ShowResult(const char* operation, TResult code) = 0;
  // A segment has been made current: its frame interval, then the layout and captions
  // (everything of the activation that concerns windows) are the host's.
  virtual void SegmentActivated(const Segment& segment, int intervalMs) = 0;
  // The progress position after a frame has been composed.
  virtual void SetProgress(int64_t position) = 0;
  // A picture has been composed (after decode and composition, before the next frame).
  virtual void FrameComposed() {}
  // Shows the picture composed before (one tick of the clock).
  virtual void PresentPicture() {}
  // The last segment has ended; Stop has been executed.
  virtual void FilmFinished() {}
  // Bits per pixel of the screen.
  virtual int ScreenBits() const { return 32; }
};

class TPlaybackCore {
 public:
  static constexpr size_t kFrameBufferSize = 67108864;  // 64 MiB

  explicit TPlaybackCore(IPlaybackHost& host);
  ~TPlaybackCore();
  TPlaybackCore(const TPlaybackCore&) = delete;
  TPlaybackCore& operator=(const TPlaybackCore&) = delete;

  // The film: segments in film order, owned here, and the index of the current one.
  const std::vector<std::unique_ptr<Segment>>& Segments() const { return FSegments; }
  int32_t CurSegment() const { return FCurSegment; }
  bool HasCurrentSegment() const {
    return FCurSegment >= 0 && size_t(FCurSegment) < FSegments.size();
  }
  // Takes a film's segments; the first becomes current (none: no segment is current).
  void TakeFilm(std::vector<std::unique_ptr<Segment>> segments);
  // No film: the segments released, the frame position rewound, no segment current.
  void UnloadFilm();
  // Clears the state a new film starts from: the palette is kept (it survives films).
  void ClearSegments();
  // Makes segment `index` (from 0) current; false, and nothing changed, when there is none.
  bool SelectSegment(int32_t index);
  // The core's part of stopping: the first segment becomes current.
  void Stop() { FCurSegment = 0; }

  // Frame decoder: the buffer the current segment's frames are loaded into.
  TResult AllocFrameBuffer(size_t size);
  TResult FreeFrameBuffer();
  // Display surfaces: made for the current segment's mode and size.
  bool GetDisplaySettings();

  // Activation and the playback step.
  TResult SetCurSegment();
  void TimerPlayTimer();
  void TimerTimer();
  // ---- Random access ----
  // The frame whose picture was composed last, in the current segment; nothing when none
  // has been since the segment was made current.
  std::optional<TFramePos> ComposedFrame() const { return FComposed; }
  // Composes the picture of frame `pos` exactly as playing its segment from the start
  // composes it, cursor, palette and frame image included, and stands ready for the frame
  // after it: the next TimerPlayTimer composes that one, or moves on to the next segment (or
  // ends the film) after a segment's last frame. A segment that is not current is made
  // current first (SegmentActivated). Of the host only SetProgress hears of it, once, for
  // the frame reached. kResultOutOfIndexBound, with nothing changed, when there is no such
  // frame; a failure of the segment's activation or decoding is returned or reported as
  // when playing.
  //
  // A seek within the current segment does not activate it again. It plays on from the
  // picture shown when the frame lies ahead of it, or from the last checkpoint before the
  // frame when that is nearer; a seek to the frame shown changes nothing.
  TResult SeekFrame(TFramePos pos);


  // A segment's frame interval: 1000 div FrameRate, 100 ms for 0.
  static int FrameInterval(uint8_t frameRate) { return frameRate ? 1000 / frameRate : 100; }

  // What the host reads.
  const TRasterBitmap* Picture() const { return FPicture.get(); }
  const TColorTable& Palette() const { return FPalette; }
  int32_t FrameWidth() const { return FFrameWidth; }
  int32_t FrameHeight() const { return FFrameHeight; }
  int32_t FrameIndex() const { return FFrameIndex; }
  TResult LastResult() const { return FLastResult; }

  // The recorded cursor is drawn into the picture (the default), or left out: the track is
  // still followed, so turning it back on later draws the shape the film has at that frame.
  // Set before playing; checkpoints taken one way are not meant for the other.
  void SetCursorShown(bool on) { FCursorShown = on; }
  // Checkpoints: the memory they may take (TCheckpointStore::kDefaultBudget unless set;
  // lowering it lets whole segments' checkpoints go). A core that never seeks needs none.
  void SetCheckpointBudget(size_t bytes) { FCheckpoints.SetBudget(bytes); }

  // ---- Checkpoints of a whole film, handed from a second core ----
  // A second core plays the film (ShareSegments copies) from its start in a worker thread and
  // hands each segment's checkpoints to the player's core, so that the first seek into a
  // segment never played restores one. On that core, once the film and the frame buffer are
  // in place (taking another film or buffer undoes it): every segment gets a share of the
  // checkpoint budget by its work, so that all segments' checkpoints fit in it together.
  void ShareCheckpointBudget();
  // The palette a film starts from, which the palette left by the film before sets (a film
  // of 8-bit segments starts from it); the second core takes the player core's, before it
  // plays, so that its checkpoints are the player's.
  const TColorTable& FilmPalette() const { return FFilmPalette; }
  void SetFilmPalette(const TColorTable& palette);
  // Takes a segment's checkpoints out (after the segment has been played through); empty
  // when it has none. With a shared budget, the segment is done with: what its share left
  // goes to the segments after it.
  THandedCheckpoints TakeCheckpoints(int32_t segment);
  // Keeps checkpoints another core took out, on this core's thread, in place of those playing
  // made here. Refused, at no cost and nothing changed, when they are empty, were made under
  // other conditions (cursor shown or not, screen bits, frame buffer, picture size, another
  // segment, or a segment not started from what playing this core's film from its start
  // leaves), or the segment has handed checkpoints already.
  bool AdoptCheckpoints(THandedCheckpoints&& handed);

 private:
  // What tests, benchmarks and fuzz targets look at beyond the front ends' commands, through
  // TPlaybackProbe.
  static constexpr int32_t kCursorSize = 32;            // the system cursor size
  // The work of a frame besides its runs and pictures: the cursor taken out and drawn, the
  // track and palette records read, the frame's record located.
  static constexpr int64_t kFrameStepWork = int64_t{16} << 10;
  // Adds a segment at the end of the film (a film built segment by segment); the first one
  // added becomes current.
  void AddSegment(std::unique_ptr<Segment> segment);
  // The steps of a frame, which TimerPlayTimer takes in turn (the benchmarks take them one by
  // one): the next frame record, its runs decoded, the decoded frame composed into the
  // picture with the cursor over it.
  TResult Rewind();
  TResult NextFrame();
  void DecodeFrame();
  void ComposeFrame();
  int64_t PlayedFrames() const;
  // Checkpoints: the memory they take.
  size_t CheckpointBytes() const { return FCheckpoints.Bytes(); }
  // The frame image as the last decoded frame left it (brought up to date when the last
  // frame went straight into the picture).
  const TRasterBitmap* FrameImage();
  // Offset of the current frame record in the frame buffer; -1 when there is none.
  int64_t CurFrame() const { return FCurFrame; }
  // The cursor record of the frame composed last, and where its saved area lies.
  const TCursorRec& CursorRec() const { return FCursorRec; }
  int32_t CursorLeft() const { return FCursorLeft; }
  int32_t CursorTop() const { return FCursorTop; }
  // Whole frames go straight into the picture (the default), or every frame is expanded
  // into the frame image and the whole image combined with the picture; the pictures are
  // the same. For comparisons.
  void SetStraightComposition(bool on) { FStraightComposition = on; }

  // The tests' view of what the front ends need not see (tests/support/PlaybackProbe.h).
  friend struct TPlaybackProbe;

  struct TFrameBufferDeleter {
    void operator()(uint8_t* p) const;
  };

  // The steps the public ones are made of: loading the current segment's frames, choosing
  // the run layout of a video mode, clearing the surfaces, the cursor taken out of the
  // picture and drawn into it, and the step to the next segment.
  TResult LoadFrames();
  void SelectVideoMode(int bitsPerPixel);
  void ClearSurfaces();
  void DrawCursor();
  void RestoreCursorBackground();
  TResult NextSegment();

  Segment& CurrentSegment() { return *FSegments[size_t(FCurSegment)]; }
  // Executes Stop through the host and counts it, so a tick knows playback stopped in it.
  void ExecuteHostStop();

  std::vector<std::unique_ptr<Segment>> FSegments;
  int32_t FCurSegment = 0;
  void CreateSurfaces();
  // The frame data loaded (none without a frame buffer), and the current frames' format.
  std::span<const uint8_t> LoadedFrames() const {
    return {FFrameBuffer.get(), FFrameBuffer ? FLoadedSize : 0};
  }
  TFrameFormat Format() const { return {FFilmBits, FFrameWidth, FFrameHeight}; }
  // Expands runs into the frame image and counts the work.
  void ExpandIntoFrameImage(const TFrameRuns& runs);
  void ExpandPendingRuns();
  void CatchUpFrameImage();
  // Combines the frame image with the picture from pixel `first` on and counts the work.
  void CombineFrameImage(int64_t first);
  void FailDecode(TResult code);
  // After a segment's last frame: the next segment is made current, or the film ends.
  void EndSegment();
  void ApplyPaletteRecord();
  // What carries over from segment to segment: the palette, and the cursor record, which a
  // short track does not wholly replace. StartState is what playing the film from its
  // start leaves when segment `index` begins; valid until the next call.
  struct TSegmentStart {
    TColorTable Palette{};
    TCursorRec Cursor;
  };
  const TSegmentStart& StartState(int32_t index);
  void ForgetStartStates();
  bool AtSegmentStart();
  // The current segment's palette and cursor record as playing the film from its start
  // leaves them; seeks start from them.
  void TakeStartState();
  // A segment's work as the checkpoints count it, known before it is played: its frame data
  // and a step for every frame.
  int64_t EstimatedWork(const Segment& segment) const;
  // The current segment from its start again, without activating it: its first frame next.
  void RestartSegment();
  // The cursor track and the palette records from their starts; no work done yet.
  void RestartTracks();
  // After a frame has been composed: counts its work and takes a checkpoint where one belongs.
  void NoteComposed();
  void TakeCheckpoint(int64_t workBefore);
  // The state of a checkpoint of the current segment; false, and the segment to be
  // restarted, when it cannot be restored.
  bool RestoreCheckpoint(const TCheckpoint& checkpoint);
  void EnsureCursorArea(int32_t width, int32_t height);

  IPlaybackHost& FHost;

  // Frame buffer and position.
  std::unique_ptr<uint8_t, TFrameBufferDeleter> FFrameBuffer;
  size_t FFrameBufferSize = 0;
  size_t FLoadedSize = 0;  // bytes of frame data in the buffer; zeros after them
  size_t FDirtySize = 0;   // bytes that may be non-zero (the largest load since the last fill)
  int64_t FCurFrame = -1;
  int32_t FFrameIndex = 0;
  TResult FLastResult = kResultOk;

  // Video mode and geometry.
  int FFilmBits = 0;
  int FScreenBits = 0;
  int FPixelBytes = 0;
  int FValueBytes = 0;
  int FRunCountBytes = 2;
  int32_t FFrameWidth = 0;
  int32_t FFrameHeight = 0;
  int64_t FRowBytes = 0;

  // Surfaces and palette.
  std::unique_ptr<TRasterBitmap> FFrameImage;  // FFrameWidth × (FFrameHeight + 1), top-down
  std::unique_ptr<TRasterBitmap> FPicture;     // 32-bit screen format, or 8-bit with FPalette
  std::unique_ptr<TRasterBitmap> FCursorArea;  // hbmCursor: the pixels under the cursor
  TColorTable FPalette{};
  TColorTable FFilmPalette{};  // the palette when the film was taken: where its seeks start
  // StartState of every kStartStride-th segment, as far as one has been asked for, and of the
  // one asked for last: a state between is played on from the one before it. So the memory
  // grows with the segments played through, not with the count a film declares.
  static constexpr size_t kStartStride = 256;
  std::vector<TSegmentStart> FStrideStarts;
  int32_t FLastStartIndex = -1;
  TSegmentStart FLastStart;
  // PlayedFrames' count of the frames before segment FFramesBeforeSegment.
  mutable size_t FFramesBeforeSegment = 0;
  mutable int64_t FFramesBefore = 0;
  int FSurfaceBuilds = 0;

  // The decoded frame waiting for composition: runs to combine directly, or the frame image.
  bool FStraightComposition = true;
  int FStops = 0;
  std::optional<TFrameRuns> FPendingRuns;
  std::optional<TFramePos> FComposed;  // the frame composed last in the current segment
  bool FSegmentEnded = false;          // a seek composed the segment's last frame
  int32_t FLoadedSegment = -1;         // the segment whose frames the buffer holds
  bool FFrameImageCurrent = true;  // false: the frame image lags behind FLastFullFrame
  int64_t FLastFullFrame = -1;     // the last frame whose runs covered the whole frame

  // Checkpoints, and the work (bytes touched) of the current segment's frames: up to the
  // frame composed last, and of the frame being decoded.
  TCheckpointStore FCheckpoints;
  int64_t FWork = 0;
  int64_t FFrameWork = 0;
  // The current segment started from what playing the film from its start leaves, so its
  // pictures are the ones seeks must give.
  bool FCanonical = false;

  // Cursor track and overlay.
  // The track read: the current segment's, or an empty one of the core's own; never absent.
  TMemoryStream FEmptyTrack;
  TMemoryStream* FCursorStream = &FEmptyTrack;
  TCursorRec FCursorRec;
  int32_t FCursorWidth = kCursorSize;
  int32_t FCursorHeight = kCursorSize;
  int32_t FCursorLeft = 0;
  int32_t FCursorTop = 0;
  int32_t FSavedWidth = kCursorSize;  // the area saved under the cursor last drawn
  int32_t FSavedHeight = kCursorSize;
  bool FCursorDrawn = false;  // a cursor is in the picture and its background is saved
  bool FCursorShown = true;
};
