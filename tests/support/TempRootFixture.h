// A test with a folder of its own, which is also where the programs it runs keep their
// private temporary folder and their cache ("cache" in it); removed with everything in it
// after the test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "filmwriter/FilmWriter.h"
#include "TestFilm.h"

struct TTempRootFixture : ::testing::Test {
  std::filesystem::path Root;

  void SetUp() override {
    char pattern[] = "/tmp/zrtest-XXXXXX";
    Root = ::mkdtemp(pattern);
    // The programs' private temporary folder goes under this test's own folder.
    ::setenv("XDG_RUNTIME_DIR", Root.c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (Root / "cache").c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(Root, ec);
  }

  // Writes `bytes` to the file `name` of the folder; returns its path.
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteFileBytes((Root / name).string(), bytes);
    return (Root / name).string();
  }
  // The film as a package in the file `name`; returns its path.
  std::string Package(const std::string& name, const std::vector<TWriterSegment>& segments) {
    return Write(name, MakeFilmPackage(WriteFilm(segments)));
  }
  std::string Package(const std::string& name, const TTestFilm& f) { return Write(name, MakeFilmPackage(f.Bytes)); }
  static std::vector<uint8_t> FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // The names in a folder, sorted; none when it is missing.
  static std::vector<std::string> Files(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};
