// A byte stream held in memory: the section streams of a segment (frame data, cursor
// track, palette data). Reads take what is there and report how much they got.
//
// The bytes are read only. A stream either owns a copy of them, or views bytes that an
// owner shared with it keeps alive (the sections of a film read in place from its file's
// mapping): a film is then held once, however many sections and copies of streams refer to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

class TMemoryStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) { Own(std::move(bytes)); }
  // A view of bytes that stay valid while `owner` lives; nothing is copied.
  TMemoryStream(std::span<const uint8_t> view, std::shared_ptr<const void> owner)
      : FOwner(std::move(owner)), FData(view.data()), FSize(view.size()) {}

  size_t Size() const { return FSize; }
  size_t Position() const { return FPos; }
  void SetPosition(size_t pos) { FPos = pos < FSize ? pos : FSize; }
  size_t Remaining() const { return FSize - FPos; }

  const uint8_t* Data() const { return FData; }
  std::span<const uint8_t> Bytes() const { return {FData, FSize}; }

  // Replaces the content with a copy of bytes; the position goes to the end, as after
  // writing it.
  void Assign(std::span<const uint8_t> bytes) {
    Own(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    FPos = FSize;
  }

  size_t Read(void* dst, size_t n) {
    const size_t got = n < Remaining() ? n : Remaining();
    if (got) std::memcpy(dst, FData + FPos, got);
    FPos += got;
    return got;
  }

 private:
  void Own(std::vector<uint8_t> bytes) {
    auto owned = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    FData = owned->data();
    FSize = owned->size();
    FOwner = std::move(owned);
    FPos = 0;
  }

  std::shared_ptr<const void> FOwner;
  const uint8_t* FData = nullptr;
  size_t FSize = 0;
  size_t FPos = 0;
};
