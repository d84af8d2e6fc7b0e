// The helpers every layer shares.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "io/UniqueFd.h"

namespace {

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

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
