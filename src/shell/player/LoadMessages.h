// The user's words for loading a film: the notices of the loader and the failures that end a
// load, in Russian, with the internal English message as details.
#pragma once

#include <QStringList>
#include <string>

#include "film/FilmLoader.h"
#include "shell/dialogs/UzrUserMessage.h"

// A path as the messages quote it: «path».
QString Quoted(const std::string& path);
// The user's words for a notice of loading (items 1 to 3 of the message list where they
// apply) and for a film that cannot be read.
TUserMessage LoadReportMessage(const TLoadReport& report, const QStringList& lbMessages);
TUserMessage FilmLoadMessage(const EFilmLoad& failure);
// A film that loaded but has no segments to play.
TUserMessage NoSegmentsMessage(const std::string& path);
