// The directory of a help file (CHM), read and checked before libmspack decompresses anything.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// An object the directory lists: its name, and where its bytes are: in the stored section (0)
// or the compressed one (1), at an offset in that section's data.
struct THelpEntry {
  uint32_t NameAt = 0;      // in the file's bytes
  uint16_t NameLength = 0;  // up to the name's first NUL
  uint8_t Section = 0;
  uint64_t Offset = 0, Length = 0;
};

// The objects of one help file, as its listing chunks name them (PMGL, along the chain from the
// first one), and the tables of its compressed section.
class THelpDirectory {
 public:
  // Where the stored section begins in the file.
  uint64_t DataOffset() const { return FDataOffset; }
  const std::vector<THelpEntry>& Entries() const { return FEntries; }
  std::string_view Name(const THelpEntry& entry) const {
    return {FFile.constData() + entry.NameAt, entry.NameLength};
  }
  // The first entry listed under `name`, without regard to the case of A to Z (as help files
  // name their objects); null when there is none.
  const THelpEntry* Find(std::string_view name) const;

  // The compressed section's content, control data and reset table, all stored objects; null
  // when the file lacks one of them, and then no object of the compressed section can be read.
  const THelpEntry* Content() const { return At(FContent); }
  const THelpEntry* ControlData() const { return At(FControlData); }
  const THelpEntry* ResetTable() const { return At(FResetTable); }

 private:
  friend std::optional<THelpDirectory> ReadHelpDirectory(const QByteArray& file);
  const THelpEntry* At(int64_t index) const { return index < 0 ? nullptr : &FEntries[size_t(index)]; }

  QByteArray FFile;
  uint64_t FDataOffset = 0;
  std::vector<THelpEntry> FEntries;
  std::vector<uint32_t> FByName;  // indexes of FEntries, ordered by name without regard to case
  int64_t FContent = -1, FControlData = -1, FResetTable = -1;  // indexes of FEntries
};

// Reads the directory of a help file. The directory is walked here, not by libmspack, and the
// walk is also the file's check: a chain of listing chunks that leads back into itself, an
// index chunk (PMGI) that names itself or one above it, a stored object outside the file, a
// section other than the two there are, tables of the compressed section that do not describe
// what libmspack is to decompress (out of order, beyond the content, another block size, no
// usable LZX window) or a compressed object beyond the end of the compressed data: each makes
// the file a damaged one, and no object of it is read. What the walk would keep or loop over
// on the file's word (chunk sizes, free space, name lengths) is kept to what help compilers
// write: a handful of 4 KiB chunks, short names, 32 KiB compression blocks.
//
// Nothing (std::nullopt) for a damaged file or one that is no help file at all.
std::optional<THelpDirectory> ReadHelpDirectory(const QByteArray& file);
