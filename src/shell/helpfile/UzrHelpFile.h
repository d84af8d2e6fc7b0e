// The help file: reading compiled HTML Help files (CHM) with chmlib, and the texts inside them
// (topic pages, the contents sitemap, help locations). No widgets: the viewer window in
// UzrHelp.h shows what these read.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

struct chmFile;
struct chmUnitInfo;

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

// The raw bytes of `topic` (a path inside the CHM, with or without the leading '/'; an anchor
// is ignored; empty: the default topic). False when the file cannot be opened or has no such
// object.
bool ReadHelpTopic(const QString& chmPath, const QString& topic, QByteArray& html);

// The file's default topic ("index.htm"): the one its "/#SYSTEM" names, else "index.htm" when
// the file has it, else its first page. Empty when the file cannot be opened or has no page.
QString DefaultHelpTopic(const QString& chmPath);

// Help text bytes as text: the charset the page declares (or a byte order mark), else UTF-8
// when the bytes are valid UTF-8, else Windows-1251.
QString DecodeHelpText(const QByteArray& bytes);

// One line of the table of contents (the project's .hhc), in file order.
struct THelpContentsItem {
  QString Name;
  QString Local;  // topic path inside the CHM, possibly with "#anchor"; may be empty
  int Level = 0;  // 0 for the outermost list
};
QList<THelpContentsItem> ReadHelpContents(const QString& chmPath);

// The items of a sitemap text (.hhc contents or .hhk index): nested <UL> lists of
// <OBJECT type="text/sitemap"> with <param> tags.
QList<THelpContentsItem> ParseSitemap(const QString& text);

// "/x.htm" from "x.htm", "/x.htm" or "\x.htm"; the anchor is dropped.
QString ObjectPath(QString topic);

// True for page bytes that hold NUL bytes without being UTF-16: what the pages of a file cut
// short read as.
bool Garbled(const QByteArray& page);

// One open CHM, read through chmlib. Without chmlib no file can be opened.
class TChmFile {
 public:
  static std::unique_ptr<TChmFile> Open(const QString& path);

  // The object at `path` ("/index.htm"; chmlib matches it without regard to case).
  bool Read(const QString& path, QByteArray& data) const;
  bool Exists(const QString& path) const;
  QString DefaultTopic() const;
  QString ContentsFile() const;
  // The file objects, in the order the CHM lists them.
  const QStringList& Files() const { return FFiles; }

 private:
  struct TCloser {
    void operator()(chmFile* h) const;
  };
  explicit TChmFile(chmFile* handle) : FHandle(handle) {}
  bool Resolve(const QString& path, chmUnitInfo& info) const;
  void ReadSystem();
  void ListObjects();

  std::unique_ptr<chmFile, TCloser> FHandle;
  QString FSystemTopic, FSystemContents;
  QStringList FFiles;  // the file objects, in the order the CHM lists them
};
