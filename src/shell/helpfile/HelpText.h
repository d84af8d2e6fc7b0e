// The texts inside a help file: help locations, topic paths, the charset of pages and the
// contents sitemap. Plain text work on what the file reader (UzrHelpFile.h) has read.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A help location taken apart.
struct THelpLocation {
  QString File;    // the CHM path as given, blanks and all
  QString Topic;   // the topic's path inside the CHM without the leading '/'; empty: the default
  QString Anchor;  // without the '#'; empty: the top of the topic
};

// Splits "file.chm::/topic.htm#anchor" on the last "::/", then the topic on its first '#'.
// Without "::/" the whole text is the file (a trailing "::" is dropped). The prefixes
// "ms-its:" and "mk:@MSITStore:" of HTML Help's own links are taken off the file.
THelpLocation ResolveHelpLocation(const QString& location);

// Help text bytes as text: the charset the page declares (or a byte order mark), else UTF-8
// when the bytes are valid UTF-8, else Windows-1251.
QString DecodeHelpText(const QByteArray& bytes);

// One line of the table of contents (the project's .hhc), in file order.
struct THelpContentsItem {
  QString Name;
  QString Local;  // topic path inside the CHM, possibly with "#anchor"; may be empty
  int Level = 0;  // 0 for the outermost list
};

// The items of a sitemap text (.hhc contents or .hhk index): nested <UL> lists of
// <OBJECT type="text/sitemap"> with <param> tags.
QList<THelpContentsItem> ParseSitemap(const QString& text);

// "/x.htm" from "x.htm", "/x.htm" or "\x.htm"; the anchor is dropped.
QString ObjectPath(QString topic);

// True for page bytes that hold NUL bytes without being UTF-16: what the pages of a file cut
// short read as.
bool Garbled(const QByteArray& page);
