#include "shell/helpfile/HelpFileCheck.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "io/ByteReader.h"
#include "io/TextCase.h"

namespace {

constexpr uint32_t kItspHeaderSize = 0x54;
constexpr uint32_t kMinChunkSize = 0x20;
constexpr uint32_t kMaxChunkSize = 1 << 20;
constexpr uint64_t kMaxDirectorySize = 16 << 20;
constexpr uint64_t kMaxNameLength = 512;
constexpr uint64_t kCompressionBlock = 0x8000;  // LZX's frame
// libmspack reads no bigger reset table.
constexpr uint64_t kMaxTableSize = 1000000;
constexpr std::string_view kContentName = "::DataSpace/Storage/MSCompressed/Content";
constexpr std::string_view kControlDataName = "::DataSpace/Storage/MSCompressed/ControlData";
constexpr std::string_view kResetTableName =
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";

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

// A name up to its first NUL: what a name is to every reader of help files.
std::string_view CString(std::span<const uint8_t> bytes) {
  const auto* text = reinterpret_cast<const char*>(bytes.data());
  const void* nul = std::memchr(text, 0, bytes.size());
  return {text, nul ? size_t(static_cast<const char*>(nul) - text) : bytes.size()};
}

bool LessNoCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return uint8_t(LowerAscii(x)) < uint8_t(LowerAscii(y)); });
}

// The chunks of a directory (`chunks`, in the bytes of `file`), walked from the first listing
// chunk along the chain and from the root of the index. Objects of section 0 (stored, not
// compressed) must lie within the `dataSize` bytes of stored data.
class TDirectoryWalk {
 public:
  TDirectoryWalk(std::span<const uint8_t> file, std::span<const uint8_t> chunks, uint32_t chunkSize,
                 uint64_t dataSize)
      : FFile(file), FChunks(chunks), FChunkSize(chunkSize), FCount(int64_t(chunks.size() / chunkSize)),
        FDataSize(dataSize), FState(size_t(FCount), kUnseen) {}

  // The listing chain from `head`: each chunk a sound PMGL, none twice. Its entries are the
  // directory's, in its order.
  bool ListingChain(int64_t head) {
    std::vector<bool> seen(size_t(FCount), false);
    for (int64_t chunk = head; chunk != -1;) {
      if (!Valid(chunk) || seen[size_t(chunk)]) return false;
      seen[size_t(chunk)] = true;
      if (!Listing(chunk, true)) return false;
      TByteReader reader = Chunk(chunk);
      reader.Seek(0x10);
      chunk = reader.ReadI32();
    }
    return true;
  }

  // The index tree from `root`: index chunks lead down to listing chunks and never back up.
  bool IndexTree(int64_t root) { return Valid(root) && Node(root, 0); }

  std::vector<THelpEntry>& Listed() { return FListed; }
  // The compressed section's content, reset table and control data, as the listing chunks
  // checked so far name them (a damaged file may name them more than once).
  const std::vector<THelpEntry>& Contents() const { return FContents; }
  const std::vector<THelpEntry>& ResetTables() const { return FResetTables; }
  const std::vector<THelpEntry>& ControlData() const { return FControlData; }

 private:
  enum : uint8_t { kUnseen, kOpen, kDone };

  bool Valid(int64_t chunk) const { return chunk >= 0 && chunk < FCount; }

  TByteReader Chunk(int64_t chunk) const {
    return TByteReader(FChunks.subspan(size_t(chunk) * FChunkSize, FChunkSize));
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
    return std::memcmp(FChunks.data() + size_t(chunk) * FChunkSize, signature, 4) == 0;
  }

  bool Listing(int64_t chunk, bool listed) {
    if (!Is(chunk, "PMGL")) return false;
    if (FState[size_t(chunk)] == kDone) return true;
    FState[size_t(chunk)] = kDone;
    bool sound = true;
    const bool parsed = Walk(chunk, 0x14, 3, [&](std::span<const uint8_t> bytes, const uint64_t* n) {
      const std::string_view name = CString(bytes);
      const bool content = EqualNoCase(name, kContentName);
      const bool resetTable = EqualNoCase(name, kResetTableName);
      const bool controlData = EqualNoCase(name, kControlDataName);
      // Only the stored section 0 and the compressed section 1 exist, and the compressed
      // section's own tables are stored.
      if (n[0] > 1 || (n[0] == 1 && (content || resetTable || controlData))) sound = false;
      const THelpEntry entry{uint32_t(bytes.data() - FFile.data()), uint16_t(name.size()), uint8_t(n[0] & 1), n[1],
                             n[2]};
      if (n[0] == 0) sound = sound && entry.Offset <= FDataSize && entry.Length <= FDataSize - entry.Offset;
      if (!sound) return;
      if (listed) FListed.push_back(entry);
      if (content) FContents.push_back(entry);
      if (resetTable) FResetTables.push_back(entry);
      if (controlData) FControlData.push_back(entry);
    });
    return parsed && sound;
  }

  bool Node(int64_t chunk, int depth) {
    if (Is(chunk, "PMGL")) return Listing(chunk, false);
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

  std::span<const uint8_t> FFile, FChunks;
  uint32_t FChunkSize;
  int64_t FCount;
  uint64_t FDataSize;
  std::vector<uint8_t> FState;
  std::vector<THelpEntry> FListed, FContents, FResetTables, FControlData;
};

// The compressed section's reset table: where each 32 KiB block starts in the compressed
// content, as 8-byte entries. The blocks must lie in the content, in order, and cover the
// uncompressed length, which is returned in `uncompressed`.
bool ResetTableSound(std::span<const uint8_t> table, uint64_t contentLength, uint64_t& uncompressed) {
  TByteReader reader(table);
  reader.Seek(4);
  const uint32_t blocks = reader.ReadU32(), entrySize = reader.ReadU32(), tableOffset = reader.ReadU32();
  uncompressed = ReadU64(reader);
  const uint64_t compressed = ReadU64(reader), blockLength = ReadU64(reader);
  if (reader.Overrun() || entrySize != 8 || blockLength != kCompressionBlock || compressed > contentLength ||
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

// The compressed section's control data: the LZX window and how often the decoder resets,
// both as libmspack takes them: a window of 32 KiB to 2 MiB, a power of two, and a reset
// interval of whole 32 KiB blocks.
bool ControlDataSound(std::span<const uint8_t> control) {
  TByteReader reader(control);
  reader.Seek(8);
  const uint32_t version = reader.ReadU32(), resetInterval = reader.ReadU32(), window = reader.ReadU32();
  // Version 2 counts in 32 KiB blocks.
  const uint64_t scale = version == 2 ? kCompressionBlock : 1;
  const uint64_t windowBytes = window * scale, resetBytes = resetInterval * scale;
  return control.size() == 0x1C && std::memcmp(control.data() + 4, "LZXC", 4) == 0 && (version == 1 || version == 2) &&
         windowBytes >= (1 << 15) && windowBytes <= (1 << 21) && (windowBytes & (windowBytes - 1)) == 0 &&
         resetBytes != 0 && resetBytes <= UINT32_MAX && resetBytes % kCompressionBlock == 0;
}

}  // namespace

const THelpEntry* THelpDirectory::Find(std::string_view name) const {
  const auto less = [this](uint32_t index, std::string_view key) { return LessNoCase(Name(FEntries[index]), key); };
  const auto it = std::lower_bound(FByName.begin(), FByName.end(), name, less);
  return it != FByName.end() && EqualNoCase(Name(FEntries[*it]), name) ? &FEntries[*it] : nullptr;
}

std::optional<THelpDirectory> ReadHelpDirectory(const QByteArray& file) {
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(file.constData()), size_t(file.size()));
  const uint64_t fileSize = bytes.size();
  TByteReader itsf(bytes);
  itsf.Seek(0x04);
  const uint32_t version = itsf.ReadU32();
  itsf.Seek(0x48);
  const uint64_t directoryOffset = ReadU64(itsf), directorySize = ReadU64(itsf);
  if (itsf.Overrun() || !file.startsWith("ITSF")) return std::nullopt;
  if (directorySize < kItspHeaderSize || directorySize > kMaxDirectorySize || directoryOffset > fileSize ||
      directorySize > fileSize - directoryOffset)
    return std::nullopt;
  // Version 3 names where the stored objects begin; before it they follow the directory.
  const uint64_t dataOffset = version >= 3 ? ReadU64(itsf) : directoryOffset + directorySize;
  const std::span<const uint8_t> directory = bytes.subspan(size_t(directoryOffset), size_t(directorySize));
  TByteReader itsp(directory);
  itsp.Seek(0x08);
  const uint32_t headerSize = itsp.ReadU32();
  itsp.Seek(0x10);
  const uint32_t chunkSize = itsp.ReadU32();
  itsp.Seek(0x1C);
  const int32_t root = itsp.ReadI32(), firstListing = itsp.ReadI32();
  if (std::memcmp(directory.data(), "ITSP", 4) != 0 || headerSize < kItspHeaderSize || headerSize > directorySize ||
      chunkSize < kMinChunkSize || chunkSize > kMaxChunkSize)
    return std::nullopt;
  if (itsf.Overrun() || dataOffset > fileSize) return std::nullopt;
  // The objects are listed along the chain from the first listing chunk; the index, from its
  // root, is what other readers look names up in, so it must be sound too.
  TDirectoryWalk walk(bytes, directory.subspan(headerSize), chunkSize, fileSize - dataOffset);
  if (!walk.ListingChain(firstListing) || (root != -1 && !walk.IndexTree(root))) return std::nullopt;
  const auto stored = [&](const THelpEntry& object) -> std::span<const uint8_t> {
    if (object.Length > kMaxTableSize) return {};
    return bytes.subspan(size_t(dataOffset + object.Offset), size_t(object.Length));
  };
  uint64_t uncompressed = 0;
  for (const THelpEntry& table : walk.ResetTables())
    for (const THelpEntry& content : walk.Contents())
      if (!ResetTableSound(stored(table), content.Length, uncompressed)) return std::nullopt;
  for (const THelpEntry& control : walk.ControlData())
    if (!ControlDataSound(stored(control))) return std::nullopt;

  THelpDirectory out;
  out.FFile = file;
  out.FDataOffset = dataOffset;
  out.FEntries = std::move(walk.Listed());
  out.FByName.resize(out.FEntries.size());
  for (uint32_t i = 0; i < out.FByName.size(); ++i) out.FByName[i] = i;
  // Equal names keep the order they are listed in: the first one listed is found.
  std::stable_sort(out.FByName.begin(), out.FByName.end(), [&](uint32_t a, uint32_t b) {
    return LessNoCase(out.Name(out.FEntries[a]), out.Name(out.FEntries[b]));
  });
  const auto index = [&](std::string_view name) -> int64_t {
    const THelpEntry* entry = out.Find(name);
    return entry ? entry - out.FEntries.data() : -1;
  };
  out.FContent = index(kContentName);
  out.FControlData = index(kControlDataName);
  out.FResetTable = index(kResetTableName);
  if (out.FContent < 0 || out.FControlData < 0 || out.FResetTable < 0) {
    out.FContent = out.FControlData = out.FResetTable = -1;
    return out;
  }
  // The compressed objects lie within the data the compressed section holds: libmspack would
  // decompress whatever length it is asked for, as far as the input lets it.
  ResetTableSound(stored(*out.ResetTable()), out.Content()->Length, uncompressed);
  for (const THelpEntry& entry : out.FEntries)
    if (entry.Section == 1 && (entry.Offset > uncompressed || entry.Length > uncompressed - entry.Offset))
      return std::nullopt;
  return out;
}
