// A file descriptor with one owner, closed when the owner goes, on every way out.
#pragma once

#include <unistd.h>

#include <cerrno>

class TFd {
 public:
  explicit TFd(int fd = -1) noexcept : FFd(fd) {}
  ~TFd() { Reset(); }
  TFd(TFd&& other) noexcept : FFd(other.Release()) {}
  TFd& operator=(TFd&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;

  int Get() const noexcept { return FFd; }
  explicit operator bool() const noexcept { return FFd >= 0; }

  // Gives the descriptor up unclosed: its new owner closes it.
  int Release() noexcept {
    const int fd = FFd;
    FFd = -1;
    return fd;
  }

  // Closes the descriptor held, if any, and holds `fd`. errno stays as it was: the failure a
  // caller is about to report is not replaced by the close's.
  void Reset(int fd = -1) noexcept {
    if (FFd >= 0) {
      const int saved = errno;
      ::close(FFd);
      errno = saved;
    }
    FFd = fd;
  }

 private:
  int FFd;
};
