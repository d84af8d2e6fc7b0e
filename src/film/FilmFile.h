// The film file "MyFilm.~zrflm" and its containers.
//
// The film file is packed little-endian records read front to back:
//   int32 N, N segment list entries (261 bytes each), N segment blocks.
// A segment block: int32 C, C cursor shape records, the 278-byte segment information,
// the cursor track, the frame data and, for 8 bits per pixel only, int32 P and P bytes
// of palette data. The sizes in the segment information come frame data first, but the
// cursor track comes first in the file.
//
// The readers check every count and size against the bytes that remain before they
// allocate or loop, and fail with a message naming what is wrong and the offset where it
// starts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cursor/UzrCursor.h"
#include "io/ByteReader.h"
#include "io/MemoryStream.h"

// What went wrong with a film: the film layer's one kind of failure, from reading its records
// to loading it from a package. A front end words its messages by it.
enum class TFilmErrc {
  Ok,
  Corrupt,      // the bytes contradict the format (or, in a record read, end early)
  CutShort,     // the film file or its package ends early (an interrupted copy or download)
  NotAFilm,     // the file is no film package at all (a foreign file, a foreign executable)
  Unsupported,  // valid, but beyond what the player takes on (shapes over their budget)
  Io,           // the file could not be read or written
  NoMemory,     // the memory for a section could not be had
};

// The film layer's error category, so that its codes compare as std::error_code.
const std::error_category& FilmCategory();
inline std::error_code make_error_code(TFilmErrc code) { return {int(code), FilmCategory()}; }
template <>
struct std::is_error_code_enum<TFilmErrc> : std::true_type {};

struct TFilmError {
  TFilmErrc Code = TFilmErrc::Ok;
  int64_t Offset = -1;  // where in the file the fault lies; -1 when not about a place
  std::string Message;  // says what is wrong, with the offset when there is one
  bool EndsEarly = false;  // Corrupt because the bytes end before what they declare

  explicit operator bool() const { return Code != TFilmErrc::Ok; }
};

inline constexpr size_t kShortStringSize = 256;
inline constexpr size_t kSegmentListEntrySize = 261;
inline constexpr size_t kSegInfoSize = 278;
// The smallest cursor shape record: hot spot and both headers, no pixels.
inline constexpr size_t kMinShapeRecordSize = 34;
inline constexpr char kFilmFileName[] = "MyFilm.~zrflm";

struct TSegmentListEntry {
  std::string Name;  // UTF-8
  int32_t FrameCount = 0;
  uint8_t FrameRate = 0;
};

struct TSegInfo {
  int32_t FrameDataSize = 0;
  int32_t CursorDataSize = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  uint8_t BitsPerPixel = 0;
  int32_t FrameCount = 0;
  uint8_t FrameRate = 0;
  std::string Name;  // UTF-8
};

// One loaded segment: its information and what it owns. The shapes and the sections' bytes
// are never changed once read, so copies of a segment (ShareSegments) share them.
struct Segment : TSegInfo {
  std::shared_ptr<TCursorList> CursorList = std::make_shared<TCursorList>();
  TMemoryStream SegStream;                       // frame data
  TMemoryStream CursStream;                      // cursor track
  std::unique_ptr<TMemoryStream> PaletteStream;  // 8 bits per pixel only
};

// Decodes a 256-byte short string: a length byte, then that many Windows-1251 characters.
std::string DecodeShortString(std::span<const uint8_t, kShortStringSize> bytes);

// Decodes the 278-byte segment information record.
TSegInfo DecodeSegInfo(std::span<const uint8_t, kSegInfoSize> bytes);

// Reads the segment list from offset 0; afterwards the reader stands at the first block.
// A count of 0 or less gives an empty list.
bool ReadSegmentList(TByteReader& stream, std::vector<TSegmentListEntry>& entries,
                     TFilmError& error);

// Reads one segment block at the reader's position into `segment`; `number` (1-based) names
// the segment in messages. On failure `segment` holds what was read so far. Shapes whose
// images would take more memory than their records back (TShapeBudget) fail the segment
// as Unsupported. The sections are copied, or, when `owner` is given, refer to the reader's
// bytes, which `owner` keeps alive.
bool ReadSegmentBlock(TByteReader& stream, int32_t number, Segment& segment, TFilmError& error,
                      const std::shared_ptr<const void>& owner = nullptr);

// Whether segment `number` (from 1), whose information is `info`, is the last one a reader
// needs: reading ends after it.
using TLastSegment = std::function<bool(int32_t number, const TSegInfo& info)>;

// A whole film file: the list and every block.
struct TFilm {
  std::vector<TSegmentListEntry> List;
  std::vector<std::unique_ptr<Segment>> Segments;
};
// Reads a whole film file. On failure `film` holds what was read before the fault: nothing
// when the list itself is damaged (a list that was read has entries, since an empty one
// cannot fail afterwards), else the list and the complete segments before the damaged one,
// which is number Segments.size() + 1. The sections are copies of the bytes.
bool ReadFilm(std::span<const uint8_t> bytes, TFilm& film, TFilmError& error);
// The same without copies: the sections refer to `bytes`, which `owner` keeps alive for as
// long as any section does (the film is then held once, in its owner's memory). With `last`,
// reading ends after the first segment it names: what follows is neither read nor checked.
bool ReadFilm(std::span<const uint8_t> bytes, const std::shared_ptr<const void>& owner,
              TFilm& film, TFilmError& error, const TLastSegment& last = {});

// Copies of the segments for another reader, such as a second playback core in another
// thread: each copy reads from positions of its own, and the shapes and section bytes are
// shared, not copied. The shared parts are only read, so the copies may be played alongside
// the originals.
std::vector<std::unique_ptr<Segment>> ShareSegments(const std::vector<std::unique_ptr<Segment>>& segments);

// The sum of FrameCount over the segments.
int64_t TotalFrames(const std::vector<std::unique_ptr<Segment>>& segments);

// Executable films: the container is chosen by the path's last extension alone.
bool IsExecutableFilmPath(std::string_view path);

// Where the package of an executable film lies: L is the int32 in the file's last four
// bytes, and the package is the L bytes before them.
struct TPackageSpan {
  int64_t Offset = 0;
  int64_t Length = 0;
};
bool LocatePackage(int64_t fileSize, int32_t packageLength, TPackageSpan& span,
                   TFilmError& error);
// The same, from the whole executable in memory.
bool LocatePackage(std::span<const uint8_t> executable, TPackageSpan& span, TFilmError& error);
