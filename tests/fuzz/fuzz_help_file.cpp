// Feeds arbitrary bytes to the help file reader as a compiled help file (CHM), from memory, and
// reads everything the viewer would: the default topic, the contents, and every object the
// file lists.
#include <QByteArray>
#include <QString>
#include <cstdint>

#include "FuzzCheck.h"
#include "shell/helpfile/UzrHelpFile.h"

namespace {

// The viewer reads pages and style sheets as text.
void UseText(const QByteArray& bytes) {
  if (!Garbled(bytes)) (void)DecodeHelpText(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::unique_ptr<TChmFile> chm =
      TChmFile::FromBytes(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
  if (!chm) return 0;

  // The default topic is a page of the file.
  const QString topic = chm->DefaultTopic();
  CHECK(topic.isEmpty() || chm->Exists(ObjectPath(topic)));
  QByteArray page;
  const bool pageRead = !topic.isEmpty() && chm->Read(ObjectPath(topic), page);
  if (pageRead) UseText(page);

  const QString contents = chm->ContentsFile();
  CHECK(contents.isEmpty() || chm->Exists(contents));
  QByteArray sitemap;
  if (!contents.isEmpty() && chm->Read(contents, sitemap)) {
    for (const THelpContentsItem& item : ParseSitemap(DecodeHelpText(sitemap))) {
      CHECK(!item.Name.isEmpty() && item.Level >= 0);
      QByteArray bytes;
      if (!item.Local.isEmpty()) (void)chm->Read(ObjectPath(item.Local), bytes);
    }
  }

  // Every listed object, as the viewer's pictures, style sheets and links would read them; a
  // hostile directory may list thousands.
  int listed = 0;
  for (const QString& object : chm->Files()) {
    if (++listed > 64) break;
    QByteArray bytes;
    if (chm->Read(object, bytes)) UseText(bytes.left(4096));
  }

  // The decompressor has moved on (and back) since: the page reads as it did, byte for byte.
  QByteArray again;
  if (!topic.isEmpty()) CHECK(chm->Read(ObjectPath(topic), again) == pageRead && again == page);
  return 0;
}
