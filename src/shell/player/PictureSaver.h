// Saving the picture on screen as a PNG in the user's pictures folder, named after the film,
// the segment (from 1) and the frame (from 0), never over an existing file.
#pragma once

#include <QImage>
#include <QString>

#include "playback/FilmClock.h"
#include "shell/dialogs/UzrUserMessage.h"

struct TPictureSave {
  QString Path;          // the file written; empty when nothing was
  TUserMessage Failure;  // why nothing was written
};

// Saves `picture`, the picture of `frame` of the film at `filmPath`, as
// "<film>-SSS-FFFFF.png" in the user's pictures folder; when that name is taken, the next free
// " (2)", " (3)", ... goes into it.
TPictureSave SavePictureFile(const QImage& picture, const QString& filmPath, TFramePos frame);
