#include "shell/helpfile/UzrHelpFile.h"

#include <QFile>
#include <span>

#include "io/ByteReader.h"
#include "shell/helpfile/HelpFileCheck.h"

#ifdef VERIROVE_HAVE_CHMLIB
#include <chm_lib.h>
#endif

namespace {

// No object of a help file is near this; a bigger length is a damaged directory entry.
constexpr qint64 kMaxObjectSize = 64 * 1024 * 1024;
constexpr qsizetype kMaxListedObjects = 100000;

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

}  // namespace

void TChmFile::TCloser::operator()(chmFile* h) const {
#ifdef VERIROVE_HAVE_CHMLIB
  chm_close(h);
#else
  Q_UNUSED(h);
#endif
}

std::unique_ptr<TChmFile> TChmFile::Open(const QString& path) {
#ifdef VERIROVE_HAVE_CHMLIB
  if (!HelpFileSound(path)) return nullptr;
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
  // The list only serves to find a first page or contents file; a directory that lists more
  // objects than any help file does is not listed further.
  auto collect = [](chmFile*, chmUnitInfo* info, void* context) -> int {
    auto& files = *static_cast<QStringList*>(context);
    QByteArray path(info->path, qsizetype(qstrnlen(info->path, CHM_MAX_PATHLEN)));
    if (!path.endsWith('/')) files.append(QString::fromUtf8(path));
    return files.size() < kMaxListedObjects ? CHM_ENUMERATOR_CONTINUE : CHM_ENUMERATOR_SUCCESS;
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
  // The first page that can be named as a topic and read: a name that is not UTF-8, or holds
  // a '#' or '\', cannot be asked for again.
  for (const QString& path : FFiles)
    if (path.startsWith(QLatin1Char('/')) && IsPage(path) && ObjectPath(path) == path && Exists(path))
      return path.mid(1);
  return {};
}

QString TChmFile::ContentsFile() const {
  if (!FSystemContents.isEmpty() && Exists(ObjectPath(FSystemContents))) return ObjectPath(FSystemContents);
  for (const QString& path : FFiles)
    if (path.startsWith(QLatin1Char('/')) && path.endsWith(QLatin1String(".hhc"), Qt::CaseInsensitive) && Exists(path))
      return path;
  return {};
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

QList<THelpContentsItem> ReadHelpContents(const QString& chmPath) {
  const std::unique_ptr<TChmFile> file = TChmFile::Open(chmPath);
  if (!file) return {};
  QByteArray sitemap;
  const QString contents = file->ContentsFile();
  if (contents.isEmpty() || !file->Read(contents, sitemap)) return {};
  return ParseSitemap(DecodeHelpText(sitemap));
}
