#include "filmwriter/TypicalFilm.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <span>
#include <stdexcept>
#include <string>

#include "filmwriter/WriterRandom.h"
#include "io/Cp1251.h"

namespace {

constexpr int32_t kCellWidth = 8;  // a glyph's advance
constexpr int32_t kLineHeight = 16;
// Glyph numbers: 0 is a space, 1 to 10 the digits, 11 the colon, the rest letters.
constexpr int kGlyphCount = 48;
constexpr uint8_t kSpace = 0;
constexpr uint8_t kColon = 11;
constexpr uint8_t kFirstLetter = 12;
constexpr uint64_t kSegmentLimit = uint64_t(48) << 20;
constexpr uint32_t kMaxRun = 65535;

// ---- Geometry ----

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;  // right and bottom excluded

  bool Empty() const { return Right <= Left || Bottom <= Top; }
  bool Contains(int32_t x, int32_t y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
  TRect Intersect(const TRect& o) const {
    return {std::max(Left, o.Left), std::max(Top, o.Top), std::min(Right, o.Right), std::min(Bottom, o.Bottom)};
  }
  TRect Union(const TRect& o) const {
    if (Empty()) return o;
    if (o.Empty()) return *this;
    return {std::min(Left, o.Left), std::min(Top, o.Top), std::max(Right, o.Right), std::max(Bottom, o.Bottom)};
  }
  TRect Moved(int32_t dx, int32_t dy) const { return {Left + dx, Top + dy, Right + dx, Bottom + dy}; }
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
};

TRect RectOf(int32_t left, int32_t top, int32_t width, int32_t height) {
  return {left, top, left + width, top + height};
}

// ---- Glyphs: strokes drawn with soft edges, as a screen font's anti-aliasing does ----

using TGlyph = std::array<uint8_t, size_t(kCellWidth * kLineHeight)>;  // coverage 0 to 255

struct TStroke {
  float X0, Y0, X1, Y1;
};

float DistanceToStroke(float x, float y, const TStroke& s) {
  const float dx = s.X1 - s.X0, dy = s.Y1 - s.Y0;
  const float length2 = dx * dx + dy * dy;
  float t = length2 > 0 ? ((x - s.X0) * dx + (y - s.Y0) * dy) / length2 : 0;
  t = std::clamp(t, 0.0f, 1.0f);
  const float ex = x - (s.X0 + t * dx), ey = y - (s.Y0 + t * dy);
  return std::sqrt(ex * ex + ey * ey);
}

TGlyph RenderGlyph(std::span<const TStroke> strokes, float halfWidth) {
  TGlyph glyph{};
  for (int32_t y = 0; y < kLineHeight; ++y)
    for (int32_t x = 0; x < kCellWidth; ++x) {
      // Four by four samples a pixel.
      int inside = 0;
      for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx) {
          const float px = float(x) + (float(sx) + 0.5f) / 4, py = float(y) + (float(sy) + 0.5f) / 4;
          for (const TStroke& s : strokes)
            if (DistanceToStroke(px, py, s) <= halfWidth) {
              ++inside;
              break;
            }
        }
      glyph[size_t(y * kCellWidth + x)] = uint8_t(inside * 255 / 16);
    }
  return glyph;
}

// Made-up glyphs of two to three strokes each: letters of x-height or tall, digits tall.
const std::array<TGlyph, kGlyphCount>& Glyphs() {
  static const std::array<TGlyph, kGlyphCount> glyphs = [] {
    std::array<TGlyph, kGlyphCount> out{};
    TWriterRandom random{0x5DEECE66Dull};
    for (int id = 1; id < kGlyphCount; ++id) {
      if (id == kColon) {
        const TStroke dots[] = {{3.5f, 6.5f, 3.5f, 6.5f}, {3.5f, 11.5f, 3.5f, 11.5f}};
        out[size_t(id)] = RenderGlyph(dots, 0.8f);
        continue;
      }
      const bool tall = id < kColon || random.Below(5) < 2;
      const float top = tall ? 2.5f : 5.5f, bottom = 12.5f, mid = (top + bottom) / 2;
      const float left = 1.5f, right = 5.5f;
      const TStroke candidates[] = {
          {left, top, left, bottom},  {right, top, right, bottom}, {left, top, right, top},
          {left, mid, right, mid},    {left, bottom, right, bottom}, {left, bottom, right, top},
          {left, top, right, bottom}, {right, mid, right, bottom + 2.5f},
      };
      std::vector<TStroke> strokes;
      uint32_t used = 0;
      const uint32_t count = 2 + random.Below(2);
      while (strokes.size() < count) {
        const uint32_t pick = random.Below(uint32_t(std::size(candidates)));
        if (used & (1u << pick)) continue;
        used |= 1u << pick;
        strokes.push_back(candidates[pick]);
      }
      out[size_t(id)] = RenderGlyph(strokes, 0.6f);
    }
    return out;
  }();
  return glyphs;
}

// ---- Painting, clipped to the area being redrawn ----

uint32_t Mix(uint32_t from, uint32_t to, uint32_t alpha) {  // alpha 0 (from) to 255 (to)
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int32_t a = int32_t(from >> shift & 0xFF), b = int32_t(to >> shift & 0xFF);
    out |= uint32_t(a + ((b - a) * int32_t(alpha) + 127) / 255) << shift;
  }
  return out;
}

class TPainter {
 public:
  TPainter(std::vector<uint32_t>& pixels, int32_t width, TRect clip) : FPixels(pixels), FWidth(width), FClip(clip) {}

  TPainter Within(TRect r) const { return TPainter(FPixels, FWidth, FClip.Intersect(r)); }
  bool Touches(TRect r) const { return !FClip.Intersect(r).Empty(); }

  void Fill(TRect r, uint32_t colour) {
    r = FClip.Intersect(r);
    if (r.Empty()) return;
    for (int32_t y = r.Top; y < r.Bottom; ++y) std::fill(Row(y) + r.Left, Row(y) + r.Right, colour);
  }
  // Top to bottom from one colour to the other.
  void Gradient(TRect r, uint32_t top, uint32_t bottom) {
    const TRect c = FClip.Intersect(r);
    if (c.Empty()) return;
    for (int32_t y = c.Top; y < c.Bottom; ++y) {
      const uint32_t colour = Mix(top, bottom, uint32_t((y - r.Top) * 255 / std::max(r.Height() - 1, 1)));
      std::fill(Row(y) + c.Left, Row(y) + c.Right, colour);
    }
  }
  void Border(TRect r, uint32_t colour) {
    Fill({r.Left, r.Top, r.Right, r.Top + 1}, colour);
    Fill({r.Left, r.Bottom - 1, r.Right, r.Bottom}, colour);
    Fill({r.Left, r.Top, r.Left + 1, r.Bottom}, colour);
    Fill({r.Right - 1, r.Top, r.Right, r.Bottom}, colour);
  }
  // A shadow: the pixels darkened by alpha.
  void Darken(TRect r, uint32_t alpha) {
    r = FClip.Intersect(r);
    if (r.Empty()) return;
    for (int32_t y = r.Top; y < r.Bottom; ++y)
      for (int32_t x = r.Left; x < r.Right; ++x) Row(y)[x] = Mix(Row(y)[x], 0, alpha);
  }
  void Copy(const std::vector<uint32_t>& source, TRect r) {
    r = FClip.Intersect(r);
    if (r.Empty()) return;
    for (int32_t y = r.Top; y < r.Bottom; ++y)
      std::copy(source.begin() + ptrdiff_t(y) * FWidth + r.Left, source.begin() + ptrdiff_t(y) * FWidth + r.Right,
                Row(y) + r.Left);
  }
  // A line of glyphs whose cells start at (x, y), blended over what is there.
  void Text(int32_t x, int32_t y, std::span<const uint8_t> glyphs, uint32_t ink) {
    const TRect line = FClip.Intersect(RectOf(x, y, int32_t(glyphs.size()) * kCellWidth, kLineHeight));
    if (line.Empty()) return;
    const size_t first = size_t((line.Left - x) / kCellWidth), last = size_t((line.Right - 1 - x) / kCellWidth);
    for (size_t i = first; i <= last; ++i) {
      if (glyphs[i] == kSpace) continue;
      const TGlyph& glyph = Glyphs()[glyphs[i]];
      const int32_t cellX = x + int32_t(i) * kCellWidth;
      const TRect cell = line.Intersect(RectOf(cellX, y, kCellWidth, kLineHeight));
      for (int32_t py = cell.Top; py < cell.Bottom; ++py)
        for (int32_t px = cell.Left; px < cell.Right; ++px) {
          const uint8_t a = glyph[size_t((py - y) * kCellWidth + (px - cellX))];
          if (a) Row(py)[px] = Mix(Row(py)[px], ink, a);
        }
    }
  }

 private:
  uint32_t* Row(int32_t y) { return FPixels.data() + ptrdiff_t(y) * FWidth; }

  std::vector<uint32_t>& FPixels;
  int32_t FWidth;
  TRect FClip;
};

// The glyphs of a number, most significant digit first, at least `digits` long.
std::vector<uint8_t> NumberGlyphs(int64_t n, int digits) {
  std::vector<uint8_t> out;
  do {
    out.insert(out.begin(), uint8_t(1 + n % 10));
    n /= 10;
  } while (n > 0 || int(out.size()) < digits);
  return out;
}

// ---- Cursor shapes ----

TWriterShape ArrowShape() {
  TWriterShape shape;
  for (int32_t y = 0; y < 32; ++y)
    for (int32_t x = 0; x < 32; ++x) {
      const bool head = y < 17 && x <= y / 2 + 1 && x <= 8;
      const bool tail = y >= 12 && y < 22 && x >= 3 + (y - 12) / 3 && x <= 5 + (y - 12) / 3;
      const bool inside = head || tail;
      const bool edge = inside && (x == 0 || y == 16 || x == y / 2 + 1 || (tail && !head));
      shape.AndMask.push_back(uint8_t(!inside));
      shape.XorMask.push_back(uint8_t(inside && !edge));  // white, outlined in black
    }
  return shape;
}

// The text cursor inverts what it covers.
TWriterShape BeamShape() {
  TWriterShape shape;
  shape.HotSpotX = 15;
  shape.HotSpotY = 15;
  for (int32_t y = 0; y < 32; ++y)
    for (int32_t x = 0; x < 32; ++x) {
      const bool stem = x == 15 && y >= 8 && y <= 23;
      const bool serif = (y == 7 || y == 24) && x >= 13 && x <= 17 && x != 15;
      shape.AndMask.push_back(1);
      shape.XorMask.push_back(uint8_t(stem || serif));
    }
  return shape;
}

// Appends a run, joined to the last one when it has the same value.
void AppendRun(std::vector<TWriterRun>& runs, uint32_t value, uint64_t count) {
  while (count > 0) {
    if (!runs.empty() && runs.back().Value == value && runs.back().Count < kMaxRun) {
      const auto n = uint32_t(std::min<uint64_t>(count, kMaxRun - runs.back().Count));
      runs.back().Count += n;
      count -= n;
    } else {
      const auto n = uint32_t(std::min<uint64_t>(count, kMaxRun));
      runs.push_back({value, n});
      count -= n;
    }
  }
}

// ---- The recording ----

class TRecording {
 public:
  explicit TRecording(const TTypicalFilmPlan& plan);
  std::vector<TRawSegment> Make(TTypicalFilmStats& stats);

 private:
  int32_t Frames(double seconds) const { return std::max(1, int32_t(std::lround(seconds * FPlan.FrameRate))); }
  double Between(double low, double high) { return low + (high - low) * FRandom.Below(1001) / 1000.0; }
  bool Done() const { return FFrame >= FTotalFrames; }

  // What the screen shows, drawn within `area`.
  void Render(TRect area);
  void DrawEditor(TPainter& p);
  void DrawTaskBar(TPainter& p);
  void DrawMenu(TPainter& p);
  void DrawDialog(TPainter& p);
  TRect MenuItem(int32_t item) const;
  TRect CaretCell() const;
  int32_t CaretLine() const { return int32_t(FLines.size()) - 1; }

  // Ends the frame: what changed becomes the frame's record, the cursor its track record.
  void EndFrame();
  void StartSegment();
  void FinishSegment();

  // Activities, each a number of frames.
  void MinuteOfWork();
  void Idle(int32_t frames);
  void MoveCursor(int32_t x, int32_t y, int32_t frames);
  void Wander();
  void Typing(int32_t frames);
  void TypeGlyph();
  void NewLine();
  void BringCaretIntoView();
  void Scroll();
  void ScrollBy(int32_t lines);
  void WalkMenu();
  void DragDialog();
  void Dirty(TRect r) { FDirty.push_back(r); }

  TTypicalFilmPlan FPlan;
  TWriterRandom FRandom;
  int64_t FTotalFrames;
  int64_t FFrame = 0;
  int32_t FWidth, FHeight;

  // Layout.
  TRect FScreen, FTaskBar, FStart, FTask, FClock, FEditor, FTitle, FMenuBar, FFileItem, FGutter, FText;
  int32_t FVisibleLines = 0, FColumns = 0;
  std::vector<uint8_t> FTitleText, FTaskText, FStartText;
  std::vector<std::vector<uint8_t>> FMenuBarText;

  // The pictures: the wallpaper under everything, this frame's and the one before.
  std::vector<uint32_t> FWallpaper, FPicture, FPrevious, FZeros;

  // The document: its lines (the caret ends the last), the first line shown, the word and
  // the line being typed.
  std::vector<std::vector<uint8_t>> FLines;
  int32_t FTopLine = 0;
  int32_t FWordLeft = 0, FLineLength = 0;

  bool FMenuOpen = false;
  int32_t FMenuHighlight = -1;
  std::vector<std::vector<uint8_t>> FMenuLabels;
  TRect FMenu;

  bool FDialogOpen = false;
  TRect FDialog;
  std::vector<uint8_t> FDialogTitle;
  std::vector<std::vector<uint8_t>> FDialogLines;

  int64_t FShownSecond = -1;
  double FCursorX = 0, FCursorY = 0;
  TWriterCursorRec FLastCursor{0xFFFF, 0, 0};
  std::vector<TRect> FDirty;
  std::vector<uint8_t> FDirtyRows;

  // The segment being made.
  TRawSegment FSegment;
  TByteWriter FTrack;
  int32_t FSegmentFrames = 0;
  std::vector<TRawSegment> FSegments;
  TTypicalFilmStats FStats;
};

// Words of made-up letters.
std::vector<uint8_t> Words(TWriterRandom& random, int32_t length) {
  std::vector<uint8_t> out;
  while (int32_t(out.size()) < length) {
    if (!out.empty()) out.push_back(kSpace);
    const uint32_t word = 2 + random.Below(8);
    for (uint32_t i = 0; i < word; ++i) out.push_back(uint8_t(kFirstLetter + random.Below(kGlyphCount - kFirstLetter)));
  }
  out.resize(size_t(length));
  if (!out.empty() && out.back() == kSpace) out.pop_back();
  return out;
}

TRecording::TRecording(const TTypicalFilmPlan& plan)
    : FPlan(plan),
      FRandom{0x2545F4914F6CDD1Dull ^ plan.Seed},
      FTotalFrames(int64_t(plan.Minutes) * 60 * plan.FrameRate),
      FWidth(plan.Width),
      FHeight(plan.Height) {
  const size_t pixels = size_t(FWidth) * size_t(FHeight);
  FScreen = {0, 0, FWidth, FHeight};
  FTaskBar = {0, FHeight - 30, FWidth, FHeight};
  FStart = RectOf(2, FTaskBar.Top + 3, 90, 24);
  FTask = RectOf(FStart.Right + 8, FTaskBar.Top + 3, std::min(200, FWidth / 4), 24);
  FClock = RectOf(FWidth - 8 * kCellWidth - 16, FTaskBar.Top + 3, 8 * kCellWidth + 12, 24);
  FEditor = RectOf(FWidth * 6 / 100, FHeight * 5 / 100, FWidth * 70 / 100, FHeight * 80 / 100);
  FTitle = RectOf(FEditor.Left + 3, FEditor.Top + 3, FEditor.Width() - 6, 22);
  FMenuBar = RectOf(FEditor.Left + 3, FTitle.Bottom + 1, FEditor.Width() - 6, 20);
  FGutter = {FEditor.Left + 4, FMenuBar.Bottom + 2, FEditor.Left + 4 + 5 * kCellWidth, FEditor.Bottom - 4};
  FText = {FGutter.Right, FGutter.Top, FEditor.Right - 4, FGutter.Bottom};
  FVisibleLines = (FText.Height() - 4) / kLineHeight;
  FColumns = (FText.Width() - 8) / kCellWidth;

  FTitleText = Words(FRandom, 18);
  FTaskText = Words(FRandom, 12);
  FStartText = Words(FRandom, 5);
  for (int i = 0; i < 5; ++i) FMenuBarText.push_back(Words(FRandom, 4 + int32_t(FRandom.Below(3))));
  FFileItem = RectOf(FMenuBar.Left + 2, FMenuBar.Top, int32_t(FMenuBarText[0].size()) * kCellWidth + 12, 20);
  for (int i = 0; i < 9; ++i) FMenuLabels.push_back(Words(FRandom, 6 + int32_t(FRandom.Below(12))));
  FMenu = RectOf(FFileItem.Left, FMenuBar.Bottom, 210, 9 * 20 + 6);
  FDialogTitle = Words(FRandom, 14);
  for (int i = 0; i < 3; ++i) FDialogLines.push_back(Words(FRandom, 30 + int32_t(FRandom.Below(8))));

  // The wallpaper: a diagonal gradient with a slight grain on a third of its pixels.
  FWallpaper.resize(pixels);
  for (int32_t y = 0; y < FHeight; ++y)
    for (int32_t x = 0; x < FWidth; ++x) {
      uint32_t colour = Mix(0x1F4E79, 0x7FB2E5, uint32_t((x + y) * 255 / (FWidth + FHeight)));
      const uint32_t grain = FRandom.Below(6);
      if (grain == 0) colour = Mix(colour, 0xFFFFFF, 4);
      if (grain == 1) colour = Mix(colour, 0x000000, 4);
      FWallpaper[size_t(y) * size_t(FWidth) + size_t(x)] = colour;
    }

  // The text already written, more than a screenful, so that there is something to scroll.
  for (int32_t i = 0; i < FVisibleLines * 3; ++i) {
    const int32_t length = FRandom.Below(6) == 0 ? 0 : int32_t(FColumns / 3 + FRandom.Below(uint32_t(FColumns * 2 / 3)));
    FLines.push_back(Words(FRandom, length));
  }
  FLines.emplace_back();
  FLineLength = FColumns / 2 + int32_t(FRandom.Below(uint32_t(FColumns / 2 - 2)));
  FTopLine = std::max(0, CaretLine() - FVisibleLines + 1);

  FPicture.assign(pixels, 0);
  FPrevious.assign(pixels, 0);
  FZeros.assign(pixels, 0);
  FDirtyRows.assign(size_t(FHeight), 0);
  FCursorX = FText.Left + FText.Width() * 0.6;
  FCursorY = FText.Top + FText.Height() * 0.4;
  Render(FScreen);
}

// ---- Drawing ----

void TRecording::Render(TRect area) {
  TPainter p(FPicture, FWidth, area.Intersect(FScreen));
  p.Copy(FWallpaper, FScreen);
  DrawEditor(p);
  DrawTaskBar(p);
  if (FMenuOpen) DrawMenu(p);
  if (FDialogOpen) DrawDialog(p);
}

void TRecording::DrawEditor(TPainter& p) {
  if (!p.Touches(FEditor.Union(FEditor.Moved(4, 4)))) return;
  p.Darken({FEditor.Left + 4, FEditor.Bottom, FEditor.Right + 4, FEditor.Bottom + 4}, 60);
  p.Darken({FEditor.Right, FEditor.Top + 4, FEditor.Right + 4, FEditor.Bottom}, 60);
  p.Fill(FEditor, 0xECE9D8);
  p.Border(FEditor, 0x0831D9);
  p.Gradient(FTitle, 0x0A246A, 0x3A6EA5);
  p.Text(FTitle.Left + 6, FTitle.Top + 3, FTitleText, 0xFFFFFF);
  for (int i = 0; i < 3; ++i) p.Fill(RectOf(FTitle.Right - 20 - 22 * i, FTitle.Top + 3, 18, 16), i == 0 ? 0xC75050 : 0xD4D0C8);
  p.Fill(FMenuBar, 0xECE9D8);
  if (FMenuOpen) p.Fill(FFileItem, 0x316AC5);
  int32_t x = FMenuBar.Left + 8;
  for (size_t i = 0; i < FMenuBarText.size(); ++i) {
    p.Text(x, FMenuBar.Top + 2, FMenuBarText[i], FMenuOpen && i == 0 ? 0xFFFFFF : 0x000000);
    x += int32_t(FMenuBarText[i].size()) * kCellWidth + 16;
  }
  // The text, with line numbers in the gutter beside it.
  TPainter text = p.Within(FGutter.Union(FText));
  text.Fill(FGutter, 0xF3F3F3);
  text.Fill(FText, 0xFFFFFF);
  for (int32_t row = 0; row <= FVisibleLines; ++row) {
    const int32_t line = FTopLine + row;
    if (line >= int32_t(FLines.size())) break;
    const int32_t y = FText.Top + 2 + row * kLineHeight;
    const auto number = NumberGlyphs(line + 1, 1);
    text.Text(FGutter.Right - 4 - int32_t(number.size()) * kCellWidth, y, number, 0x2B91AF);
    text.Text(FText.Left + 4, y, FLines[size_t(line)], 0x1E1E1E);
  }
  const TRect caret = CaretCell();
  text.Fill({caret.Left, caret.Top + 1, caret.Left + 1, caret.Bottom - 1}, 0x000000);
}

// Where the caret stands: the cell after the last glyph of the last line.
TRect TRecording::CaretCell() const {
  const int32_t row = CaretLine() - FTopLine;
  if (row < 0 || row >= FVisibleLines) return {};
  return RectOf(FText.Left + 4 + int32_t(FLines.back().size()) * kCellWidth, FText.Top + 2 + row * kLineHeight,
                kCellWidth, kLineHeight);
}

void TRecording::DrawTaskBar(TPainter& p) {
  if (!p.Touches(FTaskBar)) return;
  p.Gradient(FTaskBar, 0x245EDC, 0x1941A5);
  p.Gradient(FStart, 0x3C8D2F, 0x2F6F25);
  p.Text(FStart.Left + 8, FStart.Top + 4, FStartText, 0xFFFFFF);
  p.Gradient(FTask, 0x1E52B7, 0x3C81F3);
  p.Border(FTask, 0x10328C);
  p.Text(FTask.Left + 6, FTask.Top + 4, FTaskText, 0xFFFFFF);
  p.Fill(FClock, 0x0F8AEE);
  const int64_t seconds = 14 * 3600 + 5 * 60 + FFrame / FPlan.FrameRate;
  std::vector<uint8_t> clock;
  for (const int64_t part : {seconds / 3600 % 24, seconds / 60 % 60, seconds % 60}) {
    if (!clock.empty()) clock.push_back(kColon);
    const auto digits = NumberGlyphs(part, 2);
    clock.insert(clock.end(), digits.begin(), digits.end());
  }
  p.Text(FClock.Left + 6, FClock.Top + 4, clock, 0xFFFFFF);
}

TRect TRecording::MenuItem(int32_t item) const { return RectOf(FMenu.Left + 3, FMenu.Top + 3 + item * 20, FMenu.Width() - 6, 20); }

void TRecording::DrawMenu(TPainter& p) {
  if (!p.Touches(FMenu.Union(FMenu.Moved(3, 3)))) return;
  p.Darken({FMenu.Left + 3, FMenu.Bottom, FMenu.Right + 3, FMenu.Bottom + 3}, 70);
  p.Darken({FMenu.Right, FMenu.Top + 3, FMenu.Right + 3, FMenu.Bottom}, 70);
  p.Fill(FMenu, 0xFFFFFF);
  p.Border(FMenu, 0x8A867A);
  for (int32_t i = 0; i < int32_t(FMenuLabels.size()); ++i) {
    const TRect item = MenuItem(i);
    const bool lit = i == FMenuHighlight;
    if (lit) p.Fill(item, 0x316AC5);
    p.Text(item.Left + 24, item.Top + 2, FMenuLabels[size_t(i)], lit ? 0xFFFFFF : 0x000000);
    if (i == 3) p.Fill({item.Left + 2, item.Bottom - 1, item.Right - 2, item.Bottom}, 0xACA899);
  }
}

void TRecording::DrawDialog(TPainter& p) {
  const TRect shadowed = FDialog.Union(FDialog.Moved(5, 5));
  if (!p.Touches(shadowed)) return;
  p.Darken({FDialog.Left + 5, FDialog.Bottom, FDialog.Right + 5, FDialog.Bottom + 5}, 80);
  p.Darken({FDialog.Right, FDialog.Top + 5, FDialog.Right + 5, FDialog.Bottom}, 80);
  p.Fill(FDialog, 0xECE9D8);
  p.Border(FDialog, 0x0831D9);
  const TRect title = RectOf(FDialog.Left + 3, FDialog.Top + 3, FDialog.Width() - 6, 22);
  p.Gradient(title, 0x0054E3, 0x3D95FF);
  p.Text(title.Left + 6, title.Top + 3, FDialogTitle, 0xFFFFFF);
  p.Fill(RectOf(title.Right - 20, title.Top + 3, 18, 16), 0xC75050);
  for (size_t i = 0; i < FDialogLines.size(); ++i)
    p.Text(FDialog.Left + 16, title.Bottom + 14 + int32_t(i) * kLineHeight, FDialogLines[i], 0x000000);
  for (int i = 0; i < 2; ++i) {
    const TRect button = RectOf(FDialog.Right - 170 + i * 82, FDialog.Bottom - 36, 74, 24);
    p.Gradient(button, 0xFFFFFF, 0xE3E3DB);
    p.Border(button, 0x003C74);
    p.Text(button.Left + 12, button.Top + 4, FMenuBarText[size_t(i + 1)], 0x000000);
  }
}

// ---- Frames and segments ----

void TRecording::StartSegment() {
  FSegment = TRawSegment{};
  const std::string name = Utf8ToCp1251("Минута " + std::to_string(FSegments.size() + 1));
  FSegment.Name = FSegment.ListName = name;
  FSegment.Width = FWidth;
  FSegment.Height = FHeight;
  FSegment.BitsPerPixel = FPlan.BitsPerPixel;
  FSegment.FrameRate = FSegment.ListFrameRate = FPlan.FrameRate;
  FSegment.ShapeCount = 2;
  for (const TWriterShape& shape : {ArrowShape(), BeamShape()}) {
    const auto record = EncodeShapeRecord(shape);
    FSegment.ShapeRecords.insert(FSegment.ShapeRecords.end(), record.begin(), record.end());
  }
  FTrack = TByteWriter{};
  FSegmentFrames = 0;
}

void TRecording::FinishSegment() {
  FSegment.CursorData = FTrack.Take();
  FSegment.FrameCount = FSegment.ListFrameCount = FSegmentFrames;
  FSegment.FrameDataSize = int32_t(FSegment.FrameData.size());
  FSegment.CursorDataSize = int32_t(FSegment.CursorData.size());
  FSegments.push_back(std::move(FSegment));
}

void TRecording::EndFrame() {
  if (Done()) return;
  if (FSegmentFrames == 0) StartSegment();
  const int64_t second = FFrame / FPlan.FrameRate;
  if (second != FShownSecond) {
    FShownSecond = second;
    Dirty(FClock);
  }
  for (const TRect& r : FDirty) {
    const TRect area = r.Intersect(FScreen);
    if (area.Empty()) continue;
    Render(area);
    std::fill(FDirtyRows.begin() + area.Top, FDirtyRows.begin() + area.Bottom, uint8_t(1));
  }
  FDirty.clear();

  // The frame's runs: the whole picture at a segment's start, else the rows redrawn.
  std::vector<TWriterRun> runs;
  const size_t width = size_t(FWidth);
  bool still = true;
  if (FSegmentFrames == 0) {
    runs = DeltaRuns(FZeros, FPicture, FPlan.BitsPerPixel);
    still = false;
  } else {
    int32_t y = 0;
    while (y < FHeight) {
      int32_t end = y;
      while (end < FHeight && FDirtyRows[size_t(end)] == FDirtyRows[size_t(y)]) ++end;
      const size_t from = size_t(y) * width, count = size_t(end - y) * width;
      if (!FDirtyRows[size_t(y)]) {
        AppendRun(runs, 0, count);
      } else {
        for (const TWriterRun& run : DeltaRuns(std::span(FPrevious).subspan(from, count),
                                               std::span(FPicture).subspan(from, count), FPlan.BitsPerPixel)) {
          AppendRun(runs, run.Value, run.Count);
          if (run.Value) {
            still = false;
            FStats.ChangedPixels += run.Count;
          }
        }
      }
      y = end;
    }
  }
  for (int32_t y = 0; y < FHeight; ++y)
    if (FDirtyRows[size_t(y)] || FSegmentFrames == 0) {
      std::copy_n(FPicture.begin() + ptrdiff_t(size_t(y) * width), width, FPrevious.begin() + ptrdiff_t(size_t(y) * width));
      FDirtyRows[size_t(y)] = 0;
    }
  const auto record = EncodeFrameRecord(runs, FPlan.BitsPerPixel);
  if (FSegment.FrameData.size() + record.size() > kSegmentLimit)
    throw std::runtime_error("MakeTypicalFilmSegments: a minute of " + std::to_string(FWidth) + " × " +
                             std::to_string(FHeight) + " pictures takes more than 48 MiB of frame data");
  FSegment.FrameData.insert(FSegment.FrameData.end(), record.begin(), record.end());

  // The hot spot's place; the I-beam over the editor's text where nothing covers it.
  const auto x = uint16_t(std::clamp(std::lround(FCursorX), 0L, long(FWidth - 1)));
  const auto y = uint16_t(std::clamp(std::lround(FCursorY), 0L, long(FHeight - 1)));
  const bool covered = (FMenuOpen && FMenu.Contains(x, y)) || (FDialogOpen && FDialog.Contains(x, y));
  const TWriterCursorRec cursor{uint16_t(FText.Contains(x, y) && !covered ? 1 : 0), x, y};
  FTrack.U16(cursor.Index).U16(cursor.X).U16(cursor.Y);
  const bool cursorStill = cursor.Index == FLastCursor.Index && cursor.X == FLastCursor.X && cursor.Y == FLastCursor.Y;
  FLastCursor = cursor;

  ++FStats.Frames;
  if (still) ++FStats.StillFrames;
  if (still && cursorStill) ++FStats.QuietFrames;
  ++FFrame;
  if (++FSegmentFrames == 60 * FPlan.FrameRate || Done()) {
    FinishSegment();
    FSegmentFrames = 0;
  }
}

// ---- Activities ----

void TRecording::Idle(int32_t frames) {
  for (int32_t i = 0; i < frames && !Done(); ++i) EndFrame();
}

// Moves the cursor to (x, y) in `frames` frames, easing in and out as a hand does.
void TRecording::MoveCursor(int32_t x, int32_t y, int32_t frames) {
  const double fromX = FCursorX, fromY = FCursorY;
  for (int32_t i = 1; i <= frames && !Done(); ++i) {
    const double t = double(i) / frames, eased = t * t * (3 - 2 * t);
    FCursorX = fromX + (x - fromX) * eased;
    FCursorY = fromY + (y - fromY) * eased;
    EndFrame();
  }
}

void TRecording::Wander() {
  const int points = 2 + int(FRandom.Below(3));
  for (int i = 0; i < points; ++i) {
    MoveCursor(int32_t(FRandom.Below(uint32_t(FWidth))), int32_t(FRandom.Below(uint32_t(FTaskBar.Top))),
               Frames(Between(0.4, 1.2)));
    Idle(Frames(Between(0.1, 0.6)));
  }
}

void TRecording::Typing(int32_t frames) {
  BringCaretIntoView();
  for (int32_t i = 0; i < frames && !Done(); ++i) {
    // Pauses between bursts; a glyph or two a frame while typing.
    const uint32_t pick = FRandom.Below(10);
    const int glyphs = pick < 3 ? 0 : pick < 8 ? 1 : 2;
    for (int g = 0; g < glyphs; ++g) TypeGlyph();
    EndFrame();
  }
}

void TRecording::TypeGlyph() {
  if (int32_t(FLines.back().size()) >= FLineLength) return NewLine();
  const TRect before = CaretCell();
  std::vector<uint8_t>& line = FLines.back();
  if (FWordLeft == 0) {
    FWordLeft = 2 + int32_t(FRandom.Below(8));
    if (!line.empty()) {
      line.push_back(kSpace);
      Dirty(before.Union(CaretCell()));
      return;
    }
  }
  line.push_back(uint8_t(kFirstLetter + FRandom.Below(kGlyphCount - kFirstLetter)));
  --FWordLeft;
  Dirty(before.Union(CaretCell()));
}

void TRecording::NewLine() {
  const TRect before = CaretCell();
  FLines.emplace_back();
  FWordLeft = 0;
  FLineLength = FColumns / 3 + int32_t(FRandom.Below(uint32_t(FColumns * 2 / 3 - 1)));
  if (CaretLine() - FTopLine >= FVisibleLines) {
    // The editor scrolls by a line to keep the caret in view.
    FTopLine = CaretLine() - FVisibleLines + 1;
    Dirty(FGutter.Union(FText));
  } else {
    const TRect after = CaretCell();
    Dirty(before);
    Dirty(after.Union({FGutter.Left, after.Top, FGutter.Right, after.Bottom}));
  }
}

// Typing where the view has been scrolled away brings the caret's line back into view.
void TRecording::BringCaretIntoView() {
  if (!CaretCell().Empty()) return;
  FTopLine = std::max(0, CaretLine() - FVisibleLines + 1);
  Dirty(FGutter.Union(FText));
}

void TRecording::ScrollBy(int32_t lines) {
  const int32_t top = std::clamp(FTopLine + lines, 0, std::max(0, CaretLine() - FVisibleLines + 1));
  if (top == FTopLine) return;
  FTopLine = top;
  Dirty(FGutter.Union(FText));
}

// The mouse wheel: three lines a notch, a notch or two a frame, up through the text and
// part of the way back.
void TRecording::Scroll() {
  MoveCursor(FText.Left + int32_t(FRandom.Below(uint32_t(FText.Width()))),
             FText.Top + int32_t(FRandom.Below(uint32_t(FText.Height()))), Frames(Between(0.5, 1.0)));
  const int32_t notches = Frames(Between(0.4, 0.9));
  for (int32_t i = 0; i < notches && !Done(); ++i) {
    ScrollBy(-3 * (1 + int32_t(FRandom.Below(2))));
    EndFrame();
  }
  Idle(Frames(Between(1.0, 3.0)));
  for (int32_t i = 0; i < notches / 2 && !Done(); ++i) {
    ScrollBy(3);
    EndFrame();
  }
}

void TRecording::WalkMenu() {
  MoveCursor((FFileItem.Left + FFileItem.Right) / 2, (FFileItem.Top + FFileItem.Bottom) / 2,
             Frames(Between(0.8, 1.5)));
  FMenuOpen = true;
  FMenuHighlight = -1;
  Dirty(FMenu.Union(FMenu.Moved(3, 3)).Union(FFileItem));
  Idle(Frames(Between(0.2, 0.5)));
  const int32_t items = 3 + int32_t(FRandom.Below(uint32_t(FMenuLabels.size()) - 3));
  for (int32_t i = 0; i < items && !Done(); ++i) {
    const TRect item = MenuItem(i);
    const int32_t x = item.Left + 30 + int32_t(FRandom.Below(60));
    // The cursor travels to the item, which lights up when the cursor reaches it.
    MoveCursor(x, (item.Top + item.Bottom) / 2, Frames(0.1));
    if (FMenuHighlight >= 0) Dirty(MenuItem(FMenuHighlight));
    FMenuHighlight = i;
    Dirty(item);
    Idle(Frames(Between(0.1, 0.4)));
  }
  FMenuOpen = false;
  Dirty(FMenu.Union(FMenu.Moved(3, 3)).Union(FFileItem));
  EndFrame();
}

void TRecording::DragDialog() {
  const int32_t width = std::min(360, FWidth * 2 / 5), height = 170;
  FDialog = RectOf((FEditor.Left + FEditor.Right - width) / 2 + int32_t(FRandom.Below(81)) - 40,
                   (FEditor.Top + FEditor.Bottom - height) / 2 + int32_t(FRandom.Below(61)) - 30, width, height);
  FDialogOpen = true;
  Dirty(FDialog.Union(FDialog.Moved(5, 5)));
  EndFrame();
  Idle(Frames(Between(0.3, 1.0)));
  // The cursor takes the title bar and drags the dialog along a gentle curve.
  const int32_t grabX = 40 + int32_t(FRandom.Below(uint32_t(width - 100))), grabY = 12;
  MoveCursor(FDialog.Left + grabX, FDialog.Top + grabY, Frames(Between(0.5, 1.0)));
  const int32_t frames = Frames(Between(1.0, 2.0));
  double angle = FRandom.Below(628) / 100.0;
  const double speed = Between(8, 20), turn = Between(-0.15, 0.15);
  for (int32_t i = 0; i < frames && !Done(); ++i) {
    const TRect before = FDialog.Union(FDialog.Moved(5, 5));
    int32_t dx = int32_t(std::lround(std::cos(angle) * speed)), dy = int32_t(std::lround(std::sin(angle) * speed));
    const TRect bounds = {0, 0, FWidth - 5, FTaskBar.Top - 5};
    if (FDialog.Left + dx < bounds.Left || FDialog.Right + dx > bounds.Right) dx = -dx, angle = std::numbers::pi - angle;
    if (FDialog.Top + dy < bounds.Top || FDialog.Bottom + dy > bounds.Bottom) dy = -dy, angle = -angle;
    FDialog = FDialog.Moved(dx, dy);
    FCursorX = FDialog.Left + grabX;
    FCursorY = FDialog.Top + grabY;
    Dirty(before.Union(FDialog.Union(FDialog.Moved(5, 5))));
    angle += turn;
    EndFrame();
  }
  Idle(Frames(Between(0.3, 0.8)));
  MoveCursor(FDialog.Right - 170 + 37, FDialog.Bottom - 24, Frames(Between(0.5, 1.0)));
  Idle(Frames(0.2));
  FDialogOpen = false;
  Dirty(FDialog.Union(FDialog.Moved(5, 5)));
  EndFrame();
}

// A minute or so of work, the parts in the same order each time, their lengths varied.
void TRecording::MinuteOfWork() {
  Typing(Frames(Between(12, 20)));
  Idle(Frames(Between(4, 10)));
  Wander();
  WalkMenu();
  Typing(Frames(Between(8, 16)));
  Idle(Frames(Between(3, 7)));
  Scroll();
  Idle(Frames(Between(2, 6)));
  DragDialog();
  Typing(Frames(Between(5, 11)));
  Idle(Frames(Between(5, 15)));
}

std::vector<TRawSegment> TRecording::Make(TTypicalFilmStats& stats) {
  while (!Done()) MinuteOfWork();
  stats = FStats;
  return std::move(FSegments);
}

}  // namespace

std::vector<TRawSegment> MakeTypicalFilmSegments(const TTypicalFilmPlan& plan, TTypicalFilmStats* stats) {
  if (plan.Minutes <= 0 || plan.Minutes > 600 || plan.Width < 320 || plan.Height < 240 || plan.Width > 8192 ||
      plan.Height > 8192 || (plan.BitsPerPixel != 24 && plan.BitsPerPixel != 32) || plan.FrameRate == 0 ||
      plan.FrameRate > 60)
    throw std::invalid_argument(
        "MakeTypicalFilmSegments: 1 to 600 minutes of 24- or 32-bit pictures from 320 × 240 to 8192 × 8192, "
        "1 to 60 frames a second");
  TTypicalFilmStats made;
  auto segments = TRecording(plan).Make(made);
  if (stats) *stats = made;
  return segments;
}
