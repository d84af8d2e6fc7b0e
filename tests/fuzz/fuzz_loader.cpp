// The whole load path of a film: a package (or an executable carrying it) given by the input,
// loaded through a run folder of its own, with what the input plants in that folder first
// (FIFOs, links, read-only leftovers, a folder named like the film file). Whatever the input,
// the load ends, the user's film and a file outside stay as they were, and the run folder is
// empty afterwards. A whole film, read into memory as it is inflated, gives the segments that
// reading the extracted film file up to its last segment gives, byte for byte.
//
// Input: one byte of flags, then the package bytes.
//   bit 0      the film is an executable: a prefix, the package and its length
//   bits 1-3   what is planted in the run folder before the load
//   bit 4      the package length of an executable is taken from the next four bytes
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "film/FilmLoader.h"
#include "film/TempFolder.h"

namespace fs = std::filesystem;

namespace {

// In memory where the system has it: the folders live on /dev/shm when it is there.
const std::string& Sandbox() {
  static const std::string root = [] {
    std::string pattern = fs::exists("/dev/shm") ? "/dev/shm/zrfuzzload-XXXXXX" : "/tmp/zrfuzzload-XXXXXX";
    const char* made = ::mkdtemp(pattern.data());
    if (!made) __builtin_trap();
    std::string path = made;
    fs::create_directory(path + "/private");
    return path;
  }();
  return root;
}

constexpr char kCanaryText[] = "not the player's to change";

struct TQuietUi : IFilmLoaderUi {
  void ShowMessage(const TLoadReport&) override {}
  void SetBannerVisible(bool) override {}
  void FillSegmentsGrid(const std::vector<TSegmentListEntry>&) override {}
  void SetProgressMax(int64_t) override {}
};

void WriteFile(const std::string& path, const void* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) __builtin_trap();
  if (size && std::fwrite(data, 1, size, f) != size) __builtin_trap();
  std::fclose(f);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
  }
  return bytes;
}

void Plant(int kind, const std::string& run, const std::string& canary) {
  const std::string package = run + TFilmLoader::kPackageName;
  const std::string film = run + kFilmFileName;
  switch (kind) {
    case 1: ::mkfifo(package.c_str(), 0600); break;
    case 2: ::link(canary.c_str(), package.c_str()); break;
    case 3: ::symlink(canary.c_str(), film.c_str()); break;
    case 4: ::mkfifo(film.c_str(), 0600); break;
    case 5:
      ::mkdir(film.c_str(), 0700);
      WriteFile(film + "/inner", "x", 1);
      ::chmod(film.c_str(), 0500);
      break;
    case 6:
      WriteFile(film, "x", 1);
      ::chmod(film.c_str(), 0444);
      break;
    case 7: ::link(canary.c_str(), film.c_str()); break;
    default: break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  std::vector<uint8_t> package(data + 1, data + size);
  const std::string root = Sandbox();
  const std::string canary = root + "/canary.txt";
  WriteFile(canary, kCanaryText, sizeof kCanaryText - 1);

  std::vector<uint8_t> filmBytes;
  std::string filmPath;
  if (flags & 1) {
    filmBytes.assign(64, 'M');
    int32_t length = int32_t(package.size());
    if ((flags & 0x10) && package.size() >= 4) {
      std::memcpy(&length, package.data(), 4);
      package.erase(package.begin(), package.begin() + 4);
    }
    filmBytes.insert(filmBytes.end(), package.begin(), package.end());
    const auto* l = reinterpret_cast<const uint8_t*>(&length);
    filmBytes.insert(filmBytes.end(), l, l + 4);
    filmPath = root + "/film.exe";
  } else {
    filmBytes = package;
    filmPath = root + "/film.zrcab";
  }
  WriteFile(filmPath, filmBytes.data(), filmBytes.size());
  ::chmod(filmPath.c_str(), 0444);

  {
    TRunFolder run(root + "/private");
    if (run.Path().empty()) __builtin_trap();
    Plant((flags >> 1) & 7, run.Path(), canary);
    // As the player reads (into memory), then through the folder up to the last segment.
    std::vector<std::unique_ptr<Segment>> read[2];
    for (int way = 0; way < 2; ++way) {
      TQuietUi ui;
      TFilmLoader loader(ui, run.Path(), run.Error());
      loader.LockWindow = std::chrono::milliseconds(0);
      loader.STCabReader.MaxExtractBytes = 64 << 20;
      if (way == 1) loader.ReadUpTo = [](int32_t, const TSegInfo&) { return false; };
      loader.SetFileName(filmPath);
      try {
        loader.LoadFilm(filmPath);
      } catch (const EFilmLoad&) {
      }
      read[way] = loader.TakeSegments();
      // Nothing extracted stays once the load is over.
      if (!fs::is_empty(run.Path())) __builtin_trap();
      if (way == 0) Plant((flags >> 1) & 7, run.Path(), canary);
    }
    if (read[0].size() != read[1].size()) __builtin_trap();
    for (size_t i = 0; i < read[0].size(); ++i) {
      const Segment& a = *read[0][i];
      const Segment& b = *read[1][i];
      const auto same = [](const TMemoryStream& x, const TMemoryStream& y) {
        return x.Size() == y.Size() && (x.Size() == 0 || std::memcmp(x.Data(), y.Data(), x.Size()) == 0);
      };
      if (a.FrameCount != b.FrameCount || a.Name != b.Name || !same(a.SegStream, b.SegStream) ||
          !same(a.CursStream, b.CursStream) || a.CursorList->Count() != b.CursorList->Count())
        __builtin_trap();
    }
  }
  // The run folder is gone, the film and the file outside are as they were.
  if (!fs::is_empty(root + "/private")) __builtin_trap();
  if (ReadFile(filmPath) != filmBytes) __builtin_trap();
  const auto canaryNow = ReadFile(canary);
  if (canaryNow.size() != sizeof kCanaryText - 1 || std::memcmp(canaryNow.data(), kCanaryText, canaryNow.size()) != 0)
    __builtin_trap();
  ::chmod(filmPath.c_str(), 0600);
  ::unlink(filmPath.c_str());
  return 0;
}
