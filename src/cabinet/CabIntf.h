// CabIntf: a cabinet decompression interface in the shape of Windows' FDI, over libmspack.
//
// Three operations, as FDI has them:
//   FDICreate   makes a context from seven callbacks (memory and file I/O) and an error record;
//   FDICopy     processes one cabinet file, telling a notification handler what it finds and
//               writing every file the handler asks for through the write callback;
//   FDIDestroy  ends the context.
// The types, codes and notification rules follow the published FDI interface. Every byte the
// layer reads or writes goes through the caller's callbacks; libmspack only decompresses.
//
// What FDICopy does with one cabinet:
//   1. fdintCABINET_INFO: psz1 the next cabinet's name, psz2 its disk name, psz3 the cabinet
//      path given to FDICopy, setID, iCabinet.
//   2. For each file entry, in the cabinet's order:
//      - an entry continued from an earlier cabinet: fdintPARTIAL_FILE (psz1 its name, psz2
//        and psz3 the previous cabinet's and disk's names); it is not extracted here;
//      - any other entry: fdintCOPY_FILE (psz1 name, cb size, date, time, attribs, iFolder).
//        The handler returns a handle to write to, 0 to skip the file, or -1 to stop. Then
//        the file's data goes through the write callback and fdintCLOSE_FILE_INFO follows
//        (hf the handle, which the handler closes; cb 1 when the entry carries the
//        run-after-extract attribute 0x40, else 0). CLOSE_FILE_INFO returns nonzero for
//        success; 0 fails with FDIERROR_TARGET_FILE, -1 with FDIERROR_USER_ABORT.
//   3. A file whose data runs on into the next cabinet: fdintNEXT_CABINET (psz1 next name,
//      psz2 next disk, psz3 a 256-byte buffer holding the folder to look in, which the
//      handler may change; fdie FDIERROR_NONE, or the error of the previous attempt). The
//      layer then opens psz3 + psz1 and, once that cabinet fits the set, tells
//      fdintCABINET_INFO for it and goes on with the file. The files of the continuation
//      cabinet itself are left for an FDICopy of that cabinet.
//
// Rules of this layer beyond FDI's own:
//   - A handler that returns -1 has aborted: the copy stops with FDIERROR_USER_ABORT. One
//     that puts another error in fdie before it returns -1 (COPY_FILE: FDIERROR_TARGET_FILE
//     for a target it could not open) stops the copy with that error instead, erfType taking
//     errno as it stands when the handler returns.
//   - NEXT_CABINET: a handler that returns -1 to the first request (fdie NONE) stops the copy
//     with FDIERROR_USER_ABORT; one that returns -1 after a failed attempt stops it with that
//     attempt's error (FDIERROR_CABINET_NOT_FOUND and the open's errno, say), unless it has
//     put another error in fdie (above). At most kFdiMaxCabinetAttempts attempts are made
//     per request.
//   - A next or previous cabinet name that is not a bare file name ('/' or '\\' in it, ".",
//     "..", empty) is never opened: the file that needs it fails with
//     FDIERROR_CABINET_NOT_FOUND.
//   - A folder to look in that does not fit the 256-byte psz3 buffer fails the request with
//     FDIERROR_CABINET_NOT_FOUND and ENAMETOOLONG.
//   - A cabinet of a set must carry the set's ID, the next index and the same reserve sizes
//     (else FDIERROR_WRONG_CABINET or FDIERROR_RESERVE_MISMATCH, and NEXT_CABINET is asked
//     again with that error).
//   - Continued folders: while the last folder of a cabinet goes on into cabinets opened
//     already, the context keeps the set (its parsed headers and libmspack's state, no open
//     files) for the next FDICopy, which then finds the earlier cabinets at hand and goes on
//     decompressing where the last one stopped; an FDICopy of another cabinet, a failure or
//     FDIDestroy lets it go. A whole file in a folder continued from a cabinet not at hand
//     needs that folder's start: the layer opens the earlier cabinets by the names they are
//     given, in the same folder, without notifications. At most kFdiMaxSetCabinets
//     cabinets are held at a time (those before the start of the processed cabinet's
//     first folder are let go).
//   - When extraction of a file fails after COPY_FILE gave a handle, the layer closes that
//     handle through the close callback and sends no CLOSE_FILE_INFO.
//   - A write callback that returns kFdiWriteComplete has written the bytes it was given and
//     wants no more of that file: the rest of it is neither decompressed nor written, and
//     CLOSE_FILE_INFO follows as for a whole file. The copy goes on with the next entry (one
//     later in the same folder is decompressed from the folder's start again).
//   - A data block split between two cabinets is decompressed from its joined parts without
//     a checksum test; every other block keeps the test libmspack makes.
//   - Only the cabinet signature at offset 0 is recognised (no search inside other files);
//     the header's version must be 1.x (else FDIERROR_UNKNOWN_CABINET_VERSION).
//   - A cabinet file that ends inside a folder's data blocks (a block header or a block's data
//     past its end: a download or copy cut short) fails with FDIERROR_CORRUPT_CABINET. Without
//     kFdiCopySalvageCutShort the file being extracted gets none of that folder's data. With
//     it, the folder's data is taken to end after its last complete block: a file wholly
//     inside that data is extracted as usual; the first file that is not gets the part of its
//     bytes the complete blocks hold, is closed without CLOSE_FILE_INFO, and the copy fails
//     with FDIERROR_CORRUPT_CABINET. A file none of whose bytes they hold gets no COPY_FILE
//     when the cut lies in the processed cabinet (when it lies in another cabinet of the set
//     the file is started and left empty); files after it are not started, and a folder that
//     continues into the next cabinet asks for no cabinet after the cut. Nothing changes
//     for damage that is not a cut: a header or file table that does not fit the file, a block
//     too large, a wrong checksum or broken compressed data fail as before.
//
// Errors fill the ERF record: erfOper the FDIERROR code, erfType errno where one applies,
// fError true; FDICopy then returns false. The handler's user value comes back in pv.
// Running out of memory is FDIERROR_ALLOC_FAIL. An exception that is no cabinet error (one a
// handler or a callback raises, or a fault of this layer) ends the copy and leaves FDICopy as
// it is, the record left empty; so does std::invalid_argument for a missing handler.
#pragma once

#include <cstdint>
#include <system_error>

using INT_PTR = intptr_t;

// The error record, three 32-bit fields as FDI lays it out.
struct ERF {
  int32_t erfOper = 0;  // FDIERROR code
  int32_t erfType = 0;  // errno of the failed operation, when there is one
  int32_t fError = 0;   // nonzero when the record holds an error
};

enum FDIERROR : int32_t {
  FDIERROR_NONE = 0,
  FDIERROR_CABINET_NOT_FOUND = 1,
  FDIERROR_NOT_A_CABINET = 2,
  FDIERROR_UNKNOWN_CABINET_VERSION = 3,
  FDIERROR_CORRUPT_CABINET = 4,
  FDIERROR_ALLOC_FAIL = 5,
  FDIERROR_BAD_COMPR_TYPE = 6,
  FDIERROR_MDI_FAIL = 7,
  FDIERROR_TARGET_FILE = 8,
  FDIERROR_RESERVE_MISMATCH = 9,
  FDIERROR_WRONG_CABINET = 10,
  FDIERROR_USER_ABORT = 11,
};

// The cabinet layer's failures are one space, the FDIERROR codes, with an error category of
// their own whose messages are the component's texts (CabinetErrorText). The operating
// system's part of a failure, erfType, is an errno in std::generic_category().
const std::error_category& CabinetCategory();
inline std::error_code make_error_code(FDIERROR code) { return {int(code), CabinetCategory()}; }
template <>
struct std::is_error_code_enum<FDIERROR> : std::true_type {};

enum FDINOTIFICATIONTYPE : int32_t {
  fdintCABINET_INFO = 0,
  fdintPARTIAL_FILE = 1,
  fdintCOPY_FILE = 2,
  fdintCLOSE_FILE_INFO = 3,
  fdintNEXT_CABINET = 4,
  fdintENUMERATE = 5,
};

// FDICopy's flags: salvage what a cabinet cut short inside its data still holds (above).
inline constexpr int kFdiCopySalvageCutShort = 0x1;

// What a write callback returns in place of the count when the file needs no more data (above).
inline constexpr uint32_t kFdiWriteComplete = 0xFFFFFFFE;

// Size of the psz3 buffer of fdintNEXT_CABINET, terminating NUL included.
inline constexpr int kFdiMaxCabPath = 256;
inline constexpr int kFdiMaxCabinetAttempts = 8;
inline constexpr int kFdiMaxSetCabinets = 1024;

struct FDINOTIFICATION {
  int32_t cb = 0;
  char* psz1 = nullptr;
  char* psz2 = nullptr;
  char* psz3 = nullptr;
  void* pv = nullptr;  // the user value given to FDICopy
  INT_PTR hf = 0;
  uint16_t date = 0;
  uint16_t time = 0;
  uint16_t attribs = 0;
  uint16_t setID = 0;
  uint16_t iCabinet = 0;
  uint16_t iFolder = 0;
  FDIERROR fdie = FDIERROR_NONE;
};

// Open flags the layer passes to the open callback, with the published values.
inline constexpr int FDI_O_RDONLY = 0x0000;
inline constexpr int FDI_O_WRONLY = 0x0001;
inline constexpr int FDI_O_RDWR = 0x0002;
inline constexpr int FDI_O_APPEND = 0x0008;
inline constexpr int FDI_O_RANDOM = 0x0010;
inline constexpr int FDI_O_SEQUENTIAL = 0x0020;
inline constexpr int FDI_O_TEMPORARY = 0x0040;
inline constexpr int FDI_O_CREAT = 0x0100;
inline constexpr int FDI_O_TRUNC = 0x0200;
inline constexpr int FDI_O_EXCL = 0x0400;
inline constexpr int FDI_O_SHORT_LIVED = 0x1000;
inline constexpr int FDI_O_BINARY = 0x8000;

inline constexpr int FDI_SEEK_SET = 0;
inline constexpr int FDI_SEEK_CUR = 1;
inline constexpr int FDI_SEEK_END = 2;

// The callbacks. read and write return the byte count or (uint32_t)-1; open returns a
// handle or -1; close returns 0 or -1; seek returns the new position or -1. A failing file
// callback leaves errno telling why.
using PFNALLOC = void* (*)(uint32_t cb);
using PFNFREE = void (*)(void* pv);
using PFNOPEN = INT_PTR (*)(const char* pszFile, int oflag, int pmode);
using PFNREAD = uint32_t (*)(INT_PTR hf, void* pv, uint32_t cb);
using PFNWRITE = uint32_t (*)(INT_PTR hf, const void* pv, uint32_t cb);
using PFNCLOSE = int (*)(INT_PTR hf);
using PFNSEEK = long (*)(INT_PTR hf, long dist, int seektype);
using PFNFDINOTIFY = INT_PTR (*)(FDINOTIFICATIONTYPE fdint, FDINOTIFICATION* pfdin);

inline constexpr int cpuUNKNOWN = -1;

using HFDI = void*;

// A context, or nullptr with perf filled (FDIERROR_ALLOC_FAIL). perf must outlive the context.
HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
               PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, ERF* perf);

// Processes the cabinet pszCabPath + pszCabinet (pszCabPath ends in '/' or is empty).
// flags: kFdiCopySalvageCutShort or 0. pfnfdid (decryption) is not used.
bool FDICopy(HFDI hfdi, const char* pszCabinet, const char* pszCabPath, int flags,
             PFNFDINOTIFY pfnfdin, void* pfnfdid, void* pvUser);

bool FDIDestroy(HFDI hfdi);
