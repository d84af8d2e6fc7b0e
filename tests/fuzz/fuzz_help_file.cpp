// Feeds arbitrary bytes to the help file reader as a compiled help file (CHM) and reads
// everything the viewer would: the default topic, the contents, and every object the file
// lists. chmlib opens files by path, so each input is written to one file in a folder of this
// process's own, made once.
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzCheck.h"
#include "shell/helpfile/UzrHelpFile.h"

namespace {

std::string gFolder;

// The folder goes when the fuzzer ends normally; a crash leaves it with the input for a look.
void RemoveFolder() {
  std::remove((gFolder + "/input.chm").c_str());
  ::rmdir(gFolder.c_str());
}

const QString& HelpFile() {
  static const QString path = [] {
    const char* tmp = std::getenv("TMPDIR");
    gFolder = std::string(tmp && *tmp ? tmp : "/tmp") + "/zrfuzzhelp-XXXXXX";
    if (!::mkdtemp(gFolder.data())) std::abort();
    std::atexit(RemoveFolder);
    return QString::fromStdString(gFolder) + QStringLiteral("/input.chm");
  }();
  return path;
}

// The viewer reads pages and style sheets as text.
void UseText(const QByteArray& bytes) {
  if (!Garbled(bytes)) (void)DecodeHelpText(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString& path = HelpFile();
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
  }

  const std::unique_ptr<TChmFile> chm = TChmFile::Open(path);
  if (!chm) {
    QByteArray none;
    CHECK(!ReadHelpTopic(path, QString(), none) && none.isEmpty());
    CHECK(DefaultHelpTopic(path).isEmpty() && ReadHelpContents(path).isEmpty());
    return 0;
  }

  // The default topic is a page of the file. (Its bytes are not compared with a second read:
  // on damaged compressed data chmlib's decoder runs on into buffer space it never filled, so
  // such a page may read differently, or fail, from one read to the next.)
  const QString topic = chm->DefaultTopic();
  CHECK(topic.isEmpty() || chm->Exists(ObjectPath(topic)));
  QByteArray page;
  if (ReadHelpTopic(path, QString(), page)) UseText(page);

  const QString contents = chm->ContentsFile();
  const QList<THelpContentsItem> items = ReadHelpContents(path);
  if (contents.isEmpty()) CHECK(items.isEmpty());
  for (const THelpContentsItem& item : items) {
    CHECK(!item.Name.isEmpty() && item.Level >= 0);
    QByteArray bytes;
    if (!item.Local.isEmpty()) (void)chm->Read(ObjectPath(item.Local), bytes);
  }

  // Every listed object, as the viewer's pictures, style sheets and links would read them; a
  // hostile directory may list thousands.
  int listed = 0;
  for (const QString& object : chm->Files()) {
    if (++listed > 64) break;
    QByteArray bytes;
    if (chm->Read(object, bytes)) UseText(bytes.left(4096));
  }
  return 0;
}
