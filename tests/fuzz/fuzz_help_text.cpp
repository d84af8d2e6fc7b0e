// Feeds arbitrary bytes to the help file's text readers: the charset detection of pages, the
// sitemap parser of the contents (.hhc) and index (.hhk), and help locations
// ("file.chm::/topic.htm#anchor", also as links inside pages). The same bytes serve all three.
#include <QByteArray>
#include <QString>
#include <cstdint>

#include "FuzzCheck.h"
#include "shell/helpfile/HelpText.h"

namespace {

// A topic path as the reader looks it up: rooted, without anchor or backslash.
void CheckObjectPath(const QString& topic) {
  const QString path = ObjectPath(topic);
  CHECK(path.startsWith(QLatin1Char('/')) && !path.startsWith(QLatin1String("//")));
  CHECK(!path.contains(QLatin1Char('#')) && !path.contains(QLatin1Char('\\')));
  CHECK(ObjectPath(path) == path && ObjectPath(path.mid(1)) == path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  const QString text = DecodeHelpText(bytes);
  CHECK(bytes.isEmpty() || !text.isEmpty() || bytes.size() <= 4);  // at most a byte order mark

  int lists = 0;
  for (qsizetype at = 0; (at = text.indexOf(QLatin1String("ul"), at, Qt::CaseInsensitive)) >= 0; ++at) ++lists;
  for (const THelpContentsItem& item : ParseSitemap(text)) {
    CHECK(!item.Name.isEmpty() && item.Name == item.Name.trimmed() && item.Local == item.Local.trimmed());
    CHECK(item.Level >= 0 && item.Level < qMax(1, lists));
    if (!item.Local.isEmpty()) CheckObjectPath(item.Local);
  }

  const THelpLocation where = ResolveHelpLocation(text);
  CHECK(!where.Topic.startsWith(QLatin1Char('/')) && !where.Topic.contains(QLatin1Char('#')) &&
        !where.Topic.contains(QLatin1Char('\\')));
  CHECK(text.contains(where.File));
  if (!where.Topic.isEmpty() || !where.Anchor.isEmpty())
    CHECK(text.contains(where.File + QLatin1String("::/")) && text.endsWith(where.Anchor));
  CheckObjectPath(text);
  return 0;
}
