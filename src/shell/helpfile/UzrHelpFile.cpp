#include "shell/helpfile/UzrHelpFile.h"

#include <QFile>
#include <cstring>
#include <span>
#include <string_view>

#include "io/ByteReader.h"
#include "shell/helpfile/HelpFileCheck.h"
#include "shell/helpfile/HelpMsSystem.h"

namespace {

// No help file is near this; the file is read whole.
constexpr qint64 kMaxFileSize = 256 * 1024 * 1024;
// No object of a help file is near this; a bigger length is a damaged directory entry.
constexpr uint64_t kMaxObjectSize = 64 * 1024 * 1024;
constexpr qsizetype kMaxListedObjects = 100000;
constexpr qsizetype kMaxPathLength = 512;

// The two GUIDs of the file header as HTML Help's compiler writes them. Free Pascal's chmcmd
// writes the first one twice; libmspack takes no other pair. They say nothing the signature
// does not, so the copy the reader keeps carries this pair whatever the file has.
constexpr unsigned char kHeaderGuids[32] = {
    0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11, 0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC,
    0x11, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11, 0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
constexpr qsizetype kHeaderGuidsAt = 0x18;

char gNoName[] = "";

bool IsPage(const QString& path) {
  return path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive) ||
         path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive);
}

// Text of a "#SYSTEM" record: up to its first NUL.
QString SystemString(std::span<const uint8_t> data) {
  size_t length = 0;
  while (length < data.size() && data[length] != 0) ++length;
  return DecodeHelpText(QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(length)));
}

// One decompression: libmspack's decompressor and its reading of the file's headers. Each read
// has its own, so that what an object reads as never depends on what was read before it: on a
// damaged file a decompressor that went on from an earlier object could read it otherwise.
class TDecompression {
 public:
  explicit TDecompression(const THelpMsInput& input) : FDecompressor(mspack_create_chm_decompressor(HelpMsSystem())) {
    if (FDecompressor) FHeader = FDecompressor->fast_open(FDecompressor, MsName(input));
  }
  ~TDecompression() {
    if (FHeader) FDecompressor->close(FDecompressor, FHeader);
    if (FDecompressor) mspack_destroy_chm_decompressor(FDecompressor);
  }
  TDecompression(const TDecompression&) = delete;
  TDecompression& operator=(const TDecompression&) = delete;

  // Null when libmspack refuses the headers.
  mschmd_header* Header() const { return FHeader; }
  bool Extract(mschmd_file& file, THelpMsOutput& output) {
    return FDecompressor->extract(FDecompressor, &file, MsName(output)) == MSPACK_ERR_OK;
  }

 private:
  mschm_decompressor* FDecompressor;
  mschmd_header* FHeader = nullptr;
};

mschmd_file StoredFile(mschmd_section* section, const THelpEntry& entry) {
  mschmd_file file{};
  file.section = section;
  file.offset = off_t(entry.Offset);
  file.length = off_t(entry.Length);
  file.filename = gNoName;
  return file;
}

}  // namespace

struct TChmFile::TLibrary {
  TLibrary(QByteArray bytes, THelpDirectory directory)
      : Bytes(std::move(bytes)), Input{Bytes.constData(), size_t(Bytes.size())}, Directory(std::move(directory)) {}

  const QByteArray Bytes;
  const THelpMsInput Input;
  const THelpDirectory Directory;
};

TChmFile::TChmFile(std::unique_ptr<TLibrary> library) : FLibrary(std::move(library)) {}
TChmFile::~TChmFile() = default;

std::unique_ptr<TChmFile> TChmFile::Open(const QString& path) {
  QFile file(path);
  // What the file holds as it is opened; one that is no regular file holds nothing.
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize) return nullptr;
  QByteArray bytes = file.read(file.size());
  if (file.error() != QFileDevice::NoError) return nullptr;
  return FromBytes(std::move(bytes));
}

std::unique_ptr<TChmFile> TChmFile::FromBytes(QByteArray bytes) {
  if (bytes.startsWith("ITSF") && bytes.size() >= kHeaderGuidsAt + qsizetype(sizeof kHeaderGuids))
    std::memcpy(bytes.data() + kHeaderGuidsAt, kHeaderGuids, sizeof kHeaderGuids);
  std::optional<THelpDirectory> directory = ReadHelpDirectory(bytes);
  if (!directory) return nullptr;
  auto library = std::make_unique<TLibrary>(std::move(bytes), std::move(*directory));
  {
    // libmspack reads the headers again, by its own rules; where the stored objects begin must
    // be where the directory checked them.
    const TDecompression decompression(library->Input);
    const mschmd_header* header = decompression.Header();
    if (!header || uint64_t(header->sec0.offset) != library->Directory.DataOffset()) return nullptr;
  }
  std::unique_ptr<TChmFile> file(new TChmFile(std::move(library)));
  file->ReadSystem();
  file->ListObjects();
  return file;
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
  // The objects a reader of the file is shown: rooted names, not the file's own "/#" and "/$"
  // ones, and no folders. The list only serves to find a first page or contents file; a
  // directory that lists more objects than any help file does is not listed further.
  const THelpDirectory& directory = FLibrary->Directory;
  for (const THelpEntry& entry : directory.Entries()) {
    const std::string_view name = directory.Name(entry);
    if (name.size() < 2 || name[0] != '/' || name[1] == '#' || name[1] == '$' || name.back() == '/') continue;
    FFiles.append(QString::fromUtf8(name.data(), qsizetype(name.size())));
    if (FFiles.size() >= kMaxListedObjects) break;
  }
}

const THelpEntry* TChmFile::Find(const QString& path) const {
  const QByteArray name = path.toUtf8();
  if (name.isEmpty() || name.size() > kMaxPathLength) return nullptr;
  return FLibrary->Directory.Find(std::string_view(name.constData(), size_t(name.size())));
}

bool TChmFile::Read(const QString& path, QByteArray& data) const {
  data.clear();
  const THelpEntry* entry = Find(path);
  if (!entry || entry->Length > kMaxObjectSize) return false;
  if (entry->Length == 0) return true;
  const THelpDirectory& directory = FLibrary->Directory;
  if (entry->Section == 1 && !directory.Content()) return false;  // no compressed section to read
  // The compressed section's tables are given to libmspack as the directory names them, so
  // that it never looks a name up in the file itself; and no span information: the reset
  // table, checked, has an entry for every offset it is asked for. They outlive the
  // decompression that refers to them.
  mschmd_file content{}, control{}, resetTable{}, spanInfo{};
  TDecompression decompression(FLibrary->Input);
  mschmd_header* header = decompression.Header();
  if (!header) return false;
  mschmd_file file = StoredFile(entry->Section == 0 ? &header->sec0.base : &header->sec1.base, *entry);
  if (entry->Section == 1) {
    content = StoredFile(&header->sec0.base, *directory.Content());
    control = StoredFile(&header->sec0.base, *directory.ControlData());
    resetTable = StoredFile(&header->sec0.base, *directory.ResetTable());
    spanInfo = StoredFile(&header->sec0.base, THelpEntry{});
    header->sec1.content = &content;
    header->sec1.control = &control;
    header->sec1.rtable = &resetTable;
    header->sec1.spaninfo = &spanInfo;
  }
  QByteArray bytes;
  bytes.reserve(qsizetype(entry->Length));
  THelpMsOutput output{&bytes, qsizetype(entry->Length)};
  if (!decompression.Extract(file, output) || bytes.size() != output.Limit) return false;
  data = std::move(bytes);
  return true;
}

bool TChmFile::Exists(const QString& path) const { return Find(path) != nullptr; }

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
