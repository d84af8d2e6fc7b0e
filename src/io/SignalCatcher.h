// The signals that end a run from outside (Ctrl+C, kill, a terminal that closes) caught, so
// that what the run leaves behind goes first.
//
// A catcher takes SIGINT, SIGTERM and SIGHUP from its making; one the program was started to
// ignore (nohup) stays ignored. Its handler does only what is safe in a signal handler: it
// notes the signal, sets `flag` when given and calls `cleanUp` when given, which must itself
// be safe there. What becomes of the signal then is the catcher's THandOn:
//   Now    at once, after cleanUp, the handler the program had before hears it (by default
//          it ends the process); the catcher no longer takes that signal.
//   AtEnd  when the catcher goes, the handlers before come back and the signal caught
//          meanwhile is raised again for them, as if it came then.
//   Never  when the catcher goes, the handlers before come back; the program, told by the
//          flag, winds down and ends with a status of its own.
// Catchers nest: the one made last hears the signals until it goes, and they go in the
// reverse order of their making.
#pragma once

#include <signal.h>

#include <atomic>
#include <cstddef>

class TSignalCatcher {
 public:
  enum class THandOn { Now, AtEnd, Never };

  explicit TSignalCatcher(THandOn handOn, std::atomic<bool>* flag = nullptr, void (*cleanUp)() = nullptr);
  ~TSignalCatcher();
  TSignalCatcher(const TSignalCatcher&) = delete;
  TSignalCatcher& operator=(const TSignalCatcher&) = delete;

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  static constexpr size_t kCount = sizeof kSignals / sizeof kSignals[0];

  static void OnSignal(int sig);
  void Hear(int sig);

  const THandOn FHandOn;
  std::atomic<bool>* const FFlag;
  void (*const FCleanUp)();
  std::atomic<int> FCaught{0};  // the last signal heard, for AtEnd
  struct sigaction FBefore[kCount] {};
  bool FTaken[kCount] = {};
  TSignalCatcher* FOuter = nullptr;
};
