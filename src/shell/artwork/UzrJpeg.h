// Decoding of JPEG pictures (the About picture) with libjpeg.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// The largest picture DecodeJpeg accepts, in each direction. The header is checked against it
// before any pixel memory is allocated.
inline constexpr int kMaxJpegSide = 4096;

// Decodes a whole JPEG file held in memory into a Format_RGB32 picture (grey pictures become
// grey RGB). On failure returns false, leaves `image` null and puts the reason in `error`,
// which starts with one of
//   "empty JPEG data"            nothing to decode,
//   "damaged JPEG: …"            the bytes are not a well-formed JPEG (also: truncated data,
//                                which libjpeg would otherwise fill with grey and only warn),
//   "unsupported JPEG: …"        well-formed, but of a kind libjpeg here cannot turn into RGB,
//                                or progressive with more passes (scans) than is reasonable,
//   "JPEG too large: …"          the header asks for more than kMaxJpegSide in a direction,
//   "out of memory decoding JPEG".
// Never ends the program and never reads outside `bytes`, whatever they hold.
bool DecodeJpeg(const QByteArray& bytes, QImage& image, QString& error);
