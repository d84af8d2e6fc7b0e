// The zrfilm tool, run in-process on films made by the writer and on the demo film.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/PngWriter.h"
#include "cli/ZrFilmTool.h"
#include "filmwriter/DemoFilm.h"
#include "filmwriter/FilmWriter.h"

#ifndef VERIROVE_ZRFILM
#error "VERIROVE_ZRFILM must name the zrfilm program"
#endif
#ifndef VERIROVE_DEMO_FILM
#error "VERIROVE_DEMO_FILM must name the demo film the build makes"
#endif

namespace fs = std::filesystem;

namespace {

// One application for the whole run, for the tests that read pictures.
void GuiApplication() {
  static int argc = 1;
  static char name[] = "test_zrfilm";
  static char* argv[] = {name, nullptr};
  static QGuiApplication app(argc, argv);
}

struct TRun {
  int Status = -1;
  std::string Out, Err;
};

TRun Zrfilm(std::vector<std::string> args) {
  std::ostringstream out, err;
  TRun run;
  run.Status = RunZrFilm(args, out, err);
  run.Out = out.str();
  run.Err = err.str();
  return run;
}

struct TZrfilmFixture : ::testing::Test {
  fs::path Root;

  void SetUp() override {
    char pattern[] = "/tmp/zrfilm-XXXXXX";
    Root = ::mkdtemp(pattern);
    // The tool's private temporary folder goes under this test's own folder.
    ::setenv("XDG_RUNTIME_DIR", Root.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(Root, ec);
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteFileBytes((Root / name).string(), bytes);
    return (Root / name).string();
  }
  std::vector<std::string> Files(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

std::vector<TWriterSegment> SmallFilm() {
  std::vector<TWriterSegment> film(2);
  film[0].Name = "Первый\x1b[31m";
  film[0].Width = 3, film[0].Height = 2, film[0].BitsPerPixel = 24, film[0].FrameRate = 4;
  film[0].Pictures = {std::vector<uint32_t>(6, 0x00112233), std::vector<uint32_t>(6, 0x00445566)};
  film[1].Name = "Second";
  film[1].Width = 2, film[1].Height = 2, film[1].BitsPerPixel = 8, film[1].FrameRate = 0;
  film[1].Pictures = {std::vector<uint32_t>(4, 1), std::vector<uint32_t>(4, 2), std::vector<uint32_t>(4, 1)};
  film[1].PaletteChanges = {{1, {{0x10, 0x20, 0x30, 0}, {0x40, 0x50, 0x60, 0}}}};
  return film;
}

TEST_F(TZrfilmFixture, InfoListsSegmentsAndTotals) {
  const auto film = Write("small.zrcab", MakeFilmPackage(WriteFilm(SmallFilm())));
  const auto run = Zrfilm({"info", film});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out,
            "1\tПервый?[31m\t00:00:00.500\t3x2\t24 bits\t2 frames\t4 fps\t0 cursor shapes\n"
            "2\tSecond\t-\t2x2\t8 bits\t3 frames\t0 fps\t0 cursor shapes\n"
            "total\t2 segments\t00:00:00.500\t5 frames\n");
}

TEST_F(TZrfilmFixture, FramesWritesEveryComposedPicture) {
  const auto film = Write("small.exe", MakeExecutableFilm(std::vector<uint8_t>(99, 0), MakeFilmPackage(WriteFilm(SmallFilm()))));
  const auto run = Zrfilm({"frames", film, (Root / "all").string()});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(Files(Root / "all"), (std::vector<std::string>{"001-00000.png", "001-00001.png", "002-00000.png",
                                                           "002-00001.png", "002-00002.png"}));
  QImage first((Root / "all" / "001-00001.png").c_str());
  ASSERT_FALSE(first.isNull());
  EXPECT_EQ(first.size(), QSize(3, 2));
  EXPECT_EQ(first.pixel(2, 1) & 0xFFFFFF, 0x445566u);
  QImage eight((Root / "all" / "002-00001.png").c_str());
  EXPECT_EQ(eight.pixel(0, 0) & 0xFFFFFF, 0x605040u);  // entry 2: blue 0x40, green 0x50, red 0x60

  const auto one = Zrfilm({"frames", film, (Root / "two").string(), "--segment", "2"});
  ASSERT_EQ(one.Status, 0) << one.Err;
  EXPECT_EQ(Files(Root / "two"), (std::vector<std::string>{"002-00000.png", "002-00001.png", "002-00002.png"}));
}

TEST_F(TZrfilmFixture, FilmsWithoutSegmentsWriteNothingAndSaySo) {
  const auto film = Write("empty.zrcab", MakeFilmPackage(std::vector<uint8_t>{0, 0, 0, 0}));
  const auto run = Zrfilm({"frames", film, (Root / "none").string()});
  EXPECT_EQ(run.Status, 1) << run.Err;
  EXPECT_NE(run.Err.find("the film has no segments"), std::string::npos) << run.Err;
  EXPECT_FALSE(fs::exists(Root / "none") && !fs::is_empty(Root / "none"));
  const auto info = Zrfilm({"info", film});
  EXPECT_EQ(info.Status, 0) << info.Err;
  EXPECT_EQ(info.Out, "total\t0 segments\t00:00:00.000\t0 frames\n");
}

// The total is the sum of the segments as they are listed, rounded the same way: 62.5 ms a
// segment is 62 (half to even), so three make 186, not 189 or 188.
TEST_F(TZrfilmFixture, TheTotalAddsTheListedDurations) {
  std::vector<TWriterSegment> film(3);
  for (auto& s : film) {
    s.Name = "s";
    s.Width = 1, s.Height = 1, s.BitsPerPixel = 32, s.FrameRate = 16;
    s.Pictures = {std::vector<uint32_t>(1, 5)};
  }
  film[2].FrameRate = 0;  // no duration: counts nothing
  const auto run = Zrfilm({"info", Write("short.zrcab", MakeFilmPackage(WriteFilm(film)))});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Out.find("1\ts\t00:00:00.062\t"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("3\ts\t-\t"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("total\t3 segments\t00:00:00.124\t3 frames\n"), std::string::npos) << run.Out;
}

// The segment after the one asked for cannot be shown (16 bits per pixel): it is never
// activated, so the pictures of the segment asked for are all there is to it.
TEST_F(TZrfilmFixture, OneSegmentIsWrittenWhateverFollowsIt) {
  auto raw = std::vector<TRawSegment>{EncodeSegment(SmallFilm()[0]), EncodeSegment(SmallFilm()[0])};
  raw[1].BitsPerPixel = 16;
  const auto film = Write("then16.zrcab", MakeFilmPackage(WriteFilmRaw(raw)));
  const auto one = Zrfilm({"frames", film, (Root / "one").string(), "--segment", "1"});
  EXPECT_EQ(one.Status, 0) << one.Err;
  EXPECT_EQ(Files(Root / "one"), (std::vector<std::string>{"001-00000.png", "001-00001.png"}));
  // Played through, the second segment is the failure it is.
  const auto all = Zrfilm({"frames", film, (Root / "all").string()});
  EXPECT_EQ(all.Status, 1);
  EXPECT_NE(all.Err.find("segment 2: 16 bits per pixel cannot be played"), std::string::npos) << all.Err;
}

TEST_F(TZrfilmFixture, CountsOfOneAreSingular) {
  std::vector<TWriterSegment> film(1);
  film[0].Name = "One";
  film[0].Width = 2, film[0].Height = 1, film[0].BitsPerPixel = 32, film[0].FrameRate = 1;
  film[0].Pictures = {std::vector<uint32_t>(2, 7)};
  TWriterShape arrow;
  arrow.AndMask.assign(32 * 32, 1);
  arrow.XorMask.assign(32 * 32, 0);
  film[0].Shapes = {arrow};
  film[0].Track = {{0, 0, 0}};
  const auto run = Zrfilm({"info", Write("one.zrcab", MakeFilmPackage(WriteFilm(film)))});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out,
            "1\tOne\t00:00:01.000\t2x1\t32 bits\t1 frame\t1 fps\t1 cursor shape\n"
            "total\t1 segment\t00:00:01.000\t1 frame\n");
}

TEST_F(TZrfilmFixture, FramesNeverMixesOldPicturesWithNew) {
  const auto film = Write("small.zrcab", MakeFilmPackage(WriteFilm(SmallFilm())));
  const auto out = Root / "out";
  fs::create_directory(out);
  WriteFileBytes((out / "old.png").string(), std::vector<uint8_t>{1});
  const auto refused = Zrfilm({"frames", film, out.string()});
  EXPECT_EQ(refused.Status, 1);
  EXPECT_NE(refused.Err.find("zrfilm: " + out.string() + ": the folder is not empty (give --force"),
            std::string::npos)
      << refused.Err;
  EXPECT_EQ(Files(out), (std::vector<std::string>{"old.png"}));
  const auto forced = Zrfilm({"frames", "--force", film, out.string()});
  EXPECT_EQ(forced.Status, 0) << forced.Err;
  EXPECT_EQ(Files(out).size(), 6u);
  // A file where the folder should be.
  const auto file = Write("file", std::vector<uint8_t>{1});
  EXPECT_NE(Zrfilm({"frames", film, file}).Err.find(file + ": not a folder"), std::string::npos);
}

TEST_F(TZrfilmFixture, DamagedFilmsGiveWhatCanBeReadAndFail) {
  // The second segment is cut short: the first one is listed and written.
  auto bytes = WriteFilm(SmallFilm());
  bytes.resize(bytes.size() - 3);
  const auto film = Write("cut.zrcab", MakeFilmPackage(bytes));
  const auto info = Zrfilm({"info", film});
  EXPECT_EQ(info.Status, 1);
  EXPECT_EQ(info.Out, "1\tПервый?[31m\t00:00:00.500\t3x2\t24 bits\t2 frames\t4 fps\t0 cursor shapes\n"
                      "total\t1 segment\t00:00:00.500\t2 frames\n");
  EXPECT_NE(info.Err.find("zrfilm: " + film + ": the film is cut short (an incomplete copy or download): "
                          "segment 2 cannot be read; the first 1 segment of 2 can be played"),
            std::string::npos)
      << info.Err;
  const auto frames = Zrfilm({"frames", film, (Root / "cut").string()});
  EXPECT_EQ(frames.Status, 1);
  EXPECT_EQ(Files(Root / "cut"), (std::vector<std::string>{"001-00000.png", "001-00001.png"}));
  // Only segment 1 asked for: it is whole, so the run succeeds.
  EXPECT_EQ(Zrfilm({"frames", film, (Root / "one").string(), "--segment", "1"}).Status, 0);
}

TEST_F(TZrfilmFixture, ExtractNamesEverySkippedEntryAndFails) {
  const auto cab = MakeCabinet(std::vector<TCabFile>{{"MyFilm.~zrflm", WriteFilm(SmallFilm())},
                                                     {"..\\evil.txt", {'e'}},
                                                     {"/etc/evil", {'e'}}});
  const auto run = Zrfilm({"extract", Write("hostile.zrcab", cab), (Root / "x").string()});
  EXPECT_EQ(run.Status, 1);
  EXPECT_TRUE(fs::exists(Root / "x" / "MyFilm.~zrflm"));
  EXPECT_NE(run.Err.find("skipped \"..\\evil.txt\": the name leads outside the folder"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("skipped \"\\etc\\evil\""), std::string::npos) << run.Err;
  EXPECT_FALSE(fs::exists(Root / "evil.txt"));
}

TEST_F(TZrfilmFixture, ExtractWritesThePackagesFiles) {
  const auto cab = MakeCabinet(std::vector<TCabFile>{{"MyFilm.~zrflm", WriteFilm(SmallFilm())},
                                                     {"notes\\readme.txt", {'o', 'k'}}});
  for (const char* name : {"pack.zrcab", "pack.exe"}) {
    const auto film = Write(name, std::string(name).ends_with(".exe") ? MakeExecutableFilm({}, cab) : cab);
    const auto out = Root / (std::string("out-") + name);
    const auto run = Zrfilm({"extract", film, out.string()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(fs::exists(out / "MyFilm.~zrflm")) << name;
    EXPECT_TRUE(fs::exists(out / "notes" / "readme.txt")) << name;
  }
}

TEST_F(TZrfilmFixture, ErrorsNameTheFileAndUsageErrorsShowTheUsage) {
  const auto junk = Write("junk.zrcab", std::vector<uint8_t>(100, 'x'));
  const auto missing = (Root / "missing.zrcab").string();
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // a part of standard error
  };
  const Case cases[] = {
      {{}, 2, "usage: zrfilm info FILM"},
      {{"play", junk}, 2, "zrfilm: unknown command play"},
      {{"info"}, 2, "info takes one film"},
      {{"frames", junk, "d", "--segment", "0"}, 2, "--segment wants a segment number from 1"},
      {{"frames", junk, "d", "--segment", "x1"}, 2, "--segment wants a segment number"},
      {{"frames", junk, "d", "--fast"}, 2, "unknown option --fast"},
      {{"info", missing}, 1, "zrfilm: " + missing + ": no such film file"},
      {{"info", Root.string()}, 1, "zrfilm: " + Root.string() + ": a folder, not a film"},
      {{"frames", Root.string(), "d"}, 1, "zrfilm: " + Root.string() + ": a folder, not a film"},
      {{"info", junk}, 1, "zrfilm: " + junk + ": this file format is not supported: " + junk +
                              ": Cabinet file does not have the correct format [0x0002]"},
      {{"info", "-x"}, 2, "unknown option -x"},
      {{"extract", junk, (Root / "x").string()}, 1,
       "zrfilm: " + junk + ": Cabinet file does not have the correct format [0x0002]"},
  };
  for (const auto& c : cases) {
    const auto run = Zrfilm(c.args);
    EXPECT_EQ(run.Status, c.status) << c.err;
    EXPECT_NE(run.Err.find(c.err), std::string::npos) << "got: " << run.Err;
  }
  const auto help = Zrfilm({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("usage: zrfilm info FILM"), std::string::npos);
  const auto frames = Zrfilm({"frames", Write("s.zrcab", MakeFilmPackage(WriteFilm(SmallFilm()))),
                              (Root / "f").string(), "--segment", "3"});
  EXPECT_EQ(frames.Status, 1);
  EXPECT_NE(frames.Err.find("there is no segment 3 (the film has 2 readable segments)"), std::string::npos)
      << frames.Err;
}

// Many zrfilm processes at once, as a script or a job runner starts them: each writes the
// pictures of its own film, never another's.
TEST_F(TZrfilmFixture, ParallelRunsInSeparateProcessesWriteTheirOwnFilm) {
  constexpr int kFilms = 4;
  constexpr int kRounds = 6;
  std::vector<std::string> films;
  for (int i = 0; i < kFilms; ++i) {
    std::vector<TWriterSegment> film(1);
    film[0].Name = "f" + std::to_string(i);
    film[0].Width = 8, film[0].Height = 8, film[0].BitsPerPixel = 32;
    // Frame counts and colours tell the films apart.
    for (int k = 0; k < 3 + i; ++k) film[0].Pictures.push_back(std::vector<uint32_t>(64, uint32_t(0x100000 * (i + 1) + k)));
    films.push_back(Write("film" + std::to_string(i) + ".zrcab", MakeFilmPackage(WriteFilm(film))));
  }
  GuiApplication();
  for (int round = 0; round < kRounds; ++round) {
    std::vector<pid_t> children;
    for (int i = 0; i < kFilms; ++i) {
      const std::string out = (Root / ("r" + std::to_string(round) + "-" + std::to_string(i))).string();
      std::vector<std::string> words = {VERIROVE_ZRFILM, "frames", films[size_t(i)], out};
      std::vector<char*> args;
      for (auto& w : words) args.push_back(w.data());
      args.push_back(nullptr);
      pid_t pid = 0;
      ASSERT_EQ(::posix_spawn(&pid, VERIROVE_ZRFILM, nullptr, nullptr, args.data(), environ), 0);
      children.push_back(pid);
    }
    for (int i = 0; i < kFilms; ++i) {
      int status = 0;
      ASSERT_EQ(::waitpid(children[size_t(i)], &status, 0), children[size_t(i)]);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round << " film " << i;
      const auto out = Root / ("r" + std::to_string(round) + "-" + std::to_string(i));
      ASSERT_EQ(Files(out).size(), size_t(3 + i)) << "round " << round << " film " << i;
      QImage last((out / ("001-0000" + std::to_string(2 + i) + ".png")).c_str());
      ASSERT_FALSE(last.isNull());
      EXPECT_EQ(last.pixel(0, 0) & 0xFFFFFF, uint32_t(0x100000 * (i + 1) + 2 + i));
    }
  }
  // Every run removed its own folder from the private folder.
  EXPECT_TRUE(fs::is_empty(Root / "veRirove"));
}

// The pixels of a source picture as RGB, through the palette for 8-bit segments.
uint32_t SourceColour(const TWriterSegment& s, const TColorTable& palette, size_t k, int x, int y) {
  const uint32_t v = s.Pictures[k][size_t(y * s.Width + x)];
  if (s.BitsPerPixel != 8) return v;
  const auto& e = palette[v];
  return uint32_t(e.Red) << 16 | uint32_t(e.Green) << 8 | e.Blue;
}

TEST_F(TZrfilmFixture, TheDemoFilmPlaysBackToThePicturesItWasMadeFrom) {
  GuiApplication();
  const auto source = MakeDemoSegments();

  const auto out = Root / "demo";
  const auto run = Zrfilm({"frames", VERIROVE_DEMO_FILM, out.string()});
  ASSERT_EQ(run.Status, 0) << run.Err;
  size_t checked = 0;
  for (size_t s = 0; s < source.size(); ++s) {
    const auto& seg = source[s];
    TColorTable palette{};
    for (size_t k = 0; k < seg.Pictures.size(); ++k) {
      if (seg.BitsPerPixel == 8 && k < seg.PaletteChanges.size()) {
        const auto& change = seg.PaletteChanges[k];
        for (size_t i = 0; i < change.Entries.size(); ++i) palette[change.FirstIndex + i] = change.Entries[i];
      }
      char file[64];
      std::snprintf(file, sizeof file, "%03zu-%05zu.png", s + 1, k);
      QImage picture((out / file).c_str());
      ASSERT_FALSE(picture.isNull()) << file;
      ASSERT_EQ(picture.width(), seg.Width);
      ASSERT_EQ(picture.height(), seg.Height);
      // The cursor aside: a generous square around the hot spot.
      const auto& rec = seg.Track[k];
      int differing = 0;
      for (int y = 0; y < seg.Height; ++y)
        for (int x = 0; x < seg.Width; ++x) {
          if (std::abs(x - rec.X) <= 48 && std::abs(y - rec.Y) <= 48) continue;
          differing += (picture.pixel(x, y) & 0xFFFFFF) != SourceColour(seg, palette, k, x, y);
        }
      EXPECT_EQ(differing, 0) << file;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 182u);
}

// Every depth a picture can have, written as RGB and read back by Qt's own PNG reader: each pixel has
// the colour the raster gives it. Random bytes fill the rows, their padding and the colour
// table's unused fourth bytes too, which must not show; odd widths leave part-bytes at the ends
// of 1- and 4-bit rows.
TEST_F(TZrfilmFixture, PngsOfEveryDepthDecodeToThePicturesColours) {
  GuiApplication();
  struct TCase {
    const char* Name;
    int Bits;
    int32_t Width, Height;
    bool ColorTable;
  };
  const TCase cases[] = {
      {"monochrome", 1, 13, 4, false}, {"1-bit with a table", 1, 9, 3, true},
      {"4-bit", 4, 7, 5, true},        {"8-bit", 8, 37, 9, true},
      {"8-bit one pixel", 8, 1, 1, true}, {"8-bit without a table", 8, 5, 2, false},
      {"16-bit", 16, 11, 6, false},    {"24-bit", 24, 13, 7, false},
      {"32-bit", 32, 17, 8, false},    {"32-bit one row", 32, 300, 1, false},
  };
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return uint8_t(seed >> 16);
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto picture = TRasterBitmap::Create(c.Width, c.Height, c.Bits);
    ASSERT_TRUE(picture);
    for (uint8_t& b : picture->Pixels()) b = next();
    if (c.ColorTable) {
      TColorTable table;
      for (TColorEntry& e : table) e = {next(), next(), next(), next()};
      picture->SetColorTable(table);
    }
    const std::string path = (Root / "picture.png").string();
    std::string error;
    ASSERT_TRUE(WritePng(path, *picture, error)) << error;
    // Every picture is an 8-bit RGB PNG (IHDR: bit depth at byte 24, colour type at 25), so
    // a reader gets the same kind of picture from every segment.
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray head = file.read(26);
    ASSERT_EQ(head.size(), 26);
    EXPECT_EQ(int(head[24]), 8);
    EXPECT_EQ(int(head[25]), 2);
    const QImage decoded(QString::fromStdString(path));
    ASSERT_FALSE(decoded.isNull());
    ASSERT_EQ(decoded.size(), QSize(c.Width, c.Height));
    int differing = 0;
    for (int32_t y = 0; y < c.Height; ++y)
      for (int32_t x = 0; x < c.Width; ++x) differing += (decoded.pixel(x, y) & 0xFFFFFF) != picture->PixelColor(x, y);
    EXPECT_EQ(differing, 0);
  }
}

}  // namespace
