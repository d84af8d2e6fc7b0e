#include "shell/helpfile/UzrHelpFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <cstring>
#include <span>
#include <vector>

#include "io/ByteReader.h"
#include "io/Cp1251.h"

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

// ---- The file check ----
//
// chmlib reads a help file as the file says. A chain of listing chunks (PMGL) that leads back
// into itself, or an index chunk (PMGI) that names itself or one above it, keeps it reading
// forever; control data without a usable LZX window makes it divide by zero; a file cut short
// has it decompress memory it never filled. So the directory, the places of the stored objects
// and the tables of the compressed section are checked before chmlib sees the file, and a file
// that fails is a damaged one. What chmlib would allocate or walk on the file's word (chunk
// sizes, free space, name lengths) is also kept to what help compilers write: a handful of
// 4 KiB chunks, short names, 32 KiB compression blocks.

constexpr uint32_t kItspHeaderSize = 0x54;
constexpr uint32_t kMinChunkSize = 0x20;
constexpr uint32_t kMaxChunkSize = 1 << 20;
constexpr quint64 kMaxDirectorySize = 16 << 20;
constexpr uint64_t kMaxNameLength = 512;     // chmlib's CHM_MAX_PATHLEN
constexpr uint64_t kCompressionBlock = 0x8000;  // LZX's frame
constexpr qint64 kMaxTableSize = 16 << 20;
const QByteArray kContentName = "::DataSpace/Storage/MSCompressed/Content";
const QByteArray kControlDataName = "::DataSpace/Storage/MSCompressed/ControlData";
const QByteArray kResetTableName =
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";

TByteReader Reader(const QByteArray& bytes) {
  return TByteReader(std::span(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())));
}

uint64_t ReadU64(TByteReader& reader) {
  const uint64_t low = reader.ReadU32();
  return low | uint64_t(reader.ReadU32()) << 32;
}

// The directory's numbers: 7 bits a byte, most significant first, the high bit set on all
// bytes but the last.
bool ReadEncInt(TByteReader& reader, uint64_t& value) {
  value = 0;
  for (int i = 0; i < 9; ++i) {
    const uint8_t byte = reader.ReadU8();
    if (reader.Overrun()) return false;
    value = value << 7 | (byte & 0x7F);
    if (!(byte & 0x80)) return true;
  }
  return false;
}

// A stored object by its place in the stored data.
struct TStoredObject {
  uint64_t Offset = 0, Length = 0;
};

// The chunks of a directory, walked as chmlib walks them. Objects of section 0 (stored, not
// compressed) must lie within the `dataSize` bytes of stored data.
class TDirectory {
 public:
  TDirectory(QByteArray chunks, uint32_t chunkSize, uint64_t dataSize)
      : FChunks(std::move(chunks)), FChunkSize(chunkSize), FCount(FChunks.size() / chunkSize),
        FDataSize(dataSize), FState(size_t(FCount), kUnseen) {}

  // The listing chain from `head`: each chunk a sound PMGL, none twice.
  bool ListingChain(int64_t head) {
    std::vector<bool> seen(size_t(FCount), false);
    for (int64_t chunk = head; chunk != -1;) {
      if (!Valid(chunk) || seen[size_t(chunk)]) return false;
      seen[size_t(chunk)] = true;
      TByteReader reader = Chunk(chunk);
      if (!Listing(chunk)) return false;
      reader.Seek(0x10);
      chunk = reader.ReadI32();
    }
    return true;
  }

  // The index tree from `root`: index chunks lead down to listing chunks and never back up.
  bool IndexTree(int64_t root) { return Valid(root) && Node(root, 0); }

  // The compressed section's content, reset table and control data, as the listing chunks
  // checked so far name them (a damaged file may name them more than once).
  const std::vector<TStoredObject>& Contents() const { return FContents; }
  const std::vector<TStoredObject>& ResetTables() const { return FResetTables; }
  const std::vector<TStoredObject>& ControlData() const { return FControlData; }

 private:
  enum : uint8_t { kUnseen, kOpen, kDone };

  bool Valid(int64_t chunk) const { return chunk >= 0 && chunk < FCount; }

  TByteReader Chunk(int64_t chunk) const {
    return TByteReader(std::span(reinterpret_cast<const uint8_t*>(FChunks.constData()) + chunk * FChunkSize,
                                 size_t(FChunkSize)));
  }

  // The entries of a chunk after its `header`, up to its free space: each a name and
  // `count` numbers.
  template <typename TVisit>
  bool Walk(int64_t chunk, uint32_t header, int count, TVisit visit) const {
    TByteReader reader = Chunk(chunk);
    reader.Seek(4);
    const uint32_t freeSpace = reader.ReadU32();
    if (freeSpace > FChunkSize - header) return false;
    TByteReader entries(reader.Data().subspan(header, FChunkSize - header - freeSpace));
    while (entries.Remaining() > 0) {
      uint64_t length = 0, numbers[3] = {};
      if (!ReadEncInt(entries, length) || length > kMaxNameLength) return false;
      const std::span<const uint8_t> name = entries.Take(size_t(length));
      if (entries.Overrun()) return false;
      for (int i = 0; i < count; ++i)
        if (!ReadEncInt(entries, numbers[i])) return false;
      visit(name, numbers);
    }
    return true;
  }

  bool Is(int64_t chunk, const char* signature) const {
    return std::memcmp(FChunks.constData() + chunk * FChunkSize, signature, 4) == 0;
  }

  bool Listing(int64_t chunk) {
    if (!Is(chunk, "PMGL")) return false;
    if (FState[size_t(chunk)] == kDone) return true;
    FState[size_t(chunk)] = kDone;
    bool sound = true;
    const bool parsed = Walk(chunk, 0x14, 3, [&](std::span<const uint8_t> bytes, const uint64_t* n) {
      // chmlib compares names as C strings, without regard to case.
      const auto* text = reinterpret_cast<const char*>(bytes.data());
      const QByteArray name(text, qsizetype(qstrnlen(text, uint(bytes.size()))));
      const bool content = name.compare(kContentName, Qt::CaseInsensitive) == 0;
      const bool resetTable = name.compare(kResetTableName, Qt::CaseInsensitive) == 0;
      const bool controlData = name.compare(kControlDataName, Qt::CaseInsensitive) == 0;
      // Only the stored section 0 and the compressed section 1 exist. chmlib reads any other
      // as compressed, and the compressed section's own tables before it has set it up.
      if (n[0] > 1 || (n[0] == 1 && (content || resetTable || controlData))) sound = false;
      if (n[0] != 0) return;
      const TStoredObject object{n[1], n[2]};
      sound = sound && object.Offset <= FDataSize && object.Length <= FDataSize - object.Offset;
      if (content) FContents.push_back(object);
      if (resetTable) FResetTables.push_back(object);
      if (controlData) FControlData.push_back(object);
    });
    return parsed && sound;
  }

  bool Node(int64_t chunk, int depth) {
    if (Is(chunk, "PMGL")) return Listing(chunk);
    if (FState[size_t(chunk)] == kDone) return true;
    if (!Is(chunk, "PMGI") || FState[size_t(chunk)] == kOpen || depth > 64) return false;  // a loop
    std::vector<uint64_t> children;
    if (!Walk(chunk, 0x08, 1, [&](std::span<const uint8_t>, const uint64_t* n) { children.push_back(n[0]); }))
      return false;
    FState[size_t(chunk)] = kOpen;
    for (const uint64_t child : children)
      if (child >= uint64_t(FCount) || !Node(int64_t(child), depth + 1)) return false;
    FState[size_t(chunk)] = kDone;
    return true;
  }

  QByteArray FChunks;
  uint32_t FChunkSize;
  int64_t FCount;
  uint64_t FDataSize;
  std::vector<uint8_t> FState;
  std::vector<TStoredObject> FContents, FResetTables, FControlData;
};

// The compressed section's reset table: where each 32 KiB block starts in the compressed
// content. The blocks must lie in the content, in order, and cover the uncompressed length.
bool ResetTableSound(const QByteArray& table, uint64_t contentLength) {
  TByteReader reader = Reader(table);
  reader.Seek(4);
  const uint32_t blocks = reader.ReadU32();
  reader.Seek(0x0C);
  const uint32_t tableOffset = reader.ReadU32();
  const uint64_t uncompressed = ReadU64(reader), compressed = ReadU64(reader), blockLength = ReadU64(reader);
  if (reader.Overrun() || blockLength != kCompressionBlock || compressed > contentLength ||
      uncompressed / kCompressionBlock + (uncompressed % kCompressionBlock != 0) > blocks)
    return false;
  reader.Seek(tableOffset);
  if (reader.Position() != tableOffset) return false;
  uint64_t last = 0;
  for (uint32_t i = 0; i < blocks; ++i) {
    const uint64_t start = ReadU64(reader);
    if (reader.Overrun() || start < last || start > compressed) return false;
    last = start;
  }
  return true;
}

// The compressed section's control data: the LZX window and how often the decoder resets.
// chmlib divides by half the window and by the blocks between resets, and uses the fields
// even when it has refused them: they must make sense whatever it does with them.
bool ControlDataSound(const QByteArray& control) {
  TByteReader reader = Reader(control);
  reader.Seek(8);
  const uint32_t version = reader.ReadU32(), resetInterval = reader.ReadU32(), window = reader.ReadU32(),
                 windowsPerReset = reader.ReadU32();
  // Version 2 counts in 32 KiB blocks.
  const uint64_t scale = version == 2 ? kCompressionBlock : 1;
  const uint64_t windowBytes = window * scale, resetBytes = resetInterval * scale;
  return control.size() == 0x1C && control.mid(4, 4) == "LZXC" && (version == 1 || version == 2) &&
         windowBytes >= (1 << 15) && windowBytes <= (1 << 21) && (windowBytes & (windowBytes - 1)) == 0 &&
         resetBytes >= windowBytes / 2 && resetBytes <= UINT32_MAX && resetBytes % (windowBytes / 2) == 0 &&
         windowsPerReset >= 1 && windowsPerReset <= 0xFFFF;
}

// Bytes of the stored data, for the small objects checked here.
QByteArray ReadStored(QFile& file, uint64_t dataOffset, const TStoredObject& object) {
  if (qint64(object.Length) > kMaxTableSize || !file.seek(qint64(dataOffset + object.Offset))) return {};
  return file.read(qint64(object.Length));
}

[[maybe_unused]] bool FileSound(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return true;  // chmlib reports it
  const quint64 fileSize = quint64(file.size());
  const QByteArray head = file.read(0x60);
  TByteReader itsf = Reader(head);
  itsf.Seek(0x04);
  const uint32_t version = itsf.ReadU32();
  itsf.Seek(0x48);
  const uint64_t directoryOffset = ReadU64(itsf), directorySize = ReadU64(itsf);
  if (itsf.Overrun() || !head.startsWith("ITSF")) return true;  // chmlib refuses it
  if (directorySize < kItspHeaderSize || directorySize > kMaxDirectorySize || directoryOffset > fileSize ||
      directorySize > fileSize - directoryOffset || !file.seek(qint64(directoryOffset)))
    return false;
  // Version 3 names where the stored objects begin; before it they follow the directory.
  const uint64_t dataOffset = version >= 3 ? ReadU64(itsf) : directoryOffset + directorySize;
  const QByteArray directory = file.read(qint64(directorySize));
  if (quint64(directory.size()) != directorySize || !directory.startsWith("ITSP")) return false;
  TByteReader itsp = Reader(directory);
  itsp.Seek(0x08);
  const uint32_t headerSize = itsp.ReadU32();
  itsp.Seek(0x10);
  const uint32_t chunkSize = itsp.ReadU32();
  itsp.Seek(0x1C);
  const int32_t root = itsp.ReadI32(), firstListing = itsp.ReadI32();
  if (headerSize < kItspHeaderSize || headerSize > directorySize || chunkSize < kMinChunkSize ||
      chunkSize > kMaxChunkSize)
    return false;
  if (itsf.Overrun() || dataOffset > fileSize) return false;
  // chmlib lists the files along the chain from the first listing chunk, and looks names up
  // from the root of the index, or in the first listing chunk when there is no index.
  TDirectory chunks(directory.mid(headerSize), chunkSize, fileSize - dataOffset);
  if (!chunks.ListingChain(firstListing) || (root != -1 && !chunks.IndexTree(root))) return false;
  for (const TStoredObject& table : chunks.ResetTables()) {
    const QByteArray bytes = ReadStored(file, dataOffset, table);
    for (const TStoredObject& content : chunks.Contents())
      if (!ResetTableSound(bytes, content.Length)) return false;
  }
  for (const TStoredObject& control : chunks.ControlData())
    if (!ControlDataSound(ReadStored(file, dataOffset, control))) return false;
  return true;
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
  if (!FileSound(path)) return nullptr;
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
