// The help file: reading compiled HTML Help files (CHM) with chmlib, after the safety check of
// HelpFileCheck.h, and the texts inside them (HelpText.h: topic pages, the contents sitemap,
// help locations). No widgets: the viewer window in UzrHelp.h shows what these read.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

#include "shell/helpfile/HelpText.h"

struct chmFile;
struct chmUnitInfo;

// The raw bytes of `topic` (a path inside the CHM, with or without the leading '/'; an anchor
// is ignored; empty: the default topic). False when the file cannot be opened or has no such
// object.
bool ReadHelpTopic(const QString& chmPath, const QString& topic, QByteArray& html);

// The file's default topic ("index.htm"): the one its "/#SYSTEM" names, else "index.htm" when
// the file has it, else its first page. Empty when the file cannot be opened or has no page.
QString DefaultHelpTopic(const QString& chmPath);

// The table of contents of the file, in file order.
QList<THelpContentsItem> ReadHelpContents(const QString& chmPath);

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
