// The command line on a 1024 × 768 screen with the window's minimum of 500 × 300, and what
// the programs answer on the terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "shell/app/UzrCommandLine.h"

namespace {

struct TCase {
  const char* name;
  std::vector<std::string> args;
  bool ok;
  TStartOptions expected;
};

TStartOptions Opt(const char* path, int32_t left, int32_t top, int32_t width, int32_t height,
                  bool maximized, int32_t segment = 0, bool autoFull = false, bool close = false,
                  int64_t start = -1) {
  TStartOptions o;
  o.StartFilmPath = path;
  o.WinLeft = left, o.WinTop = top, o.WinWidth = width, o.WinHeight = height;
  o.Maximized = maximized;
  o.StartSegment = segment;
  o.AutoFullScreen = autoFull;
  o.CloseOnFinish = close;
  o.StartMillis = start;
  return o;
}

TEST(CommandLine, TheSwitchesOnA1024By768Screen) {
  const TCase cases[] = {
      {"a film path alone", {"film.zrcab"}, true, Opt("film.zrcab", 0, 0, 1024, 768, true)},
      {"size and centre", {"/size", "640", "480", "/pos", "c", "f.zrcab"}, true, Opt("f.zrcab", 192, 144, 640, 480, false)},
      {"centre before size", {"/pos", "c", "/size", "640", "480", "f.zrcab"}, true, Opt("f.zrcab", 0, 0, 640, 480, false)},
      {"right and bottom", {"/size", "640", "480", "/pos", "r", "b"}, true, Opt("", 384, 288, 640, 480, false)},
      {"clamped to the bottom", {"/size", "640", "480", "/pos", "0", "700"}, true, Opt("", 0, 288, 640, 480, false)},
      {"negative position", {"/pos", "-50", "-50"}, true, Opt("", 0, 0, 1024, 768, true)},
      {"larger than the screen", {"/size", "2000", "1500"}, true, Opt("", -976, -732, 2000, 1500, false)},
      {"position left pending", {"/pos", "10"}, true, Opt("", 0, 0, 1024, 768, true)},
      {"left, then a number", {"/pos", "l", "7"}, true, Opt("", 0, 0, 1024, 768, true)},
      {"size max", {"/size", "max"}, true, Opt("", 0, 0, 1024, 768, true, 0, true)},
      {"size min", {"/size", "min"}, true, Opt("", 0, 0, 500, 300, false)},
      {"size of the screen", {"/size", "1024", "768"}, true, Opt("", 0, 0, 1024, 768, false, 0, true)},
      {"size min keeps full screen", {"/size", "max", "/size", "min"}, true, Opt("", 0, 0, 500, 300, false, 0, true)},
      {"start segment", {"/segm", "2", "film"}, true, Opt("film", 0, 0, 1024, 768, true, 2)},
      {"capitals and a dash", {"-CLOSEONFINISH", "Film.ZRCAB"}, true, Opt("Film.ZRCAB", 0, 0, 1024, 768, true, 0, false, true)},
      {"two film paths", {"a.zrcab", "b.zrcab"}, true, Opt("b.zrcab", 0, 0, 1024, 768, true)},
      {"unknown switch before a path", {"/fast", "film"}, true, Opt("film", 0, 0, 1024, 768, true)},
      {"unknown switch and a number", {"/sizes", "12"}, true, Opt("12", 0, 0, 1024, 768, true)},
      {"hexadecimal values", {"/size", "$280", "0x1E0", "/pos", "x10", "$FFFFFFFF"}, true,
       Opt("", 16, 0, 640, 480, false)},
      {"an absolute path", {"/size", "640", "480", "/home/me/film.zrcab"}, true,
       Opt("/home/me/film.zrcab", 0, 0, 640, 480, false)},
      {"a film at the root", {"/film.zrcab", "/closeonfinish"}, true, Opt("/film.zrcab", 0, 0, 1024, 768, true, 0, false, true)},
      {"blanks round the path", {" \t film.zrcab \x01"}, true, Opt("film.zrcab", 0, 0, 1024, 768, true)},
      {"a pending segment is dropped", {"film", "/segm"}, true, Opt("film", 0, 0, 1024, 768, true)},
      {"a position word that is no number", {"/pos", "10", "top"}, false, {}},
      {"a segment word that is no number", {"/segm", "two"}, false, {}},
      {"a width out of range", {"/size", "2147483648", "1"}, false, {}},
      {"trailing characters", {"/segm", "2x"}, false, {}},
      {"start in seconds", {"/start", "83", "f"}, true, Opt("f", 0, 0, 1024, 768, true, 0, false, false, 83000)},
      {"start with a fraction", {"f", "-START", "1:23.5"}, true, Opt("f", 0, 0, 1024, 768, true, 0, false, false, 83500)},
      {"start after a segment", {"/segm", "2", "/start", "0:01:00.250", "f"}, true,
       Opt("f", 0, 0, 1024, 768, true, 2, false, false, 60250)},
      {"start zero", {"/start", "0"}, true, Opt("", 0, 0, 1024, 768, true, 0, false, false, 0)},
      {"the last start counts", {"/start", "5", "/start", "7"}, true, Opt("", 0, 0, 1024, 768, true, 0, false, false, 7000)},
      {"a pending start is dropped", {"f", "/start"}, true, Opt("f", 0, 0, 1024, 768, true)},
      {"a start that is a word", {"/start", "soon"}, false, {}},
      {"a start of 60 minutes after a colon", {"/start", "1:60"}, false, {}},
      {"a negative start", {"/start", "-1"}, false, {}},
      {"a start with a blank", {"/start", "1 "}, false, {}},
      {"a longer switch is another one", {"/startx", "12"}, true, Opt("12", 0, 0, 1024, 768, true)},
  };
  for (const auto& c : cases) {
    TStartOptions got;
    ASSERT_EQ(ParseCommandLine(c.args, 1024, 768, 500, 300, got), c.ok) << c.name;
    if (!c.ok) continue;
    EXPECT_EQ(got.StartFilmPath, c.expected.StartFilmPath) << c.name;
    EXPECT_EQ(got.WinLeft, c.expected.WinLeft) << c.name;
    EXPECT_EQ(got.WinTop, c.expected.WinTop) << c.name;
    EXPECT_EQ(got.WinWidth, c.expected.WinWidth) << c.name;
    EXPECT_EQ(got.WinHeight, c.expected.WinHeight) << c.name;
    EXPECT_EQ(got.Maximized, c.expected.Maximized) << c.name;
    EXPECT_EQ(got.StartSegment, c.expected.StartSegment) << c.name;
    EXPECT_EQ(got.AutoFullScreen, c.expected.AutoFullScreen) << c.name;
    EXPECT_EQ(got.CloseOnFinish, c.expected.CloseOnFinish) << c.name;
    EXPECT_EQ(got.StartMillis, c.expected.StartMillis) << c.name;
  }
}

TEST(CommandLine, NoArgumentsReadNothing) {
  TStartOptions got;
  got.WinWidth = 800;
  EXPECT_TRUE(ParseCommandLine({}, 1024, 768, 500, 300, got));
  EXPECT_EQ(got.WinWidth, 800);
}

TEST(CommandLine, IntegerConversion) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},           {"  42", true, 42},           {"+7", true, 7},
      {"-10", true, -10},       {"2147483647", true, INT32_MAX}, {"-2147483648", true, INT32_MIN},
      {"$FF", true, 255},       {"xff", true, 255},           {"0X10", true, 16},
      {"$FFFFFFFF", true, -1},  {"$80000000", true, INT32_MIN}, {"$000000001", true, 1},
      {"2147483648", false, 0}, {"-2147483649", false, 0},    {"$100000000", false, 0},
      {"", false, 0},           {"   ", false, 0},            {"$", false, 0},
      {"0x", false, 0},         {"12 ", false, 0},            {"1e3", false, 0},
      {"-$10", false, 0},       {"--1", false, 0},            {"$G1", false, 0},
  };
  for (const auto& c : cases) {
    int32_t v = 0;
    EXPECT_EQ(StrToInt32(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

// "--version" and "--help" speak to the terminal only when alone; among other arguments they
// stay unknown switches, which the player skips.
TEST(CommandLine, VersionAndHelpAloneAreForTheTerminal) {
  struct TCase {
    std::vector<std::string> Args;
    TTerminalRequest Expected;
  };
  const TCase cases[] = {
      {{"--version"}, TTerminalRequest::Version},
      {{"--help"}, TTerminalRequest::Help},
      {{}, TTerminalRequest::None},
      {{"--version", "film.zrcab"}, TTerminalRequest::None},
      {{"film.zrcab", "--help"}, TTerminalRequest::None},
      {{"--help", "--version"}, TTerminalRequest::None},
      {{"--HELP"}, TTerminalRequest::None},
      {{"/version"}, TTerminalRequest::None},
      {{"-version"}, TTerminalRequest::None},
      {{"--help="}, TTerminalRequest::None},
      {{"--versions"}, TTerminalRequest::None},
  };
  for (const TCase& c : cases) {
    std::string joined;
    for (const auto& a : c.Args) joined += "[" + a + "]";
    EXPECT_EQ(TerminalRequest(c.Args), c.Expected) << joined;
  }
  // Among other arguments the player reads them as it reads any unknown switch.
  TStartOptions got;
  ASSERT_TRUE(ParseCommandLine({"--help", "film.zrcab"}, 1024, 768, 500, 300, got));
  EXPECT_EQ(got.StartFilmPath, "film.zrcab");
  EXPECT_TRUE(TerminalText(TTerminalRequest::None).empty());
}

struct TOutput {
  int Status = -1;
  std::string Out, Err;
};

// Runs a program as a terminal does without a display: no DISPLAY, WAYLAND_DISPLAY or
// QT_QPA_PLATFORM in its environment.
TOutput RunWithoutDisplay(const std::vector<std::string>& words) {
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (name != "DISPLAY" && name != "WAYLAND_DISPLAY" && name != "QT_QPA_PLATFORM") environment.push_back(entry);
  }
  std::vector<char*> env, argv;
  for (auto& e : environment) env.push_back(e.data());
  env.push_back(nullptr);
  std::vector<std::string> copy = words;
  for (auto& w : copy) argv.push_back(w.data());
  argv.push_back(nullptr);
  int out[2], err[2];
  TOutput result;
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  // The answers are short: read standard output, then standard error.
  for (auto [fd, text] : {std::pair{out[0], &result.Out}, std::pair{err[0], &result.Err}}) {
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text->append(buffer, size_t(n));
    ::close(fd);
  }
  if (spawned != 0) return result;
  int status = 0;
  if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.Status = WEXITSTATUS(status);
  return result;
}

TEST(Terminal, TheProgramsAnswerVersionAndHelpWithoutADisplay) {
  struct TCase {
    std::vector<std::string> Words;
    std::string Out;  // the whole output, or its start when Prefix
    bool Prefix;
  };
  std::vector<TCase> cases = {
#ifdef VERIROVE_ZRFILM
      {{VERIROVE_ZRFILM, "--version"}, "zrfilm 1.4.1\n", false},
      {{VERIROVE_ZRFILM, "--help"}, "usage: zrfilm info FILM\n", true},
#endif
#ifdef VERIROVE_PLAYER
      {{VERIROVE_PLAYER, "--version"}, "veRirove 1.4.1\n", false},
      {{VERIROVE_PLAYER, "--help"}, "Использование: veRirove [фильм] [/closeonfinish]\n", true},
#endif
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Words[0] + " " + c.Words[1]);
    const TOutput run = RunWithoutDisplay(c.Words);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(c.Prefix ? run.Out.substr(0, c.Out.size()) : run.Out, c.Out);
  }
#ifdef VERIROVE_PLAYER
  // The synopsis names every switch the player knows.
  const std::string help = RunWithoutDisplay({VERIROVE_PLAYER, "--help"}).Out;
  for (const char* word : {"/closeonfinish", "/size max", "/size min", "/size Ш В", "/pos c", "/pos X Y", "/segm N",
                           "/start ВРЕМЯ", "--help", "--version"})
    EXPECT_NE(help.find(word), std::string::npos) << word;
#endif
}

}  // namespace
