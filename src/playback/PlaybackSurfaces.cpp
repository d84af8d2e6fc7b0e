// The display surfaces (frame image, picture, the area under the cursor), the composition of
// a decoded frame into the picture, and the cursor overlay drawn over it.
#include "playback/UzrPlayback.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "playback/TrackRecords.h"

// ---- Display surfaces ----

bool TPlaybackCore::GetDisplaySettings() {
  const int screenBits = FHost.ScreenBits();
  if (!HasCurrentSegment()) return false;
  const Segment& segment = CurrentSegment();
  bool changed = false;
  if (segment.BitsPerPixel != FFilmBits) {
    FFilmBits = segment.BitsPerPixel;
    changed = true;
  }
  SelectVideoMode(FFilmBits);
  if (segment.Width != FFrameWidth || segment.Height != FFrameHeight) {
    FFrameWidth = segment.Width;
    FFrameHeight = segment.Height;
    changed = true;
  }
  FRowBytes = int64_t(FFrameWidth) * FPixelBytes;
  if (changed || FFilmBits != FScreenBits) {
    FScreenBits = screenBits;
    CreateSurfaces();
  }
  return true;
}

void TPlaybackCore::CreateSurfaces() {
  FFrameImage.reset();
  FPicture.reset();
  FCursorArea.reset();
  FCursorDrawn = false;
  FPendingRuns.reset();
  FFrameImageCurrent = true;
  FLastFullFrame = -1;
  FComposed.reset();  // the picture no longer shows it
  ++FSurfaceBuilds;

  const bool indexed = FFilmBits == 8;
  // The frame image has one spare row below the frame.
  if (FFrameHeight >= 1 && FFrameHeight < TRasterBitmap::kMaxSide)
    FFrameImage = TRasterBitmap::Create(FFrameWidth, FFrameHeight + 1, FFilmBits);
  FPicture = TRasterBitmap::Create(FFrameWidth, FFrameHeight, indexed ? 8 : 32);
  if (!FFrameImage || !FPicture) {
    const int32_t width = FFrameWidth, height = FFrameHeight;
    FFrameImage.reset();
    FPicture.reset();
    // Forget the geometry, so that the next activation builds afresh.
    FFilmBits = 0;
    FFrameWidth = FFrameHeight = 0;
    char message[160];
    std::snprintf(message, sizeof message,
                  "GetDisplaySettings: a frame of %d x %d pixels cannot be shown", width, height);
    throw EPlayback(TPlaybackErrc::NoSurfaces, message);
  }
  if (indexed) {
    FFrameImage->SetColorTable(TColorTable{});
    FPicture->SetColorTable(TColorTable{});
  }
  FSavedWidth = FCursorWidth;
  FSavedHeight = FCursorHeight;
  FCursorArea = TRasterBitmap::Create(FCursorWidth, FCursorHeight, indexed ? 8 : 32);
  if (!FCursorArea) throw EPlayback(TPlaybackErrc::OutOfMemory, "GetDisplaySettings: hbmCursor = 0");
  if (indexed) FCursorArea->SetColorTable(TColorTable{});
}

void TPlaybackCore::ClearSurfaces() {
  if (FPicture && FFilmBits != 8) FillRect(*FPicture, {0, 0, FFrameWidth, FFrameHeight}, 0);
  if (FCursorArea) FillRect(*FCursorArea, {0, 0, FCursorWidth, FCursorHeight}, 0);
  if (FFrameImage) std::memset(FFrameImage->Bits(), 0, FFrameImage->SizeBytes());
  if (FPicture && FFilmBits == 8) std::memset(FPicture->Bits(), 0, FPicture->SizeBytes());
  FCursorDrawn = false;
  FPendingRuns.reset();
  FFrameImageCurrent = true;
  FLastFullFrame = -1;
  FComposed.reset();  // the picture no longer shows it
}

void TPlaybackCore::ComposeFrame() {
  if (!HasCurrentSegment() || !FPicture || !FFrameImage) return;
  if (FFilmBits == 8) FPicture->SetColorTable(FPalette);
  else if (FFilmBits != 24 && FFilmBits != 32) return;

  RestoreCursorBackground();
  if (FPendingRuns) {
    // The runs go straight into the picture: the pixels they cover change exactly as the
    // frame image would change them. When they cover the whole frame, the frame image is
    // left behind and rebuilt only if a later frame needs it.
    FFrameWork += int64_t(FPendingRuns->Bytes);
    const int64_t covered = XorRunsIntoPicture(LoadedFrames(), *FPendingRuns, Format(), *FPicture);
    if (covered == int64_t(FFrameWidth) * FFrameHeight) {
      FFrameImageCurrent = false;
      FLastFullFrame = FPendingRuns->Frame;
      FPendingRuns.reset();
    } else {
      // The rest of the picture takes the frame image as the frames before left it.
      ExpandPendingRuns();
      CombineFrameImage(covered);
    }
  } else {
    CatchUpFrameImage();
    CombineFrameImage(0);
  }
  DrawCursor();
}

void TPlaybackCore::CombineFrameImage(int64_t first) {
  if (XorImageIntoPicture(*FFrameImage, Format(), first, *FPicture))
    FFrameWork += int64_t(FPicture->SizeBytes());
}

// ---- Cursor overlay ----

void TPlaybackCore::EnsureCursorArea(int32_t width, int32_t height) {
  if (FCursorArea && FCursorArea->Width() >= width && FCursorArea->Height() >= height) return;
  auto area = TRasterBitmap::Create(std::max(width, FCursorWidth), std::max(height, FCursorHeight),
                                    FFilmBits == 8 ? 8 : 32);
  if (area) FCursorArea = std::move(area);
}

void TPlaybackCore::DrawCursor() {
  if (FSegments.empty()) return;
  ReadCursorRecord(*FCursorStream, FCursorRec);

  if (!HasCurrentSegment() || !FPicture || !FCursorShown) return;
  const TzrCursor* shape = CurrentSegment().CursorList->Items(FCursorRec.Index);
  if (!shape) return;

  const int32_t left = ClampCoordinate(int64_t{FCursorRec.X} - shape->HotSpotX);
  const int32_t top = ClampCoordinate(int64_t{FCursorRec.Y} - shape->HotSpotY);
  // The saved area is the system cursor size, or larger for a larger colour shape, so that
  // the restore takes every pixel the shape drew.
  int32_t width = FCursorWidth, height = FCursorHeight;
  if (shape->IsColorShape()) {
    width = std::max({width, shape->Mask.Width, shape->Color.Width});
    height = std::max({height, shape->Mask.Height, shape->Color.Height});
  }
  EnsureCursorArea(width, height);
  if (!FCursorArea || FCursorArea->Width() < width || FCursorArea->Height() < height) return;
  if (FFilmBits == 8) FCursorArea->SetColorTable(FPalette);
  BitBlt(*FCursorArea, 0, 0, width, height, *FPicture, left, top, TRop::SrcCopy);
  shape->Draw(*FPicture, FCursorRec.X, FCursorRec.Y);
  FCursorLeft = left;
  FCursorTop = top;
  FSavedWidth = width;
  FSavedHeight = height;
  FCursorDrawn = true;
}

void TPlaybackCore::RestoreCursorBackground() {
  // Only a cursor that is in the picture is taken out: putting back an area saved before
  // later frames changed it would leave stale pixels for the next delta.
  if (!FCursorDrawn || !FCursorArea || !FPicture) return;
  if (FFilmBits == 8) FCursorArea->SetColorTable(FPalette);
  BitBlt(*FPicture, FCursorLeft, FCursorTop, FSavedWidth, FSavedHeight, *FCursorArea, 0, 0,
         TRop::SrcCopy);
  FCursorDrawn = false;
}
