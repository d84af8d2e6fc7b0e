// The helpers every layer shares.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "io/SignalCatcher.h"
#include "io/UniqueFd.h"

namespace {

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

std::atomic<int> gHeard{0}, gCleanedUp{0};
void Hear(int) { gHeard.fetch_add(1); }
void CleanUp() { gCleanedUp.fetch_add(1); }

void (*Disposition(int sig))(int) {
  struct sigaction now {};
  ::sigaction(sig, nullptr, &now);
  return now.sa_handler;
}

}  // namespace

TEST(UniqueFd, ClosesWhatItHoldsOnceAndLeavesErrnoAlone) {
  TFd moved, given(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int fd = given.Release();
  given.Reset();
  ASSERT_TRUE(IsOpen(fd));
  moved = TFd(fd);
  // A close that fails (here: the descriptor is gone already) keeps the caller's errno.
  ::close(fd);
  errno = ENOSPC;
  moved.Reset();
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_FALSE(moved);
}

// The handler the program had before hears a signal at once, once the catcher goes, or never;
// it is back in place afterwards. One the program was started to ignore stays ignored.
TEST(SignalCatcher, HandsTheSignalOnAsAskedAndPutsTheHandlersBeforeBack) {
  using enum TSignalCatcher::THandOn;
  struct TCase {
    TSignalCatcher::THandOn HandOn;
    void (*Before)(int);
    int HeardAtOnce, HeardAtEnd;
  };
  const TCase cases[] = {
      {Now, Hear, 1, 1}, {AtEnd, Hear, 0, 1}, {Never, Hear, 0, 0}, {Never, SIG_IGN, 0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(int(c.HandOn));
    struct sigaction before {}, saved {};
    before.sa_handler = c.Before;
    sigemptyset(&before.sa_mask);
    ASSERT_EQ(::sigaction(SIGTERM, &before, &saved), 0);
    gHeard = gCleanedUp = 0;
    const bool ignored = c.Before == SIG_IGN;
    {
      std::atomic<bool> flag{false};
      const TSignalCatcher catcher(c.HandOn, &flag, CleanUp);
      EXPECT_EQ(Disposition(SIGTERM) == c.Before, ignored);
      ::raise(SIGTERM);
      EXPECT_EQ(flag, !ignored);
      EXPECT_EQ(gCleanedUp, ignored ? 0 : 1);
      EXPECT_EQ(gHeard, c.HeardAtOnce);
    }
    EXPECT_EQ(gHeard, c.HeardAtEnd);
    EXPECT_EQ(Disposition(SIGTERM), c.Before);
    ::sigaction(SIGTERM, &saved, nullptr);
  }
}
