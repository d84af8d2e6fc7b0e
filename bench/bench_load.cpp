// Loading a large film and activating its largest segment, each next to a baseline measured
// in the same run:
//   - Load/baseline: libmspack's own cabinet decompressor extracting the film file of the same
//     package into the same folder, then deleting it: what a cabinet tool does;
//   - Load/read: reading the package's bytes once, the floor of any loading;
//   - Load/package and Load/executable: the loader from the path to every segment in memory
//     (the film file extracted, read and deleted), and the segments let go again;
//   - Load/package+touch: the same, and every page of the frame data read once, as playing
//     the whole film does;
//   - Load/first: the loader from the path to the first segment handed on, the moment a
//     player shows the first picture (the load is then called off, which costs a block of
//     the package); next to Load/package, the whole film, it gives the first picture's share
//     of a whole load;
//   - Activate/memcpy and Activate/segment: a plain copy of the largest segment's frame data,
//     and the playback core activating that segment of the loaded film.
// The film (about 160 MiB of frame data in 1280 × 800 pictures, see LargeFilm.h, or as many MiB
// as VERIROVE_BENCH_LOAD_MIB says, in segments of 48 MiB) is made before
// the first measurement, in a folder of its own under /tmp that is removed at the end. Times are
// the process's CPU time (the kernel's work for it included), which other programs on a shared
// machine disturb less than the clock. Meaningful only in a Release build without sanitizers.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <mspack.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "film/FilmLoader.h"
#include "film/TempFolder.h"
#include "filmwriter/LargeFilm.h"
#include "bench_support.h"
#include "playback/UzrPlayback.h"

namespace {

constexpr uint64_t kFrameBytes = uint64_t(160) << 20;

class TQuietUi : public IFilmLoaderUi {
 public:
  void ShowMessage(const TLoadReport& report) override {
    throw std::runtime_error("loading failed: " + report.Details);
  }
  void SetBannerVisible(bool) override {}
  void FillSegmentsGrid(const std::vector<TSegmentListEntry>&) override {}
  void SetProgressMax(int64_t) override {}
};

// The package and the executable film, written once for every benchmark of the run.
struct TBenchFilms {
  std::string Folder;
  std::string Package;
  std::string Executable;
  size_t FilmBytes = 0;
  size_t LargestSegment = 0;

  TBenchFilms() {
    char pattern[] = "/tmp/zrbench-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("cannot make a folder in /tmp");
    Folder = pattern;
    TLargeFilmPlan plan;
    const char* mib = std::getenv("VERIROVE_BENCH_LOAD_MIB");
    plan.FrameBytes = mib && std::atoi(mib) > 0 ? uint64_t(std::atoi(mib)) << 20 : kFrameBytes;
    const auto segments = MakeLargeFilmSegments(plan);
    for (const auto& s : segments) LargestSegment = std::max(LargestSegment, s.FrameData.size());
    const auto film = WriteFilmRaw(segments);
    FilmBytes = film.size();
    const auto package = MakeFilmPackage(film);
    Package = Folder + "/film.zrcab";
    Executable = Folder + "/film.exe";
    WriteFileBytes(Package, package);
    WriteFileBytes(Executable, MakeExecutableFilm(std::vector<uint8_t>(64 << 10, 0x90), package));
  }
  ~TBenchFilms() {
    std::error_code ec;
    std::filesystem::remove_all(Folder, ec);
  }
};

TBenchFilms& Films() {
  static TBenchFilms films;
  return films;
}

// The run's own folder, as the player and the tool have it.
TRunFolder& RunFolder() {
  static TRunFolder folder;
  if (folder.Path().empty()) throw std::runtime_error(folder.Error());
  return folder;
}

std::vector<std::unique_ptr<Segment>> LoadSegments(const std::string& path) {
  TQuietUi ui;
  TFilmLoader loader(ui, RunFolder().Path());
  loader.SetFileName(path);
  if (!loader.LoadFilm(path)) throw std::runtime_error("the film did not load");
  return loader.TakeSegments();
}

void BM_LoadBaseline(benchmark::State& state) {
  const std::string target = RunFolder().Path() + "baseline.~zrflm";
  const std::string package = Films().Package;
  mscab_decompressor* cabd = mspack_create_cab_decompressor(nullptr);
  for (auto _ : state) {
    mscabd_cabinet* cab = cabd->open(cabd, package.c_str());
    if (!cab || cabd->extract(cabd, cab->files, target.c_str()) != MSPACK_ERR_OK) {
      state.SkipWithError("libmspack could not extract the package");
      if (cab) cabd->close(cabd, cab);
      break;
    }
    cabd->close(cabd, cab);
    ::unlink(target.c_str());
  }
  mspack_destroy_cab_decompressor(cabd);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Films().FilmBytes));
}
BENCHMARK(BM_LoadBaseline)->Name("Load/baseline")->Unit(benchmark::kMillisecond);

void BM_LoadRead(benchmark::State& state) {
  std::vector<uint8_t> buffer(size_t(1) << 20);
  const std::string package = Films().Package;
  for (auto _ : state) {
    const int fd = ::open(package.c_str(), O_RDONLY | O_CLOEXEC);
    while (::read(fd, buffer.data(), buffer.size()) > 0) benchmark::ClobberMemory();
    ::close(fd);
  }
}
BENCHMARK(BM_LoadRead)->Name("Load/read")->Unit(benchmark::kMillisecond);

void BM_Load(benchmark::State& state, bool executable, bool touch) {
  const std::string& path = executable ? Films().Executable : Films().Package;
  RunFolder();
  for (auto _ : state) {
    auto segments = LoadSegments(path);
    if (touch) {
      uint8_t sum = 0;
      for (const auto& s : segments)
        for (size_t at = 0; at < s->SegStream.Size(); at += 4096) sum ^= s->SegStream.Data()[at];
      benchmark::DoNotOptimize(sum);
    }
    benchmark::DoNotOptimize(segments.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Films().FilmBytes));
}
BENCHMARK_CAPTURE(BM_Load, package, false, false)
    ->Name("Load/package")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, package+touch, false, true)
    ->Name("Load/package+touch")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, executable, true, false)
    ->Name("Load/executable")->Unit(benchmark::kMillisecond);

// Calls the load off once the first segment has been handed on.
class TFirstSegmentUi : public TQuietUi {
 public:
  std::atomic<bool> Cancel = false;
  void SegmentsArrived(int32_t) override { Cancel = true; }
};

void BM_LoadFirst(benchmark::State& state) {
  const std::string& path = Films().Package;
  RunFolder();
  for (auto _ : state) {
    TFirstSegmentUi ui;
    TFilmLoader loader(ui, RunFolder().Path());
    loader.CancelFlag = &ui.Cancel;
    loader.SetFileName(path);
    try {
      loader.LoadFilm(path);
      state.SkipWithError("the load was not called off");
      break;
    } catch (const ELoadCancelled&) {
    }
    auto segments = loader.TakeSegments();
    if (segments.size() != 1) {
      state.SkipWithError("not one segment at the first picture");
      break;
    }
    benchmark::DoNotOptimize(segments.data());
  }
}
BENCHMARK(BM_LoadFirst)->Name("Load/first")->Unit(benchmark::kMillisecond);

void BM_ActivateMemcpy(benchmark::State& state) {
  const size_t size = Films().LargestSegment;
  std::vector<uint8_t> source(size, 0x5A), target(TPlaybackCore::kFrameBufferSize);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), size);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}
BENCHMARK(BM_ActivateMemcpy)->Name("Activate/memcpy")->Unit(benchmark::kMillisecond);

// The largest segment of the loaded film, activated again and again: its frame data copied
// from the film's memory into the frame buffer.
void BM_ActivateSegment(benchmark::State& state) {
  TBenchHost host;
  TPlaybackCore core(host);
  core.TakeFilm(LoadSegments(Films().Package));
  int32_t largest = 0;
  for (size_t i = 0; i < core.Segments().size(); ++i)
    if (core.Segments()[i]->SegStream.Size() == Films().LargestSegment) largest = int32_t(i);
  core.AllocFrameBuffer(TPlaybackCore::kFrameBufferSize);
  for (auto _ : state) {
    core.SelectSegment(largest);
    if (core.SetCurSegment() != kResultOk) {
      state.SkipWithError("activation failed");
      break;
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Films().LargestSegment));
}
BENCHMARK(BM_ActivateSegment)->Name("Activate/segment")->Unit(benchmark::kMillisecond);

}  // namespace
