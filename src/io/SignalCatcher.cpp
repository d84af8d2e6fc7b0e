#include "io/SignalCatcher.h"

#include <cerrno>

namespace {

// The catcher that hears the signals: the handler reads nothing but lock-free atomics and
// what a catcher wrote before it was made current.
std::atomic<TSignalCatcher*> gCurrent{nullptr};
static_assert(std::atomic<TSignalCatcher*>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
              std::atomic<bool>::is_always_lock_free);

}  // namespace

TSignalCatcher::TSignalCatcher(THandOn handOn, std::atomic<bool>* flag, void (*cleanUp)())
    : FHandOn(handOn), FFlag(flag), FCleanUp(cleanUp) {
  // A signal the program was started to ignore stays ignored.
  for (size_t i = 0; i < kCount; ++i)
    FTaken[i] = ::sigaction(kSignals[i], nullptr, &FBefore[i]) == 0 && FBefore[i].sa_handler != SIG_IGN;
  // Complete before it hears anything.
  FOuter = gCurrent.exchange(this);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < kCount; ++i)
    if (FTaken[i]) FTaken[i] = ::sigaction(kSignals[i], &action, nullptr) == 0;
}

TSignalCatcher::~TSignalCatcher() {
  for (size_t i = 0; i < kCount; ++i)
    if (FTaken[i]) ::sigaction(kSignals[i], &FBefore[i], nullptr);
  gCurrent.store(FOuter);
  if (FHandOn != THandOn::AtEnd) return;
  if (const int sig = FCaught.exchange(0)) ::raise(sig);
}

void TSignalCatcher::OnSignal(int sig) {
  const int saved = errno;
  if (TSignalCatcher* catcher = gCurrent.load()) {
    catcher->Hear(sig);
  } else {
    // No catcher left (one went while the signal came): the signal's default action.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
  }
  errno = saved;
}

void TSignalCatcher::Hear(int sig) {
  FCaught.store(sig);
  if (FFlag) FFlag->store(true);
  if (FCleanUp) FCleanUp();
  if (FHandOn != THandOn::Now) return;
  for (size_t i = 0; i < kCount; ++i)
    if (kSignals[i] == sig) ::sigaction(sig, &FBefore[i], nullptr);
  ::raise(sig);
}
