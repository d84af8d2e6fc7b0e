// Loading films through the temporary folder, and the folder itself.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <random>
#include <thread>

#include <sys/wait.h>

#include "film/FilmExtent.h"
#include "film/FilmLoader.h"
#include "film/TempFolder.h"
#include "playback_support.h"

namespace fs = std::filesystem;

namespace {

struct TRecordingUi : IFilmLoaderUi {
  std::vector<TLoadReport> Reports;
  std::vector<std::string> Banner;
  std::vector<size_t> GridRows;
  std::vector<int64_t> ProgressMax;
  int Waits = 0;
  std::function<void()> OnWait;

  // What the loader told, in order: "list N", "segment N" (N read so far), "message".
  std::vector<std::string> Events;
  std::function<void(int32_t)> OnArrived;

  void SegmentsArrived(int32_t read) override {
    Events.push_back("segment " + std::to_string(read));
    if (OnArrived) OnArrived(read);
  }
  void ShowMessage(const TLoadReport& report) override {
    Events.push_back("message");
    Reports.push_back(report);
    BannerUpAtMessage = BannerUpAtMessage || BannerUp;
  }
  std::vector<TLoadNotice> Notices() const {
    std::vector<TLoadNotice> notices;
    for (const auto& r : Reports) notices.push_back(r.Notice);
    return notices;
  }
  void SetBannerVisible(bool visible) override {
    Banner.push_back(visible ? "show" : "hide");
    BannerUp = visible;
  }
  bool BannerUp = false;
  bool BannerUpAtMessage = false;
  void FillSegmentsGrid(const std::vector<TSegmentListEntry>& entries) override {
    Events.push_back("list " + std::to_string(entries.size()));
    GridRows.push_back(entries.size());
  }
  void SetProgressMax(int64_t frames) override { ProgressMax.push_back(frames); }
  void Waiting() override {
    ++Waits;
    if (OnWait) OnWait();
  }
};

// A fresh folder holding a "temp" folder (the player's temporary folder) and the films.
struct TLoaderFixture : ::testing::Test {
  fs::path Root;
  std::string TempDir;
  TRecordingHost Host;
  TPlaybackCore Core{Host};
  TRecordingUi Ui;
  std::unique_ptr<TFilmLoader> Loader;

  void SetUp() override {
    char pattern[] = "/tmp/zrloader-XXXXXX";
    Root = ::mkdtemp(pattern);
    fs::create_directory(Root / "temp");
    TempDir = (Root / "temp").string() + "/";
    Host.Core = &Core;
    Loader = std::make_unique<TFilmLoader>(Ui, TempDir);
    Loader->LockWindow = std::chrono::milliseconds(400);
    Loader->LockPause = std::chrono::milliseconds(10);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(Root / "temp", fs::perms::owner_all, ec);
    for (auto& entry : fs::recursive_directory_iterator(Root, ec))
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(Root, ec);
  }

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = (Root / name).string();
    WriteFileBytes(path, bytes);
    return path;
  }

  // As a player loads: the film loaded before goes, and what the loader read is handed to
  // the playback core.
  bool Load(const std::string& path) {
    Loader->SetFileName(path);
    Core.UnloadFilm();
    const bool loaded = Loader->LoadFilm(path);
    if (loaded) Core.TakeFilm(Loader->TakeSegments());
    return loaded;
  }

  // What the run's folder holds.
  std::vector<std::string> TempFiles() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(TempDir)) names.push_back(e.path().filename().string());
    return names;
  }

  static std::vector<uint8_t> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
};

std::vector<TWriterSegment> Film(std::initializer_list<int> frames) {
  std::vector<TWriterSegment> film;
  int n = 0;
  for (int count : frames) {
    TWriterSegment s;
    s.Name = "Сегмент " + std::to_string(++n);
    s.Width = 4, s.Height = 3, s.BitsPerPixel = 32;
    for (int k = 0; k < count; ++k) s.Pictures.push_back(std::vector<uint32_t>(12, uint32_t(k * 0x10101 + n)));
    film.push_back(std::move(s));
  }
  return film;
}

// The attributes of the first file of a one-folder cabinet (CFFILE at coffFiles, attribs at
// +14).
void SetFirstFileAttributes(std::vector<uint8_t>& cab, uint16_t attribs) {
  const uint32_t files = uint32_t(cab[16]) | uint32_t(cab[17]) << 8 | uint32_t(cab[18]) << 16 | uint32_t(cab[19]) << 24;
  cab[files + 14] = uint8_t(attribs);
  cab[files + 15] = uint8_t(attribs >> 8);
}

std::vector<uint8_t> Package(std::initializer_list<int> frames,
                             TCabCompression compression = TCabCompression::MsZip) {
  return MakeFilmPackage(WriteFilm(Film(frames)), compression);
}

TEST_F(TLoaderFixture, PackagesOfBothCompressionsLoadAndLeaveNothingBehind) {
  for (auto compression : {TCabCompression::None, TCabCompression::MsZip}) {
    const auto path = Write("film.zrcab", Package({10, 20, 5}, compression));
    const auto before = Read(path);
    ASSERT_TRUE(Load(path));
    EXPECT_TRUE(Loader->Loaded);
    ASSERT_EQ(Core.Segments().size(), 3u);
    EXPECT_EQ(Core.Segments()[0]->Name, "Сегмент 1");
    EXPECT_EQ(Core.CurSegment(), 0);
    EXPECT_EQ(Ui.ProgressMax.back(), 35);
    EXPECT_EQ(Ui.GridRows.back(), 3u);
    EXPECT_EQ(Ui.Banner, (std::vector<std::string>{"show", "hide"}));
    EXPECT_EQ(Loader->PackagePath, path);
    EXPECT_EQ(Loader->ListedSegments(), 3);
    // The film is in memory: the extracted file is gone.
    EXPECT_TRUE(TempFiles().empty());
    EXPECT_EQ(Read(path), before);  // the user's film is only read
    EXPECT_TRUE(Ui.Reports.empty());
    Ui.Banner.clear();
  }
}

// The segments refer to the film file's bytes in memory: they stay whole after the file is
// deleted and the loader is gone, for a package and an executable film alike.
TEST_F(TLoaderFixture, SegmentsOutliveTheExtractedFileAndTheLoader) {
  const auto segments = Film({4, 2, 6});
  std::vector<TRawSegment> raw;
  for (const auto& s : segments) raw.push_back(EncodeSegment(s));
  const auto package = MakeFilmPackage(WriteFilm(segments));
  const std::pair<const char*, std::vector<uint8_t>> films[] = {
      {"film.zrcab", package},
      {"film.exe", MakeExecutableFilm(std::vector<uint8_t>(3000, 0x4D), package)},
  };
  for (const auto& [name, bytes] : films) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(Load(Write(name, bytes)));
    Loader = std::make_unique<TFilmLoader>(Ui, TempDir);
    EXPECT_TRUE(TempFiles().empty());
    ASSERT_EQ(Core.Segments().size(), raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
      const Segment& seg = *Core.Segments()[i];
      EXPECT_EQ(std::vector<uint8_t>(seg.SegStream.Bytes().begin(), seg.SegStream.Bytes().end()),
                raw[i].FrameData);
      EXPECT_EQ(std::vector<uint8_t>(seg.CursStream.Bytes().begin(), seg.CursStream.Bytes().end()),
                raw[i].CursorData);
    }
    // And they play: every frame of every segment, the last picture as it was recorded.
    Host.Events.clear();
    Host.Finished = 0;
    ASSERT_EQ(Core.AllocFrameBuffer(1 << 20), kResultOk);
    ASSERT_EQ(Core.SetCurSegment(), kResultOk);
    for (int tick = 0; tick < 100 && !Host.Finished; ++tick) Core.TimerPlayTimer();
    EXPECT_EQ(Host.Finished, 1);
    EXPECT_EQ(std::count_if(Host.Events.begin(), Host.Events.end(),
                            [](const std::string& e) { return e.rfind("compose", 0) == 0; }),
              12);
    uint32_t pixel = 0;
    std::memcpy(&pixel, Core.Picture()->Bits(), 4);
    EXPECT_EQ(pixel & 0xFFFFFF, segments.back().Pictures.back()[0]);
    Core.FreeFrameBuffer();
  }
}

TEST_F(TLoaderFixture, ExecutableFilmsLoadInAnyCaseOfTheirExtension) {
  const std::vector<uint8_t> prefix(5000, 0x4D);
  for (const char* name : {"film.exe", "FILM.EXE", "Film.Exe"}) {
    const auto path = Write(name, MakeExecutableFilm(prefix, Package({2, 3})));
    ASSERT_TRUE(Load(path)) << name;
    EXPECT_EQ(Core.Segments().size(), 2u);
    EXPECT_EQ(Loader->PackagePath, TempDir + "temp.zrcab");
    EXPECT_TRUE(TempFiles().empty()) << "the package copy is deleted";
  }
  // A package file whose name reads exe before its last extension is a package.
  const auto path = Write("film.exe.zrcab", Package({1}));
  ASSERT_TRUE(Load(path));
  EXPECT_EQ(Loader->PackagePath, path);
}

TEST_F(TLoaderFixture, ExecutableFilmPackageLengths) {
  struct Case {
    const char* name;
    std::optional<int32_t> length;
    bool raises;  // EFilmLoad: not a film
  };
  std::vector<uint8_t> thousand(1000);
  for (size_t i = 0; i < thousand.size(); ++i) thousand[i] = uint8_t(i * 7);
  const Case cases[] = {
      {"L = 1000: exactly those bytes, not a cabinet", std::nullopt, false},
      {"L = 0: an empty package", 0, false},
      {"L larger than the file", 1000000, true},
      {"negative L", -20, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ui.Reports.clear();
    const auto path = Write("x.exe", MakeExecutableFilm(std::vector<uint8_t>(64, 0xEE), thousand, c.length));
    if (c.raises) {
      try {
        Load(path);
        ADD_FAILURE() << "no exception";
      } catch (const EFilmLoad& e) {
        EXPECT_EQ(e.Fault, TFilmErrc::NotAFilm);
        EXPECT_EQ(e.Path, path);
      }
    } else {
      EXPECT_FALSE(Load(path));
      ASSERT_EQ(Ui.Notices(), (std::vector<TLoadNotice>{TLoadNotice::FormatNotSupported}));
      EXPECT_EQ(Ui.Reports[0].Path, path);
      EXPECT_FALSE(Ui.Reports[0].Details.empty());
    }
    EXPECT_TRUE(TempFiles().empty());
  }
}

TEST_F(TLoaderFixture, PathsThatCannotBeFilmsAreToldApart) {
  ASSERT_EQ(::mkfifo((Root / "pipe.zrcab").c_str(), 0600), 0);
  struct Case {
    const char* name;
    std::function<std::string()> make;
    std::vector<TLoadNotice> notices;
  };
  const Case cases[] = {
      {"no file at the path", [&] { return (Root / "missing.zrcab").string(); }, {TLoadNotice::NoSuchFile}},
      {"a folder at the path", [&] { return (Root / "temp").string(); }, {TLoadNotice::IsAFolder}},
      {"a FIFO at the path (never opened)", [&] { return (Root / "pipe.zrcab").string(); },
       {TLoadNotice::FormatNotSupported}},
      {"not a cabinet", [&] { return Write("junk.zrcab", std::vector<uint8_t>(300, 'j')); },
       {TLoadNotice::FormatNotSupported}},
      {"a cabinet without a film",
       [&] {
         return Write("other.zrcab", MakeCabinet(std::vector<TCabFile>{{"readme.txt", {'h', 'i'}}}));
       },
       {TLoadNotice::FormatNotSupported}},
      {"the film only inside a folder of the package",
       [&] {
         return Write("nested.zrcab", MakeCabinet(std::vector<TCabFile>{{"sub\\MyFilm.~zrflm", WriteFilm(Film({2}))}}));
       },
       {TLoadNotice::FormatNotSupported}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Load(Write("good.zrcab", Package({3}))));
    Ui.Reports.clear();
    const auto path = c.make();
    EXPECT_FALSE(Load(path));
    EXPECT_EQ(Ui.Notices(), c.notices);
    EXPECT_EQ(Ui.Reports.at(0).Path, path);
    EXPECT_TRUE(Core.Segments().empty());
    EXPECT_FALSE(Loader->Loaded);
    EXPECT_TRUE(TempFiles().empty());
  }
  // No path at all (a command line without a film): nothing, silently.
  Ui.Reports.clear();
  EXPECT_FALSE(Load(""));
  EXPECT_TRUE(Ui.Reports.empty());
}

TEST_F(TLoaderFixture, OnlyTheFilmFileIsWrittenWhateverElseThePackageHolds) {
  struct Case {
    const char* name;
    std::vector<TCabFile> files;
    int frames;  // of the film that plays
    bool toolsOnly = false;  // only a load that reads up to the segments (the player's takes all)
  };
  const auto film = [](int frames) { return WriteFilm(Film({frames})); };
  const auto padded = [](std::vector<uint8_t> film) { return film.resize(film.size() + (3 << 20)), film; };
  const Case cases[] = {
      {"lower case", {{"myfilm.~zrflm", film(4)}}, 4},
      {"the exact name wins over another case", {{"MYFILM.~ZRFLM", film(2)}, {"MyFilm.~zrflm", film(5)}}, 5},
      {"the first in another case wins over a later one", {{"MYFILM.~ZRFLM", film(2)}, {"myfilm.~ZRFLM", film(3)}}, 2},
      // "Q" becomes "m" in the package: two entries of one name.
      {"the first of the exact name wins over a later one", {{"MyFilm.~zrflm", film(4)}, {"MyFilm.~zrflQ", film(9)}}, 4},
      {"big other files are not written", {{"junk.bin", std::vector<uint8_t>(3 << 20, 'x')}, {"MyFilm.~zrflm", film(6)}}, 6},
      {"a folder named like the film file", {{"MyFilm.~zrflm\\evil", {'e'}}, {"MyFilm.~zrflm", film(7)}}, 7},
      {"a name leading outside", {{"..\\..\\escape", {'e'}}, {"MyFilm.~zrflm", film(8)}}, 8},
      {"padding after the film", {{"MyFilm.~zrflm", padded(film(6))}}, 6, true},
      {"the exact name after a padded film in another case",
       {{"MYFILM.~ZRFLM", padded(film(2))}, {"MyFilm.~zrflm", padded(film(5))}}, 5, true},
  };
  for (const auto& c : cases) {
    auto cab = MakeCabinet(c.files);
    const std::string twin = "MyFilm.~zrflQ";
    const auto at = std::search(cab.begin(), cab.end(), twin.begin(), twin.end());
    if (at != cab.end()) at[twin.size() - 1] = 'm';
    const auto path = Write("film.zrcab", cab);
    // Twice: nothing the package left may block the next load. As the player loads, and as
    // the tools do.
    for (int round = 0; round < 4; ++round) {
      const bool tool = round >= 2;
      SCOPED_TRACE(std::string(c.name) + (tool ? ", up to the last segment" : ", whole"));
      if (c.toolsOnly && !tool) continue;
      Loader->ReadUpTo = tool ? [](int32_t, const TSegInfo&) { return false; } : TLastSegment();
      Ui.Reports.clear();
      ASSERT_TRUE(Load(path));
      ASSERT_EQ(Core.Segments().size(), 1u);
      EXPECT_EQ(Core.Segments()[0]->FrameCount, c.frames);
      EXPECT_LE(Loader->STCabReader.FilesWritten(), 2u);
      EXPECT_LT(Loader->STCabReader.BytesWritten(), 1u << 20);
      EXPECT_TRUE(Ui.Reports.empty());
      EXPECT_TRUE(TempFiles().empty());
    }
  }
  EXPECT_FALSE(fs::exists(Root / "escape"));
}

TEST_F(TLoaderFixture, AReadOnlyFilmEntryPlaysAgainAndAgain) {
  auto cab = MakeFilmPackage(WriteFilm(Film({3})));
  SetFirstFileAttributes(cab, 0x01);  // read-only
  const auto path = Write("ro-entry.zrcab", cab);
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(Load(path)) << round;
    EXPECT_TRUE(Ui.Reports.empty());
  }
}

TEST_F(TLoaderFixture, FilesPlantedInTheFolderNeitherBlockNorLeak) {
  const auto outsideText = std::vector<uint8_t>{'k', 'e', 'e', 'p'};
  const auto outside = Write("outside.txt", outsideText);
  struct Case {
    const char* name;
    std::function<void()> plant;
  };
  const Case cases[] = {
      {"a FIFO as the package copy", [&] { ::mkfifo((TempDir + "temp.zrcab").c_str(), 0600); }},
      {"a hard link as the package copy", [&] { fs::create_hard_link(outside, TempDir + "temp.zrcab"); }},
      {"a symbolic link as the package copy", [&] { fs::create_symlink(outside, TempDir + "temp.zrcab"); }},
      {"a FIFO as the film file", [&] { ::mkfifo((TempDir + "MyFilm.~zrflm").c_str(), 0600); }},
      {"a hard link as the film file", [&] { fs::create_hard_link(outside, TempDir + "MyFilm.~zrflm"); }},
      {"a symbolic link as the film file", [&] { fs::create_symlink(outside, TempDir + "MyFilm.~zrflm"); }},
      {"a read-only film file", [&] {
         WriteFileBytes(TempDir + "MyFilm.~zrflm", outsideText);
         ::chmod((TempDir + "MyFilm.~zrflm").c_str(), 0444);
       }},
      {"a read-only folder named like the film file", [&] {
         fs::create_directory(TempDir + "MyFilm.~zrflm");
         WriteFileBytes(TempDir + "MyFilm.~zrflm/inner", outsideText);
         ::chmod((TempDir + "MyFilm.~zrflm").c_str(), 0555);
       }},
  };
  const auto exe = Write("film.exe", MakeExecutableFilm(std::vector<uint8_t>(100, 1), Package({2, 2})));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.plant();
    Ui.Reports.clear();
    ASSERT_TRUE(Load(exe));  // returns: a FIFO would block the copy or the extraction
    EXPECT_EQ(Core.Segments().size(), 2u);
    EXPECT_TRUE(Ui.Reports.empty());
    EXPECT_EQ(Read(outside), outsideText);
    EXPECT_TRUE(TempFiles().empty());
  }
}

TEST_F(TLoaderFixture, ALockedExecutableFilmIsWaitedForWithinTheWindow) {
  const auto path = Write("locked.exe", MakeExecutableFilm(std::vector<uint8_t>(10, 1), Package({2})));
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  // Released while the loader waits: the load goes through.
  Ui.OnWait = [&] {
    if (Ui.Waits == 3) ::flock(fd, LOCK_UN);
  };
  Loader->LockWindow = std::chrono::seconds(60);
  EXPECT_TRUE(Load(path));
  EXPECT_EQ(Ui.Waits, 3);
  // Never released: the loader gives up after the window, having extracted nothing.
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  Ui.OnWait = nullptr;
  Ui.Waits = 0;
  Loader->LockWindow = std::chrono::milliseconds(200);
  EXPECT_FALSE(Load(path));
  EXPECT_GT(Ui.Waits, 0);
  EXPECT_EQ(Ui.Notices(), (std::vector<TLoadNotice>{TLoadNotice::ExecutableLocked}));
  EXPECT_TRUE(TempFiles().empty());
  ::close(fd);
}

// A load called off (from another thread, as when the player's window closes) ends with
// ELoadCancelled at the stage it has reached, tells nothing and leaves nothing behind; the
// player's test calls off a wait for a locked executable film.
TEST_F(TLoaderFixture, ALoadCalledOffEndsAtOnceAndLeavesNothing) {
  const std::string film = Write("film.zrcab", Package({3, 4}));
  std::atomic<bool> cancel = false;
  Loader->CancelFlag = &cancel;
  for (const bool extracting : {false, true}) {
    SCOPED_TRACE(extracting ? "while the package is extracted" : "before it starts");
    cancel = !extracting;
    if (extracting) Loader->STCabReader.OnCabinetInfo = [&](auto&&...) { cancel = true; };
    EXPECT_THROW(Load(film), ELoadCancelled);
    EXPECT_TRUE(Ui.Reports.empty());
    EXPECT_FALSE(Ui.BannerUp);
    EXPECT_TRUE(TempFiles().empty());
  }
  Loader->STCabReader.OnCabinetInfo = nullptr;
  cancel = false;
  EXPECT_TRUE(Load(film));
}

// A whole film is read as it is inflated, into memory: the list, then each segment is handed
// on while the rest of the package is still to come, byte for byte as the film file holds it,
// and nothing is written into the folder. A damaged segment is told when the reading reaches
// it, after those before it; a load called off after the first segment leaves nothing.
TEST_F(TLoaderFixture, AWholeFilmIsHandedOnSegmentBySegmentAsItIsInflated) {
  std::mt19937 rng(7);
  std::vector<TWriterSegment> segments;
  for (int n = 0; n < 3; ++n) {
    TWriterSegment s = NewSegment("шум " + std::to_string(n + 1), 100, 100);
    for (int k = 0; k < 2; ++k) s.Pictures.push_back(Painted(100, 100, [&](int, int) { return uint32_t(rng()) & 0xFFFFFF; }));
    segments.push_back(std::move(s));
  }
  const auto whole = WriteFilm(segments);
  TFilm expected;
  TFilmError error;
  ASSERT_TRUE(ReadFilm(whole, expected, error));
  // The third block's frame data size made negative: damaged, not cut short.
  auto bad = whole;
  {
    const TLastSegment upToSecond = [](int32_t n, const TSegInfo&) { return n == 2; };
    TFilmExtent second(upToSecond);
    second.Feed(whole);
    const size_t info = second.End() + 4;  // no cursor shapes in the writer's blocks
    bad[info] = 0xFB, bad[info + 1] = bad[info + 2] = bad[info + 3] = 0xFF;
  }
  struct Case {
    const char* name;
    std::vector<uint8_t> film;
    TCabCompression compression;
    bool executable;
    int32_t cancelAt;  // the segment after which the load is called off; 0: never
    std::vector<std::string> events;
  };
  const std::vector<std::string> all = {"list 3", "segment 1", "segment 2", "segment 3"};
  const Case cases[] = {
      {"stored", whole, TCabCompression::None, false, 0, all},
      {"compressed", whole, TCabCompression::MsZip, false, 0, all},
      {"executable", whole, TCabCompression::MsZip, true, 0, all},
      {"damaged in segment 3", bad, TCabCompression::None, false, 0, {"list 3", "segment 1", "segment 2", "message"}},
      {"called off after segment 1", whole, TCabCompression::None, false, 1, {"list 3", "segment 1"}},
      {"executable called off after segment 1", whole, TCabCompression::None, true, 1, {"list 3", "segment 1"}},
  };
  std::atomic<bool> cancel = false;
  Loader->CancelFlag = &cancel;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto package = MakeFilmPackage(c.film, c.compression);
    const auto path = c.executable ? Write("film.exe", MakeExecutableFilm(std::vector<uint8_t>(10, 1), package))
                                   : Write("film.zrcab", package);
    Ui.Events.clear();
    Ui.Reports.clear();
    cancel = false;
    std::vector<std::unique_ptr<Segment>> taken;
    Ui.OnArrived = [&](int32_t read) {
      // Taken while the loader reads on, as a player takes them.
      for (auto& segment : Loader->TakeSegments()) taken.push_back(std::move(segment));
      EXPECT_EQ(taken.size(), size_t(read));
      if (read == 1) {
        EXPECT_LT(Loader->STCabReader.BytesWritten(), c.film.size()) << "the rest is still to be inflated";
        EXPECT_EQ(TempFiles(), c.executable ? std::vector<std::string>{"temp.zrcab"} : std::vector<std::string>{});
      }
      if (read == c.cancelAt) cancel = true;
    };
    Loader->SetFileName(path);
    if (c.cancelAt) {
      EXPECT_THROW(Loader->LoadFilm(path), ELoadCancelled);
    } else {
      ASSERT_TRUE(Loader->LoadFilm(path));
      for (auto& segment : Loader->TakeSegments()) taken.push_back(std::move(segment));
    }
    EXPECT_EQ(Ui.Events, c.events);
    for (size_t i = 0; i < taken.size(); ++i) {
      const Segment& a = *taken[i];
      const Segment& b = *expected.Segments[i];
      EXPECT_EQ(a.Name, b.Name);
      EXPECT_TRUE(std::ranges::equal(a.SegStream.Bytes(), b.SegStream.Bytes())) << "segment " << i + 1;
      EXPECT_TRUE(std::ranges::equal(a.CursStream.Bytes(), b.CursStream.Bytes())) << "segment " << i + 1;
    }
    if (!c.events.empty() && c.events.back() == "message") EXPECT_EQ(Ui.Reports.at(0).DamagedSegment, 3);
    EXPECT_TRUE(TempFiles().empty());
  }
}

TEST_F(TLoaderFixture, ReadOnlyFilmsLoadAndStayAsTheyWere) {
  const auto path = Write("ro.zrcab", Package({5}));
  ::chmod(path.c_str(), 0444);
  struct stat before {};
  ::stat(path.c_str(), &before);
  ASSERT_TRUE(Load(path));
  struct stat after {};
  ::stat(path.c_str(), &after);
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_size, before.st_size);
}

TEST_F(TLoaderFixture, DamagedFilmsKeepEveryCompleteSegment) {
  const auto whole = WriteFilm(Film({3, 4, 5}));
  struct Case {
    const char* name;
    size_t keep;              // bytes of the film file kept
    int32_t playable;         // -1: raises
    TFilmErrc fault;
  };
  const size_t listEnd = 4 + 3 * kSegmentListEntrySize;
  const Case cases[] = {
      {"cut in the last segment", whole.size() - 5, 2, TFilmErrc::CutShort},
      {"cut right after the first segment", 0, 1, TFilmErrc::CutShort},  // filled in below
      {"cut inside the first segment", listEnd + 40, -1, TFilmErrc::CutShort},
      {"cut inside the list", 100, -1, TFilmErrc::CutShort},
  };
  // Where blocks end: films of the same first segments have the same blocks.
  const size_t firstBlockEnd = listEnd + (WriteFilm(Film({3})).size() - (4 + kSegmentListEntrySize));
  const size_t secondBlockEnd = listEnd + (WriteFilm(Film({3, 4})).size() - (4 + 2 * kSegmentListEntrySize));
  for (auto c : cases) {
    SCOPED_TRACE(c.name);
    if (c.keep == 0) c.keep = firstBlockEnd;
    std::vector<uint8_t> film(whole.begin(), whole.begin() + ptrdiff_t(c.keep));
    const auto path = Write("damaged.zrcab", MakeFilmPackage(film));
    Ui.Reports.clear();
    if (c.playable < 0) {
      try {
        Load(path);
        ADD_FAILURE() << "no exception";
      } catch (const EFilmLoad& e) {
        EXPECT_EQ(e.Fault, c.fault);
        EXPECT_EQ(e.Path, path);
      }
      EXPECT_TRUE(Core.Segments().empty());
      EXPECT_EQ(Core.CurSegment(), -1);
      EXPECT_FALSE(Loader->Loaded);
    } else {
      ASSERT_TRUE(Load(path));
      EXPECT_TRUE(Loader->Loaded);
      ASSERT_EQ(Core.Segments().size(), size_t(c.playable));
      EXPECT_EQ(Core.CurSegment(), 0);
      ASSERT_EQ(Ui.Notices(), (std::vector<TLoadNotice>{TLoadNotice::DamagedInPart}));
      const TLoadReport& r = Ui.Reports[0];
      EXPECT_EQ(r.DamagedSegment, c.playable + 1);
      EXPECT_EQ(r.Playable, c.playable);
      EXPECT_EQ(r.Total, 3);
      EXPECT_EQ(r.Fault, c.fault);
      EXPECT_NE(r.Details.find("segment " + std::to_string(c.playable + 1)), std::string::npos) << r.Details;
      EXPECT_EQ(Ui.ProgressMax.back(), c.playable == 2 ? 7 : 3);
      EXPECT_FALSE(Ui.BannerUpAtMessage) << "the banner is gone before the notice";
    }
    EXPECT_EQ(Ui.Banner.back(), "hide");
    EXPECT_TRUE(TempFiles().empty());
  }
  // A third block whose bytes contradict the format (not cut short): damaged.
  std::vector<uint8_t> bad(whole.begin(), whole.begin() + ptrdiff_t(secondBlockEnd));
  bad.insert(bad.end(), 4, 0);  // no cursor shapes
  std::vector<uint8_t> info(kSegInfoSize, 0);
  info[0] = 0xFB, info[1] = info[2] = info[3] = 0xFF;  // frame data size -5
  bad.insert(bad.end(), info.begin(), info.end());
  Ui.Reports.clear();
  ASSERT_TRUE(Load(Write("bad.zrcab", MakeFilmPackage(bad))));
  EXPECT_EQ(Core.Segments().size(), 2u);
  ASSERT_EQ(Ui.Reports.size(), 1u);
  EXPECT_EQ(Ui.Reports[0].Fault, TFilmErrc::Corrupt);
  EXPECT_EQ(Ui.Reports[0].DamagedSegment, 3);
}

TEST_F(TLoaderFixture, APackageCutShortPlaysTheSegmentsItStillHolds) {
  // Segments of different pictures, so that compression cannot shrink them away; stored
  // blocks keep the arithmetic of what survives a cut simple.
  std::vector<TWriterSegment> segments;
  for (int n = 0; n < 3; ++n) {
    TWriterSegment s;
    s.Name = "Часть " + std::to_string(n + 1);
    s.Width = 64, s.Height = 64, s.BitsPerPixel = 32;
    for (int k = 0; k < 4; ++k) {
      std::vector<uint32_t> p(64 * 64);
      for (size_t i = 0; i < p.size(); ++i) p[i] = uint32_t((i * 2654435761u + k * 97 + n) & 0xFFFFFF);
      s.Pictures.push_back(std::move(p));
    }
    segments.push_back(std::move(s));
  }
  const auto film = WriteFilm(segments);
  const auto cab = MakeFilmPackage(film, TCabCompression::None);
  struct Case {
    const char* name;
    size_t keep;
    int32_t playable;  // -1: raises as cut short; 0: not a cabinet any more
    int32_t upTo = 0;  // the last segment read (as the tools read); 0: the whole film
  };
  const Case cases[] = {
      {"whole", cab.size(), 3},
      {"cut in the last segment", cab.size() - 100, 2},
      {"cut in the first segment", cab.size() / 5, -1},
      {"cut in the cabinet's header", 30, 0},
      // Read no further than the cut, a film is as good as whole.
      {"cut in the last segment, read up to the one before", cab.size() - 100, 2, 2},
      {"cut in the first segment, read up to it", cab.size() / 5, -1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = Write("cut.zrcab", std::vector<uint8_t>(cab.begin(), cab.begin() + ptrdiff_t(c.keep)));
    Ui.Reports.clear();
    Loader->ReadUpTo = c.upTo ? TLastSegment([&c](int32_t n, const TSegInfo&) { return n == c.upTo; }) : TLastSegment();
    if (c.playable < 0) {
      try {
        Load(path);
        ADD_FAILURE() << "no exception";
      } catch (const EFilmLoad& e) {
        EXPECT_EQ(e.Fault, TFilmErrc::CutShort) << e.what();
        EXPECT_NE(std::string(e.what()).find("Cabinet file is corrupt"), std::string::npos) << e.what();
      }
    } else if (c.playable == 0) {
      EXPECT_FALSE(Load(path));
      EXPECT_EQ(Ui.Notices(), (std::vector<TLoadNotice>{TLoadNotice::FormatNotSupported}));
    } else {
      ASSERT_TRUE(Load(path));
      EXPECT_EQ(Core.Segments().size(), size_t(c.playable));
      if (c.playable < 3 && c.playable != c.upTo) {
        ASSERT_EQ(Ui.Notices(), (std::vector<TLoadNotice>{TLoadNotice::DamagedInPart}));
        EXPECT_EQ(Ui.Reports[0].Fault, TFilmErrc::CutShort);
        EXPECT_EQ(Ui.Reports[0].Playable, c.playable);
      } else {
        EXPECT_TRUE(Ui.Reports.empty());
      }
    }
    EXPECT_TRUE(TempFiles().empty());
  }
}

// A limit on how much of the film file is read: the segments wanted must end within it, else
// the load raises as unsupported once that much is out, and nothing stays in the folder.
TEST_F(TLoaderFixture, ReadingStopsAtItsLimit) {
  // Three segments of about 50 KB each: more than one block of the package each.
  std::mt19937 rng(5);
  std::vector<TWriterSegment> segments;
  for (int n = 0; n < 3; ++n) {
    TWriterSegment s = NewSegment("noise", 100, 100);
    s.Pictures.push_back(Painted(100, 100, [&](int, int) { return uint32_t(rng()) & 0xFFFFFF; }));
    segments.push_back(std::move(s));
  }
  const auto path = Write("noise.zrcab", MakeFilmPackage(WriteFilm(segments), TCabCompression::None));
  struct Case {
    uint64_t limit;
    int32_t upTo;
    int32_t loaded;  // 0: raises
  };
  const Case cases[] = {{64 << 10, 1, 1}, {64 << 10, 2, 0}, {100, 1, 0}, {1 << 20, 3, 3}, {0, 3, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.limit) + " bytes, up to segment " + std::to_string(c.upTo));
    Loader->ReadUpTo = [&c](int32_t n, const TSegInfo&) { return n == c.upTo; };
    Loader->ReadLimit = c.limit;
    if (c.loaded) {
      ASSERT_TRUE(Load(path));
      EXPECT_EQ(Core.Segments().size(), size_t(c.loaded));
    } else {
      try {
        Load(path);
        ADD_FAILURE() << "no exception";
      } catch (const EFilmLoad& e) {
        EXPECT_EQ(e.Fault, TFilmErrc::Unsupported);
        EXPECT_EQ(std::string(e.what()), "LoadFromFile: the segments wanted end beyond the first " +
                                             std::to_string(c.limit) + " bytes of the film file");
      }
    }
    EXPECT_TRUE(TempFiles().empty());
  }
}

TEST_F(TLoaderFixture, AFilmWithoutSegmentsLoadsEmpty) {
  const auto path = Write("empty.zrcab", MakeFilmPackage(std::vector<uint8_t>{0, 0, 0, 0}));
  ASSERT_TRUE(Load(path));
  EXPECT_TRUE(Core.Segments().empty());
  EXPECT_EQ(Core.CurSegment(), -1);
  EXPECT_EQ(Ui.ProgressMax.back(), 0);
  EXPECT_TRUE(Ui.GridRows.empty());
}

TEST_F(TLoaderFixture, WithoutATemporaryFolderNothingLoadsAndTheUserIsTold) {
  TFilmLoader loader(Ui, "", "cannot create a folder in the temporary folder /x/: Permission denied");
  const auto path = Write("film.zrcab", Package({2}));
  loader.SetFileName(path);
  EXPECT_FALSE(loader.LoadFilm(path));
  ASSERT_EQ(Ui.Notices(), (std::vector<TLoadNotice>{TLoadNotice::TemporaryFolder}));
  EXPECT_NE(Ui.Reports[0].Details.find("Permission denied"), std::string::npos);
}

TEST_F(TLoaderFixture, AFullTemporaryFolderIsNotAnUnsupportedFormat) {
  Loader->STCabReader.MaxExtractBytes = 100;  // stands for a full disk: EDQUOT on writing
  const auto path = Write("film.zrcab", Package({20}));
  EXPECT_FALSE(Load(path));
  ASSERT_EQ(Ui.Notices(), (std::vector<TLoadNotice>{TLoadNotice::TemporaryFolder}));
  EXPECT_EQ(Ui.Reports[0].Path, TempDir);
  EXPECT_TRUE(TempFiles().empty());
}

// ---- The temporary folders ----

struct TTempFolderFixture : ::testing::Test {
  std::string Root;
  std::string Private;
  void SetUp() override {
    char pattern[] = "/tmp/zrtemp-XXXXXX";
    Root = ::mkdtemp(pattern);
    Private = Root + "/private/";
    fs::create_directory(Private);
    ::chmod(Private.c_str(), 0700);
  }
  void TearDown() override {
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(Root, ec))
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(Root, ec);
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Private)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(TTempFolderFixture, EveryRunHasAFolderOfItsOwnRemovedAtItsEnd) {
  std::string first, second;
  {
    TRunFolder a(Private), b(Private);
    first = a.Path();
    second = b.Path();
    ASSERT_FALSE(first.empty()) << a.Error();
    ASSERT_FALSE(second.empty()) << b.Error();
    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind(Private + "run-", 0), 0u);
    struct stat st {};
    ASSERT_EQ(::lstat(first.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A run that is alive keeps its folder when another starts.
    WriteFileBytes(first + "MyFilm.~zrflm", std::vector<uint8_t>{1});
    TRunFolder c(Private);
    EXPECT_TRUE(fs::exists(first + "MyFilm.~zrflm"));
    // Read-only files and folders inside go too.
    fs::create_directory(second + "ro");
    WriteFileBytes(second + "ro/f", std::vector<uint8_t>{1});
    ::chmod((second + "ro/f").c_str(), 0444);
    ::chmod((second + "ro").c_str(), 0555);
  }
  EXPECT_TRUE(Entries().empty());
}

TEST_F(TTempFolderFixture, FoldersOfEndedRunsAreRemovedByTheNextRun) {
  // An ended run: a folder nobody holds a lock on, with what a crash left in it.
  fs::create_directory(Private + "run-crashd");
  WriteFileBytes(Private + "run-crashd/MyFilm.~zrflm", std::vector<uint8_t>(100, 1));
  ::chmod((Private + "run-crashd/MyFilm.~zrflm").c_str(), 0444);
  // A run that is alive: its folder is locked.
  fs::create_directory(Private + "run-alive0");
  const int alive = ::open((Private + "run-alive0").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(::flock(alive, LOCK_EX | LOCK_NB), 0);
  // Other things in the private folder are not the runs' to remove, but what earlier versions
  // left there is, unless a program holds it.
  WriteFileBytes(Private + "other", std::vector<uint8_t>{1});
  WriteFileBytes(Private + "MyFilm.~zrflm", std::vector<uint8_t>(10, 1));
  WriteFileBytes(Private + "temp.zrcab", std::vector<uint8_t>(10, 1));
  const int held = ::open((Private + "temp.zrcab").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  // A link named like a run folder is removed as a name, never followed.
  fs::create_directory(Root + "/target");
  WriteFileBytes(Root + "/target/keep", std::vector<uint8_t>{1});
  fs::create_directory_symlink(Root + "/target", Private + "run-link00");
  {
    TRunFolder run(Private);
    ASSERT_FALSE(run.Path().empty()) << run.Error();
    const auto entries = Entries();
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "run-crashd"), 0);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "run-alive0"), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "other"), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "MyFilm.~zrflm"), 0);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "temp.zrcab"), 1);
  }
  ::close(held);
  EXPECT_TRUE(fs::exists(Root + "/target/keep"));
  ::close(alive);
}

TEST_F(TTempFolderFixture, ParallelRunsInSeparateProcessesNeverShareAFilm) {
  // Films that differ in their frame counts; each process loads its own many times over.
  std::vector<std::string> films;
  for (int i = 0; i < 4; ++i) {
    films.push_back(Root + "/film" + std::to_string(i) + ".zrcab");
    WriteFileBytes(films.back(), Package({i + 1, 2 * i + 3}));
  }
  constexpr int kRounds = 15;
  std::vector<pid_t> children;
  for (int i = 0; i < int(films.size()); ++i) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 0;
      for (int round = 0; round < kRounds && status == 0; ++round) {
        TRunFolder run(Private);
        TRecordingHost host;
        TPlaybackCore core(host);
        TRecordingUi ui;
        TFilmLoader loader(ui, run.Path(), run.Error());
        loader.SetFileName(films[size_t(i)]);
        bool ok = false;
        try {
          ok = loader.LoadFilm(films[size_t(i)]);
          core.TakeFilm(loader.TakeSegments());
        } catch (...) {
        }
        if (!ok || core.Segments().size() != 2 || core.Segments()[0]->FrameCount != i + 1 ||
            core.Segments()[1]->FrameCount != 2 * i + 3 || !ui.Reports.empty())
          status = 10 + i;
      }
      ::_exit(status);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  }
  EXPECT_TRUE(Entries().empty()) << "every run removed its folder";
}

TEST_F(TTempFolderFixture, AFolderThatCannotBeWrittenIsNamed) {
  // Not a folder at all.
  const std::string file = Root + "/file";
  WriteFileBytes(file, std::vector<uint8_t>{1});
  TRunFolder onFile(file);
  EXPECT_TRUE(onFile.Path().empty());
  EXPECT_NE(onFile.Error().find(file), std::string::npos) << onFile.Error();
  // Not writable (only where the rights are checked at all).
  ::chmod(Private.c_str(), 0500);
  if (::access(Private.c_str(), W_OK) == 0) GTEST_SKIP() << "running with rights to write anywhere";
  TRunFolder run(Private);
  EXPECT_TRUE(run.Path().empty());
  EXPECT_NE(run.Error().find(Private), std::string::npos) << run.Error();
  EXPECT_NE(run.Error().find("Permission denied"), std::string::npos) << run.Error();
}

TEST(TempFolder, PrivateAbsoluteAndRefusedWhenItIsALink) {
  char pattern[] = "/tmp/zrtemp-XXXXXX";
  const std::string root = ::mkdtemp(pattern);
  auto save = [](const char* name) {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
  };
  const auto oldRuntime = save("XDG_RUNTIME_DIR"), oldTmp = save("TMPDIR");
  ::setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
  std::string error;
  const std::string folder = PrivateTempFolder(error);
  EXPECT_EQ(folder, root + "/veRirove/") << error;
  struct stat st {};
  ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A link in its place is refused.
  fs::remove(root + "/veRirove");
  fs::create_directory(root + "/elsewhere");
  fs::create_directory_symlink(root + "/elsewhere", root + "/veRirove");
  ::setenv("TMPDIR", root.c_str(), 1);
  // ... and the system's temporary folder is used instead; refused there too, nothing is left.
  EXPECT_EQ(PrivateTempFolder(error), root + "/veRirove-" + std::to_string(::geteuid()) + "/");
  fs::remove(root + "/veRirove-" + std::to_string(::geteuid()));
  fs::create_directory_symlink(root + "/elsewhere", root + "/veRirove-" + std::to_string(::geteuid()));
  EXPECT_EQ(PrivateTempFolder(error), "");
  EXPECT_NE(error.find("not a folder of its own"), std::string::npos) << error;
  EXPECT_NE(error.find(root + "/veRirove "), std::string::npos) << "names the first choice: " << error;
  // Relative folders in the environment are ignored: never a folder relative to where the
  // program happens to run.
  ::setenv("XDG_RUNTIME_DIR", "relative/run", 1);
  ::setenv("TMPDIR", "relative/tmp", 1);
  const std::string fallback = PrivateTempFolder(error);
  EXPECT_EQ(fallback, "/tmp/veRirove-" + std::to_string(::geteuid()) + "/") << error;
  for (auto [name, value] : {std::pair{"XDG_RUNTIME_DIR", oldRuntime}, std::pair{"TMPDIR", oldTmp}}) {
    if (value)
      ::setenv(name, value->c_str(), 1);
    else
      ::unsetenv(name);
  }
  fs::remove_all(root);
}

}  // namespace
