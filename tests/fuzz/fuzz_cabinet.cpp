// Feeds arbitrary bytes to the cabinet reader as a package file and extracts it into a
// fresh folder inside a sandbox folder, once as it is and once salvaging what a package cut
// short holds; nothing may appear outside the target folders.
#include <ftw.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cabinet/CabSTComps.h"

namespace fs = std::filesystem;

namespace {

const fs::path& Sandbox() {
  static const fs::path root = [] {
    char pattern[] = "/tmp/zrfuzzcab-XXXXXX";
    return fs::path(::mkdtemp(pattern));
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path root = Sandbox();
  const fs::path package = root / "package.zrcab";
  const fs::path target = root / "target";
  const fs::path salvaged = root / "salvaged";
  std::error_code ec;
  fs::remove_all(target, ec);
  fs::remove_all(salvaged, ec);
  fs::create_directory(target);
  if (std::FILE* f = std::fopen(package.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  TSTCabReader reader;
  reader.MaxExtractBytes = 64 << 20;
  reader.MaxExtractFiles = 256;
  try {
    reader.Extract(package.string(), target.string());
  } catch (const std::exception&) {
  }
  reader.SalvageCutShort = true;
  try {
    reader.Extract(package.string(), salvaged.string());
  } catch (const std::exception&) {
  }
  // Only the package and the target folders may be in the sandbox.
  for (const auto& entry : fs::directory_iterator(root)) {
    const auto name = entry.path().filename().string();
    if (name != "package.zrcab" && name != "target" && name != "salvaged") __builtin_trap();
  }
  return 0;
}
