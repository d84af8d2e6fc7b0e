// A limit on the size of the files this process writes, while the object lives: a write past
// it fails with EFBIG, as on a disk that is full (SIGXFSZ is ignored meanwhile). For checking
// in-process how much a command writes to its temporary folder.
#pragma once

#include <sys/resource.h>

#include <csignal>

class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &FOld);
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, FOld.rlim_max};
    Set = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~TFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &FOld);
    std::signal(SIGXFSZ, FOldHandler);
  }
  bool Set = false;  // whether the limit holds

 private:
  rlimit FOld{};
  void (*FOldHandler)(int) = SIG_DFL;
};
