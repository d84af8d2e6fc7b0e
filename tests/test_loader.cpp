// Loading films through the temporary folder, and the folder itself.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "film/FilmLoader.h"
#include "film/Messages.h"
#include "film/TempFolder.h"
#include "playback_support.h"

namespace fs = std::filesystem;

namespace {

struct TRecordingUi : IFilmLoaderUi {
  std::vector<std::string> Messages;
  std::vector<std::string> Banner;
  std::vector<size_t> GridRows;
  std::vector<int64_t> ProgressMax;
  int Waits = 0;
  std::function<void()> OnWait;

  void ShowMessage(const std::string& text) override { Messages.push_back(text); }
  void SetBannerVisible(bool visible) override { Banner.push_back(visible ? "show" : "hide"); }
  void FillSegmentsGrid(const std::vector<TSegmentListEntry>& entries) override {
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
    Loader = std::make_unique<TFilmLoader>(Core, Ui, TempDir);
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

  bool Load(const std::string& path) {
    Loader->SetFileName(path);
    return Loader->LoadFilm(path);
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

std::vector<uint8_t> Package(std::initializer_list<int> frames,
                             TCabCompression compression = TCabCompression::MsZip) {
  return MakeFilmPackage(WriteFilm(Film(frames)), compression);
}

TEST_F(TLoaderFixture, PackagesOfBothCompressionsLoad) {
  for (auto compression : {TCabCompression::None, TCabCompression::MsZip}) {
    const auto path = Write("film.zrcab", Package({10, 20, 5}, compression));
    const auto before = Read(path);
    ASSERT_TRUE(Load(path));
    EXPECT_TRUE(Loader->Loaded);
    ASSERT_EQ(Core.FSegments.size(), 3u);
    EXPECT_EQ(Core.FSegments[0]->Name, "Сегмент 1");
    EXPECT_EQ(Core.FCurSegment, 0);
    EXPECT_EQ(Ui.ProgressMax.back(), 35);
    EXPECT_EQ(Ui.GridRows.back(), 3u);
    EXPECT_EQ(Ui.Banner, (std::vector<std::string>{"show", "hide"}));
    EXPECT_EQ(Loader->PackagePath, path);
    EXPECT_FALSE(fs::exists(TempDir + "temp.zrcab"));
    EXPECT_TRUE(fs::exists(TempDir + "MyFilm.~zrflm"));
    EXPECT_EQ(Read(path), before);  // the user's film is only read
    EXPECT_TRUE(Ui.Messages.empty());
    Ui.Banner.clear();
  }
}

TEST_F(TLoaderFixture, ExecutableFilmsLoadInAnyCaseOfTheirExtension) {
  const std::vector<uint8_t> prefix(5000, 0x4D);
  for (const char* name : {"film.exe", "FILM.EXE", "Film.Exe"}) {
    const auto path = Write(name, MakeExecutableFilm(prefix, Package({2, 3})));
    ASSERT_TRUE(Load(path)) << name;
    EXPECT_EQ(Core.FSegments.size(), 2u);
    EXPECT_EQ(Loader->PackagePath, TempDir + "temp.zrcab");
    EXPECT_FALSE(fs::exists(TempDir + "temp.zrcab")) << "deleted after a good extraction";
  }
  // A package file whose name reads exe before its last extension is a package.
  const auto path = Write("film.exe.zrcab", Package({1}));
  ASSERT_TRUE(Load(path));
  EXPECT_EQ(Loader->PackagePath, path);
}

TEST_F(TLoaderFixture, ExecutableFilmPackageLengths) {
  struct Case {
    const char* name;
    std::vector<uint8_t> package;
    std::optional<int32_t> length;
    bool raises;
    size_t tempSize;  // size of the temp.zrcab left behind, when not raising
  };
  std::vector<uint8_t> thousand(1000);
  for (size_t i = 0; i < thousand.size(); ++i) thousand[i] = uint8_t(i * 7);
  const Case cases[] = {
      {"L = 1000: exactly those bytes, not a cabinet", thousand, std::nullopt, false, 1000},
      {"L = 0: an empty package", thousand, 0, false, 0},
      {"L larger than the file", thousand, 1000000, true, 0},
      {"negative L", thousand, -20, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ui.Messages.clear();
    std::error_code ec;
    fs::remove(TempDir + "temp.zrcab", ec);
    const auto path = Write("x.exe", MakeExecutableFilm(std::vector<uint8_t>(64, 0xEE), c.package, c.length));
    if (c.raises) {
      EXPECT_THROW(Load(path), EFilmLoad);
      continue;
    }
    EXPECT_FALSE(Load(path));
    ASSERT_EQ(Ui.Messages, (std::vector<std::string>{kLbMessages[3]}));
    ASSERT_TRUE(fs::exists(TempDir + "temp.zrcab"));
    EXPECT_EQ(fs::file_size(TempDir + "temp.zrcab"), c.tempSize);
    if (c.tempSize) {
      EXPECT_EQ(Read(TempDir + "temp.zrcab"), c.package);
    }
  }
}

TEST_F(TLoaderFixture, FailuresLeaveNoFilmAndTheirMessage) {
  struct Case {
    const char* name;
    std::function<std::string()> make;
    std::vector<std::string> messages;
    bool unloads = true;  // a path that names no file changes nothing but the file name
  };
  const Case cases[] = {
      {"no file at the path", [&] { return (Root / "missing.zrcab").string(); }, {}, false},
      {"a folder at the path", [&] { return (Root / "temp").string(); }, {}, false},
      {"not a cabinet", [&] { return Write("junk.zrcab", std::vector<uint8_t>(300, 'j')); },
       {kLbMessages[3]}},
      {"a cabinet without a film",
       [&] {
         return Write("other.zrcab", MakeCabinet(std::vector<TCabFile>{{"readme.txt", {'h', 'i'}}}));
       },
       {kLbMessages[3]}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Load(Write("good.zrcab", Package({3}))));
    Ui.Messages.clear();
    const auto path = c.make();
    EXPECT_FALSE(Load(path));
    EXPECT_EQ(Ui.Messages, c.messages);
    EXPECT_EQ(Core.FSegments.empty(), c.unloads);
    EXPECT_FALSE(Loader->Loaded);
    EXPECT_EQ(Loader->FileName(), path);
  }
}

TEST_F(TLoaderFixture, TheFilmNameIsFoundInAnyLetterCase) {
  const auto path = Write("lower.zrcab", MakeCabinet(std::vector<TCabFile>{{"myfilm.~zrflm", WriteFilm(Film({4}))}}));
  ASSERT_TRUE(Load(path));
  EXPECT_EQ(Core.FSegments.size(), 1u);
}

TEST_F(TLoaderFixture, AnOldFilmFileThatCannotBeDeletedStopsTheLoad) {
  const auto path = Write("film.zrcab", Package({2}));
  ASSERT_TRUE(Load(path));
  const std::string filmFile = TempDir + "MyFilm.~zrflm";
  const std::string expected = "Файл " + filmFile + " занят другим приложением или содержит атрибут \"только для чтения\".";
  // Read-only.
  ::chmod(filmFile.c_str(), 0444);
  EXPECT_FALSE(Load(path));
  EXPECT_EQ(Ui.Messages, (std::vector<std::string>{expected}));
  ::chmod(filmFile.c_str(), 0644);
  // Held by another player.
  Ui.Messages.clear();
  const int fd = ::open(filmFile.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_FALSE(Load(path));
  EXPECT_EQ(Ui.Messages, (std::vector<std::string>{expected}));
  ::close(fd);
  EXPECT_TRUE(Load(path));
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
  fs::remove(TempDir + "MyFilm.~zrflm");
  EXPECT_FALSE(Load(path));
  EXPECT_GT(Ui.Waits, 0);
  EXPECT_FALSE(fs::exists(TempDir + "MyFilm.~zrflm"));
  EXPECT_FALSE(fs::exists(TempDir + "temp.zrcab"));
  ::close(fd);
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

TEST_F(TLoaderFixture, ADamagedFilmFileRaisesAndKeepsNothing) {
  auto film = WriteFilm(Film({3, 4}));
  film.resize(film.size() - 5);
  const auto path = Write("cut.zrcab", MakeFilmPackage(film));
  try {
    Load(path);
    ADD_FAILURE() << "no exception";
  } catch (const EFilmLoad& e) {
    EXPECT_NE(std::string(e.what()).find("LoadSegmentFromStream: segment 2: the film ends inside the frame data"),
              std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(Core.FSegments.empty());
  EXPECT_EQ(Core.FCurSegment, -1);
  EXPECT_FALSE(Loader->Loaded);
  EXPECT_EQ(Ui.Banner.back(), "hide");
}

TEST_F(TLoaderFixture, AFilmWithoutSegmentsLoadsEmpty) {
  const auto path = Write("empty.zrcab", MakeFilmPackage(std::vector<uint8_t>{0, 0, 0, 0}));
  ASSERT_TRUE(Load(path));
  EXPECT_TRUE(Core.FSegments.empty());
  EXPECT_EQ(Core.FCurSegment, -1);
  EXPECT_EQ(Ui.ProgressMax.back(), 0);
  EXPECT_TRUE(Ui.GridRows.empty());
}

TEST(TempFolder, PrivateAndRefusedWhenItIsALink) {
  char pattern[] = "/tmp/zrtemp-XXXXXX";
  const std::string root = ::mkdtemp(pattern);
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old ? old : "";
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
  EXPECT_EQ(PrivateTempFolder(error), "");
  EXPECT_NE(error.find("not a folder of its own"), std::string::npos) << error;
  if (old) {
    ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_RUNTIME_DIR");
  }
  fs::remove_all(root);
}

}  // namespace
