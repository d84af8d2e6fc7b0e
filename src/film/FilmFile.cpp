#include "film/FilmFile.h"

#include <cstdarg>
#include <cstdio>
#include <new>

#include "io/Cp1251.h"
#include "io/TextCase.h"

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

bool Fail(TFilmError& error, TFilmErrc code, int64_t offset, std::string message) {
  error.Code = code;
  error.Offset = offset;
  error.Message = std::move(message);
  error.EndsEarly = false;
  return false;
}

// The data ends before what it declares: a file cut short, most likely.
bool FailEnded(TFilmError& error, int64_t offset, std::string message) {
  Fail(error, TFilmErrc::Corrupt, offset, std::move(message));
  error.EndsEarly = true;
  return false;
}

int32_t GetI32(std::span<const uint8_t> bytes, size_t at) {
  return int32_t(uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
                 uint32_t(bytes[at + 3]) << 24);
}

// Reads an int32 count or size that must lie wholly inside the data.
bool ReadField(TByteReader& stream, int32_t number, const char* what, int32_t& value,
               TFilmError& error) {
  const size_t at = stream.Position();
  if (stream.Remaining() < 4)
    return FailEnded(error, int64_t(at),
                Format("segment %d: the film ends inside the %s at offset %zu", number, what, at));
  value = stream.ReadI32();
  return true;
}

// Gives a section of `size` bytes to its stream after checking it against the data: a view
// when the data has an owner to keep it alive, else a copy.
bool ReadSection(TByteReader& stream, int32_t number, const char* what, int32_t size,
                 size_t sizeFieldOffset, const std::shared_ptr<const void>& owner,
                 TMemoryStream& section, TFilmError& error) {
  const size_t at = stream.Position();
  if (size < 0)
    return Fail(error, TFilmErrc::Corrupt, int64_t(sizeFieldOffset),
                Format("segment %d: the %s size at offset %zu is negative (%d)", number, what,
                       sizeFieldOffset, size));
  if (size_t(size) > stream.Remaining())
    return FailEnded(error, int64_t(at),
                Format("segment %d: the film ends inside the %s at offset %zu "
                       "(%d bytes declared, %zu remain)",
                       number, what, at, size, stream.Remaining()));
  if (owner) {
    // Where a copy would leave it: at the end, as after writing.
    section = TMemoryStream(stream.Take(size_t(size)), owner);
    section.SetPosition(section.Size());
    return true;
  }
  try {
    section.Assign(stream.Take(size_t(size)));
  } catch (const std::bad_alloc&) {
    return Fail(error, TFilmErrc::NoMemory, int64_t(at),
                Format("segment %d: no memory for the %d bytes of the %s at offset %zu", number,
                       size, what, at));
  }
  return true;
}

}  // namespace

std::string DecodeShortString(std::span<const uint8_t, kShortStringSize> bytes) {
  const size_t length = bytes[0];
  return Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data() + 1), length));
}

TSegInfo DecodeSegInfo(std::span<const uint8_t, kSegInfoSize> bytes) {
  // Packed: FrameCount sits at offset 17 and FrameRate at 21, with no alignment.
  TSegInfo info;
  info.FrameDataSize = GetI32(bytes, 0);
  info.CursorDataSize = GetI32(bytes, 4);
  info.Width = GetI32(bytes, 8);
  info.Height = GetI32(bytes, 12);
  info.BitsPerPixel = bytes[16];
  info.FrameCount = GetI32(bytes, 17);
  info.FrameRate = bytes[21];
  info.Name = DecodeShortString(bytes.subspan<22, kShortStringSize>());
  return info;
}

bool ReadSegmentList(TByteReader& stream, std::vector<TSegmentListEntry>& entries,
                     TFilmError& error) {
  entries.clear();
  stream.Seek(0);
  if (stream.Remaining() < 4)
    return FailEnded(error, 0,
                Format("the film ends inside the segment count at offset 0 (%zu bytes)",
                       stream.Remaining()));
  const int32_t count = stream.ReadI32();
  if (count <= 0) return true;
  const uint64_t needed = uint64_t(count) * kSegmentListEntrySize;
  if (needed > stream.Remaining())
    return FailEnded(error, 4,
                Format("the segment list of %d entries at offset 4 needs %llu bytes, "
                       "but only %zu remain",
                       count, static_cast<unsigned long long>(needed), stream.Remaining()));
  entries.reserve(size_t(count));
  for (int32_t i = 0; i < count; ++i) {
    const auto record = stream.Take(kSegmentListEntrySize);
    TSegmentListEntry entry;
    entry.Name = DecodeShortString(record.subspan<0, kShortStringSize>());
    entry.FrameCount = GetI32(record, 256);
    entry.FrameRate = record[260];
    entries.push_back(std::move(entry));
  }
  return true;
}

bool ReadSegmentBlock(TByteReader& stream, int32_t number, Segment& segment, TFilmError& error,
                      const std::shared_ptr<const void>& owner) {
  const size_t countOffset = stream.Position();
  int32_t shapeCount = 0;
  if (!ReadField(stream, number, "cursor shape count", shapeCount, error)) return false;
  if (shapeCount > 0 && uint64_t(shapeCount) * kMinShapeRecordSize > stream.Remaining())
    return FailEnded(error, int64_t(countOffset),
                Format("segment %d: %d cursor shapes (count at offset %zu) cannot fit in "
                       "the %zu bytes that remain",
                       number, shapeCount, countOffset, stream.Remaining()));
  // The shapes' images may take only so much more memory than their records fill in the
  // film; a film that asks for more is refused rather than let it exhaust the memory.
  TShapeBudget budget;
  for (int32_t i = 0; i < shapeCount; ++i) {
    const size_t at = stream.Position();
    auto shape = std::make_unique<TzrCursor>();
    shape->LoadFromStream(stream, budget);
    if (stream.Overrun())
      return FailEnded(error, int64_t(at),
                  Format("segment %d: the film ends inside cursor shape %d at offset %zu", number,
                         i + 1, at));
    if (budget.Exceeded())
      return Fail(error, TFilmErrc::Unsupported, int64_t(at),
                  Format("segment %d: cursor shape %d at offset %zu would need %lld bytes of "
                         "memory, but the segment's shapes may take %lld bytes (%lld bytes of "
                         "shape records read, %lld bytes taken by the shapes before it)",
                         number, i + 1, at, static_cast<long long>(budget.Refused()),
                         static_cast<long long>(budget.Limit()),
                         static_cast<long long>(budget.Backed()),
                         static_cast<long long>(budget.Used())));
    // Shapes past the 65,536th cannot be named by a 16-bit track index: they are read
    // over and dropped.
    segment.CursorList->Add(std::move(shape));
  }

  const size_t infoOffset = stream.Position();
  if (stream.Remaining() < kSegInfoSize)
    return FailEnded(error, int64_t(infoOffset),
                Format("segment %d: the film ends inside the segment information at offset %zu",
                       number, infoOffset));
  static_cast<TSegInfo&>(segment) =
      DecodeSegInfo(stream.Take(kSegInfoSize).subspan<0, kSegInfoSize>());

  if (!ReadSection(stream, number, "cursor track", segment.CursorDataSize, infoOffset + 4, owner,
                   segment.CursStream, error) ||
      !ReadSection(stream, number, "frame data", segment.FrameDataSize, infoOffset, owner,
                   segment.SegStream, error))
    return false;

  if (segment.BitsPerPixel == 8) {
    segment.PaletteStream = std::make_unique<TMemoryStream>();
    const size_t sizeOffset = stream.Position();
    int32_t paletteSize = 0;
    if (!ReadField(stream, number, "palette data size", paletteSize, error) ||
        !ReadSection(stream, number, "palette data", paletteSize, sizeOffset, owner,
                     *segment.PaletteStream, error))
      return false;
  }
  return true;
}

bool ReadFilm(std::span<const uint8_t> bytes, TFilm& film, TFilmError& error) {
  return ReadFilm(bytes, nullptr, film, error);
}

bool ReadFilm(std::span<const uint8_t> bytes, const std::shared_ptr<const void>& owner,
              TFilm& film, TFilmError& error, const TLastSegment& last) {
  film = TFilm{};
  TByteReader stream(bytes);
  if (!ReadSegmentList(stream, film.List, error)) return false;
  for (size_t i = 0; i < film.List.size(); ++i) {
    auto segment = std::make_unique<Segment>();
    if (!ReadSegmentBlock(stream, int32_t(i + 1), *segment, error, owner)) return false;
    film.Segments.push_back(std::move(segment));
    if (last && last(int32_t(i + 1), *film.Segments.back())) break;
  }
  return true;
}

std::vector<std::unique_ptr<Segment>> ShareSegments(const std::vector<std::unique_ptr<Segment>>& segments) {
  std::vector<std::unique_ptr<Segment>> copies;
  copies.reserve(segments.size());
  for (const auto& s : segments) {
    auto copy = std::make_unique<Segment>();
    static_cast<TSegInfo&>(*copy) = *s;
    copy->CursorList = s->CursorList;
    copy->SegStream = s->SegStream;
    copy->CursStream = s->CursStream;
    if (s->PaletteStream) copy->PaletteStream = std::make_unique<TMemoryStream>(*s->PaletteStream);
    copies.push_back(std::move(copy));
  }
  return copies;
}

int64_t TotalFrames(const std::vector<std::unique_ptr<Segment>>& segments) {
  int64_t total = 0;
  for (const auto& segment : segments) total += segment->FrameCount;
  return total;
}

bool IsExecutableFilmPath(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return false;
  return EqualNoCase(name.substr(dot), ".exe");
}

bool LocatePackage(int64_t fileSize, int32_t packageLength, TPackageSpan& span,
                   TFilmError& error) {
  if (fileSize < 4)
    return Fail(error, TFilmErrc::Corrupt, 0,
                Format("the executable film is too short (%lld bytes) to hold a package length",
                       static_cast<long long>(fileSize)));
  const int64_t lengthOffset = fileSize - 4;
  if (packageLength <= 0)
    return Fail(error, TFilmErrc::Corrupt, lengthOffset,
                Format("the package length %d at offset %lld is not positive", packageLength,
                       static_cast<long long>(lengthOffset)));
  if (packageLength > lengthOffset)
    return Fail(error, TFilmErrc::Corrupt, lengthOffset,
                Format("the package length %d at offset %lld is larger than the %lld bytes "
                       "before it",
                       packageLength, static_cast<long long>(lengthOffset),
                       static_cast<long long>(lengthOffset)));
  span.Offset = lengthOffset - packageLength;
  span.Length = packageLength;
  return true;
}

bool LocatePackage(std::span<const uint8_t> executable, TPackageSpan& span, TFilmError& error) {
  int32_t length = 0;
  if (executable.size() >= 4) length = GetI32(executable, executable.size() - 4);
  return LocatePackage(int64_t(executable.size()), length, span, error);
}

const std::error_category& FilmCategory() {
  class TFilmCategory : public std::error_category {
   public:
    const char* name() const noexcept override { return "film"; }
    std::string message(int code) const override {
      switch (TFilmErrc(code)) {
        case TFilmErrc::Ok:
          return "no error";
        case TFilmErrc::Corrupt:
          return "the film is damaged";
        case TFilmErrc::CutShort:
          return "the film is cut short";
        case TFilmErrc::NotAFilm:
          return "not a film";
        case TFilmErrc::Unsupported:
          return "not supported";
        case TFilmErrc::Io:
          return "cannot be read";
        case TFilmErrc::NoMemory:
          return "not enough memory";
      }
      return "unknown film error";
    }
  };
  static const TFilmCategory category;
  return category;
}
