#include "shell/UzrHelpFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <span>

#include "film/ByteReader.h"
#include "film/Cp1251.h"

#ifdef VERIROVE_HAVE_CHMLIB
#include <chm_lib.h>
#endif

namespace {

// No object of a help file is near this; a bigger length is a damaged directory entry.
constexpr qint64 kMaxObjectSize = 64 * 1024 * 1024;

bool IsPage(const QString& path) {
  return path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive) ||
         path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive);
}

// Text of a "#SYSTEM" record: up to its first NUL.
[[maybe_unused]] QString SystemString(std::span<const uint8_t> data) {
  size_t length = 0;
  while (length < data.size() && data[length] != 0) ++length;
  return DecodeHelpText(QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(length)));
}

// The five entities the sitemap files use, and numeric ones.
QString DecodeEntities(const QString& text) {
  if (!text.contains(QLatin1Char('&'))) return text;
  static const QRegularExpression entity(QStringLiteral("&(#x[0-9a-fA-F]+|#[0-9]+|[a-zA-Z]+);"));
  QString out;
  qsizetype last = 0;
  for (auto it = entity.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    out += text.mid(last, m.capturedStart() - last);
    const QString name = m.captured(1);
    QString replacement = m.captured(0);
    if (name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive) || name.startsWith(QLatin1Char('#'))) {
      bool ok = false;
      const uint code = name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive) ? name.mid(2).toUInt(&ok, 16)
                                                                                 : name.mid(1).toUInt(&ok, 10);
      if (ok && code > 0 && code <= 0x10FFFF) {
        const char32_t c = code;
        replacement = QString::fromUcs4(&c, 1);
      }
    } else if (name == QLatin1String("amp")) {
      replacement = QStringLiteral("&");
    } else if (name == QLatin1String("lt")) {
      replacement = QStringLiteral("<");
    } else if (name == QLatin1String("gt")) {
      replacement = QStringLiteral(">");
    } else if (name == QLatin1String("quot")) {
      replacement = QStringLiteral("\"");
    } else if (name == QLatin1String("apos")) {
      replacement = QStringLiteral("'");
    } else if (name == QLatin1String("nbsp")) {
      replacement = QString(QChar(0xA0));
    }
    out += replacement;
    last = m.capturedEnd();
  }
  return out + text.mid(last);
}

}  // namespace

QString ObjectPath(QString topic) {
  const qsizetype hash = topic.indexOf(QLatin1Char('#'));
  if (hash >= 0) topic.truncate(hash);
  topic.replace(QLatin1Char('\\'), QLatin1Char('/'));
  while (topic.startsWith(QLatin1Char('/'))) topic.remove(0, 1);
  return QLatin1Char('/') + topic;
}

QList<THelpContentsItem> ParseSitemap(const QString& text) {
  static const QRegularExpression tag(QStringLiteral("<\\s*(/?)\\s*(ul|object|param)\\b([^>]*)>"),
                                      QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression attribute(
      QStringLiteral("([A-Za-z_:][-A-Za-z0-9_:.]*)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s\"'>]+))"));
  QList<THelpContentsItem> items;
  int depth = 0;
  bool inItem = false;
  THelpContentsItem item;
  for (auto it = tag.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    const bool closing = !m.captured(1).isEmpty();
    const QString name = m.captured(2).toLower();
    QString paramName, paramValue, type;
    for (auto a = attribute.globalMatch(m.captured(3)); a.hasNext();) {
      const QRegularExpressionMatch am = a.next();
      const QString key = am.captured(1).toLower();
      const QString value = DecodeEntities(am.captured(2) + am.captured(3) + am.captured(4));
      if (key == QLatin1String("name")) paramName = value.toLower();
      if (key == QLatin1String("value")) paramValue = value;
      if (key == QLatin1String("type")) type = value.toLower();
    }
    if (name == QLatin1String("ul")) {
      depth = closing ? qMax(0, depth - 1) : depth + 1;
    } else if (name == QLatin1String("object")) {
      if (!closing) {
        inItem = type == QLatin1String("text/sitemap");
        item = THelpContentsItem{};
        item.Level = qMax(0, depth - 1);
      } else if (inItem) {
        inItem = false;
        if (!item.Name.isEmpty()) items.append(item);
      }
    } else if (inItem) {  // <param>
      // An item may name several topics; the first "Name" and "Local" count.
      if (paramName == QLatin1String("name") && item.Name.isEmpty()) item.Name = paramValue.trimmed();
      if (paramName == QLatin1String("local") && item.Local.isEmpty()) item.Local = paramValue.trimmed();
    }
  }
  return items;
}


// A file cut short can still list its topics; their pages then read as zeros, which no page
// in a single-byte charset or UTF-8 holds.
bool Garbled(const QByteArray& page) {
  const bool utf16 = page.startsWith("\xFF\xFE") || page.startsWith("\xFE\xFF");
  return !utf16 && page.contains('\0');
}

// ---- The CHM file ----

void TChmFile::TCloser::operator()(chmFile* h) const {
#ifdef VERIROVE_HAVE_CHMLIB
  chm_close(h);
#else
  Q_UNUSED(h);
#endif
}

std::unique_ptr<TChmFile> TChmFile::Open(const QString& path) {
#ifdef VERIROVE_HAVE_CHMLIB
  chmFile* handle = chm_open(QFile::encodeName(path).constData());
  if (!handle) return nullptr;
  std::unique_ptr<TChmFile> file(new TChmFile(handle));
  file->ReadSystem();
  file->ListObjects();
  return file;
#else
  Q_UNUSED(path);
  return nullptr;
#endif
}

#ifdef VERIROVE_HAVE_CHMLIB
bool TChmFile::Resolve(const QString& path, chmUnitInfo& info) const {
  const QByteArray name = path.toUtf8();
  if (name.isEmpty() || name.size() > CHM_MAX_PATHLEN) return false;
  return chm_resolve_object(FHandle.get(), name.constData(), &info) == CHM_RESOLVE_SUCCESS;
}

void TChmFile::ReadSystem() {
  // "/#SYSTEM": a version (4 bytes), then records of a code (2), a length (2) and the data.
  // Code 0 names the contents file, code 2 the default topic.
  QByteArray system;
  if (!Read(QStringLiteral("/#SYSTEM"), system)) return;
  TByteReader reader(std::span(reinterpret_cast<const uint8_t*>(system.constData()), size_t(system.size())));
  reader.Skip(4);
  while (reader.Remaining() >= 4) {
    const uint16_t code = reader.ReadU16();
    const uint16_t length = reader.ReadU16();
    const std::span<const uint8_t> data = reader.Take(length);
    if (reader.Overrun()) break;
    if (code == 0) FSystemContents = SystemString(data);
    if (code == 2) FSystemTopic = SystemString(data);
  }
}

void TChmFile::ListObjects() {
  auto collect = [](chmFile*, chmUnitInfo* info, void* context) -> int {
    QByteArray path(info->path, qsizetype(qstrnlen(info->path, CHM_MAX_PATHLEN)));
    if (!path.endsWith('/')) static_cast<QStringList*>(context)->append(QString::fromUtf8(path));
    return CHM_ENUMERATOR_CONTINUE;
  };
  chm_enumerate(FHandle.get(), CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, collect, &FFiles);
}
#endif

bool TChmFile::Read(const QString& path, QByteArray& data) const {
  data.clear();
#ifdef VERIROVE_HAVE_CHMLIB
  chmUnitInfo info{};
  if (!Resolve(path, info)) return false;
  if (info.length > LONGUINT64(kMaxObjectSize)) return false;
  data.resize(qsizetype(info.length));
  LONGUINT64 done = 0;
  while (done < info.length) {
    const LONGINT64 got = chm_retrieve_object(FHandle.get(), &info, reinterpret_cast<unsigned char*>(data.data()) + done,
                                              done, LONGINT64(info.length - done));
    if (got <= 0) break;
    done += LONGUINT64(got);
  }
  if (done != info.length) {
    data.clear();
    return false;
  }
  return true;
#else
  Q_UNUSED(path);
  return false;
#endif
}

bool TChmFile::Exists(const QString& path) const {
#ifdef VERIROVE_HAVE_CHMLIB
  chmUnitInfo info{};
  return Resolve(path, info);
#else
  Q_UNUSED(path);
  return false;
#endif
}

QString TChmFile::DefaultTopic() const {
  if (!FSystemTopic.isEmpty() && Exists(ObjectPath(FSystemTopic))) return ObjectPath(FSystemTopic).mid(1);
  if (Exists(QStringLiteral("/index.htm"))) return QStringLiteral("index.htm");
  for (const QString& path : FFiles)
    if (path.startsWith(QLatin1Char('/')) && IsPage(path)) return path.mid(1);
  return {};
}

QString TChmFile::ContentsFile() const {
  if (!FSystemContents.isEmpty() && Exists(ObjectPath(FSystemContents))) return ObjectPath(FSystemContents);
  for (const QString& path : FFiles)
    if (path.startsWith(QLatin1Char('/')) && path.endsWith(QLatin1String(".hhc"), Qt::CaseInsensitive)) return path;
  return {};
}

// ---- Free functions ----

THelpLocation ResolveHelpLocation(const QString& location) {
  THelpLocation where;
  QString rest = location;
  for (const QLatin1String prefix : {QLatin1String("mk:@MSITStore:"), QLatin1String("ms-its:")}) {
    if (rest.startsWith(prefix, Qt::CaseInsensitive)) {
      rest.remove(0, prefix.size());
      break;
    }
  }
  const qsizetype separator = rest.lastIndexOf(QLatin1String("::/"));
  if (separator < 0) {
    if (rest.endsWith(QLatin1String("::"))) rest.chop(2);
    where.File = rest;
    return where;
  }
  where.File = rest.left(separator);
  QString topic = rest.mid(separator + 3);
  const qsizetype hash = topic.indexOf(QLatin1Char('#'));
  if (hash >= 0) {
    where.Anchor = topic.mid(hash + 1);
    topic.truncate(hash);
  }
  where.Topic = ObjectPath(topic).mid(1);
  return where;
}

bool ReadHelpTopic(const QString& chmPath, const QString& topic, QByteArray& html) {
  html.clear();
  const std::unique_ptr<TChmFile> file = TChmFile::Open(chmPath);
  if (!file) return false;
  const QString page = ObjectPath(topic).mid(1).isEmpty() ? file->DefaultTopic() : ObjectPath(topic).mid(1);
  if (page.isEmpty()) return false;
  return file->Read(ObjectPath(page), html);
}

QString DefaultHelpTopic(const QString& chmPath) {
  const std::unique_ptr<TChmFile> file = TChmFile::Open(chmPath);
  return file ? file->DefaultTopic() : QString();
}

QString DecodeHelpText(const QByteArray& bytes) {
  // A charset the text names itself (meta tag or byte order mark) and Qt knows.
  QStringDecoder declared = QStringDecoder::decoderForHtml(bytes);
  if (declared.isValid()) {
    const QString text = declared.decode(bytes);
    if (!declared.hasError()) return text;
  }
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8.decode(bytes);
  if (!utf8.hasError()) return text;
  return QString::fromStdString(Cp1251ToUtf8(std::string_view(bytes.constData(), size_t(bytes.size()))));
}

QList<THelpContentsItem> ReadHelpContents(const QString& chmPath) {
  const std::unique_ptr<TChmFile> file = TChmFile::Open(chmPath);
  if (!file) return {};
  QByteArray sitemap;
  const QString contents = file->ContentsFile();
  if (contents.isEmpty() || !file->Read(contents, sitemap)) return {};
  return ParseSitemap(DecodeHelpText(sitemap));
}
