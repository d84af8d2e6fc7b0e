// CabSTComps: TSTCabReader, which extracts every file of a cabinet and of its continuation
// cabinets into a folder, and ESTCabinet, the exception it raises when the cabinet layer
// (CabIntf) reports an error.
//
// Paths use '/' between folders; AddTrailingBackslash and JoinPath put a '/' there. Stored
// names in a cabinet use backslashes for folders; they are read as '/'.
//
// What a package may make the component write, and which of the names it carries are
// followed, is ruled in CabTargets.h (target folder, stored names, links, limits, names of
// continuation cabinets). Besides:
//   - A continuation cabinet is looked for beside the cabinet that names it, without regard
//     to ASCII case: a package naming "DISK2.CAB" finds "disk2.cab". A cabinet already
//     processed in this Extract is not processed again.
//   - After a cabinet, Extract goes on with the cabinet that this one names as its next:
//     where fdintNEXT_CABINET found it (OnNextCabinet may have given another folder), else
//     beside this one. When one file runs through several cabinets, the layer asks for all of
//     them, but the cabinets in between may hold files of their own, so the loop does not
//     jump to the last one asked for.
//   - A package cut short inside a folder's data blocks (an interrupted download or copy: a
//     block header or a block's data past the end of the file) fails with ESTCabinet
//     "Cabinet file is corrupt" (FDIERROR_CORRUPT_CABINET). With SalvageCutShort set it fails
//     the same way, but first keeps what the complete blocks before the cut hold: the files
//     wholly inside them are extracted as usual (times and attributes set, OnCloseFile told);
//     the first file that is not is written with the bytes of it that the complete blocks
//     give, a byte-exact prefix, and left on disk as it is, still listed in SrcNames() and
//     DstNames(), without OnCloseFile. A file of which they hold no byte is not started
//     (OnCopyFile is not called), unless the cut lies in another cabinet of a set, where it
//     is left empty. Files after it are not started, and no continuation cabinet is asked for
//     past the cut. A cut inside the header or the file tables leaves nothing to salvage:
//     nothing is written. Damage that is not a cut (a wrong checksum, broken compressed
//     data, impossible sizes) fails as without the option. The limits and every other rule
//     here hold as well.
//   - OnFileData sees each piece of a file's data once it is written. A handler that sets
//     aComplete has all it wants of the file: the rest of it is neither decompressed nor
//     written, the file is closed as a whole one (times and attributes set, OnCloseFile
//     told) and the extraction goes on with the next file. The handler is called from inside
//     the decompressor: what it raises waits until the decompressor has stopped, then ends
//     the extraction and reaches the caller of Extract.
//   - croExecuteOnExtract is accepted but nothing is run: a player has no business starting
//     programs out of a package. OnCloseFile still gets the flag.
//   - "FDI aborted" (FDIERROR_USER_ABORT) means that an event handler set anAbort. A folder
//     given by OnNextCabinet that does not fit the layer's buffer fails as the layer's own
//     such folder does: "Cabinet not found" (FDIERROR_CABINET_NOT_FOUND) with ENAMETOOLONG.
//     An exception raised inside an event handler or by the component itself ends the
//     extraction and reaches the caller of Extract as it is.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cabinet/CabIntf.h"
#include "cabinet/CabTargets.h"

// Raised for every failure reported through the FDI error record.
//   HasError: CabinetErrorText(ErrorCode) (or CompressorErrorText for the compressor side),
//   " [0x", ErrorCode in at least four uppercase hex digits, "]"; and when OsErrorCode is
//   not 0: ".\r\n", the system's text for it, " [0x", its hex digits, "].".
//   Without HasError: "FDI error" (or "FCI error").
class ESTCabinet : public std::runtime_error {
 public:
  ESTCabinet(const ERF& erf, bool isCompressor);

  int32_t ErrorCode = 0;    // erfOper
  int32_t OsErrorCode = 0;  // erfType
  bool HasError = false;    // fError
  bool IsCompressor = false;

  static std::string BuildMessage(const ERF& erf, bool isCompressor);
  // The failure in the cabinet layer's codes, and the system's part of it (an errno; no error
  // when there is none).
  std::error_code Code() const { return make_error_code(FDIERROR(ErrorCode)); }
  std::error_code OsError() const {
    return OsErrorCode ? std::error_code(OsErrorCode, std::generic_category()) : std::error_code();
  }
};

enum TSTCabReaderOption : unsigned {
  croExecuteOnExtract = 0x1,
  croDontOverwriteReadOnlyFiles = 0x2,
};
using TSTCabReaderOptions = unsigned;  // a set of TSTCabReaderOption bits

class TSTCabReader;

using TSTCabReaderCabinetInfoEvent = std::function<void(
    TSTCabReader& sender, const std::string& aNextCabName, const std::string& aNextDiskName,
    const std::string& aCabPath, uint16_t aSetID, uint16_t aCabNo, bool& anAbort)>;
using TSTCabReaderCopyFileEvent =
    std::function<void(TSTCabReader& sender, const std::string& aSrcFileName,
                       int32_t anUncompressedSize, uint16_t aDate, uint16_t aTime, uint16_t anAttrs,
                       uint16_t aFolderNo, std::string& aDstFullFileName, bool& anAbort)>;
using TSTCabReaderCopyPartialFileEvent = std::function<void(
    TSTCabReader& sender, const std::string& aSrcFileName, const std::string& aStartCabName,
    const std::string& aStartDiskName, const std::string& aDstFullFileName, bool& anAbort)>;
using TSTCabReaderCloseFileEvent =
    std::function<void(TSTCabReader& sender, const std::string& aSrcFileName, uint16_t aDate,
                       uint16_t aTime, uint16_t anAttrs, uint16_t aFolderNo, bool& anExec,
                       const std::string& aDstFullFileName, bool& anAbort)>;
using TSTCabReaderFileDataEvent =
    std::function<void(TSTCabReader& sender, const std::string& aDstFullFileName,
                       std::span<const uint8_t> aData, bool& aComplete)>;
using TSTCabReaderNextCabinetEvent = std::function<void(
    TSTCabReader& sender, const std::string& aCabName, const std::string& aDiskName,
    std::string& aCabPath, FDIERROR anError, bool& anAbort)>;
using TSTCabReaderUnrecognizedNotifyEvent =
    std::function<void(TSTCabReader& sender, FDINOTIFICATIONTYPE aNotifyType,
                       FDINOTIFICATION& aNotify, int32_t& aResult)>;

class TSTCabReader {
 public:
  // Extract's options: stop after the first cabinet, whatever it names as the next one.
  static constexpr unsigned stopAfterFirstCabinet = 0x1;

  static constexpr uint64_t kDefaultMaxExtractBytes = uint64_t(4) << 30;
  static constexpr uint32_t kDefaultMaxExtractFiles = 65536;

  TSTCabReader();
  ~TSTCabReader();
  TSTCabReader(const TSTCabReader&) = delete;
  TSTCabReader& operator=(const TSTCabReader&) = delete;

  // Properties (the player leaves them all at their defaults).
  TSTCabReaderOptions Options = 0;
  TSTCabReaderCabinetInfoEvent OnCabinetInfo;
  TSTCabReaderCopyFileEvent OnCopyFile;
  TSTCabReaderCopyPartialFileEvent OnCopyPartialFile;
  TSTCabReaderCloseFileEvent OnCloseFile;
  TSTCabReaderFileDataEvent OnFileData;
  TSTCabReaderNextCabinetEvent OnNextCabinet;
  TSTCabReaderUnrecognizedNotifyEvent OnUnrecognizedNotify;

  // Limits per Extract (see CabTargets.h).
  uint64_t MaxExtractBytes = kDefaultMaxExtractBytes;
  uint32_t MaxExtractFiles = kDefaultMaxExtractFiles;

  // Keep what a package cut short inside its data still holds (see the file comment); the
  // extraction still fails. Off by default.
  bool SalvageCutShort = false;

  // Hand the files' data to OnFileData only, writing nothing (see the file comment). Off by
  // default.
  bool FileDataOnly = false;

  // Extracts every file of cabFile and of its continuation cabinets into destDir (created
  // when missing). Raises ESTCabinet when the cabinet layer fails, EOSError for a folder that
  // cannot be created, and lets through whatever an event handler raises. Files extracted
  // before a failure stay.
  void Extract(const std::string& cabFile, const std::string& destDir, unsigned options = 0);

  // The FDI context: created at first use and kept for later extractions. Destroying a
  // context cannot fail.
  HFDI Context();
  void CreateContext();
  void DestroyContext();
  // Raises ESTCabinet from the error record when ok is false.
  void CheckFDI(bool ok);

  // What the last Extract did.
  const std::vector<std::string>& SkippedNames() const { return FSkippedNames; }
  uint64_t BytesWritten() const { return FBytesWritten; }
  uint32_t FilesWritten() const { return FFilesWritten; }

  // State of the current (or last) extraction.
  const std::string& CabFileName() const { return FCabFileName; }
  const std::string& DestDir() const { return FDestDir.Path(); }
  const std::string& NextCabName() const { return FNextCabName; }
  const std::string& NextDiskName() const { return FNextDiskName; }
  const std::string& CurCabPath() const { return FCurCabPath; }
  const std::string& NextCabPath() const { return FNextCabPath; }
  bool NextCabGiven() const { return FNextCabGiven; }
  const ERF& ErrorRecord() const { return FErf; }
  const std::vector<std::string>& SrcNames() const { return FSrcNames; }
  const std::vector<std::string>& DstNames() const { return FDstNames; }

 private:
  static INT_PTR Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* notification);
  INT_PTR HandleNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION& n);
  INT_PTR CabinetInfo(FDINOTIFICATION& n);
  INT_PTR PartialFile(FDINOTIFICATION& n);
  INT_PTR CopyFile(FDINOTIFICATION& n);
  INT_PTR CloseFileInfo(FDINOTIFICATION& n);
  INT_PTR NextCabinet(FDINOTIFICATION& n);

  HFDI FContext = nullptr;
  ERF FErf;
  std::string FCabFileName;
  TCabTargetFolder FDestDir;
  std::string FNextCabName;
  std::string FNextDiskName;
  std::string FCurCabPath;
  std::string FNextCabPath;
  bool FNextCabGiven = false;
  // The processed cabinet's own next cabinet (from the first fdintCABINET_INFO of each
  // FDICopy), and where fdintNEXT_CABINET found cabinets during this Extract.
  bool FCabinetInfoSeen = false;
  std::string FOwnNextName;
  std::string FOwnFolder;
  std::vector<std::pair<std::string, std::string>> FFoundCabinets;  // name, path
  std::vector<std::string> FSrcNames;
  std::vector<std::string> FDstNames;
  std::vector<std::string> FSkippedNames;
  uint64_t FBytesWritten = 0;
  uint32_t FFilesWritten = 0;
  // What OnFileData raised, kept until the decompressor has stopped.
  std::exception_ptr FFileDataFailure;
};

// Joins path parts with exactly one '/' between two parts; empty parts are skipped.
std::string JoinPath(std::initializer_list<std::string_view> parts);
inline std::string JoinPath(std::string_view a, std::string_view b) { return JoinPath({a, b}); }

// A nonempty string not ending in '/' gets one; an empty string stays empty.
std::string AddTrailingBackslash(std::string_view s);

// Sets the file's modification time from an MS-DOS date and time taken as local time (left
// alone when they are not a valid date and time) and its attributes: read-only (0x01) clears
// every write bit, otherwise the owner's write bit is set; hidden, system and archive mean
// nothing here. The file is not followed when it is a symbolic link; failures are ignored.
void SetFileTimeAndAttributes(const std::string& target, uint16_t date, uint16_t time,
                              uint16_t attribs);
