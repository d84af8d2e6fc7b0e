// How the cabinet fuzz input carries a set: the cabinet files one after another, each
// separator between two of them. Input without a separator is one cabinet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

inline constexpr std::string_view kCabinetSetSeparator = "\n--ZRNEXTCAB--\n";

inline std::vector<std::span<const uint8_t>> SplitCabinetSet(std::span<const uint8_t> input) {
  std::vector<std::span<const uint8_t>> files;
  const size_t n = kCabinetSetSeparator.size();
  size_t start = 0;
  for (size_t i = 0; i + n <= input.size();) {
    if (std::memcmp(input.data() + i, kCabinetSetSeparator.data(), n) == 0) {
      files.push_back(input.subspan(start, i - start));
      i += n;
      start = i;
    } else {
      ++i;
    }
  }
  files.push_back(input.subspan(start));
  return files;
}

inline std::vector<uint8_t> JoinCabinetSet(const std::vector<std::vector<uint8_t>>& files) {
  std::vector<uint8_t> input;
  for (size_t i = 0; i < files.size(); ++i) {
    if (i != 0) input.insert(input.end(), kCabinetSetSeparator.begin(), kCabinetSetSeparator.end());
    input.insert(input.end(), files[i].begin(), files[i].end());
  }
  return input;
}
