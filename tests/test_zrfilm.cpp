// The zrfilm tool, run in-process on films made by the writer and on the demo film.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>

#include "cli/PngWriter.h"
#include "cli/Thumbnail.h"
#include "cli/ThumbnailerTool.h"
#include "cli/ZrFilmArgs.h"
#include "cli/ZrFilmTool.h"
#include "index/IndexCache.h"
#include "filmwriter/DemoFilm.h"
#include "filmwriter/FilmWriter.h"
#include "support/ChildRun.h"
#include "support/IndexFilms.h"
#include "support/TempRootFixture.h"
#include "support/TestFilm.h"

#ifndef VERIROVE_ZRFILM
#error "VERIROVE_ZRFILM must name the zrfilm program"
#endif
#ifndef VERIROVE_THUMBNAILER
#error "VERIROVE_THUMBNAILER must name the veRirove-thumbnailer program"
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

// Starts the zrfilm program with `args`; its process, or -1.
pid_t Spawn(std::vector<std::string> args) {
  args.insert(args.begin(), VERIROVE_ZRFILM);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  return ::posix_spawn(&pid, VERIROVE_ZRFILM, nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// A program's run in-process: zrfilm, or the thumbnailer.
using TProgram = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);

TRun Zrfilm(std::vector<std::string> args, TProgram program = RunZrFilm) {
  std::ostringstream out, err;
  TRun run;
  run.Status = program(args, out, err);
  run.Out = out.str();
  run.Err = err.str();
  return run;
}

struct TZrfilmFixture : TTempRootFixture {};

std::vector<TWriterSegment> SmallFilm() {
  std::vector<TWriterSegment> film(2);
  film[0] = NewSegment("Первый\x1b[31m", 3, 2, 24, 4);
  film[0].Pictures = {std::vector<uint32_t>(6, 0x00112233), std::vector<uint32_t>(6, 0x00445566)};
  film[1] = NewSegment("Second", 2, 2, 8, 0);
  film[1].Pictures = {std::vector<uint32_t>(4, 1), std::vector<uint32_t>(4, 2), std::vector<uint32_t>(4, 1)};
  film[1].PaletteChanges = {{1, {{0x10, 0x20, 0x30, 0}, {0x40, 0x50, 0x60, 0}}}};
  return film;
}

TEST_F(TZrfilmFixture, InfoListsSegmentsAndTotals) {
  const auto film = Package("small.zrcab", SmallFilm());
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
  EXPECT_FALSE(fs::exists(Root / "none"));  // made only when there is a picture to write
  const auto info = Zrfilm({"info", film});
  EXPECT_EQ(info.Status, 0) << info.Err;
  EXPECT_EQ(info.Out, "total\t0 segments\t00:00:00.000\t0 frames\n");
}

// The total is the sum of the segments as they are listed, rounded the same way: 62.5 ms a
// segment is 62 (half to even), so three make 186, not 189 or 188.
TEST_F(TZrfilmFixture, TheTotalAddsTheListedDurations) {
  std::vector<TWriterSegment> film(3);
  for (auto& s : film) {
    s = NewSegment("s", 1, 1, 32, 16);
    s.Pictures = {std::vector<uint32_t>(1, 5)};
  }
  film[2].FrameRate = 0;  // no duration: counts nothing
  const auto run = Zrfilm({"info", Package("short.zrcab", film)});
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

// A package may hold gigabytes of padding after its film: the commands read it only up to the
// segments they use, so under a file size limit far below the padding they do as without it.
TEST_F(TZrfilmFixture, PaddingAfterTheSegmentsUsedIsNeverExtracted) {
  auto padded = WriteFilm(SmallFilm());
  padded.resize(padded.size() + (40 << 20));
  const std::string films[] = {Package("plain.zrcab", SmallFilm()), Write("padded.zrcab", MakeFilmPackage(padded))};
  const std::string z = VERIROVE_ZRFILM;  // FILM and OUT stand for the film and the output
  const std::vector<std::string> cases[] = {
      {z, "info", "FILM"}, {z, "thumbnail", "FILM", "OUT"}, {VERIROVE_THUMBNAILER, "FILM", "OUT"},
      {z, "frame", "FILM", "OUT", "--segment", "1", "--frame", "1"}, {z, "frame", "FILM", "OUT", "--at", "0.3"},
      {z, "frames", "FILM", "OUT", "--segment", "1"}, {z, "frames", "FILM", "OUT"},
  };
  const TChildSetup limited{.FileSizeLimit = 8 << 20, .StdoutToo = true};
  const std::string log = (Root / "log").string();
  int run = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c[1]);
    std::string written[2];
    for (int padding = 0; padding < 2; ++padding) {
      const fs::path out = Root / ("out" + std::to_string(++run));
      auto args = c;
      for (auto& a : args) a = a == "FILM" ? films[padding] : a == "OUT" ? out.string() : a;
      const TChildRun result = RunChild(args, limited, log);
      ASSERT_EQ(result.Status, 0) << result.Err;
      written[padding] = result.Err;
      for (const auto& name : fs::is_directory(out) ? Files(out) : std::vector<std::string>{""}) {
        const auto bytes = FileBytes(name.empty() ? out : out / name);
        written[padding] += name + ":" + std::string(bytes.begin(), bytes.end());
      }
    }
    EXPECT_EQ(written[1], written[0]);
  }
  // The limit bites: the whole film file is more than it lets through.
  EXPECT_NE(RunChild({z, "extract", films[1], (Root / "all").string()}, limited, log).Err.find(std::strerror(EFBIG)),
            std::string::npos);
}

TEST_F(TZrfilmFixture, CountsOfOneAreSingular) {
  std::vector<TWriterSegment> film(1);
  film[0] = NewSegment("One", 2, 1, 32, 1);
  film[0].Pictures = {std::vector<uint32_t>(2, 7)};
  TWriterShape arrow;
  arrow.AndMask.assign(32 * 32, 1);
  arrow.XorMask.assign(32 * 32, 0);
  film[0].Shapes = {arrow};
  film[0].Track = {{0, 0, 0}};
  const auto run = Zrfilm({"info", Package("one.zrcab", film)});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out,
            "1\tOne\t00:00:01.000\t2x1\t32 bits\t1 frame\t1 fps\t1 cursor shape\n"
            "total\t1 segment\t00:00:01.000\t1 frame\n");
}

TEST_F(TZrfilmFixture, FramesNeverMixesOldPicturesWithNew) {
  const auto film = Package("small.zrcab", SmallFilm());
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

// The index of a film whose moments are known, as JSON, as text and frame by frame; a damaged
// film lists what could be read and fails.
TEST_F(TZrfilmFixture, IndexListsChaptersAndIdleStretches) {
  const auto film = Package("known.zrcab", KnownActivitySegments());
  const std::string chapters =
      "\"chapters\": [{\"start_ms\": 0, \"title\": \"Первый\", \"automatic\": false}, "
      "{\"start_ms\": 15000, \"title\": \"Часть 2\", \"automatic\": true}, "
      "{\"start_ms\": 38900, \"title\": \"Часть 3\", \"automatic\": true}, "
      "{\"start_ms\": 60000, \"title\": \"Второй\", \"automatic\": false}, "
      "{\"start_ms\": 76000, \"title\": \"Часть 2\", \"automatic\": true}]";
  struct TRow {
    std::vector<std::string> Args;
    std::string Out;
  } rows[] = {
      {{"index", film, "--json"},
       "{\"duration_ms\": 80200, \"segments\": [{\"number\": 1, \"name\": \"Первый\", \"start_ms\": 0, "
       "\"frames\": 600}, {\"number\": 2, \"name\": \"Второй\", \"start_ms\": 60000, \"frames\": 101}], " +
           chapters +
           ", \"idle\": [{\"start_ms\": 5000, \"end_ms\": 15000}, {\"start_ms\": 39000, \"end_ms\": 60000}, "
           "{\"start_ms\": 60200, \"end_ms\": 70000}, {\"start_ms\": 70200, \"end_ms\": 76000}]}\n"},
      {{"index", film, "--idle", "10", "--json"},
       "{\"duration_ms\": 80200, \"segments\": [{\"number\": 1, \"name\": \"Первый\", \"start_ms\": 0, "
       "\"frames\": 600}, {\"number\": 2, \"name\": \"Второй\", \"start_ms\": 60000, \"frames\": 101}], " +
           chapters + ", \"idle\": [{\"start_ms\": 5000, \"end_ms\": 15000}, {\"start_ms\": 39000, \"end_ms\": 60000}]}\n"},
      {{"index", film, "--idle", "20"},
       "duration\t00:01:20.200\n"
       "segment\t1\t00:00:00.000\t600 frames\tПервый\n"
       "segment\t2\t00:01:00.000\t101 frames\tВторой\n"
       "chapter\t00:00:00.000\tsegment\tПервый\n"
       "chapter\t00:00:15.000\tautomatic\tЧасть 2\n"
       "chapter\t00:00:38.900\tautomatic\tЧасть 3\n"
       "chapter\t00:01:00.000\tsegment\tВторой\n"
       "chapter\t00:01:16.000\tautomatic\tЧасть 2\n"
       "idle\t00:00:39.000\t00:01:00.000\t00:00:21.000\n"},
  };
  for (const TRow& row : rows) {
    const auto run = Zrfilm(row.Args);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, row.Out);
  }
  // Every frame: a line each, the cursor moving alone and the scene changes named.
  const auto frames = Zrfilm({"index", film, "--frames"});
  EXPECT_EQ(frames.Status, 0) << frames.Err;
  EXPECT_NE(frames.Out.find("\nframe\t1\t150\t00:00:15.000\t3072\t0,0,64,48\tscene\n"), std::string::npos);
  EXPECT_NE(frames.Out.find("\nframe\t1\t201\t00:00:20.100\t0\t0,0,0,0\tcursor-moved\n"), std::string::npos);
  EXPECT_NE(frames.Out.find("\nframe\t2\t100\t00:01:20.000\t0\t0,0,0,0\t-\n"), std::string::npos);
  const auto json = Zrfilm({"index", film, "--frames", "--json"});
  EXPECT_NE(json.Out.find("{\"frame\": 50, \"time_ms\": 70000, \"changed\": 0, \"box\": [0, 0, 0, 0], "
                          "\"cursor_moved\": false, \"cursor_shape\": true, \"scene_change\": false}"),
            std::string::npos);

  // The index kept is read instead of playing the film again; --no-cache plays it.
  const auto folder = Root / "cache" / "veRirove";
  ASSERT_EQ(Files(folder).size(), 1u);
  TIndexCacheKey key;
  ASSERT_TRUE(FilmCacheKey(film, key));
  TFilmIndex kept;
  ASSERT_TRUE(DecodeFilmIndex(FileBytes(folder / Files(folder)[0]), key, 5000, kept));
  kept.Chapters[1].Title = "Вставка";
  Write("cache/veRirove/" + Files(folder)[0], EncodeFilmIndex(kept, key, 5000));
  EXPECT_NE(Zrfilm({"index", film}).Out.find("\tautomatic\tВставка\n"), std::string::npos);
  EXPECT_EQ(Zrfilm({"index", film, "--no-cache"}).Out.find("Вставка"), std::string::npos);

  auto bytes = WriteFilm(KnownActivitySegments());
  bytes.resize(bytes.size() - 3);
  const auto cut = Zrfilm({"index", Write("cut.zrcab", MakeFilmPackage(bytes)), "--json"});
  EXPECT_EQ(cut.Status, 1);
  EXPECT_EQ(cut.Out.rfind("{\"duration_ms\": 60000, \"segments\": [{\"number\": 1, \"name\": \"Первый\", "
                          "\"start_ms\": 0, \"frames\": 600}], \"chapters\": [{",
                          0),
            0u)
      << cut.Out;
  EXPECT_NE(cut.Err.find("segment 2 cannot be read"), std::string::npos) << cut.Err;
  EXPECT_EQ(Files(folder).size(), 1u);  // a damaged film's index is not kept
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
  const auto frames = Zrfilm({"frames", Package("s.zrcab", SmallFilm()), (Root / "f").string(), "--segment", "3"});
  EXPECT_EQ(frames.Status, 1);
  EXPECT_NE(frames.Err.find("there is no segment 3 (the film has 2 readable segments)"), std::string::npos)
      << frames.Err;
  EXPECT_FALSE(fs::exists(Root / "f"));
}

// The parsed command in one line, for comparing.
std::string Describe(const TZrFilmArgs& a) {
  auto time = [](const std::optional<int64_t>& t) { return t ? std::to_string(*t) : std::string("-"); };
  const char* names[] = {"help", "info", "extract", "frames", "frame", "thumbnail", "export", "index", "version"};
  const char* formats[] = {"mp4", "webm", "mkv", "gif"};
  const char* codecs[] = {"default", "h264", "vp9", "av1", "ffv1", "h264rgb"};
  const TExportOptions& e = a.Export;
  const std::string exported =
      a.Command != TZrFilmCommand::Export
          ? std::string()
          : std::string(" format=") + formats[int(e.Format)] + " codec=" + codecs[int(e.Codec)] +
                (e.Lossless ? " lossless" : "") + (e.Chroma444 ? " 444" : "") + " quality=" + std::to_string(e.Quality) +
                (e.Cursor ? "" : " no-cursor") + " max-width=" + std::to_string(e.MaxWidth) +
                (e.KeyInterval != kDefaultKeyInterval ? " keyint=" + std::to_string(e.KeyInterval) : "") +
                (e.GifPalette == TGifPalette::Picture ? " gif-palette=picture" : "") + (a.Split ? " split" : "") +
                (e.MaxIdle ? " max-idle=" + std::to_string(e.MaxIdle) : "") +
                (e.Chapters == TExportChapters::All ? " chapters=all" : "");
  return std::string(names[int(a.Command)]) + " film=" + a.Film + " dir=" + a.Dir + " out=" + a.Out +
         " segment=" + std::to_string(a.Segment) + " frame=" + std::to_string(a.Frame) + " at=" + time(a.At) +
         " from=" + time(a.From) + " to=" + time(a.To) + " force=" + (a.Force ? "1" : "0") +
         (a.Size != kThumbnailSize ? " size=" + std::to_string(a.Size) : std::string()) + exported +
         (a.Json ? " json" : "") + (a.FrameActivity ? " frames" : "") +
         (a.IdleMs != 5000 ? " idle=" + std::to_string(a.IdleMs) : "") + (a.NoCache ? " no-cache" : "");
}

TEST(ZrFilmArgs, CommandsOptionsAndTheirMistakes) {
  struct TCase {
    std::vector<std::string> Args;
    std::string Expected;  // Describe() of the result, or the error
  };
  const TCase cases[] = {
      {{"frame", "f.zrcab", "o.png", "--at", "83.5"},
       "frame film=f.zrcab dir= out=o.png segment=0 frame=-1 at=83500 from=- to=- force=0"},
      {{"frame", "--at=0:01:23.250", "f", "o", "--force"},
       "frame film=f dir= out=o segment=0 frame=-1 at=83250 from=- to=- force=1"},
      {{"frame", "f", "o", "--segment", "2", "--frame", "0"},
       "frame film=f dir= out=o segment=2 frame=0 at=- from=- to=- force=0"},
      {{"frame", "f", "o", "--frame=7", "--segment=1", "--frame", "9"},
       "frame film=f dir= out=o segment=1 frame=9 at=- from=- to=- force=0"},
      {{"frame", "--at", "5", "--", "--f", "-o"},
       "frame film=--f dir= out=-o segment=0 frame=-1 at=5000 from=- to=- force=0"},
      {{"frames", "f", "d", "--from", "1:00", "--to", "1:00.5"},
       "frames film=f dir=d out= segment=0 frame=-1 at=- from=60000 to=60500 force=0"},
      {{"frames", "f", "d", "--from", "2", "--to", "2", "--segment", "3"},
       "frames film=f dir=d out= segment=3 frame=-1 at=- from=2000 to=2000 force=0"},
      {{"frames", "f", "d", "--to", "0"}, "frames film=f dir=d out= segment=0 frame=-1 at=- from=- to=0 force=0"},
      {{"frame", "f", "o", "--at", "5", "--help"}, "help film= dir= out= segment=0 frame=-1 at=- from=- to=- force=0"},
      {{"thumbnail", "f.zrcab", "o.png"}, "thumbnail film=f.zrcab dir= out=o.png segment=0 frame=-1 at=- from=- to=- force=0"},
      {{"thumbnail", "-s", "128", "f", "o"}, "thumbnail film=f dir= out=o segment=0 frame=-1 at=- from=- to=- force=0 size=128"},
      {{"thumbnail", "f", "o", "--size=1"}, "thumbnail film=f dir= out=o segment=0 frame=-1 at=- from=- to=- force=0 size=1"},
      {{"thumbnail", "f", "o", "-s", "4096", "-s", "64"},
       "thumbnail film=f dir= out=o segment=0 frame=-1 at=- from=- to=- force=0 size=64"},
      {{"thumbnail", "-s", "32", "--", "-s", "-o.png"},
       "thumbnail film=-s dir= out=-o.png segment=0 frame=-1 at=- from=- to=- force=0 size=32"},
      {{"--version"}, "version film= dir= out= segment=0 frame=-1 at=- from=- to=- force=0"},
      {{"thumbnail", "f", "o", "--version", "--help"}, "version film= dir= out= segment=0 frame=-1 at=- from=- to=- force=0"},
      {{"--help", "--version"}, "help film= dir= out= segment=0 frame=-1 at=- from=- to=- force=0"},
      {{"info", "--", "--version"}, "info film=--version dir= out= segment=0 frame=-1 at=- from=- to=- force=0"},
      // Export: the format from the name in any case, or --format over it; the options that fit.
      {{"export", "f", "talk.MP4"},
       "export film=f dir= out=talk.MP4 segment=0 frame=-1 at=- from=- to=- force=0 format=mp4 codec=default "
       "quality=-1 max-width=0"},
      {{"export", "f", "o.webm", "--codec=av1", "--chroma", "444", "--quality", "0", "--segment", "2", "--force"},
       "export film=f dir= out=o.webm segment=2 frame=-1 at=- from=- to=- force=1 format=webm codec=av1 444 "
       "quality=0 max-width=0"},
      {{"export", "f", "o.mkv", "--lossless", "--split", "--no-cursor", "--max-width=1280"},
       "export film=f dir= out=o.mkv segment=0 frame=-1 at=- from=- to=- force=0 format=mkv codec=default lossless "
       "quality=-1 no-cursor max-width=1280 split"},
      {{"export", "f", "clip", "--format", "GIF", "--quality=100"},
       "export film=f dir= out=clip segment=0 frame=-1 at=- from=- to=- force=0 format=gif codec=default "
       "quality=100 max-width=0"},
      {{"export", "f", "o.mp4", "--format", "mkv", "--codec", "ffv1"},
       "export film=f dir= out=o.mp4 segment=0 frame=-1 at=- from=- to=- force=0 format=mkv codec=ffv1 "
       "quality=-1 max-width=0"},
      {{"export", "f", "o.mkv", "--lossless", "--codec", "H264RGB", "--keyint", "0.5"},
       "export film=f dir= out=o.mkv segment=0 frame=-1 at=- from=- to=- force=0 format=mkv codec=h264rgb lossless "
       "quality=-1 max-width=0 keyint=500"},
      {{"export", "f", "o.webm", "--keyint=1:00:00"},
       "export film=f dir= out=o.webm segment=0 frame=-1 at=- from=- to=- force=0 format=webm codec=default "
       "quality=-1 max-width=0 keyint=3600000"},
      {{"export", "f", "o.gif", "--gif-palette", "picture", "--gif-palette=film", "--gif-palette=picture"},
       "export film=f dir= out=o.gif segment=0 frame=-1 at=- from=- to=- force=0 format=gif codec=default "
       "quality=-1 max-width=0 gif-palette=picture"},
      {{"index", "f"}, "index film=f dir= out= segment=0 frame=-1 at=- from=- to=- force=0"},
      {{"index", "--json", "f", "--frames", "--idle", "2.5", "--no-cache"},
       "index film=f dir= out= segment=0 frame=-1 at=- from=- to=- force=0 json frames idle=2500 no-cache"},
      {{"index", "f", "--idle=1:00:00"}, "index film=f dir= out= segment=0 frame=-1 at=- from=- to=- force=0 idle=3600000"},
      {{"export", "f", "o.mp4", "--max-idle", "2", "--chapters", "all", "--chapters=segments", "--chapters=all"},
       "export film=f dir= out=o.mp4 segment=0 frame=-1 at=- from=- to=- force=0 format=mp4 codec=default "
       "quality=-1 max-width=0 max-idle=2000 chapters=all"},
      {{"export", "f", "o.gif", "--max-idle=0:01:30.5"},
       "export film=f dir= out=o.gif segment=0 frame=-1 at=- from=- to=- force=0 format=gif codec=default "
       "quality=-1 max-width=0 max-idle=90500"},
      // Mistakes.
      {{"index", "f", "--idle", "0.099"}, "--idle wants seconds from 0.1 to 3600, not \"0.099\""},
      {{"index", "f", "--idle", "3600.001"}, "--idle wants seconds from 0.1 to 3600, not \"3600.001\""},
      {{"index", "f", "--idle"}, "--idle wants seconds"},
      {{"index"}, "index takes one film"},
      {{"index", "f", "g"}, "index takes one film"},
      {{"index", "f", "--force"}, "index does not take --force"},
      {{"info", "f", "--json"}, "unknown option --json"},
      {{"export", "f", "o.mp4", "--frames"}, "export does not take --frames"},
      {{"export", "f", "o.mp4", "--max-idle", "0.099"}, "--max-idle wants seconds from 0.1, not \"0.099\""},
      {{"export", "f", "o.mp4", "--max-idle"}, "--max-idle wants seconds"},
      {{"export", "f", "o.mp4", "--chapters", "auto"}, "--chapters wants segments or all, not \"auto\""},
      {{"export", "f", "o.gif", "--chapters", "all"}, "--chapters applies to MP4, WebM and Matroska only"},
      {{"export", "f", "o.avi"}, "cannot tell the format from the name o.avi: end it in .mp4, .webm, .mkv or .gif, "
                                 "or give --format"},
      {{"export", "f", "dir.mp4/o"}, "cannot tell the format from the name dir.mp4/o: end it in .mp4, .webm, .mkv or "
                                     ".gif, or give --format"},
      {{"export", "f", "o.mp4", "--lossless"}, "--lossless writes Matroska: name the file .mkv or give --format mkv"},
      {{"export", "f", "o.mkv", "--lossless", "--codec", "h264"}, "--lossless writes H.264 RGB or FFV1 only"},
      {{"export", "f", "o.mp4", "--codec", "h264rgb"}, "this --codec cannot be written in this format"},
      {{"export", "f", "o.mkv", "--codec", "h264rgb", "--chroma", "444"}, "--chroma applies to H.264, VP9 and AV1 only"},
      {{"export", "f", "o.mp4", "--keyint", "0"}, "--keyint wants seconds from 0.001 to 3600, not \"0\""},
      {{"export", "f", "o.mp4", "--keyint", "two"}, "--keyint wants seconds from 0.001 to 3600, not \"two\""},
      {{"export", "f", "o.mp4", "--keyint", "3600.001"}, "--keyint wants seconds from 0.001 to 3600, not \"3600.001\""},
      {{"export", "f", "o.mp4", "--keyint"}, "--keyint wants seconds"},
      {{"frames", "f", "d", "--keyint", "2"}, "frames does not take --keyint"},
      {{"export", "f", "o.webm", "--codec", "h264"}, "this --codec cannot be written in this format"},
      {{"export", "f", "o.gif", "--codec", "vp9"}, "this --codec cannot be written in this format"},
      {{"export", "f", "o.gif", "--chroma", "444"}, "--chroma applies to H.264, VP9 and AV1 only"},
      {{"export", "f", "o.gif", "--gif-palette", "frame"}, "--gif-palette wants film or picture, not \"frame\""},
      {{"export", "f", "o.mp4", "--gif-palette", "film"}, "--gif-palette applies to GIF only"},
      {{"export", "f", "o.mkv", "--lossless", "--chroma=444"}, "--chroma applies to H.264, VP9 and AV1 only"},
      {{"export", "f", "o.mp4", "--chroma", "422"}, "--chroma wants 420 or 444, not \"422\""},
      {{"export", "f", "o.mp4", "--quality", "101"}, "--quality wants a number from 0 to 100, not \"101\""},
      {{"export", "f", "o.mp4", "--quality"}, "--quality wants a number"},
      {{"export", "f", "o.mp4", "--max-width", "1"}, "--max-width wants a width in pixels from 2 to 65536, not \"1\""},
      {{"export", "f", "o.mp4", "--format", "avi"}, "--format wants mp4, webm, mkv or gif, not \"avi\""},
      {{"export", "f", "o.mp4", "--codec", "hevc"}, "--codec wants h264, vp9, av1, h264rgb or ffv1, not \"hevc\""},
      {{"export", "f", "o.mp4", "--split", "--segment", "1"}, "export takes --split or --segment N, not both"},
      {{"export", "f"}, "export takes a film and a video file"},
      {{"export", "f", "o.mp4", "--at", "1"}, "export does not take --at"},
      {{"frames", "f", "d", "--lossless"}, "frames does not take --lossless"},
      {{"frame", "f", "o"}, "frame wants --at TIME or --segment N --frame K"},
      {{"frame", "f", "o", "--segment", "1"}, "frame wants both --segment N and --frame K"},
      {{"frame", "f", "o", "--frame", "0"}, "frame wants both --segment N and --frame K"},
      {{"frame", "f", "o", "--at", "1", "--segment", "1", "--frame", "0"},
       "frame takes --at TIME or --segment N --frame K, not both"},
      {{"frame", "f", "o", "--at", "1", "--frame", "0"}, "frame takes --at TIME or --segment N --frame K, not both"},
      {{"frame", "f", "--at", "1"}, "frame takes a film and a picture file"},
      {{"frame", "f", "o", "p", "--at", "1"}, "frame takes a film and a picture file"},
      {{"frame", "f", "o", "--at"}, "--at wants a time"},
      {{"frame", "f", "o", "--segment", "1", "--frame"}, "--frame wants a number"},
      {{"frame", "f", "o", "--segment", "1", "--frame", "-1"}, "--frame wants a frame number from 0, not \"-1\""},
      {{"frame", "f", "o", "--segment", "1", "--frame", "1x"}, "--frame wants a frame number from 0, not \"1x\""},
      {{"frame", "f", "o", "--segment", "1", "--frame", "99999999999"},
       "--frame wants a frame number from 0, not \"99999999999\""},
      {{"frame", "f", "o", "--from", "1"}, "frame does not take --from"},
      {{"frames", "f", "d", "--at", "1"}, "frames does not take --at"},
      {{"frames", "f", "d", "--frame", "1"}, "frames does not take --frame"},
      {{"frames", "f", "d", "--force=yes"}, "unknown option --force=yes"},
      {{"info", "f", "--at", "1"}, "unknown option --at"},
      {{"frames", "f", "d", "--from", "0:00:05", "--to", "3"}, "--from 00:00:05.000 lies after --to 00:00:03.000"},
      {{"thumbnail", "f", "o", "-s", "0"}, "-s wants a size in pixels from 1 to 4096, not \"0\""},
      {{"thumbnail", "f", "o", "-s", "4097"}, "-s wants a size in pixels from 1 to 4096, not \"4097\""},
      {{"thumbnail", "f", "o", "--size=-5"}, "--size wants a size in pixels from 1 to 4096, not \"-5\""},
      {{"thumbnail", "f", "o", "-s", "12px"}, "-s wants a size in pixels from 1 to 4096, not \"12px\""},
      {{"thumbnail", "f", "o", "-s", "99999999999"}, "-s wants a size in pixels from 1 to 4096, not \"99999999999\""},
      {{"thumbnail", "f", "o", "-s"}, "-s wants a size"},
      {{"thumbnail", "f"}, "thumbnail takes a film and a picture file"},
      {{"thumbnail", "f", "o", "p"}, "thumbnail takes a film and a picture file"},
      {{"thumbnail", "f", "o", "--force"}, "thumbnail does not take --force"},
      {{"thumbnail", "f", "o", "--at", "1"}, "thumbnail does not take --at"},
      {{"frame", "f", "o", "--at", "1", "-s", "64"}, "frame does not take -s"},
      {{"info", "f", "--size", "64"}, "unknown option --size"},
      {{"thumbnail", "f", "o", "-S", "64"}, "unknown option -S"},
      // Malformed times.
      {{"frame", "f", "o", "--at", "-5"}, "--at wants a time of the film in seconds or h:mm:ss.zzz, not \"-5\""},
      {{"frame", "f", "o", "--at", ""}, "--at wants a time of the film in seconds or h:mm:ss.zzz, not \"\""},
      {{"frame", "f", "o", "--at=1:2"}, "--at wants a time of the film in seconds or h:mm:ss.zzz, not \"1:2\""},
      {{"frames", "f", "d", "--from", "1:60"}, "--from wants a time of the film in seconds or h:mm:ss.zzz, not \"1:60\""},
      {{"frames", "f", "d", "--to", "1.2345"}, "--to wants a time of the film in seconds or h:mm:ss.zzz, not \"1.2345\""},
      {{"frames", "f", "d", "--to", "1e3"}, "--to wants a time of the film in seconds or h:mm:ss.zzz, not \"1e3\""},
      {{"frames", "f", "d", "--to", " 1"}, "--to wants a time of the film in seconds or h:mm:ss.zzz, not \" 1\""},
      {{"frames", "f", "d", "--from", "100000:00:00"}, "--from wants a time of the film in seconds or h:mm:ss.zzz, not \"100000:00:00\""},
      {{"frames", "f", "d", "--from", "five"}, "--from wants a time of the film in seconds or h:mm:ss.zzz, not \"five\""},
  };
  for (const TCase& c : cases) {
    std::string joined;
    for (const auto& a : c.Args) joined += "[" + a + "]";
    SCOPED_TRACE(joined);
    TZrFilmArgs parsed;
    std::string error;
    const bool ok = ParseZrFilmArgs(c.Args, parsed, error);
    EXPECT_EQ(ok ? Describe(parsed) : error, c.Expected);
  }
}

// A small film whose frames lie at known times: segment 1, 4 fps, frames at 0, 250, 500 and
// 750 ms; segment 2 without a frame rate (no time at all: its frames lie at 1 s); segment 3,
// 2 fps, frames at 1000 and 1500 ms; the film ends at 2 s. Every picture a colour of its own.
std::vector<TWriterSegment> TimedFilm() {
  std::vector<TWriterSegment> film(3);
  const int frames[] = {4, 2, 2};
  const uint8_t rates[] = {4, 0, 2};
  for (size_t s = 0; s < film.size(); ++s) {
    film[s] = NewSegment("t" + std::to_string(s), 4, 3, 32, rates[s]);
    for (int k = 0; k < frames[s]; ++k) film[s].Pictures.push_back(std::vector<uint32_t>(12, uint32_t(0x10000 * (s + 1) + k)));
  }
  return film;
}

// --from and --to take the frames on screen from the one shown at --from to the one shown at
// --to; with --segment, those of that segment.
TEST_F(TZrfilmFixture, FramesFromAndToTakeTheFramesOnScreenBetween) {
  const auto film = Package("timed.zrcab", TimedFilm());
  struct TCase {
    std::vector<std::string> Options;
    int Status;
    std::vector<std::string> Files;
    std::string Err;  // a part of standard error
  };
  const TCase cases[] = {
      {{"--from", "0", "--to", "0"}, 0, {"001-00000.png"}, ""},
      {{"--from", "0.249", "--to", "0.250"}, 0, {"001-00000.png", "001-00001.png"}, ""},
      {{"--from", "0.6"}, 0, {"001-00002.png", "001-00003.png", "002-00000.png", "002-00001.png", "003-00000.png", "003-00001.png"}, ""},
      // The segment without a frame rate lies at 1 s, before the frame shown then.
      {{"--from", "0.9", "--to", "1"}, 0, {"001-00003.png", "002-00000.png", "002-00001.png", "003-00000.png"}, ""},
      {{"--from", "1"}, 0, {"003-00000.png", "003-00001.png"}, ""},
      {{"--to", "0.5"}, 0, {"001-00000.png", "001-00001.png", "001-00002.png"}, ""},
      // The end of the film shows its last frame; after it there is nothing.
      {{"--from", "2", "--to", "99"}, 0, {"003-00001.png"}, ""},
      {{"--from", "2.001"}, 1, {}, "nothing to write: --from 00:00:02.001 lies beyond the film's end at 00:00:02.000"},
      {{"--segment", "3", "--from", "0", "--to", "1.2"}, 0, {"003-00000.png"}, ""},
      {{"--segment", "1", "--from", "0.5"}, 0, {"001-00002.png", "001-00003.png"}, ""},
      {{"--segment", "2", "--from", "0", "--to", "2"}, 0, {"002-00000.png", "002-00001.png"}, ""},
      {{"--segment", "1", "--from", "1"}, 1, {},
       "nothing to write: segment 1 is on screen from 00:00:00.000 to 00:00:01.000 of the film, not from 00:00:01.000 "
       "(times count from the film's start)"},
      {{"--segment", "3", "--to", "0.999"}, 1, {}, "segment 3 is on screen from 00:00:01.000 to 00:00:02.000 of the film, not to 00:00:00.999"},
  };
  int n = 0;
  for (const TCase& c : cases) {
    std::string joined;
    for (const auto& a : c.Options) joined += a + " ";
    SCOPED_TRACE(joined);
    const auto out = Root / ("range" + std::to_string(n++));
    std::vector<std::string> args = {"frames", film, out.string()};
    args.insert(args.end(), c.Options.begin(), c.Options.end());
    const auto run = Zrfilm(args);
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    EXPECT_NE(run.Err.find(c.Err), std::string::npos) << run.Err;
    EXPECT_EQ(fs::exists(out) ? Files(out) : std::vector<std::string>{}, c.Files);
  }
}

// A random film: 8-, 24- and 32-bit segments of different sizes and frame rates, palettes
// changed in part (what a segment does not set carries over from the segments before), and
// cursors of both kinds moving about.
std::vector<TWriterSegment> RandomFilm(std::mt19937& rng) {
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<TWriterSegment> film(size_t(pick(2, 4)));
  for (size_t s = 0; s < film.size(); ++s) {
    TWriterSegment& seg = film[s];
    seg.Name = "r" + std::to_string(s);
    seg.BitsPerPixel = uint8_t(std::array{8, 24, 32}[size_t(pick(0, 2))]);
    seg.Width = pick(3, 24), seg.Height = pick(2, 16), seg.FrameRate = uint8_t(pick(1, 30));
    std::vector<uint32_t> picture(size_t(seg.Width * seg.Height));
    for (int k = pick(1, 12); k > 0; --k) {
      // A few pixels change, and now and then the whole picture.
      const bool all = pick(0, 4) == 0;
      for (uint32_t& p : picture)
        if (all || pick(0, 9) == 0) p = seg.BitsPerPixel == 8 ? uint32_t(pick(0, 7)) : uint32_t(rng()) & 0xFFFFFF;
      seg.Pictures.push_back(picture);
      TWriterPaletteChange change;
      change.FirstIndex = uint8_t(pick(0, 6));
      for (int e = pick(0, 2); e > 0; --e) change.Entries.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0});
      seg.PaletteChanges.push_back(change);
      seg.Track.push_back({uint16_t(pick(0, 1)), uint16_t(pick(0, seg.Width + 3)), uint16_t(pick(0, seg.Height + 3))});
    }
    TWriterShape masked;  // and and xor masks
    masked.AndMask.resize(32 * 32);
    masked.XorMask.resize(32 * 32);
    for (size_t i = 0; i < masked.AndMask.size(); ++i) masked.AndMask[i] = uint8_t(rng() & 1), masked.XorMask[i] = uint8_t(rng() & 1);
    TWriterShape coloured;  // colours with an and mask
    coloured.Width = coloured.Height = 8, coloured.HotSpotX = 2;
    coloured.AndMask.resize(64);
    coloured.Color.resize(64);
    for (size_t i = 0; i < 64; ++i) coloured.AndMask[i] = uint8_t(rng() & 1), coloured.Color[i] = uint32_t(rng()) & 0xFFFFFF;
    seg.Shapes = {masked, coloured};
  }
  return film;
}

// `frame` writes the very file `frames` writes for the same frame, found by number or by
// time; a range or one segment writes the same files as the whole film. Played straight
// through, the whole film is the reference.
TEST_F(TZrfilmFixture, OneFrameAndRangesAreTheFilesOfTheWholeFilm) {
  GuiApplication();
  std::mt19937 rng(20240612);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<std::string> films = {VERIROVE_DEMO_FILM};
  for (int i = 0; i < 6; ++i)
    films.push_back(Package("random" + std::to_string(i) + ".zrcab", RandomFilm(rng)));
  for (size_t f = 0; f < films.size(); ++f) {
    SCOPED_TRACE(films[f]);
    const auto all = Root / ("all" + std::to_string(f));
    ASSERT_EQ(Zrfilm({"frames", films[f], all.string()}).Status, 0);
    const auto names = Files(all);
    ASSERT_FALSE(names.empty());
    // Frames by number, the first and last of the film among them.
    std::vector<std::string> chosen = {names.front(), names.back()};
    for (int k = 0; k < 4; ++k) chosen.push_back(names[size_t(pick(0, int(names.size()) - 1))]);
    for (const std::string& name : chosen) {
      const auto out = Root / ("one-" + name);
      const auto run = Zrfilm({"frame", films[f], out.string(), "--force", "--segment", std::to_string(std::stoi(name.substr(0, 3))),
                               "--frame", std::to_string(std::stoi(name.substr(4, 5)))});
      ASSERT_EQ(run.Status, 0) << run.Err;
      EXPECT_EQ(FileBytes(out), FileBytes(all / name)) << name;
    }
    // One segment.
    const int segment = std::stoi(names[size_t(pick(0, int(names.size()) - 1))].substr(0, 3));
    const auto one = Root / ("segment" + std::to_string(f));
    ASSERT_EQ(Zrfilm({"frames", films[f], one.string(), "--segment", std::to_string(segment)}).Status, 0);
    for (const std::string& name : Files(one)) EXPECT_EQ(FileBytes(one / name), FileBytes(all / name)) << name;
    // A range: its first and last files are the frames on screen at its ends.
    const int from = pick(0, 1500), to = from + pick(0, 1500);
    const auto range = Root / ("range" + std::to_string(f));
    const auto ranged = Zrfilm({"frames", films[f], range.string(), "--from", std::to_string(from / 1000.0).substr(0, 5),
                                "--to", std::to_string(to / 1000.0).substr(0, 5)});
    if (ranged.Status != 0) {
      EXPECT_NE(ranged.Err.find("lies beyond the film's end"), std::string::npos) << ranged.Err;
      continue;
    }
    const auto inRange = Files(range);
    ASSERT_FALSE(inRange.empty());
    const auto at = std::find(names.begin(), names.end(), inRange.front());
    ASSERT_NE(at, names.end());
    EXPECT_TRUE(std::equal(inRange.begin(), inRange.end(), at)) << "the range is not a run of the film's frames";
    for (const std::string& name : inRange) EXPECT_EQ(FileBytes(range / name), FileBytes(all / name)) << name;
    for (const auto& [time, name] : {std::pair{from, inRange.front()}, std::pair{to, inRange.back()}}) {
      const auto out = Root / ("at-" + std::to_string(time) + ".png");
      const auto run = Zrfilm({"frame", films[f], out.string(), "--force", "--at", std::to_string(time / 1000.0).substr(0, 5)});
      if (run.Status != 0 && time == to && run.Err.find("lies beyond the film's end") != std::string::npos) {
        // The range ran on to the film's end.
        EXPECT_EQ(name, names.back());
        continue;
      }
      ASSERT_EQ(run.Status, 0) << run.Err;
      EXPECT_EQ(FileBytes(out), FileBytes(all / name)) << "at " << time << " ms";
    }
  }
}

// A command that must fail: its exit status and a part of its standard error.
struct TRefusal {
  std::vector<std::string> Args;
  int Status;
  std::string Err;
};

// Runs each command: it fails as it should and leaves no file at `out`.
void ExpectRefusals(const std::vector<TRefusal>& cases, const std::string& out) {
  for (const TRefusal& c : cases) {
    SCOPED_TRACE(c.Err);
    const auto run = Zrfilm(c.Args);
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    EXPECT_NE(run.Err.find(c.Err), std::string::npos) << run.Err;
    EXPECT_FALSE(fs::exists(out));
  }
}

// What `frame` refuses: it never replaces a file unasked, never the film itself, and leaves
// nothing behind when it fails.
TEST_F(TZrfilmFixture, FrameRefusesWhatItShouldNotWrite) {
  const auto film = Package("timed.zrcab", TimedFilm());
  const auto kept = Write("kept.png", std::vector<uint8_t>{'k', 'e', 'p', 't'});
  auto cut = WriteFilm(TimedFilm());
  cut.resize(cut.size() - 3);
  const auto damaged = Write("cut.zrcab", MakeFilmPackage(cut));
  const auto out = (Root / "out.png").string();
  ExpectRefusals({
      {{"frame", film, kept, "--at", "0"}, 1, "zrfilm: " + kept + ": the file exists (give --force to replace it)"},
      {{"frame", film, film, "--at", "0", "--force"}, 1, "zrfilm: " + film + ": this is the film itself"},
      {{"frame", film, Root.string(), "--at", "0"}, 1, ": a folder, not a picture file"},
      {{"frame", film, (Root / "no" / "o.png").string(), "--at", "0"}, 1, ": no such folder " + (Root / "no").string()},
      {{"frame", film, out, "--at", "2.001"}, 1, "nothing to write: --at 00:00:02.001 lies beyond the film's end at 00:00:02.000"},
      {{"frame", film, out, "--segment", "4", "--frame", "0"}, 1, "there is no segment 4 (the film has 3 readable segments)"},
      {{"frame", film, out, "--segment", "3", "--frame", "2"}, 1, "segment 3 has no frame 2 (its frames are 0 to 1)"},
      {{"frame", (Root / "none.zrcab").string(), out, "--at", "0"}, 1, "no such film file"},
      // A damaged film: what lies before the damage can be had; its end and after cannot.
      {{"frame", damaged, out, "--at", "1"}, 1, "lies beyond the readable part of the film, which ends at 00:00:01.000"},
      {{"frame", damaged, out, "--segment", "3", "--frame", "0"}, 1, "there is no segment 3 (the film has 2 readable segments)"},
      {{"frame", film, out, "--at", "x"}, 2, "--at wants a time"},
  }, out);
  EXPECT_EQ(FileBytes(kept), (std::vector<uint8_t>{'k', 'e', 'p', 't'}));
  EXPECT_GT(fs::file_size(film), 0u);
  // Asked, it replaces; before the damage, a damaged film gives its frames.
  EXPECT_EQ(Zrfilm({"frame", film, kept, "--at", "0", "--force"}).Status, 0);
  EXPECT_NE(FileBytes(kept), (std::vector<uint8_t>{'k', 'e', 'p', 't'}));
  const auto early = Zrfilm({"frame", damaged, out, "--at", "0.999"});
  EXPECT_EQ(early.Status, 0) << early.Err;
  EXPECT_NE(early.Err.find("segment 3 cannot be read"), std::string::npos) << early.Err;
  // Nothing but the pictures asked for was left in the folder.
  for (const auto& name : Files(Root)) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

// An 8-bit segment keeps the colours the segments before it set and it does not: its
// pictures alone are those of the whole film.
TEST_F(TZrfilmFixture, OneSegmentKeepsThePaletteTheFilmLeavesIt) {
  GuiApplication();
  std::vector<TWriterSegment> film(2);
  for (auto& s : film) {
    s.Name = "p", s.Width = 2, s.Height = 1, s.BitsPerPixel = 8;
    s.Pictures = {{0, 1}};
  }
  film[0].PaletteChanges = {{0, {{0x10, 0x20, 0x30, 0}, {0x40, 0x50, 0x60, 0}}}};
  film[1].PaletteChanges = {{1, {{0x70, 0x80, 0x90, 0}}}};  // entry 0 stays
  const auto path = Package("palette.zrcab", film);
  ASSERT_EQ(Zrfilm({"frames", path, (Root / "one").string(), "--segment", "2"}).Status, 0);
  ASSERT_EQ(Zrfilm({"frame", path, (Root / "f.png").string(), "--segment", "2", "--frame", "0"}).Status, 0);
  for (const fs::path& picture : {Root / "one" / "002-00000.png", Root / "f.png"}) {
    QImage image(picture.c_str());
    ASSERT_FALSE(image.isNull()) << picture;
    EXPECT_EQ(image.pixel(0, 0) & 0xFFFFFF, 0x302010u) << picture;
    EXPECT_EQ(image.pixel(1, 0) & 0xFFFFFF, 0x908070u) << picture;
  }
}

// Interrupted while it writes, zrfilm leaves whole pictures only: none cut short, no file
// half-written under another name.
TEST_F(TZrfilmFixture, InterruptedRunsLeaveWholePicturesOnly) {
  GuiApplication();
  std::vector<TWriterSegment> film = {NewSegment("big", 320, 240)};
  std::mt19937 rng(7);
  for (int k = 0; k < 30; ++k) {
    std::vector<uint32_t> picture(320 * 240);
    for (uint32_t& p : picture) p = uint32_t(rng()) & 0xFFFFFF;  // noise: slow to compress
    film[0].Pictures.push_back(std::move(picture));
  }
  const auto path = Package("big.zrcab", film);
  for (int round = 0; round < 3; ++round) {
    const auto out = Root / ("cut" + std::to_string(round));
    const pid_t pid = Spawn({"frames", path, out.string()});
    ASSERT_GT(pid, 0);
    // Until a few pictures are there, then at once.
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 && (!fs::exists(out) || Files(out).size() < size_t(1 + round)))
      ::usleep(1000);
    if (ended == 0) {
      ::kill(pid, round == 1 ? SIGTERM : SIGINT);
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    }
    EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
    for (const auto& name : Files(out)) {
      EXPECT_EQ(name.find(".part"), std::string::npos) << name;
      EXPECT_FALSE(QImage((out / name).c_str()).isNull()) << name;
    }
  }
  // The private folder the runs made goes with them, on a signal too.
  EXPECT_FALSE(fs::exists(Root / "veRirove"));
}

// Many zrfilm processes at once, as a script or a job runner starts them: each writes the
// pictures of its own film, never another's.
TEST_F(TZrfilmFixture, ParallelRunsInSeparateProcessesWriteTheirOwnFilm) {
  constexpr int kFilms = 4;
  constexpr int kRounds = 6;
  std::vector<std::string> films;
  for (int i = 0; i < kFilms; ++i) {
    std::vector<TWriterSegment> film = {NewSegment("f" + std::to_string(i), 8, 8)};
    // Frame counts and colours tell the films apart.
    for (int k = 0; k < 3 + i; ++k) film[0].Pictures.push_back(std::vector<uint32_t>(64, uint32_t(0x100000 * (i + 1) + k)));
    films.push_back(Package("film" + std::to_string(i) + ".zrcab", film));
  }
  GuiApplication();
  for (int round = 0; round < kRounds; ++round) {
    std::vector<pid_t> children;
    for (int i = 0; i < kFilms; ++i) {
      const std::string out = (Root / ("r" + std::to_string(round) + "-" + std::to_string(i))).string();
      const pid_t pid = Spawn({"frames", films[size_t(i)], out});
      ASSERT_GT(pid, 0);
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
  EXPECT_TRUE(Files(Root / "veRirove").empty());
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

// ---- Thumbnails ----

// The colour that tells frame k of a thumbnail film: dark, and a different one every frame.
uint32_t FrameColour(int k) { return 0x100000u + uint32_t(k) * 0x000103u; }

// A segment whose frame k is FrameColour(k) all over when blank(k), else with its right half
// white: a picture with content, whose left quarter still tells the frame.
TWriterSegment ThumbnailSegment(int32_t width, int32_t height, uint8_t rate, int frames,
                                const std::function<bool(int)>& blank) {
  TWriterSegment s = NewSegment("t", width, height, 32, rate);
  for (int k = 0; k < frames; ++k) {
    std::vector<uint32_t> picture(size_t(width) * size_t(height), FrameColour(k));
    if (!blank(k))
      for (int32_t y = 0; y < height; ++y)
        std::fill_n(picture.begin() + y * width + width / 2, width - width / 2, 0xFFFFFFu);
    s.Pictures.push_back(std::move(picture));
  }
  return s;
}

// Which frame a thumbnail was made from: the colour of its top left corner.
int ThumbnailFrame(const QImage& thumbnail, int frames) {
  for (int k = 0; k < frames; ++k)
    if ((thumbnail.pixel(0, 0) & 0xFFFFFF) == FrameColour(k)) return k;
  return -1;
}

// The frame a thumbnail shows: from a tenth of the first segment or its first second, the first
// that is not a blank screen; when all are, the one that shows most.
TEST_F(TZrfilmFixture, TheThumbnailShowsTheFirstFrameWithContent) {
  GuiApplication();
  auto never = [](int) { return false; };
  struct TCase {
    const char* Name;
    std::vector<TWriterSegment> Film;
    int Expected;
  };
  // A lone spot of 6 × 6 pixels on 320 × 200: less than a hundredth of the screen.
  TWriterSegment spotted = ThumbnailSegment(320, 200, 10, 30, [](int) { return true; });
  for (int y = 100; y < 106; ++y)
    for (int x = 200; x < 206; ++x) spotted.Pictures[17][size_t(y * 320 + x)] = 0xFFFFFF;
  TWriterSegment noFrames = ThumbnailSegment(320, 200, 10, 0, never);
  const TCase cases[] = {
      {"blank first frames", {ThumbnailSegment(320, 200, 10, 40, [](int k) { return k < 12; })}, 12},
      {"content all along: a tenth in", {ThumbnailSegment(320, 200, 10, 40, never)}, 4},
      {"a long segment: its first second", {ThumbnailSegment(320, 200, 5, 100, never)}, 5},
      {"no frame rate: a tenth in", {ThumbnailSegment(320, 200, 0, 30, never)}, 3},
      {"a short segment: its first frame", {ThumbnailSegment(320, 200, 10, 9, never)}, 0},
      {"content only before the start", {ThumbnailSegment(320, 200, 10, 40, [](int k) { return k > 1; })}, 4},
      {"nearly blank throughout: the one that shows most", {spotted}, 17},
      {"content at the segment's last frame", {ThumbnailSegment(320, 200, 10, 20, [](int k) { return k < 19; })}, 19},
      {"the first segment, not a later one",
       {ThumbnailSegment(320, 200, 10, 20, [](int k) { return k < 8; }), ThumbnailSegment(320, 200, 10, 20, never)}, 8},
      {"a first segment without frames is passed over", {noFrames, ThumbnailSegment(320, 200, 10, 20, never)}, 2},
  };
  int n = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto film = Package("film" + std::to_string(n) + ".zrcab", c.Film);
    const auto out = Root / ("thumb" + std::to_string(n++) + ".png");
    const auto run = Zrfilm({"thumbnail", "-s", "64", film, out.string()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    QImage thumbnail(out.c_str());
    ASSERT_FALSE(thumbnail.isNull());
    EXPECT_EQ(thumbnail.size(), QSize(64, 40));
    EXPECT_EQ(ThumbnailFrame(thumbnail, 100), c.Expected);
  }
}

// Far beyond the first frames the thumbnail does not look: a screen blank for longer shows the
// frame it starts at.
TEST_F(TZrfilmFixture, TheThumbnailLooksAHundredFramesOnAtMost) {
  GuiApplication();
  const auto film = Package("late.zrcab", {ThumbnailSegment(64, 40, 25, 400, [](int k) { return k < 300; })});
  const auto out = Root / "late.png";
  ASSERT_EQ(Zrfilm({"thumbnail", film, out.string()}).Status, 0);
  EXPECT_EQ(ThumbnailFrame(QImage(out.c_str()), 400), 25);
}

// The thumbnail fits SIZE × SIZE with the picture's aspect ratio; small pictures keep their size.
TEST_F(TZrfilmFixture, TheThumbnailFitsTheSizeAndKeepsTheAspectRatio) {
  GuiApplication();
  struct TCase {
    int32_t Width, Height;
    std::vector<std::string> Size;
    QSize Expected;
  };
  const TCase cases[] = {
      {320, 200, {}, QSize(256, 160)},          {1024, 768, {"-s", "128"}, QSize(128, 96)},
      {200, 320, {"--size", "64"}, QSize(40, 64)}, {301, 17, {"-s", "100"}, QSize(100, 6)},
      {50, 30, {}, QSize(50, 30)},               {50, 30, {"-s", "50"}, QSize(50, 30)},
      {1000, 2, {"-s", "10"}, QSize(10, 1)},     {3, 2000, {"-s", "7"}, QSize(1, 7)},
      {640, 480, {"-s", "1"}, QSize(1, 1)},      {333, 333, {"-s", "100"}, QSize(100, 100)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Width) + "x" + std::to_string(c.Height));
    const auto film = Package("sized.zrcab", {ThumbnailSegment(c.Width, c.Height, 10, 3, [](int) { return false; })});
    const auto out = Root / "sized.png";
    std::vector<std::string> args = {"thumbnail", film, out.string()};
    args.insert(args.begin() + 1, c.Size.begin(), c.Size.end());
    const auto run = Zrfilm(args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(QImage(out.c_str()).size(), c.Expected);
  }
}

// Area averaging: every source pixel counts with the share of the target pixel it covers.
TEST(Thumbnail, ScalingAveragesTheAreaEachPixelCovers) {
  struct TCase {
    const char* Name;
    int32_t Width, Height, Size;
    std::vector<uint32_t> Pixels;    // 0x00RRGGBB, row by row
    std::vector<uint32_t> Expected;  // the scaled picture
  };
  const TCase cases[] = {
      // Target pixels of 1.5 source pixels: (0 + 90/2) / 1.5 and (90/2 + 255) / 1.5.
      {"a pixel and a half", 3, 1, 2, {0x000000, 0x5A5A5A, 0xFFFFFF}, {0x1E1E1E, 0xC8C8C8}},
      {"a checkerboard turns grey", 4, 2, 2, {0, 0xFFFFFF, 0, 0xFFFFFF, 0xFFFFFF, 0, 0xFFFFFF, 0}, {0x808080, 0x808080}},
      {"channels apart", 2, 2, 1, {0xFF0000, 0x00FF00, 0x0000FF, 0x000000}, {0x404040}},
      {"blocks of four", 4, 4, 2,
       {0x10, 0x10, 0x20, 0x20, 0x10, 0x10, 0x20, 0x20, 0x30, 0x30, 0x40, 0x40, 0x30, 0x30, 0x40, 0x40},
       {0x10, 0x20, 0x30, 0x40}},
      {"fits already: copied", 2, 1, 5, {0x123456, 0xABCDEF}, {0x123456, 0xABCDEF}},
      {"one row down to one pixel", 5, 1, 1, {10, 20, 30, 40, 50}, {30}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto picture = TRasterBitmap::Create(c.Width, c.Height, 32);
    for (int32_t y = 0; y < c.Height; ++y)
      for (int32_t x = 0; x < c.Width; ++x) {
        const uint32_t v = c.Pixels[size_t(y * c.Width + x)];
        uint8_t* p = picture->Row(y) + 4 * x;
        p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16);
      }
    const auto scaled = ScaleToFit(*picture, c.Size);
    ASSERT_TRUE(scaled);
    std::vector<uint32_t> got;
    for (int32_t y = 0; y < scaled->Height(); ++y)
      for (int32_t x = 0; x < scaled->Width(); ++x) got.push_back(scaled->PixelColor(x, y));
    EXPECT_EQ(got, c.Expected);
  }
  // Indexed pictures are averaged in their colours, not their indices.
  auto indexed = TRasterBitmap::Create(2, 1, 8);
  TColorTable table{};
  table[1] = {0xFF, 0x00, 0x00, 0};  // blue
  table[2] = {0x00, 0x00, 0xFF, 0};  // red
  indexed->SetColorTable(table);
  indexed->Row(0)[0] = 1, indexed->Row(0)[1] = 2;
  EXPECT_EQ(ScaleToFit(*indexed, 1)->PixelColor(0, 0), 0x800080u);
}

TEST(Thumbnail, ContentIsWhatDiffersFromTheMainColour) {
  struct TCase {
    const char* Name;
    int32_t Width, Height;
    std::function<uint32_t(int32_t, int32_t)> Pixel;
    double Least, Most;
  };
  const TCase cases[] = {
      {"one colour", 640, 480, [](int32_t, int32_t) { return 0x336699u; }, 0, 0},
      {"a faint gradient", 640, 480, [](int32_t x, int32_t) { return uint32_t(0x40 + x * 20 / 640) * 0x010101u; }, 0, 0},
      {"half white", 640, 480, [](int32_t x, int32_t) { return x < 320 ? 0x000040u : 0xFFFFFFu; }, 0.49, 0.51},
      {"a lone cursor", 1024, 768, [](int32_t x, int32_t y) { return x / 32 == 10 && y / 32 == 10 ? 0u : 0x2060A0u; }, 0, 0.005},
      {"text on every eighth row", 800, 600, [](int32_t, int32_t y) { return y % 8 == 0 ? 0u : 0xFFFFFFu; }, 0.1, 0.15},
      {"a single pixel", 1, 1, [](int32_t, int32_t) { return 0xFFFFFFu; }, 0, 0},
      {"noise", 100, 100, [](int32_t x, int32_t y) { return uint32_t(x * 7919 + y * 104729) * 2654435761u & 0xFFFFFF; }, 0.9, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto picture = TRasterBitmap::Create(c.Width, c.Height, 24);
    for (int32_t y = 0; y < c.Height; ++y)
      for (int32_t x = 0; x < c.Width; ++x) {
        const uint32_t v = c.Pixel(x, y);
        uint8_t* p = picture->Row(y) + 3 * x;
        p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16);
      }
    const double share = ContentShare(*picture);
    EXPECT_GE(share, c.Least);
    EXPECT_LE(share, c.Most);
    EXPECT_EQ(share >= kMinContentShare, c.Least >= kMinContentShare);
  }
}

// The same picture from a package and from an executable film; what cannot be had leaves no
// file, and a file already there is replaced, as a file manager's fresh temporary file is.
TEST_F(TZrfilmFixture, ThumbnailsOfPackagesExecutablesAndWhatFails) {
  GuiApplication();
  const auto package = MakeFilmPackage(WriteFilm(std::vector<TWriterSegment>{ThumbnailSegment(320, 200, 10, 30, [](int k) { return k < 6; })}));
  const auto cabFilm = Write("урок 1.zrcab", package);
  const auto exeFilm = Write("урок 1.exe", MakeExecutableFilm(std::vector<uint8_t>(77, 0x4D), package));
  const auto fromCab = Root / "cab.png", fromExe = Root / "exe.png";
  WriteFileBytes(fromExe.string(), {});  // created empty beforehand, as some file managers do
  ASSERT_EQ(Zrfilm({"thumbnail", cabFilm, fromCab.string()}).Status, 0);
  const auto exeRun = Zrfilm({"thumbnail", exeFilm, fromExe.string()});
  ASSERT_EQ(exeRun.Status, 0) << exeRun.Err;
  EXPECT_EQ(ThumbnailFrame(QImage(fromCab.c_str()), 30), 6);
  EXPECT_FALSE(FileBytes(fromCab).empty());
  EXPECT_EQ(FileBytes(fromCab), FileBytes(fromExe));
  // The thumbnailer program: the same picture from the same command line, its own name in its
  // messages.
  const auto fromThumbnailer = Root / "thumbnailer.png";
  EXPECT_EQ(Zrfilm({"-s", "256", cabFilm, fromThumbnailer.string()}, RunThumbnailer).Status, 0);
  EXPECT_EQ(FileBytes(fromThumbnailer), FileBytes(fromCab));
  const auto refused = Zrfilm({cabFilm, cabFilm}, RunThumbnailer);
  EXPECT_EQ(refused.Status, 1);
  EXPECT_EQ(refused.Err, "veRirove-thumbnailer: " + cabFilm + ": this is the film itself\n");
  const auto wrong = Zrfilm({"--force", cabFilm, fromThumbnailer.string()}, RunThumbnailer);
  EXPECT_EQ(wrong.Status, 2);
  EXPECT_EQ(wrong.Err.rfind("veRirove-thumbnailer: thumbnail does not take --force\nusage: veRirove-thumbnailer", 0), 0u)
      << wrong.Err;

  // Cut short after its first segment, the film still shows it. The damage lies beyond the
  // segment shown, which is as far as a thumbnail reads: nothing is said of it.
  auto cut = WriteFilm(std::vector<TWriterSegment>{ThumbnailSegment(320, 200, 10, 30, [](int k) { return k < 6; }), ThumbnailSegment(8, 8, 10, 3, [](int) {
                          return false;
                        })});
  cut.resize(cut.size() - 3);
  const auto cutRun = Zrfilm({"thumbnail", Write("cut.zrcab", MakeFilmPackage(cut)), (Root / "cut.png").string()});
  EXPECT_EQ(cutRun.Status, 0) << cutRun.Err;
  EXPECT_EQ(cutRun.Err, "");
  EXPECT_EQ(ThumbnailFrame(QImage((Root / "cut.png").c_str()), 30), 6);

  auto raw = std::vector<TRawSegment>{EncodeSegment(ThumbnailSegment(8, 8, 10, 3, [](int) { return false; }))};
  raw[0].BitsPerPixel = 16;
  const auto sixteen = Write("sixteen.zrcab", MakeFilmPackage(WriteFilmRaw(raw)));
  auto halfFilm = WriteFilm(std::vector<TWriterSegment>{ThumbnailSegment(320, 200, 10, 30, [](int) { return false; })});
  halfFilm.resize(halfFilm.size() / 2);
  const auto half = Write("half.zrcab", MakeFilmPackage(halfFilm));
  const auto empty = Write("empty.zrcab", MakeFilmPackage(std::vector<uint8_t>{0, 0, 0, 0}));
  const auto junk = Write("junk.zrcab", std::vector<uint8_t>(100, 'x'));
  const auto out = (Root / "out.png").string();
  ExpectRefusals({
      {{"thumbnail", junk, out}, 1, "zrfilm: " + junk + ": this file format is not supported"},
      {{"thumbnail", half, out}, 1, "zrfilm: " + half + ": the film is cut short"},
      {{"thumbnail", empty, out}, 1, "zrfilm: " + empty + ": the film has no frames: there is nothing to show"},
      {{"thumbnail", sixteen, out}, 1, "segment 1: 16 bits per pixel cannot be played"},
      {{"thumbnail", (Root / "нет.zrcab").string(), out}, 1, "no such film file"},
      {{"thumbnail", cabFilm, cabFilm}, 1, "zrfilm: " + cabFilm + ": this is the film itself"},
      {{"thumbnail", cabFilm, Root.string()}, 1, ": a folder, not a picture file"},
      {{"thumbnail", cabFilm, (Root / "no" / "o.png").string()}, 1, ": no such folder"},
      {{"thumbnail", "-s", "0", cabFilm, out}, 2, "-s wants a size in pixels from 1 to 4096"},
  }, out);
  EXPECT_EQ(FileBytes(cabFilm), package);
  for (const auto& name : Files(Root)) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

// ---- Hostile films ----

// A file manager thumbnails every film it lists: on any file, within this memory and processor
// time (in slow builds only a watchdog), a picture or a message, never an abort.
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__)
constexpr rlim_t kThumbnailSeconds = 2;
#else
constexpr rlim_t kThumbnailSeconds = 30;
#endif
constexpr rlim_t kThumbnailMemory = rlim_t{256} << 20;

// A 32-bit segment declaring `declared` frames, of which the first `frames` repaint the whole
// picture in one colour: a blank screen every frame, each touching every pixel.
TRawSegment RepaintedSegment(int32_t width, int32_t height, int frames, int32_t declared, uint8_t rate) {
  TRawSegment s;
  s.Width = width, s.Height = height, s.BitsPerPixel = 32;
  s.FrameRate = s.ListFrameRate = rate;
  s.FrameCount = s.ListFrameCount = declared;
  for (int k = 0; k < frames; ++k) {
    std::vector<TWriterRun> runs;
    for (int64_t left = int64_t(width) * height; left > 0; left -= 65535)
      runs.push_back({FrameColour(k), uint32_t(std::min<int64_t>(left, 65535))});
    const std::vector<uint8_t> record = EncodeFrameRecord(runs, 32);
    s.FrameData.insert(s.FrameData.end(), record.begin(), record.end());
  }
  s.FrameDataSize = int32_t(s.FrameData.size());
  return s;
}

struct THostileFilms : TTempRootFixture {};

// Standard error without the sanitizers' own lines ("==PID==WARNING: ...").
std::string WithoutSanitizerNotes(const std::string& err) {
  std::string kept;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);)
    if (!line.starts_with("==")) kept += line + "\n";
  return kept;
}

// Both programs, each run a child under the limits above (under AddressSanitizer: no allocation
// over 96 MiB), give a picture and say nothing, or exit 1 with a message and no picture, and
// leave nothing in the temporary folders. Small films stand for hostile ones of up to 100 MB.
TEST_F(THostileFilms, ThumbnailsStayWithinTheirLimits) {
  constexpr int32_t kEmptySegments = 200000;
  const TWriterSegment framed = ThumbnailSegment(64, 40, 10, 3, [](int) { return false; });
  const std::string manyFilm = Package("many.zrcab", EmptySegmentsThen(kEmptySegments + 1, framed));
  auto film = [&](const std::string& name, std::vector<TRawSegment> segments) {
    return Write(name, MakeFilmPackage(WriteFilmRaw(segments)));
  };
  const std::string endless = film("endless.zrcab", {RepaintedSegment(640, 480, 3, INT32_MAX, 0)});
  const std::string repainted = film("repainted.zrcab", {RepaintedSegment(4000, 4000, 300, 300, 25)});
  const std::string huge = film("huge.zrcab", {RepaintedSegment(8000, 8000, 1, 1, 10)});
  const std::string small = Package("small.zrcab", {framed});
  // 129 MiB of frame data in a segment without frames, before the one with frames.
  TRawSegment padding = EncodeSegment(NewSegment("", 64, 40));
  padding.FrameData.resize(size_t{129} << 20);
  padding.FrameDataSize = int32_t(padding.FrameData.size());
  const std::string padded = film("padded.zrcab", {std::move(padding), EncodeSegment(framed)});

  struct TCommand {
    std::string Program;  // the name its messages start with
    std::vector<std::string> Words;
  };
  const std::string out = (Root / "out" / "thumb.png").string();
  auto thumbnails = [&](const std::string& f) {
    return std::vector<TCommand>{{"veRirove-thumbnailer", {VERIROVE_THUMBNAILER, "-s", "128", f, out}},
                                 {"zrfilm", {VERIROVE_ZRFILM, "thumbnail", "-s", "128", f, out}}};
  };
  struct TCase {
    const char* Name;
    std::string Film;
    std::vector<TCommand> Commands;
    std::string Message;  // after "PROGRAM: FILM: "; none when a picture is made
    bool Starved = false;  // too little memory for the frame buffer
  };
  const TCase cases[] = {
      {"200,000 empty segments, then one with frames", manyFilm, thumbnails(manyFilm),
       "no frames in the film's first 10000 segments: there is nothing to show"},
      {"129 MiB of frame data before the frames", padded, thumbnails(padded),
       "more than this program reads: LoadFromFile: the segments wanted end beyond the first 128 MiB of the film file"},
      {"one frame of 200,000 empty segments and one with frames", manyFilm,
       {{"zrfilm", {VERIROVE_ZRFILM, "frame", manyFilm, out, "--segment", std::to_string(kEmptySegments + 1), "--frame", "0"}}},
       ""},
      {"2^31-1 frames at frame rate 0", endless, thumbnails(endless), ""},
      {"every frame repaints 4000 x 4000 pixels", repainted, thumbnails(repainted), ""},
      {"frames of 8000 x 8000 pixels", huge, thumbnails(huge), "a frame of 8000 x 8000 pixels is too large for a thumbnail"},
      {"too little memory", small, thumbnails(small), "no memory for the frame buffer", true},
  };
  const fs::path runtime = Root / "run", temp = Root / "tmp";
  for (const TCase& c : cases) {
    for (const TCommand& command : c.Commands) {
      SCOPED_TRACE(std::string(c.Name) + ": " + command.Words[1]);
      for (const auto& dir : {runtime, temp, fs::path(out).parent_path()}) {
        fs::remove_all(dir);
        fs::create_directory(dir);
      }
      TChildSetup setup;
      setup.CpuSeconds = kThumbnailSeconds;
      // zrfilm maps more than the memory given in libraries alone: only its data is limited.
      const bool thumbnailer = command.Program != "zrfilm";
      const rlim_t memory = !c.Starved ? kThumbnailMemory : rlim_t(thumbnailer ? 48 : 72) << 20;
      (thumbnailer ? setup.AddressSpaceLimit : setup.DataLimit) = memory;
      setup.AsanLargestAllocationMb = c.Starved ? 32 : 96;
      setup.Environment = {"XDG_RUNTIME_DIR=" + runtime.string(), "TMPDIR=" + temp.string()};
      TChildRun run = RunChild(command.Words, setup, (Root / "stderr").string());
      run.Err = WithoutSanitizerNotes(run.Err);
      if (c.Message.empty()) {
        EXPECT_EQ(run.Status, 0) << run.Err << " (signal " << run.Signal << ")";
        EXPECT_EQ(run.Err, "");
        EXPECT_FALSE(QImage(QString::fromStdString(out)).isNull());
      } else {
        EXPECT_EQ(run.Status, 1) << "signal " << run.Signal;
        EXPECT_EQ(run.Err, command.Program + ": " + c.Film + ": " + c.Message + "\n");
        EXPECT_EQ(Files(fs::path(out).parent_path()), std::vector<std::string>{});
      }
      if (!kAddressSanitizer) {
        EXPECT_LE(rlim_t(run.PeakKb) << 10, kThumbnailMemory);
      }
      EXPECT_EQ(Files(runtime), std::vector<std::string>{});
      EXPECT_EQ(Files(temp), std::vector<std::string>{});
    }
  }
}

}  // namespace
