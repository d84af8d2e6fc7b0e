// A small writer of uncompressed cabinets and spanned cabinet sets, for tests.
//
// libgcab writes single cabinets only. The extraction component also has to read sets whose
// one folder runs across several cabinet files, and hostile cabinets whose fields libgcab
// would never write (names with "..", odd attributes, a next cabinet that names a path).
// This writer lays such cabinets out byte by byte:
//
//   CFHEADER  "MSCF", cbCabinet, coffFiles, version 1.3, cFolders, cFiles, flags
//             (0x1 previous cabinet, 0x2 next cabinet), setID, iCabinet, then the previous
//             and next cabinet and disk names when their flag is set
//   CFFOLDER  coffCabStart, cCFData, typeCompress 0 (stored)
//   CFFILE    cbFile, uoffFolderStart, iFolder, date, time, attribs, name
//   CFDATA    csum (0: none, unless Checksums is set), cbData, cbUncomp, the bytes
//
// All files go into one stored folder, cut into data blocks of BlockSize bytes. When a
// cabinet is full, the block that does not fit is split: its first part ends this cabinet
// with cbUncomp 0 and the rest begins the next one with the block's whole size, as the
// format has it. A file whose data needs blocks of the next cabinet is listed with iFolder
// 0xFFFE (continued to next) here and 0xFFFD (continued from previous) there, or 0xFFFF
// where it runs through a cabinet from the one before to the one after. Offsets in the
// folder count from the folder's start in the first cabinet, across the whole set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct TSpanFile {
  std::string Name;  // stored name, bytes as given (backslashes for folders)
  std::vector<uint8_t> Bytes;
  uint16_t Date = (28 << 9) | (6 << 5) | 1;  // 2008-06-01
  uint16_t Time = (12 << 11) | (30 << 5);    // 12:30:00
  uint16_t Attribs = 0x20;                   // archive
};

struct TSpanCabinet {
  std::string Name;  // the file name to write it under
  std::vector<uint8_t> Bytes;
};

struct TSpanOptions {
  // Largest size of one cabinet file in bytes. 0: everything in one cabinet.
  size_t MaxCabinetSize = 0;
  // Uncompressed bytes per data block (1..32768).
  size_t BlockSize = 32768;
  uint16_t SetID = 0x1234;
  // The file name of cabinet i (0-based). Default: "disk1.cab", "disk2.cab", …
  std::function<std::string(unsigned)> CabinetName;
  // The name cabinet i goes by inside its neighbours (szCabinetPrev/szCabinetNext).
  // Default: CabinetName.
  std::function<std::string(unsigned)> StoredName;
  // The disk name of cabinet i. Default: "Disk 1", "Disk 2", …
  std::function<std::string(unsigned)> DiskName;
  // When given, the last cabinet also names a next cabinet, which is not written.
  std::optional<std::string> ExtraNextName;
  // Fill the CFDATA checksums (each part of a split block has its own); libgcab tests
  // them even where they are 0.
  bool Checksums = false;
  // Reserved areas (header flag 0x4): bytes in the header, in each CFFOLDER and CFDATA.
  uint16_t HeaderReserve = 0;
  uint8_t FolderReserve = 0;
  uint8_t DataReserve = 0;
};

// Lays the files out into as many cabinets as MaxCabinetSize needs; returns them in order.
// Throws std::invalid_argument when a cabinet cannot hold its header and one data byte.
std::vector<TSpanCabinet> MakeSpannedCabinets(std::span<const TSpanFile> files,
                                              const TSpanOptions& options = {});

// The one folder of a cabinet (a libgcab one, say, MSZIP compressed) laid out again as a set:
// the same files, compression and data blocks, the blocks' compressed bytes split between
// cabinets where they do not fit. Throws std::invalid_argument for a cabinet with other
// than one folder, or whose tables do not hold together.
std::vector<TSpanCabinet> ResplitCabinet(std::span<const uint8_t> cabinet,
                                         const TSpanOptions& options);

// One stored cabinet holding the files (no size limit).
std::vector<uint8_t> MakeStoredCabinet(std::span<const TSpanFile> files,
                                       const TSpanOptions& options = {});
