// Uncompressed cabinets and spanned sets, laid out byte by byte (see SpannedCabinet.h).
#include "support/SpannedCabinet.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "filmwriter/FilmWriter.h"

namespace {

constexpr size_t kHeaderSize = 36;  // CFHEADER without the optional fields
constexpr size_t kFolderSize = 8;   // CFFOLDER without reserve
constexpr size_t kFileFixedSize = 16;
constexpr size_t kDataHeaderSize = 8;
constexpr uint16_t kFlagPrev = 0x1;
constexpr uint16_t kFlagNext = 0x2;
constexpr uint16_t kFlagReserve = 0x4;
constexpr uint16_t kContinuedFromPrev = 0xFFFD;
constexpr uint16_t kContinuedToNext = 0xFFFE;
constexpr uint16_t kContinuedPrevAndNext = 0xFFFF;

// A NUL-terminated string, as cabinet headers store names.
void CString(TByteWriter& out, const std::string& text) {
  out.Bytes(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())).U8(0);
}

// A data block of the folder: its stored bytes (compressed or not) and what they expand to.
struct TBlock {
  std::vector<uint8_t> Data;
  size_t Uncomp = 0;
  size_t UStart = 0;  // uncompressed offset of its first byte in the folder
};

struct TPlacedFile {
  std::string Name;
  size_t Size = 0;
  size_t Offset = 0;
  uint16_t Date = 0;
  uint16_t Time = 0;
  uint16_t Attribs = 0;
};

// One CFDATA of a cabinet: a whole block, or the first or second part of a split one.
struct TPiece {
  size_t Block = 0;
  size_t From = 0;    // first stored byte of the block in this piece
  size_t Size = 0;    // stored bytes in this piece
  size_t Uncomp = 0;  // cbUncomp: 0 for the first part of a split block
};

std::string DefaultCabinetName(unsigned i) { return "disk" + std::to_string(i + 1) + ".cab"; }
std::string DefaultDiskName(unsigned i) { return "Disk " + std::to_string(i + 1); }

// The cabinet checksum: 32-bit little-endian words XORed together; the 1 to 3 bytes left at
// the end go in with the first of them as the high byte.
uint32_t Checksum(const uint8_t* data, size_t n, uint32_t seed) {
  uint32_t sum = seed;
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    sum ^= uint32_t(data[i]) | uint32_t(data[i + 1]) << 8 | uint32_t(data[i + 2]) << 16 |
           uint32_t(data[i + 3]) << 24;
  }
  uint32_t rest = 0;
  for (; i < n; ++i) rest = (rest << 8) | data[i];
  return sum ^ rest;
}

std::vector<TSpanCabinet> Layout(const std::vector<TPlacedFile>& placed,
                                 const std::vector<TBlock>& blocks, uint16_t compression,
                                 const TSpanOptions& options) {
  const auto cabName = options.CabinetName ? options.CabinetName : DefaultCabinetName;
  const auto storedName = options.StoredName ? options.StoredName : cabName;
  const auto diskName = options.DiskName ? options.DiskName : DefaultDiskName;
  const size_t cap =
      options.MaxCabinetSize ? options.MaxCabinetSize : std::numeric_limits<size_t>::max() / 2;
  const bool reserve = options.HeaderReserve || options.FolderReserve || options.DataReserve;
  const size_t dataHeader = kDataHeaderSize + options.DataReserve;
  const size_t fixedHeader =
      kHeaderSize + (reserve ? 4 + options.HeaderReserve : 0) + kFolderSize + options.FolderReserve;
  size_t total = 0;
  for (const TBlock& b : blocks) total += b.Uncomp;

  std::vector<TSpanCabinet> cabinets;
  size_t bi = 0;            // the block to place next
  size_t bo = 0;            // its first stored byte not yet placed
  size_t prevTouchEnd = 0;  // uncompressed end of the blocks the cabinet before touched
  for (unsigned k = 0;; ++k) {
    if (k > 0xFFFF) throw std::invalid_argument("MakeSpannedCabinets: too many cabinets");
    const bool hasPrev = k > 0;
    const size_t touchStart = bi < blocks.size() ? blocks[bi].UStart : total;

    auto listed = [&](const TPlacedFile& f, size_t from, size_t to, bool last) {
      if (f.Size != 0) return f.Offset < to && f.Offset + f.Size > from;
      // An empty file goes into the first cabinet whose blocks reach its offset.
      if (k > 0 && f.Offset < prevTouchEnd) return false;
      return (f.Offset >= from || k == 0) && (f.Offset < to || last);
    };

    // The header can only shrink from an estimate made with every file that could land here:
    // those touching the blocks that the cabinet could reach.
    size_t estimate = fixedHeader;
    if (hasPrev) estimate += storedName(k - 1).size() + 1 + diskName(k - 1).size() + 1;
    estimate += std::max(storedName(k + 1).size(), options.ExtraNextName.value_or("").size()) + 1 +
                diskName(k + 1).size() + 1;
    size_t reach = touchStart;
    for (size_t j = bi, room = 0; j < blocks.size(); ++j) {
      reach = blocks[j].UStart + blocks[j].Uncomp;
      room += dataHeader + blocks[j].Data.size() - (j == bi ? bo : 0);
      if (room >= cap) break;  // this block may be the last, split, one
    }
    for (const TPlacedFile& f : placed) {
      if (listed(f, touchStart, reach, true)) estimate += kFileFixedSize + f.Name.size() + 1;
    }
    if (estimate >= cap) throw std::invalid_argument("MakeSpannedCabinets: cabinet size too small");

    std::vector<TPiece> pieces;
    size_t avail = cap - estimate;
    while (bi < blocks.size() && avail > dataHeader) {
      const size_t remaining = blocks[bi].Data.size() - bo;
      if (dataHeader + remaining <= avail) {
        pieces.push_back({bi, bo, remaining, blocks[bi].Uncomp});
        avail -= dataHeader + remaining;
        ++bi;
        bo = 0;
      } else {
        const size_t n = avail - dataHeader;
        pieces.push_back({bi, bo, n, 0});
        bo += n;
        avail = 0;
      }
    }
    if (bi < blocks.size() && pieces.empty()) {
      throw std::invalid_argument("MakeSpannedCabinets: cabinet size too small");
    }
    const bool last = bi >= blocks.size();
    const size_t touchEnd =
        pieces.empty() ? touchStart
                       : blocks[pieces.back().Block].UStart + blocks[pieces.back().Block].Uncomp;
    const size_t nextTouchStart = bi < blocks.size() ? blocks[bi].UStart : total;
    const bool hasNext = !last || options.ExtraNextName.has_value();

    struct TEntry {
      const TPlacedFile* File;
      uint16_t Folder;
    };
    std::vector<TEntry> entries;
    for (const TPlacedFile& f : placed) {
      if (!listed(f, touchStart, touchEnd, last)) continue;
      const bool fromPrev = hasPrev && f.Size != 0 && f.Offset < prevTouchEnd;
      const bool toNext = !last && f.Size != 0 && f.Offset + f.Size > nextTouchStart;
      const uint16_t folder = fromPrev && toNext ? kContinuedPrevAndNext
                              : fromPrev         ? kContinuedFromPrev
                              : toNext           ? kContinuedToNext
                                                 : 0;
      entries.push_back({&f, folder});
    }
    if (entries.size() > 0xFFFF) throw std::invalid_argument("MakeSpannedCabinets: too many files");

    size_t headerSize = fixedHeader;
    if (hasPrev) headerSize += storedName(k - 1).size() + 1 + diskName(k - 1).size() + 1;
    const std::string nextName = last ? options.ExtraNextName.value_or("") : storedName(k + 1);
    if (hasNext) headerSize += nextName.size() + 1 + diskName(k + 1).size() + 1;
    const size_t coffFiles = headerSize;
    for (const TEntry& e : entries) headerSize += kFileFixedSize + e.File->Name.size() + 1;
    size_t cabSize = headerSize;
    for (const TPiece& p : pieces) cabSize += dataHeader + p.Size;

    TByteWriter out;
    out.Bytes(std::span(reinterpret_cast<const uint8_t*>("MSCF"), 4));
    out.U32(0);
    out.U32(uint32_t(cabSize));
    out.U32(0);
    out.U32(uint32_t(coffFiles));
    out.U32(0);
    out.U8(3);  // version 1.3
    out.U8(1);
    out.U16(1);  // one folder
    out.U16(uint16_t(entries.size()));
    out.U16(uint16_t((hasPrev ? kFlagPrev : 0) | (hasNext ? kFlagNext : 0) |
                     (reserve ? kFlagReserve : 0)));
    out.U16(options.SetID);
    out.U16(uint16_t(k));
    if (reserve) {
      out.U16(options.HeaderReserve);
      out.U8(options.FolderReserve);
      out.U8(options.DataReserve);
      out.Zeros(options.HeaderReserve);
    }
    if (hasPrev) {
      CString(out, storedName(k - 1));
      CString(out, diskName(k - 1));
    }
    if (hasNext) {
      CString(out, nextName);
      CString(out, diskName(k + 1));
    }
    out.U32(uint32_t(headerSize));  // coffCabStart
    out.U16(uint16_t(pieces.size()));
    out.U16(compression);
    out.Zeros(options.FolderReserve);
    for (const TEntry& e : entries) {
      const TPlacedFile& f = *e.File;
      out.U32(uint32_t(f.Size));
      out.U32(uint32_t(f.Offset));
      out.U16(e.Folder);
      out.U16(f.Date);
      out.U16(f.Time);
      out.U16(f.Attribs);
      CString(out, f.Name);
    }
    for (const TPiece& p : pieces) {
      const uint8_t* bytes = blocks[p.Block].Data.data() + p.From;
      uint32_t csum = 0;
      if (options.Checksums) {
        // As libmspack checks it: the bytes, then cbData and cbUncomp.
        const uint8_t sizes[4] = {uint8_t(p.Size), uint8_t(p.Size >> 8), uint8_t(p.Uncomp),
                                  uint8_t(p.Uncomp >> 8)};
        csum = Checksum(sizes, 4, Checksum(bytes, p.Size, 0));
      }
      out.U32(csum);
      out.U16(uint16_t(p.Size));
      out.U16(uint16_t(p.Uncomp));
      out.Zeros(options.DataReserve);
      out.Bytes(std::span(bytes, p.Size));
    }
    if (out.Size() != cabSize) throw std::logic_error("MakeSpannedCabinets: size mismatch");
    if (cabSize > cap) throw std::logic_error("MakeSpannedCabinets: cabinet over its size");
    cabinets.push_back({cabName(k), out.Take()});

    prevTouchEnd = touchEnd;
    if (last) break;
  }
  return cabinets;
}

// A little-endian reader for ResplitCabinet; throws past the end.
class TIn {
 public:
  explicit TIn(std::span<const uint8_t> data) : FData(data) {}
  void Seek(size_t pos) { FPos = pos; }
  size_t Pos() const { return FPos; }
  uint8_t U8() { return Need(1)[0]; }
  uint16_t U16() {
    const uint8_t* p = Need(2);
    return uint16_t(p[0] | p[1] << 8);
  }
  uint32_t U32() {
    const uint8_t* p = Need(4);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }
  std::vector<uint8_t> Bytes(size_t n) {
    const uint8_t* p = Need(n);
    return std::vector<uint8_t>(p, p + n);
  }
  std::string Str() {
    std::string s;
    while (uint8_t c = U8()) s += char(c);
    return s;
  }

 private:
  const uint8_t* Need(size_t n) {
    if (n > FData.size() || FPos > FData.size() - n) {
      throw std::invalid_argument("ResplitCabinet: the cabinet ends early");
    }
    const uint8_t* p = FData.data() + FPos;
    FPos += n;
    return p;
  }
  std::span<const uint8_t> FData;
  size_t FPos = 0;
};

}  // namespace

std::vector<TSpanCabinet> MakeSpannedCabinets(std::span<const TSpanFile> files,
                                              const TSpanOptions& options) {
  if (options.BlockSize == 0 || options.BlockSize > 32768) {
    throw std::invalid_argument("MakeSpannedCabinets: block size out of 1..32768");
  }
  std::vector<TPlacedFile> placed;
  std::vector<uint8_t> stream;
  for (const TSpanFile& f : files) {
    placed.push_back({f.Name, f.Bytes.size(), stream.size(), f.Date, f.Time, f.Attribs});
    stream.insert(stream.end(), f.Bytes.begin(), f.Bytes.end());
  }
  std::vector<TBlock> blocks;
  for (size_t at = 0; at < stream.size(); at += options.BlockSize) {
    const size_t n = std::min(options.BlockSize, stream.size() - at);
    TBlock block;
    block.Data.assign(stream.begin() + ptrdiff_t(at), stream.begin() + ptrdiff_t(at + n));
    block.Uncomp = n;
    block.UStart = at;
    blocks.push_back(std::move(block));
  }
  return Layout(placed, blocks, 0, options);
}

std::vector<TSpanCabinet> ResplitCabinet(std::span<const uint8_t> cabinet,
                                         const TSpanOptions& options) {
  TIn in(cabinet);
  if (in.Bytes(4) != std::vector<uint8_t>{'M', 'S', 'C', 'F'}) {
    throw std::invalid_argument("ResplitCabinet: not a cabinet");
  }
  in.Seek(16);
  const uint32_t coffFiles = in.U32();
  in.Seek(26);
  const uint16_t folders = in.U16();
  const uint16_t fileCount = in.U16();
  const uint16_t flags = in.U16();
  in.Seek(kHeaderSize);
  uint8_t folderReserve = 0;
  uint8_t dataReserve = 0;
  if (flags & kFlagReserve) {
    const uint16_t headerReserve = in.U16();
    folderReserve = in.U8();
    dataReserve = in.U8();
    in.Seek(in.Pos() + headerReserve);
  }
  if (flags & (kFlagPrev | kFlagNext)) throw std::invalid_argument("ResplitCabinet: already a set");
  if (folders != 1) throw std::invalid_argument("ResplitCabinet: not one folder");
  const uint32_t dataStart = in.U32();
  const uint16_t blockCount = in.U16();
  const uint16_t compression = in.U16();
  (void)folderReserve;

  std::vector<TPlacedFile> placed;
  in.Seek(coffFiles);
  for (uint16_t i = 0; i < fileCount; ++i) {
    TPlacedFile f;
    f.Size = in.U32();
    f.Offset = in.U32();
    if (in.U16() != 0) throw std::invalid_argument("ResplitCabinet: file outside the folder");
    f.Date = in.U16();
    f.Time = in.U16();
    f.Attribs = in.U16();
    f.Name = in.Str();
    placed.push_back(std::move(f));
  }
  std::vector<TBlock> blocks;
  in.Seek(dataStart);
  size_t ustart = 0;
  for (uint16_t i = 0; i < blockCount; ++i) {
    in.U32();  // csum: made anew for each part
    const uint16_t data = in.U16();
    TBlock block;
    block.Uncomp = in.U16();
    in.Seek(in.Pos() + dataReserve);
    block.Data = in.Bytes(data);
    block.UStart = ustart;
    ustart += block.Uncomp;
    blocks.push_back(std::move(block));
  }
  return Layout(placed, blocks, compression, options);
}

std::vector<uint8_t> MakeStoredCabinet(std::span<const TSpanFile> files,
                                       const TSpanOptions& options) {
  TSpanOptions one = options;
  one.MaxCabinetSize = 0;
  return MakeSpannedCabinets(files, one).front().Bytes;
}
