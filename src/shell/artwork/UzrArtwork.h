// The program's artwork, drawn at run time with QPainter: the image-list icons, the pictures of
// the transport buttons, the About picture and the window icon. No image files and no fonts, so
// nothing depends on what is installed; no randomness, so every call gives the same pixels.
//
// Functions that return a QImage work without an application object. Those that return a
// QPixmap or a QIcon need a QGuiApplication (or QApplication) to exist first.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QRgb>

class QPainter;

// The nine 16 × 16 icons of the image list, by index: 0 play, 1 pause, 2 stop, 3 segments,
// 4 help, 5 a spare film frame, 6 open file, 7 empty (transparent), 8 exit. Each icon also
// holds a 32 × 32 version for high-DPI screens. Indexes outside 0..8 give an empty icon.
QIcon ImageListIcon(int index);

// The pictures of the three transport buttons: 16 × 16, true colour, on a background of
// exactly 0xFFFFFF. The glyph uses neither pure white nor pure black, so either can serve as
// the transparent colour (white normally, black to show the white background as highlight).
enum class TTransportGlyph { Play, Pause, Stop };
QImage TransportGlyphImage(TTransportGlyph glyph);

// The picture with every pixel exactly equal to `transparent` (alpha ignored) made fully
// transparent.
QPixmap GlyphWithTransparentColour(const QImage& glyph, QRgb transparent);

// The latching "in own window" button: two overlapping windows, 16 × 16 and 32 × 32.
QIcon OwnWindowIcon();

// The About box picture, 162 × 216: a monitor showing a film strip and a mouse pointer over a
// gradient, with the program's name below.
QImage AboutPicture();

// The window icon of every window: 16, 32 and 64 pixels.
QIcon ApplicationIcon();

// Paints the window icon on `painter`, whose unit is a sixteenth of the icon, with the detail
// and line widths meant for `size` pixels (from 32 pixels on with sprocket holes and a pointer).
// The icons installed for the desktop, PNG at every size and SVG, are drawn with it at build time.
void PaintApplicationIcon(QPainter& painter, int size);
