// Programs run as children under the limits a test sets, standard error into a file.
#pragma once

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <linux/capability.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

// AddressSanitizer reserves its shadow memory beyond any data or address-space limit: under it
// the child's allocator is told the largest block it may hand out instead.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif

// A child exit status meaning that its setup failed before the program ran.
inline constexpr int kSetupFailed = 125;

struct TChildSetup {
  // Writing past it fails with EFBIG (SIGXFSZ is ignored): a full disk anywhere.
  rlim_t FileSizeLimit = RLIM_INFINITY;
  // Root gives up overriding permissions, for itself and the program it runs.
  bool HonourPermissions = false;
  int Stderr = -1;  // a descriptor for standard error instead of the file
  bool StdoutToo = false;  // standard output into the file as well
  // Memory (RLIMIT_DATA, RLIMIT_AS), not set under AddressSanitizer, where the largest block
  // (AsanLargestAllocationMb, when not 0) is limited instead.
  rlim_t DataLimit = RLIM_INFINITY;
  rlim_t AddressSpaceLimit = RLIM_INFINITY;
  int AsanLargestAllocationMb = 0;
  rlim_t CpuSeconds = RLIM_INFINITY;  // RLIMIT_CPU: past it SIGXCPU ends the child
  rlim_t OpenFiles = RLIM_INFINITY;   // RLIMIT_NOFILE: the files it may have open
  std::vector<std::string> Environment{};  // "NAME=VALUE", replacing NAME's value
};

struct TChildRun {
  int Status = -1;  // the exit status, or -1 when a signal ended it
  int Signal = 0;
  std::string Err;
  long PeakKb = 0;  // the largest resident size
};

// Starts the program argv[0] with its standard error going to `errFile`; the child, or -1.
inline pid_t StartChild(std::vector<std::string> argv, const TChildSetup& setup, const std::string& errFile) {
  std::vector<char*> args;
  for (auto& w : argv) args.push_back(w.data());
  args.push_back(nullptr);
  const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (err < 0) return -1;
  std::vector<std::string> settings = setup.Environment;
  if (setup.AsanLargestAllocationMb && kAddressSanitizer) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    settings.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":max_allocation_size_mb=" +
                       std::to_string(setup.AsanLargestAllocationMb) + ":allocator_may_return_null=1");
  }
  std::vector<std::string> variables = settings;
  for (char** v = environ; *v; ++v) {
    const std::string_view variable(*v);
    if (std::none_of(settings.begin(), settings.end(),
                     [&](const std::string& s) { return variable.starts_with(s.substr(0, s.find('=') + 1)); }))
      variables.emplace_back(*v);
  }
  std::vector<char*> envp;
  for (auto& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only what is safe between fork and exec.
    ::dup2(setup.Stderr >= 0 ? setup.Stderr : err, STDERR_FILENO);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(setup.StdoutToo ? err : null, STDOUT_FILENO);
    auto limit = [](int resource, rlim_t value) {
      const rlimit l{value, value};
      if (value != RLIM_INFINITY && ::setrlimit(resource, &l) != 0) ::_exit(kSetupFailed);
    };
    if (setup.FileSizeLimit != RLIM_INFINITY) ::signal(SIGXFSZ, SIG_IGN);
    limit(RLIMIT_FSIZE, setup.FileSizeLimit);
    limit(RLIMIT_CPU, setup.CpuSeconds);
    limit(RLIMIT_NOFILE, setup.OpenFiles);
    if (!kAddressSanitizer) {
      limit(RLIMIT_DATA, setup.DataLimit);
      limit(RLIMIT_AS, setup.AddressSpaceLimit);
    }
    if (setup.HonourPermissions && ::geteuid() == 0 && ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0)
      ::_exit(kSetupFailed);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::close(err);
  return pid;
}

// Waits for the child and reads what it wrote to standard error; one that has not ended within
// `seconds` (when given) fails the test and is killed.
inline TChildRun WaitChild(pid_t pid, const std::string& errFile, int seconds = 0) {
  TChildRun run;
  int status = 0;
  rusage usage{};
  if (pid < 0) return run;
  pid_t ended = 0;
  for (int polls = 0; seconds > 0 && (ended = ::wait4(pid, &status, WNOHANG, &usage)) == 0; ++polls) {
    if (polls == seconds * 100) {
      ADD_FAILURE() << "the program still runs after " << seconds << " s";
      ::kill(pid, SIGKILL);
      break;
    }
    ::usleep(10000);
  }
  if (ended != pid && ::wait4(pid, &status, 0, &usage) != pid) return run;
  if (WIFEXITED(status)) run.Status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.Signal = WTERMSIG(status);
  run.PeakKb = usage.ru_maxrss;
  std::ifstream in(errFile, std::ios::binary);
  run.Err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}

inline TChildRun RunChild(const std::vector<std::string>& argv, const TChildSetup& setup, const std::string& errFile) {
  return WaitChild(StartChild(argv, setup, errFile), errFile);
}
