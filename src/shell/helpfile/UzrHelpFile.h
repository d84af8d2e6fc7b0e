// The help file: reading compiled HTML Help files (CHM), their directory as HelpFileCheck.h
// reads and checks it and their objects through libmspack's CHM decompressor, and the texts
// inside them (HelpText.h: topic pages, the contents sitemap, help locations). No widgets: the
// viewer window in UzrHelp.h shows what these read.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

#include "shell/helpfile/HelpText.h"

struct THelpEntry;

// The raw bytes of `topic` (a path inside the CHM, with or without the leading '/'; an anchor
// is ignored; empty: the default topic). False when the file cannot be opened or has no such
// object.
bool ReadHelpTopic(const QString& chmPath, const QString& topic, QByteArray& html);

// The file's default topic ("index.htm"): the one its "/#SYSTEM" names, else "index.htm" when
// the file has it, else its first page. Empty when the file cannot be opened or has no page.
QString DefaultHelpTopic(const QString& chmPath);

// The table of contents of the file, in file order.
QList<THelpContentsItem> ReadHelpContents(const QString& chmPath);

// One open CHM. The file is read once; its objects are decompressed from that copy.
class TChmFile {
 public:
  // Null when the file cannot be read, or is damaged or no CHM.
  static std::unique_ptr<TChmFile> Open(const QString& path);
  // The same, from the bytes of a file.
  static std::unique_ptr<TChmFile> FromBytes(QByteArray bytes);
  ~TChmFile();

  // The object at `path` ("/index.htm"; matched without regard to the case of A to Z). False
  // when the file has no such object or its bytes cannot be decompressed.
  bool Read(const QString& path, QByteArray& data) const;
  bool Exists(const QString& path) const;
  QString DefaultTopic() const;
  QString ContentsFile() const;
  // The file objects, in the order the CHM lists them.
  const QStringList& Files() const { return FFiles; }

 private:
  struct TLibrary;  // the bytes, their directory and libmspack's decompressor
  explicit TChmFile(std::unique_ptr<TLibrary> library);
  const THelpEntry* Find(const QString& path) const;
  void ReadSystem();
  void ListObjects();

  std::unique_ptr<TLibrary> FLibrary;
  QString FSystemTopic, FSystemContents;
  QStringList FFiles;  // the file objects, in the order the CHM lists them
};
