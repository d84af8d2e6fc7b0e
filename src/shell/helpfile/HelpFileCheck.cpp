#include "shell/helpfile/HelpFileCheck.h"

#include <QByteArray>
#include <QFile>
#include <cstring>
#include <span>
#include <vector>

#include "io/ByteReader.h"

namespace {

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

}  // namespace

bool HelpFileSound(const QString& path) {
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
