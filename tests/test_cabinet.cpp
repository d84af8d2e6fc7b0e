// The cabinet extraction component: TSTCabReader over the FDI-like layer.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "cabinet/CabSTComps.h"
#include "cabinet/CabSTConsts.h"
#include "filmwriter/FilmWriter.h"
#include "support/SpannedCabinet.h"

namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<uint8_t>;

// A fresh folder under /tmp, removed with everything in it.
class TTempDir {
 public:
  TTempDir() {
    char pattern[] = "/tmp/veRirove-cab-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    FPath = made;
  }
  ~TTempDir() {
    std::error_code ec;
    fs::remove_all(FPath, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return FPath; }
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

TBytes Pseudo(size_t n, uint32_t seed) {
  TBytes bytes(n);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = uint8_t(x);
  }
  return bytes;
}

TBytes Text(size_t n, uint32_t seed) {  // compressible
  TBytes bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = uint8_t('a' + (i / 7 + seed) % 26);
  return bytes;
}

TBytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const TBytes& bytes) { WriteFileBytes(path, bytes); }

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Every path under root, relative to it, links not followed.
std::set<std::string> Tree(const std::string& root) {
  std::set<std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    out.insert(fs::relative(it->path(), root).string());
  }
  return out;
}

// Runs Extract and gives back what it raised: "" for nothing, the message of an ESTCabinet,
// "EOSError: …" or "other: …" for anything else.
std::string ExtractError(TSTCabReader& reader, const std::string& cab, const std::string& dest,
                         unsigned options = 0) {
  try {
    reader.Extract(cab, dest, options);
  } catch (const ESTCabinet& e) {
    return e.what();
  } catch (const EOSError& e) {
    return std::string("EOSError: ") + e.what();
  } catch (const std::exception& e) {
    return std::string("other: ") + e.what();
  }
  return {};
}

std::string OsPart(int err) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%04X", err);
  return ".\r\n" + std::string(std::strerror(err)) + " [0x" + hex + "].";
}

size_t OpenDescriptorCount() {
  size_t n = 0;
  for (auto it = fs::directory_iterator("/proc/self/fd"); it != fs::directory_iterator(); ++it) ++n;
  return n;
}

TSpanFile SpanFile(std::string name, TBytes bytes, uint16_t attribs = 0x20) {
  TSpanFile f;
  f.Name = std::move(name);
  f.Bytes = std::move(bytes);
  f.Attribs = attribs;
  return f;
}

// Writes the set into dir; returns the path of its first cabinet.
std::string WriteSet(const std::string& dir, const std::vector<TSpanCabinet>& cabinets) {
  for (const TSpanCabinet& c : cabinets) WriteBytes(dir + "/" + c.Name, c.Bytes);
  return dir + "/" + cabinets.front().Name;
}

// ---------------------------------------------------------------------------------------------
// Paths.

struct TJoinCase {
  std::vector<std::string> Parts;
  std::string Expected;
};

TEST(CabinetPaths, JoinPath) {
  const TJoinCase cases[] = {
      {{}, ""},
      {{"", ""}, ""},
      {{"a"}, "a"},
      {{"a", "b"}, "a/b"},
      {{"a/", "b"}, "a/b"},
      {{"a", "/b"}, "a/b"},
      {{"a/", "/b"}, "a/b"},
      {{"", "b"}, "b"},
      {{"a", ""}, "a"},
      {{"/tmp/x/", "sub/file"}, "/tmp/x/sub/file"},
      {{"a", "", "b", "c/"}, "a/b/c/"},
      {{"a//", "b"}, "a//b"},  // only one separator is taken off
      {{"/", "x"}, "/x"},
  };
  for (const TJoinCase& c : cases) {
    std::string joined;
    switch (c.Parts.size()) {
      case 0:
        joined = JoinPath({});
        break;
      case 1:
        joined = JoinPath({c.Parts[0]});
        break;
      case 2:
        joined = JoinPath(c.Parts[0], c.Parts[1]);
        break;
      case 3:
        joined = JoinPath({c.Parts[0], c.Parts[1], c.Parts[2]});
        break;
      default:
        joined = JoinPath({c.Parts[0], c.Parts[1], c.Parts[2], c.Parts[3]});
        break;
    }
    EXPECT_EQ(joined, c.Expected) << "parts: " << c.Parts.size();
  }
}

TEST(CabinetPaths, AddTrailingBackslash) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"a", "a/"}, {"a/", "a/"}, {"/", "/"}, {"/tmp/x", "/tmp/x/"}, {"a\\", "a\\/"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(AddTrailingBackslash(in), out) << in;
}

TEST(CabinetPaths, CleanStoredName) {
  const std::pair<std::string, std::string> inside[] = {
      {"file", "file"},  {"sub\\file", "sub/file"}, {"sub/deeper\\f", "sub/deeper/f"},
      {".\\dot", "dot"}, {"a//b", "a/b"},           {"a\\.\\b", "a/b"},
      {"...", "..."},    {"a..b", "a..b"},          {"ab:c", "ab:c"},
      {"dir\\", "dir"},
  };
  for (const auto& [stored, clean] : inside) {
    std::string out;
    EXPECT_TRUE(CleanStoredName(stored, out)) << stored;
    EXPECT_EQ(out, clean) << stored;
  }
  const char* outside[] = {
      "",        ".",   "..",           "../evil",     "/etc/x", "\\x",
      "C:\\x",   "c:x", "a\\..\\..\\b", "dir/../../x", "a/../b", "\\\\server\\share\\x",
      "sub\\..", "./",  "x:y"};
  for (const char* stored : outside) {
    std::string out;
    EXPECT_FALSE(CleanStoredName(stored, out)) << stored;
  }
}

TEST(CabinetMessages, Texts) {
  EXPECT_STREQ(CabinetErrorText(0), "No error");
  EXPECT_STREQ(CabinetErrorText(10), "Cabinet returned on fdintNEXT_CABINET is incorrect");
  EXPECT_STREQ(CabinetErrorText(11), "FDI aborted");
  EXPECT_STREQ(CabinetErrorText(12), "FDI error");
  EXPECT_STREQ(CabinetErrorText(-1), "FDI error");
  EXPECT_STREQ(CompressorErrorText(8), "Failure compressing data");
  EXPECT_STREQ(CompressorErrorText(9), "FCI error");

  ERF erf{FDIERROR_CABINET_NOT_FOUND, ENOENT, 1};
  EXPECT_EQ(ESTCabinet(erf, false).what(), "Cabinet not found [0x0001]" + OsPart(ENOENT));
  erf = {FDIERROR_USER_ABORT, 0, 1};
  EXPECT_STREQ(ESTCabinet(erf, false).what(), "FDI aborted [0x000B]");
  erf = {3, 0, 1};
  EXPECT_STREQ(ESTCabinet(erf, true).what(), "Out of memory in FCI [0x0003]");
  erf = {0x12345, 0, 1};
  EXPECT_STREQ(ESTCabinet(erf, false).what(), "FDI error [0x12345]");
  erf = {4, 5, 0};
  EXPECT_STREQ(ESTCabinet(erf, false).what(), "FDI error");
  EXPECT_STREQ(ESTCabinet(erf, true).what(), "FCI error");
  const ESTCabinet e(ERF{8, 122, 1}, false);
  EXPECT_EQ(e.ErrorCode, 8);
  EXPECT_EQ(e.OsErrorCode, 122);
  EXPECT_TRUE(e.HasError);
  EXPECT_FALSE(e.IsCompressor);

  EXPECT_EQ(std::string(EOSError(ENOENT).what()),
            "Win32 Error.  Code: 2.\n" + std::string(std::strerror(ENOENT)));
  EXPECT_STREQ(EOSError(0).what(), "A Win32 API function failed");
  EXPECT_EQ(EOSError(EACCES).code().value(), EACCES);
}

// ---------------------------------------------------------------------------------------------
// Cabinets from libgcab, stored and MSZIP.

struct TGcabCase {
  const char* Name;
  TCabCompression Compression;
  std::vector<TCabFile> Files;
  std::map<std::string, std::string> Targets;  // stored name → path under the target folder
};

std::vector<TGcabCase> GcabCases() {
  std::vector<TGcabCase> cases;
  cases.push_back({"StoredFilm",
                   TCabCompression::None,
                   {{"MyFilm.~zrflm", Pseudo(100000, 1)}},
                   {{"MyFilm.~zrflm", "MyFilm.~zrflm"}}});
  cases.push_back({"MsZipFilm",
                   TCabCompression::MsZip,
                   {{"MyFilm.~zrflm", Text(300000, 2)}},
                   {{"MyFilm.~zrflm", "MyFilm.~zrflm"}}});
  for (TCabCompression c : {TCabCompression::None, TCabCompression::MsZip}) {
    cases.push_back({c == TCabCompression::None ? "StoredFolders" : "MsZipFolders",
                     c,
                     {{"top.txt", Text(5000, 3)},
                      {"sub\\inner.bin", Pseudo(70000, 4)},
                      {"sub\\deeper\\more.txt", Text(40000, 5)},
                      {"empty.dat", {}},
                      {"sub\\one", {0x42}}},
                     {{"top.txt", "top.txt"},
                      {"sub\\inner.bin", "sub/inner.bin"},
                      {"sub\\deeper\\more.txt", "sub/deeper/more.txt"},
                      {"empty.dat", "empty.dat"},
                      {"sub\\one", "sub/one"}}});
  }
  return cases;
}

TEST(CabinetExtract, GcabCabinetsExtractByteExact) {
  for (const TGcabCase& c : GcabCases()) {
    SCOPED_TRACE(c.Name);
    TTempDir tmp;
    const std::string cab = tmp / "package.zrcab";
    WriteBytes(cab, MakeCabinet(c.Files, c.Compression));
    const std::string dest = tmp / "out/nested";  // made by Extract, no trailing slash

    TSTCabReader reader;
    ASSERT_EQ(ExtractError(reader, cab, dest), "");
    uint64_t total = 0;
    for (const TCabFile& f : c.Files) {
      const std::string path = dest + "/" + c.Targets.at(f.Name);
      ASSERT_TRUE(Exists(path)) << path;
      EXPECT_EQ(ReadBytes(path), f.Bytes) << path;
      total += f.Bytes.size();
    }
    EXPECT_EQ(reader.FilesWritten(), c.Files.size());
    EXPECT_EQ(reader.BytesWritten(), total);
    EXPECT_TRUE(reader.SkippedNames().empty());
    EXPECT_TRUE(reader.SrcNames().empty());
    EXPECT_EQ(reader.DestDir(), dest + "/");
    EXPECT_EQ(reader.CabFileName(), cab);
  }
}

TEST(CabinetExtract, RelativeCabinetPathUsesTheCurrentFolder) {
  TTempDir tmp;
  const TCabFile file{"a.txt", Text(100, 1)};
  WriteBytes(tmp / "rel.cab", MakeCabinet(std::span(&file, 1)));
  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir(tmp.Path().c_str()), 0);
  TSTCabReader reader;
  const std::string error = ExtractError(reader, "rel.cab", tmp / "out/");
  ASSERT_EQ(::chdir(old), 0);
  EXPECT_EQ(error, "");
  EXPECT_EQ(reader.CabFileName(), tmp / "rel.cab");
  EXPECT_EQ(ReadBytes(tmp / "out/a.txt"), file.Bytes);
}

TEST(CabinetExtract, WriterCabinetsReadBackWithLibgcab) {
  const std::vector<TSpanFile> files = {SpanFile("one.txt", Text(1000, 1)),
                                        SpanFile("two\\three.bin", Pseudo(40000, 2)),
                                        SpanFile("empty", {})};
  TSpanOptions options;
  options.Checksums = true;
  const TBytes cab = MakeStoredCabinet(files, options);
  const std::vector<TCabFile> back = ReadCabinet(cab);
  ASSERT_EQ(back.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(back[i].Name, files[i].Name);
    EXPECT_EQ(back[i].Bytes, files[i].Bytes);
  }
}

// ---------------------------------------------------------------------------------------------
// Spanned sets.

struct TSpanCase {
  const char* Name;
  std::vector<std::pair<std::string, size_t>> Files;  // name, size
  size_t MaxCabinetSize;
  size_t BlockSize;
  size_t MinCabinets;
  bool Checksums = false;
  uint8_t Reserve = 0;  // header, folder and data reserve sizes derive from it
};

// count files named prefix01, prefix02, … of size bytes each.
std::vector<std::pair<std::string, size_t>> Numbered(const char* prefix, int count, size_t size) {
  std::vector<std::pair<std::string, size_t>> files;
  for (int i = 1; i <= count; ++i) {
    files.emplace_back(prefix + std::string(i < 10 ? "0" : "") + std::to_string(i), size);
  }
  return files;
}

TEST(CabinetSpanned, SetsExtractAcrossCabinets) {
  const TSpanCase cases[] = {
      // A file across two cabinets, whole files after it in the continued folder, and
      // files crossing into a third.
      {"ThreeCabinets",
       {{"a.txt", 100}, {"big.bin", 1500}, {"c.txt", 100}, {"d.txt", 800}, {"e.txt", 100}},
       1400,
       700,
       3},
      // A file running through several cabinets, then files crossing the later boundaries.
      {"FileThroughFourCabinets",
       {{"a.txt", 100}, {"big.bin", 5000}, {"c.txt", 300}, {"d.txt", 50}, {"e.txt", 1500}},
       1400,
       700,
       5},
      // Default block size: every block split somewhere.
      {"LargeBlocks", {{"film", 150000}, {"tail.txt", 2000}, {"sub\\z", 30000}}, 40000, 32768, 4},
      // Many small files, several per cabinet.
      {"ManySmall", Numbered("f", 10, 300), 1000, 512, 4},
      // A long set whose every boundary is crossed.
      {"LongSet", Numbered("l", 10, 3000), 900, 700, 30},
      // Checksums on every part: libmspack tests those of whole blocks.
      {"Checksums", {{"a.txt", 100}, {"big.bin", 5000}, {"c.txt", 300}}, 1400, 700, 4, true},
      // Reserved areas in the header, each folder and each data block.
      {"Reserves", {{"a.txt", 100}, {"big.bin", 5000}, {"c.txt", 300}}, 1400, 700, 4, true, 6},
  };
  for (const TSpanCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<TSpanFile> files;
    uint32_t seed = 1;
    for (const auto& [name, size] : c.Files) files.push_back(SpanFile(name, Pseudo(size, seed++)));
    TSpanOptions options;
    options.MaxCabinetSize = c.MaxCabinetSize;
    options.BlockSize = c.BlockSize;
    options.Checksums = c.Checksums;
    options.HeaderReserve = uint16_t(c.Reserve * 3);
    options.FolderReserve = c.Reserve;
    options.DataReserve = uint8_t(c.Reserve / 2);
    // The set names its members in capitals; the files are in small letters.
    options.StoredName = [](unsigned i) { return "DISK" + std::to_string(i + 1) + ".CAB"; };
    const std::vector<TSpanCabinet> cabinets = MakeSpannedCabinets(files, options);
    ASSERT_GE(cabinets.size(), c.MinCabinets);
    for (const TSpanCabinet& cab : cabinets) EXPECT_LE(cab.Bytes.size(), c.MaxCabinetSize);

    TTempDir tmp;
    const std::string first = WriteSet(tmp.Path(), cabinets);
    TSTCabReader reader;
    std::vector<uint16_t> cabinetsSeen;
    reader.OnCabinetInfo = [&](TSTCabReader&, const std::string&, const std::string&,
                               const std::string&, uint16_t, uint16_t no,
                               bool&) { cabinetsSeen.push_back(no); };
    ASSERT_EQ(ExtractError(reader, first, tmp / "out"), "");
    for (const TSpanFile& f : files) {
      std::string clean;
      ASSERT_TRUE(CleanStoredName(f.Name, clean));
      EXPECT_EQ(ReadBytes(tmp / ("out/" + clean)), f.Bytes) << f.Name;
    }
    EXPECT_EQ(reader.FilesWritten(), files.size());
    // Every cabinet of the set was opened at least once.
    for (uint16_t i = 0; i < cabinets.size(); ++i) {
      EXPECT_NE(std::find(cabinetsSeen.begin(), cabinetsSeen.end(), i), cabinetsSeen.end()) << i;
    }
  }
}

TEST(CabinetSpanned, MsZipSetsExtractAcrossCabinets) {
  // libgcab compresses; the blocks are then laid out again over several cabinets, split
  // blocks and all.
  const std::vector<TCabFile> files = {{"MyFilm.~zrflm", Text(400000, 1)},
                                       {"noise.bin", Pseudo(90000, 2)},
                                       {"sub\\tail.txt", Text(70000, 3)},
                                       {"small", Text(10, 4)}};
  const TBytes single = MakeCabinet(files, TCabCompression::MsZip);
  for (const size_t maxSize : {size_t(9000), size_t(20000), size_t(40000)}) {
    SCOPED_TRACE(maxSize);
    TSpanOptions options;
    options.MaxCabinetSize = maxSize;
    options.Checksums = true;
    const std::vector<TSpanCabinet> set = ResplitCabinet(single, options);
    ASSERT_GE(set.size(), 3u);
    TTempDir tmp;
    const std::string first = WriteSet(tmp.Path(), set);
    TSTCabReader reader;
    ASSERT_EQ(ExtractError(reader, first, tmp / "out"), "");
    EXPECT_EQ(ReadBytes(tmp / "out/MyFilm.~zrflm"), files[0].Bytes);
    EXPECT_EQ(ReadBytes(tmp / "out/noise.bin"), files[1].Bytes);
    EXPECT_EQ(ReadBytes(tmp / "out/sub/tail.txt"), files[2].Bytes);
    EXPECT_EQ(ReadBytes(tmp / "out/small"), files[3].Bytes);
  }
}

TEST(CabinetSpanned, DamagedBlockFailsItsChecksum) {
  const std::vector<TSpanFile> files = {SpanFile("a.txt", Text(3000, 1))};
  TSpanOptions options;
  options.Checksums = true;
  TBytes cab = MakeStoredCabinet(files, options);
  cab[cab.size() - 10] ^= 0x55;
  TTempDir tmp;
  WriteBytes(tmp / "p.cab", cab);
  TSTCabReader reader;
  EXPECT_EQ(ExtractError(reader, tmp / "p.cab", tmp / "out"), "Cabinet file is corrupt [0x0004]");
}

std::vector<TSpanFile> ThreeCabinetFiles() {
  return {SpanFile("a.txt", Pseudo(100, 1)), SpanFile("big.bin", Pseudo(1500, 2)),
          SpanFile("c.txt", Pseudo(100, 3)), SpanFile("d.txt", Pseudo(800, 4)),
          SpanFile("e.txt", Pseudo(100, 5))};
}

std::vector<TSpanCabinet> ThreeCabinetSet(const std::vector<TSpanFile>& files,
                                          std::function<std::string(unsigned)> stored = {}) {
  TSpanOptions options;
  options.MaxCabinetSize = 1400;
  options.BlockSize = 700;
  options.StoredName =
      stored ? stored : [](unsigned i) { return "DISK" + std::to_string(i + 1) + ".CAB"; };
  auto set = MakeSpannedCabinets(files, options);
  if (set.size() != 3) throw std::logic_error("expected three cabinets");
  return set;
}

TEST(CabinetSpanned, EventsInOrder) {
  TTempDir tmp;
  const auto files = ThreeCabinetFiles();
  const std::string first = WriteSet(tmp.Path(), ThreeCabinetSet(files));
  std::vector<std::string> log;
  TSTCabReader reader;
  reader.OnCabinetInfo = [&](TSTCabReader&, const std::string& next, const std::string& disk,
                             const std::string& path, uint16_t setID, uint16_t no, bool&) {
    log.push_back("info " + std::to_string(no) + " next=" + next + " disk=" + disk +
                  (path == tmp.Path() + "/" ? " here" : " elsewhere") +
                  (setID == 0x1234 ? "" : " badset"));
  };
  reader.OnCopyFile = [&](TSTCabReader&, const std::string& name, int32_t size, uint16_t, uint16_t,
                          uint16_t, uint16_t folder, std::string&, bool&) {
    log.push_back("copy " + name + " " + std::to_string(size) +
                  " folder=" + std::to_string(folder));
  };
  reader.OnCopyPartialFile = [&](TSTCabReader&, const std::string& name, const std::string& cab,
                                 const std::string& disk, const std::string& target, bool&) {
    log.push_back("partial " + name + " from " + cab + " " + disk +
                  (target.empty() ? "" : " open"));
  };
  reader.OnCloseFile = [&](TSTCabReader&, const std::string& name, uint16_t, uint16_t, uint16_t,
                           uint16_t, bool& exec, const std::string& target, bool&) {
    log.push_back("close " + name + (exec ? " exec" : "") +
                  (target == tmp / ("out/" + name) ? "" : " target=" + target));
  };
  reader.OnNextCabinet = [&](TSTCabReader&, const std::string& name, const std::string& disk,
                             std::string& path, FDIERROR error, bool&) {
    log.push_back("next " + name + " " + disk + " error=" + std::to_string(error) +
                  (path == tmp.Path() + "/" ? " here" : " elsewhere"));
  };
  ASSERT_EQ(ExtractError(reader, first, tmp / "out"), "");
  const std::vector<std::string> expected = {
      "info 0 next=DISK2.CAB disk=Disk 2 here",
      "copy a.txt 100 folder=0",
      "close a.txt",
      "copy big.bin 1500 folder=65534",
      "next DISK2.CAB Disk 2 error=0 here",
      "info 1 next=DISK3.CAB disk=Disk 3 here",
      "close big.bin",
      // The second cabinet: big.bin began before; c.txt needs the first cabinet's part of
      // the folder, d.txt the third cabinet.
      "info 1 next=DISK3.CAB disk=Disk 3 here",
      "partial big.bin from DISK1.CAB Disk 1",
      "copy c.txt 100 folder=0",
      "close c.txt",
      "copy d.txt 800 folder=65534",
      "next DISK3.CAB Disk 3 error=0 here",
      "info 2 next= disk= here",
      "close d.txt",
      "copy e.txt 100 folder=65534",
      "close e.txt",
      "info 2 next= disk= here",
      "partial d.txt from DISK2.CAB Disk 2",
      "partial e.txt from DISK2.CAB Disk 2",
  };
  EXPECT_EQ(log, expected);
  for (const TSpanFile& f : files) EXPECT_EQ(ReadBytes(tmp / ("out/" + f.Name)), f.Bytes) << f.Name;
}

TEST(CabinetSpanned, StopAfterFirstCabinet) {
  TTempDir tmp;
  const auto files = ThreeCabinetFiles();
  const std::string first = WriteSet(tmp.Path(), ThreeCabinetSet(files));
  const size_t descriptors = OpenDescriptorCount();
  TSTCabReader reader;
  ASSERT_EQ(ExtractError(reader, first, tmp / "out", TSTCabReader::stopAfterFirstCabinet), "");
  // big.bin starts in the first cabinet and is finished from the second.
  EXPECT_EQ(ReadBytes(tmp / "out/a.txt"), files[0].Bytes);
  EXPECT_EQ(ReadBytes(tmp / "out/big.bin"), files[1].Bytes);
  EXPECT_FALSE(Exists(tmp / "out/c.txt"));
  EXPECT_FALSE(Exists(tmp / "out/e.txt"));
  // No cabinet file stays open after Extract, though the set may be remembered.
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  // The whole set again, and then the second cabinet alone, on the same instance.
  ASSERT_EQ(ExtractError(reader, first, tmp / "all"), "");
  for (const TSpanFile& f : files) EXPECT_EQ(ReadBytes(tmp / ("all/" + f.Name)), f.Bytes) << f.Name;
  ASSERT_EQ(ExtractError(reader, first, tmp / "again", TSTCabReader::stopAfterFirstCabinet), "");
  ASSERT_EQ(ExtractError(reader, tmp / "disk2.cab", tmp / "second"), "");
  EXPECT_EQ(ReadBytes(tmp / "second/c.txt"), files[2].Bytes);
  EXPECT_EQ(ReadBytes(tmp / "second/e.txt"), files[4].Bytes);
  EXPECT_FALSE(Exists(tmp / "second/big.bin"));
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST(CabinetSpanned, ExtractStartingAtALaterCabinet) {
  TTempDir tmp;
  const auto files = ThreeCabinetFiles();
  const auto set = ThreeCabinetSet(files);
  WriteSet(tmp.Path(), set);
  TSTCabReader reader;
  // c.txt lies in a folder that began in the first cabinet, which is read for it.
  ASSERT_EQ(ExtractError(reader, tmp / set[1].Name, tmp / "out"), "");
  EXPECT_FALSE(Exists(tmp / "out/a.txt"));
  EXPECT_FALSE(Exists(tmp / "out/big.bin"));
  for (size_t i = 2; i < files.size(); ++i) {
    EXPECT_EQ(ReadBytes(tmp / ("out/" + files[i].Name)), files[i].Bytes) << files[i].Name;
  }
}

TEST(CabinetSpanned, MissingContinuationWithoutSpanningFile) {
  TTempDir tmp;
  const std::vector<TSpanFile> files = {SpanFile("one.txt", Text(3000, 1)),
                                        SpanFile("two.txt", Pseudo(5000, 2))};
  TSpanOptions options;
  options.ExtraNextName = "disk2.cab";  // named, never written
  WriteBytes(tmp / "disk1.cab", MakeStoredCabinet(files, options));
  TSTCabReader reader;
  ASSERT_EQ(ExtractError(reader, tmp / "disk1.cab", tmp / "out"), "");
  EXPECT_EQ(reader.NextCabName(), tmp / "disk2.cab");
  EXPECT_FALSE(reader.NextCabGiven());
  for (const TSpanFile& f : files) EXPECT_EQ(ReadBytes(tmp / ("out/" + f.Name)), f.Bytes);
}

TEST(CabinetSpanned, MissingContinuationWithSpanningFile) {
  TTempDir tmp;
  const auto files = ThreeCabinetFiles();
  const auto set = ThreeCabinetSet(files);
  WriteSet(tmp.Path(), set);
  ASSERT_EQ(::unlink((tmp / set[1].Name).c_str()), 0);
  TSTCabReader reader;
  EXPECT_EQ(ExtractError(reader, tmp / set[0].Name, tmp / "out"),
            "Cabinet not found [0x0001]" + OsPart(ENOENT));
  // The whole file before it is there; the spanning one is not finished.
  EXPECT_EQ(ReadBytes(tmp / "out/a.txt"), files[0].Bytes);
  // The unfinished file stays listed, as a file not finished.
  EXPECT_EQ(reader.SrcNames(), std::vector<std::string>{"big.bin"});
}

TEST(CabinetSpanned, NextCabinetGivenByTheHandler) {
  TTempDir tmp;
  const auto files = ThreeCabinetFiles();
  const auto set = ThreeCabinetSet(files);
  fs::create_directory(tmp / "second");
  WriteBytes(tmp / set[0].Name, set[0].Bytes);
  WriteBytes(tmp / ("second/" + set[1].Name), set[1].Bytes);
  WriteBytes(tmp / ("second/" + set[2].Name), set[2].Bytes);
  TSTCabReader reader;
  std::vector<int> errors;
  reader.OnNextCabinet = [&](TSTCabReader&, const std::string&, const std::string&,
                             std::string& path, FDIERROR error, bool&) {
    errors.push_back(error);
    path = tmp / "second";  // the trailing slash is added
  };
  reader.OnCopyFile = [&](TSTCabReader& r, const std::string&, int32_t, uint16_t, uint16_t,
                          uint16_t, uint16_t, std::string&,
                          bool&) { EXPECT_EQ(r.DestDir(), tmp / "out/"); };
  ASSERT_EQ(ExtractError(reader, tmp / set[0].Name, tmp / "out"), "");
  EXPECT_EQ(errors, (std::vector<int>{0, 0}));
  for (const TSpanFile& f : files) EXPECT_EQ(ReadBytes(tmp / ("out/" + f.Name)), f.Bytes) << f.Name;
}

TEST(CabinetSpanned, NextCabinetRetriedAfterAFailure) {
  TTempDir tmp;
  const auto files = ThreeCabinetFiles();
  const auto set = ThreeCabinetSet(files);
  WriteSet(tmp.Path(), set);
  fs::create_directory(tmp / "empty");
  TSTCabReader reader;
  std::vector<int> errors;
  reader.OnNextCabinet = [&](TSTCabReader&, const std::string&, const std::string&,
                             std::string& path, FDIERROR error, bool&) {
    errors.push_back(error);
    // First a folder without the cabinet, then the right one.
    path = errors.size() == 1 ? tmp / "empty" : tmp.Path();
  };
  ASSERT_EQ(
      ExtractError(reader, tmp / set[0].Name, tmp / "out", TSTCabReader::stopAfterFirstCabinet),
      "");
  EXPECT_EQ(errors, (std::vector<int>{FDIERROR_NONE, FDIERROR_CABINET_NOT_FOUND}));
  EXPECT_EQ(ReadBytes(tmp / "out/big.bin"), files[1].Bytes);
}

TEST(CabinetSpanned, WrongCabinetInTheSet) {
  TTempDir tmp;
  const auto files = ThreeCabinetFiles();
  auto set = ThreeCabinetSet(files);
  // The second cabinet of another set under the expected name.
  TSpanOptions other;
  other.MaxCabinetSize = 1400;
  other.BlockSize = 700;
  other.SetID = 0x9999;
  other.StoredName = [](unsigned i) { return "DISK" + std::to_string(i + 1) + ".CAB"; };
  set[1].Bytes = MakeSpannedCabinets(files, other)[1].Bytes;
  WriteSet(tmp.Path(), set);
  TSTCabReader reader;
  EXPECT_EQ(ExtractError(reader, tmp / set[0].Name, tmp / "out"),
            "Cabinet returned on fdintNEXT_CABINET is incorrect [0x000A]");
}

TEST(CabinetSpanned, NextCabinetNamesWithAPathAreIgnored) {
  const char* names[] = {"../other.cab", "sub/other.cab", "sub\\other.cab", "..", "/tmp/other.cab"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    TTempDir tmp;
    fs::create_directories(tmp / "pkg/sub");
    // A real cabinet wherever the name could lead.
    const TCabFile evil{"evil.txt", Text(10, 1)};
    const TBytes evilCab = MakeCabinet(std::span(&evil, 1));
    WriteBytes(tmp / "other.cab", evilCab);
    WriteBytes(tmp / "pkg/sub/other.cab", evilCab);
    const std::vector<TSpanFile> files = {SpanFile("good.txt", Text(100, 2))};
    TSpanOptions options;
    options.ExtraNextName = name;
    WriteBytes(tmp / "pkg/first.cab", MakeStoredCabinet(files, options));
    TSTCabReader reader;
    ASSERT_EQ(ExtractError(reader, tmp / "pkg/first.cab", tmp / "out"), "");
    EXPECT_EQ(reader.NextCabName(), "");
    EXPECT_TRUE(Exists(tmp / "out/good.txt"));
    EXPECT_FALSE(Exists(tmp / "out/evil.txt"));
  }

  // A set whose spanning file needs a next cabinet named with a path: never opened.
  TTempDir tmp;
  const auto files = ThreeCabinetFiles();
  const auto set = ThreeCabinetSet(files, [](unsigned i) {
    return i == 1 ? std::string("sub/disk2.cab") : "disk" + std::to_string(i + 1) + ".cab";
  });
  WriteSet(tmp.Path(), set);
  fs::create_directory(tmp / "sub");
  WriteBytes(tmp / "sub/disk2.cab", set[1].Bytes);
  TSTCabReader reader;
  EXPECT_EQ(ExtractError(reader, tmp / set[0].Name, tmp / "out"), "Cabinet not found [0x0001]");
  EXPECT_EQ(ReadBytes(tmp / "out/a.txt"), files[0].Bytes);
}

TEST(CabinetSpanned, CircularSetEnds) {
  // Two cabinets that name each other as the next one, with no file crossing between them.
  TTempDir tmp;
  TSpanOptions one;
  one.ExtraNextName = "b.cab";
  one.SetID = 7;
  TSpanOptions two;
  two.ExtraNextName = "a.cab";
  two.SetID = 7;
  WriteBytes(tmp / "a.cab",
             MakeStoredCabinet(std::vector<TSpanFile>{SpanFile("1", Text(10, 1))}, one));
  WriteBytes(tmp / "b.cab",
             MakeStoredCabinet(std::vector<TSpanFile>{SpanFile("2", Text(10, 2))}, two));
  TSTCabReader reader;
  int infos = 0;
  reader.OnCabinetInfo = [&](TSTCabReader&, const std::string&, const std::string&,
                             const std::string&, uint16_t, uint16_t, bool&) { ++infos; };
  ASSERT_EQ(ExtractError(reader, tmp / "a.cab", tmp / "out"), "");
  EXPECT_EQ(infos, 2);
  EXPECT_TRUE(Exists(tmp / "out/1"));
  EXPECT_TRUE(Exists(tmp / "out/2"));
}

// ---------------------------------------------------------------------------------------------
// Damaged and foreign files.

std::vector<TSpanFile> ThreeCabinetFilesForMutation() {
  return {SpanFile("a.txt", Pseudo(100, 1)), SpanFile("big.bin", Pseudo(1500, 2)),
          SpanFile("c.txt", Pseudo(100, 3)), SpanFile("d\\e.txt", Pseudo(800, 4))};
}

TBytes Patched(TBytes bytes, size_t offset, std::initializer_list<uint8_t> values) {
  for (uint8_t v : values) bytes.at(offset++) = v;
  return bytes;
}

TBytes Truncated(TBytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

struct TBadCase {
  const char* Name;
  TBytes Bytes;
  std::string Expected;
};

TEST(CabinetDamaged, ExactErrors) {
  const std::vector<TSpanFile> files = {SpanFile("a.txt", Text(3000, 1)),
                                        SpanFile("b.txt", Text(100, 2))};
  const TBytes good = MakeStoredCabinet(files);
  // The writer's layout: 36-byte header, CFFOLDER at 36, CFFILE table at 44.
  const size_t folder = 36;
  const size_t firstFile = 44;
  const TCabFile zipFile{"z.bin", Text(100000, 3)};
  const TBytes zip = MakeCabinet(std::span(&zipFile, 1), TCabCompression::MsZip);
  const uint32_t zipData =
      uint32_t(zip[36] | zip[37] << 8 | zip[38] << 16 | uint32_t(zip[39]) << 24);

  const std::string text = "This is a text file, not a cabinet at all.\n";
  const std::vector<TBadCase> cases = {
      {"TextFile", TBytes(text.begin(), text.end()),
       "Cabinet file does not have the correct format [0x0002]"},
      {"EmptyFile", {}, "Cabinet file does not have the correct format [0x0002]"},
      {"ThreeBytes", {'M', 'S', 'C'}, "Cabinet file does not have the correct format [0x0002]"},
      {"TruncatedHeader", Truncated(good, 20), "Cabinet file is corrupt [0x0004]"},
      {"UnknownVersion", Patched(good, 25, {2}),
       "Cabinet file has an unknown version number [0x0003]"},
      {"FileTableBeyondEnd", Patched(good, 16, {0xFF, 0xFF, 0xFF, 0x00}),
       "Cabinet file is corrupt [0x0004]"},
      {"TooManyFiles", Patched(good, 28, {0xFF, 0xFF}), "Cabinet file is corrupt [0x0004]"},
      {"TooManyFolders", Patched(good, 26, {0xFF, 0xFF}), "Cabinet file is corrupt [0x0004]"},
      {"FolderIndexOutOfRange", Patched(good, firstFile + 8, {5, 0}),
       "Cabinet file is corrupt [0x0004]"},
      {"ContinuedWithoutPrevious", Patched(good, firstFile + 8, {0xFD, 0xFF}),
       "Cabinet file is corrupt [0x0004]"},
      {"ContinuedWithoutNext", Patched(good, firstFile + 8, {0xFE, 0xFF}),
       "Cabinet file is corrupt [0x0004]"},
      {"DataCutShort", Truncated(good, good.size() - 50), "Cabinet file is corrupt [0x0004]"},
      {"BlockSizeTooLarge", Patched(good, good.size() - 3100 - 8 + 4, {0xFF, 0xFF}),
       "Cabinet file is corrupt [0x0004]"},
      {"UnknownCompression", Patched(good, folder + 6, {7, 0}),
       "Unknown compression type in a cabinet folder [0x0006]"},
      {"LzxWindowOutOfRange", Patched(good, folder + 6, {3, 30}),
       "Unknown compression type in a cabinet folder [0x0006]"},
      {"MoreBlocksThanThere", Patched(good, folder + 4, {50, 0}),
       "Cabinet file is corrupt [0x0004]"},
      // Checksum cleared, so that the damage reaches the decompressor.
      {"MsZipDataDamaged",
       Patched(Patched(zip, zipData, {0, 0, 0, 0}), zipData + 8 + 2, {0xFF, 0xFF, 0xFF, 0xFF}),
       "Failure decompressing data from a cabinet file [0x0007]"},
  };
  for (const TBadCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir tmp;
    WriteBytes(tmp / "bad.cab", c.Bytes);
    // Salvaging what a cut package holds changes no error.
    for (const bool salvage : {false, true}) {
      TSTCabReader reader;
      reader.SalvageCutShort = salvage;
      EXPECT_EQ(ExtractError(reader, tmp / "bad.cab", tmp / (salvage ? "salvaged" : "out")),
                c.Expected)
          << "salvage " << salvage;
    }
  }
}

// Damage at random places (a fixed sequence): whatever happens, no crash, no sanitizer
// report, no descriptor left open and nothing written outside the target folder.
TEST(CabinetDamaged, MutatedCabinetsStayContained) {
  const TCabFile zipFile{"MyFilm.~zrflm", Text(60000, 1)};
  const std::vector<TSpanFile> stored = {SpanFile("a.txt", Text(2000, 2)),
                                         SpanFile("sub\\b", Pseudo(3000, 3))};
  const std::vector<TBytes> singles = {MakeCabinet(std::span(&zipFile, 1), TCabCompression::MsZip),
                                       MakeStoredCabinet(stored)};
  TSpanOptions spanOptions;
  spanOptions.MaxCabinetSize = 1400;
  spanOptions.BlockSize = 700;
  const std::vector<TSpanCabinet> set =
      MakeSpannedCabinets(ThreeCabinetFilesForMutation(), spanOptions);

  uint32_t x = 12345;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  auto mutate = [&](TBytes bytes) {
    const uint32_t edits = 1 + next() % 4;
    for (uint32_t i = 0; i < edits && !bytes.empty(); ++i) {
      const size_t at = next() % bytes.size();
      switch (next() % 4) {
        case 0:
          bytes[at] ^= uint8_t(1u << (next() % 8));
          break;
        case 1:
          bytes[at] = uint8_t(next());
          break;
        case 2:
          bytes[at] = (next() & 1) ? 0xFF : 0x00;
          break;
        default:
          bytes.resize(at);
          break;
      }
    }
    return bytes;
  };

  const size_t descriptors = OpenDescriptorCount();
  TSTCabReader reader;  // one instance throughout, as the player keeps it
  reader.MaxExtractBytes = 4u << 20;
  for (int round = 0; round < 300; ++round) {
    reader.SalvageCutShort = round % 2 == 1;
    TTempDir tmp;
    fs::create_directory(tmp / "pkg");
    std::string first;
    if (round % 3 == 2) {
      const size_t victim = next() % set.size();
      for (size_t i = 0; i < set.size(); ++i) {
        WriteBytes(tmp / ("pkg/" + set[i].Name), i == victim ? mutate(set[i].Bytes) : set[i].Bytes);
      }
      first = tmp / ("pkg/" + set[0].Name);
    } else {
      first = tmp / "pkg/p.cab";
      WriteBytes(first, mutate(singles[size_t(round) % 2]));
    }
    const std::string error = ExtractError(reader, first, tmp / "out");
    EXPECT_EQ(error.rfind("other:", 0), std::string::npos) << round << ": " << error;
    for (const std::string& path : Tree(tmp.Path())) {
      EXPECT_TRUE(path.rfind("pkg", 0) == 0 || path.rfind("out", 0) == 0) << round << ": " << path;
    }
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST(CabinetDamaged, MissingFile) {
  TTempDir tmp;
  TSTCabReader reader;
  try {
    reader.Extract(tmp / "nothing.zrcab", tmp / "out");
    FAIL() << "no exception";
  } catch (const ESTCabinet& e) {
    EXPECT_EQ(std::string(e.what()), "Cabinet not found [0x0001].\r\n" +
                                         std::string(std::strerror(ENOENT)) + " [0x0002].");
    EXPECT_EQ(e.ErrorCode, 1);
    EXPECT_EQ(e.OsErrorCode, ENOENT);
    EXPECT_TRUE(e.HasError);
    EXPECT_FALSE(e.IsCompressor);
  }
  EXPECT_FALSE(Exists(tmp / "out"));  // nothing made for a cabinet that is not there

  // A folder where the cabinet should be.
  fs::create_directory(tmp / "dir.cab");
  EXPECT_EQ(ExtractError(reader, tmp / "dir.cab", tmp / "out"),
            "Cabinet not found [0x0001]" + OsPart(EISDIR));
}

TEST(CabinetDamaged, SecondExtractOnTheSameInstance) {
  TTempDir tmp;
  const TCabFile a{"a.txt", Text(500, 1)};
  const TCabFile b{"b.txt", Text(700, 2)};
  WriteBytes(tmp / "a.cab", MakeCabinet(std::span(&a, 1)));
  WriteBytes(tmp / "b.cab", MakeCabinet(std::span(&b, 1), TCabCompression::None));
  const std::string text = "plain text";
  WriteBytes(tmp / "text.cab", TBytes(text.begin(), text.end()));

  TSTCabReader reader;
  ASSERT_EQ(ExtractError(reader, tmp / "a.cab", tmp / "one"), "");
  const HFDI context = reader.Context();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(ExtractError(reader, tmp / "missing.cab", tmp / "two"),
            "Cabinet not found [0x0001]" + OsPart(ENOENT));
  // No OS error is left over from the failure before.
  EXPECT_EQ(ExtractError(reader, tmp / "text.cab", tmp / "two"),
            "Cabinet file does not have the correct format [0x0002]");
  ASSERT_EQ(ExtractError(reader, tmp / "b.cab", tmp / "two"), "");
  EXPECT_EQ(reader.Context(), context);
  EXPECT_EQ(ReadBytes(tmp / "one/a.txt"), a.Bytes);
  EXPECT_EQ(ReadBytes(tmp / "two/b.txt"), b.Bytes);
  EXPECT_FALSE(Exists(tmp / "two/a.txt"));
  EXPECT_EQ(reader.FilesWritten(), 1u);
  EXPECT_TRUE(reader.SrcNames().empty());
  EXPECT_TRUE(reader.DstNames().empty());
  reader.DestroyContext();
  ASSERT_EQ(ExtractError(reader, tmp / "a.cab", tmp / "three"), "");
  EXPECT_EQ(ReadBytes(tmp / "three/a.txt"), a.Bytes);
}

TEST(CabinetDamaged, NoDescriptorIsLeft) {
  TTempDir tmp;
  const auto files = ThreeCabinetFiles();
  const auto set = ThreeCabinetSet(files);
  WriteSet(tmp.Path(), set);
  const TCabFile z{"z.bin", Text(100000, 3)};
  WriteBytes(tmp / "zip.cab", MakeCabinet(std::span(&z, 1)));
  const size_t before = OpenDescriptorCount();
  {
    TSTCabReader reader;
    EXPECT_EQ(ExtractError(reader, tmp / set[0].Name, tmp / "out1"), "");
    EXPECT_EQ(ExtractError(reader, tmp / "zip.cab", tmp / "out2"), "");
    reader.OnCopyFile = [](TSTCabReader&, const std::string& name, int32_t, uint16_t, uint16_t,
                           uint16_t, uint16_t, std::string&,
                           bool& abort) { abort = name == "d.txt"; };
    EXPECT_EQ(ExtractError(reader, tmp / set[0].Name, tmp / "out3"), "FDI aborted [0x000B]");
    reader.OnCopyFile = nullptr;
    ASSERT_EQ(::unlink((tmp / set[2].Name).c_str()), 0);
    EXPECT_NE(ExtractError(reader, tmp / set[0].Name, tmp / "out4"), "");
    EXPECT_EQ(OpenDescriptorCount(), before);
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
}

// ---------------------------------------------------------------------------------------------
// Packages cut short: what SalvageCutShort keeps.

// A short film whose frames are half noise, so that MSZIP still needs several blocks.
TBytes NoisyFilm(int frames) {
  TWriterSegment s;
  s.Name = "Обрыв";
  s.Width = 96;
  s.Height = 64;
  s.BitsPerPixel = 32;
  uint32_t x = 77;
  for (int f = 0; f < frames; ++f) {
    std::vector<uint32_t> picture(size_t(s.Width * s.Height));
    for (size_t i = 0; i < picture.size(); ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      picture[i] = i % size_t(s.Width) < 40 ? (x & 0xFFFFFF) : 0x336699u + uint32_t(f);
    }
    s.Pictures.push_back(std::move(picture));
    s.Track.push_back({0, uint16_t(f), uint16_t(f)});
  }
  return WriteFilm(std::span(&s, 1));
}

// The layout of a single cabinet with one folder and no reserved areas, read here on its own
// rather than through the reader: where the file table ends and each data block lies.
struct TCutBlock {
  size_t Start = 0;  // its CFDATA header
  size_t End = 0;    // after its data
  uint32_t Uncomp = 0;
};
struct TCutLayout {
  size_t TableEnd = 0;
  std::vector<TCutBlock> Blocks;
};

TCutLayout LayoutOf(const TBytes& cab) {
  auto u16 = [&](size_t at) { return uint32_t(cab.at(at)) | uint32_t(cab.at(at + 1)) << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  if (u16(26) != 1 || u16(30) != 0) throw std::logic_error("one folder, no flags expected");
  TCutLayout layout;
  size_t pos = u32(16);
  for (uint32_t i = 0; i < u16(28); ++i) {
    pos += 16;
    while (cab.at(pos) != 0) ++pos;
    ++pos;
  }
  layout.TableEnd = pos;
  pos = u32(36);
  for (uint32_t i = 0; i < u16(40); ++i) {
    layout.Blocks.push_back({pos, pos + 8 + u16(pos + 4), u16(pos + 6)});
    pos = layout.Blocks.back().End;
  }
  if (pos != cab.size()) throw std::logic_error("data blocks do not end the cabinet");
  return layout;
}

// Uncompressed bytes of the blocks that lie wholly inside the first `cut` bytes.
uint64_t CompleteBytes(const TCutLayout& layout, size_t cut) {
  uint64_t total = 0;
  for (const TCutBlock& b : layout.Blocks) {
    if (b.End > cut) break;
    total += b.Uncomp;
  }
  return total;
}

// Lengths to cut at: inside the header and the tables, around every block header and block
// end, and a stride through the rest.
std::vector<size_t> CutPoints(const TCutLayout& layout, size_t size) {
  std::set<size_t> cuts = {0, 1, 3, 4, 20, 35, 36, 44, size - 1};
  cuts.insert({layout.TableEnd - 1, layout.TableEnd});
  for (const TCutBlock& b : layout.Blocks) {
    for (size_t at : {b.Start + 1, b.Start + 8, b.End - 1, b.End}) {
      cuts.insert(at);
    }
  }
  for (size_t at = 0; at < size; at += size / 11 + 1) cuts.insert(at);
  std::vector<size_t> out;
  for (size_t at : cuts) {
    if (at < size) out.push_back(at);
  }
  return out;
}

struct TCutCase {
  const char* Name;
  std::vector<TCabFile> Files;  // in folder order
  TBytes Cabinet;
};

std::vector<TCutCase> CutCases() {
  const TBytes film = NoisyFilm(6);
  std::vector<TCutCase> cases;
  for (TCabCompression c : {TCabCompression::MsZip, TCabCompression::None}) {
    const bool zip = c == TCabCompression::MsZip;
    cases.push_back(
        {zip ? "MsZipFilm" : "StoredFilm", {{"MyFilm.~zrflm", film}}, MakeFilmPackage(film, c)});
    // The film second: for most cuts the first file is whole and the film is the one cut.
    std::vector<TCabFile> two = {{"readme.txt", Text(50000, 1)}, {"MyFilm.~zrflm", film}};
    TBytes cab = MakeCabinet(two, c);
    cases.push_back({zip ? "MsZipTwoFiles" : "StoredTwoFiles", std::move(two), std::move(cab)});
  }
  // The test writer, checksums on, small blocks, the first file ending on a block boundary
  // (a cut there leaves it whole and the next one empty), then an empty file and a third.
  const std::vector<TSpanFile> span = {SpanFile("a.bin", Pseudo(3 * 4096, 1)),
                                       SpanFile("empty", {}),
                                       SpanFile("sub\\c.bin", Pseudo(9000, 2))};
  TSpanOptions options;
  options.BlockSize = 4096;
  options.Checksums = true;
  std::vector<TCabFile> files;
  for (const TSpanFile& f : span) files.push_back({f.Name, f.Bytes});
  cases.push_back({"WriterBlockBoundary", std::move(files), MakeStoredCabinet(span, options)});
  return cases;
}

TEST(CabinetCutShort, SalvageKeepsTheCompleteBlocks) {
  const std::string corrupt = "Cabinet file is corrupt [0x0004]";
  const std::string notCabinet = "Cabinet file does not have the correct format [0x0002]";
  for (const TCutCase& c : CutCases()) {
    SCOPED_TRACE(c.Name);
    const TCutLayout layout = LayoutOf(c.Cabinet);
    ASSERT_GE(layout.Blocks.size(), 3u);
    std::vector<std::string> paths;
    for (const TCabFile& f : c.Files) {
      std::string clean;
      ASSERT_TRUE(CleanStoredName(f.Name, clean));
      paths.push_back(clean);
    }
    TTempDir tmp;
    const std::string out = tmp / "out";
    TSTCabReader salvaging;  // one instance each throughout, as the player keeps it
    salvaging.SalvageCutShort = true;
    TSTCabReader plain;
    std::vector<uint64_t> previous(c.Files.size(), 0);
    std::vector<size_t> cuts = CutPoints(layout, c.Cabinet.size());
    cuts.push_back(c.Cabinet.size());
    for (size_t cut : cuts) {
      SCOPED_TRACE(cut);
      WriteBytes(tmp / "cut.zrcab", Truncated(c.Cabinet, cut));
      const std::string expected = cut == c.Cabinet.size() ? "" : cut < 4 ? notCabinet : corrupt;
      const uint64_t complete = cut == c.Cabinet.size() ? UINT64_MAX : CompleteBytes(layout, cut);

      // Without the option: the first file is started and gets nothing.
      fs::remove_all(out);
      EXPECT_EQ(ExtractError(plain, tmp / "cut.zrcab", out), expected);
      if (cut < layout.TableEnd) {
        EXPECT_FALSE(Exists(out));
      } else if (cut < c.Cabinet.size()) {
        EXPECT_EQ(ReadBytes(out + "/" + paths[0]), TBytes());
        EXPECT_EQ(Tree(out).size(), 1u);
      }

      // With it: the files the complete blocks hold, then a prefix of the first they don't.
      fs::remove_all(out);
      EXPECT_EQ(ExtractError(salvaging, tmp / "cut.zrcab", out), expected);
      if (cut < layout.TableEnd) {
        EXPECT_FALSE(Exists(out));
        continue;
      }
      uint64_t offset = 0;
      bool goOn = true;
      bool unfinished = false;
      for (size_t i = 0; i < c.Files.size(); ++i) {
        const TBytes& whole = c.Files[i].Bytes;
        const std::string path = out + "/" + paths[i];
        const uint64_t end = offset + whole.size();
        offset = end;
        // Not started: after an unfinished file, or none of its bytes there.
        if (!goOn || (complete < end && complete <= end - whole.size())) {
          EXPECT_FALSE(Exists(path)) << paths[i];
          goOn = false;
          continue;
        }
        const size_t length =
            size_t(std::min<uint64_t>(complete - (end - whole.size()), whole.size()));
        const TBytes got = ReadBytes(path);
        EXPECT_EQ(got, TBytes(whole.begin(), whole.begin() + ptrdiff_t(length))) << paths[i];
        EXPECT_GE(got.size(), previous[i]) << paths[i];
        previous[i] = got.size();
        goOn = length == whole.size();
        unfinished = !goOn;
      }
      // The unfinished file is the one left in the name lists.
      EXPECT_EQ(salvaging.SrcNames().size(), unfinished ? 1u : 0u);
    }
    for (size_t i = 0; i < c.Files.size(); ++i) EXPECT_EQ(previous[i], c.Files[i].Bytes.size());
  }
}

TEST(CabinetCutShort, EventsAndSkippedFiles) {
  const std::vector<TCabFile> files = {
      {"first.txt", Text(40000, 1)}, {"MyFilm.~zrflm", NoisyFilm(4)}, {"last.txt", Text(1000, 2)}};
  const TBytes cab = MakeCabinet(files);
  const TCutLayout layout = LayoutOf(cab);
  const size_t cut = layout.Blocks.back().Start + 20;  // inside the film's data
  const uint64_t complete = CompleteBytes(layout, cut);
  ASSERT_GT(complete, files[0].Bytes.size());
  ASSERT_LT(complete, files[0].Bytes.size() + files[1].Bytes.size());
  TTempDir tmp;
  WriteBytes(tmp / "cut.zrcab", Truncated(cab, cut));

  TSTCabReader reader;
  reader.SalvageCutShort = true;
  std::vector<std::string> log;
  bool skipFilm = false;
  reader.OnCopyFile = [&](TSTCabReader&, const std::string& name, int32_t, uint16_t, uint16_t,
                          uint16_t, uint16_t, std::string& target, bool&) {
    log.push_back("copy " + name);
    if (skipFilm && name == "MyFilm.~zrflm") target.clear();
  };
  reader.OnCloseFile = [&](TSTCabReader&, const std::string& name, uint16_t, uint16_t, uint16_t,
                           uint16_t, bool&, const std::string&,
                           bool&) { log.push_back("close " + name); };
  EXPECT_EQ(ExtractError(reader, tmp / "cut.zrcab", tmp / "out"),
            "Cabinet file is corrupt [0x0004]");
  EXPECT_EQ(log,
            (std::vector<std::string>{"copy first.txt", "close first.txt", "copy MyFilm.~zrflm"}));
  EXPECT_EQ(ReadBytes(tmp / "out/first.txt"), files[0].Bytes);
  const TBytes film = ReadBytes(tmp / "out/MyFilm.~zrflm");
  ASSERT_EQ(film.size(), complete - files[0].Bytes.size());
  EXPECT_TRUE(std::equal(film.begin(), film.end(), files[1].Bytes.begin()));
  EXPECT_FALSE(Exists(tmp / "out/last.txt"));
  EXPECT_EQ(reader.SrcNames(), std::vector<std::string>{"MyFilm.~zrflm"});
  EXPECT_EQ(reader.DstNames(), std::vector<std::string>{tmp / "out/MyFilm.~zrflm"});
  EXPECT_EQ(reader.FilesWritten(), 2u);
  EXPECT_EQ(reader.BytesWritten(), complete);

  // The cut file skipped: the files before it are whole, and the cut still fails the package.
  skipFilm = true;
  log.clear();
  EXPECT_EQ(ExtractError(reader, tmp / "cut.zrcab", tmp / "skipped"),
            "Cabinet file is corrupt [0x0004]");
  EXPECT_EQ(ReadBytes(tmp / "skipped/first.txt"), files[0].Bytes);
  EXPECT_FALSE(Exists(tmp / "skipped/MyFilm.~zrflm"));
  EXPECT_FALSE(Exists(tmp / "skipped/last.txt"));
  EXPECT_TRUE(reader.SrcNames().empty());
}

TEST(CabinetCutShort, LimitsAndRefusalsStillHold) {
  const std::vector<TCabFile> files = {{"first.txt", Text(40000, 1)},
                                       {"MyFilm.~zrflm", NoisyFilm(4)}};
  const TBytes cab = MakeCabinet(files);
  const TCutLayout layout = LayoutOf(cab);
  const size_t cut = layout.Blocks.back().Start + 20;
  const std::string quota = "Failure writing to target file [0x0008]" + OsPart(EDQUOT);
  TTempDir tmp;
  WriteBytes(tmp / "cut.zrcab", Truncated(cab, cut));
  TSTCabReader reader;
  reader.SalvageCutShort = true;

  // The byte limit counts the whole size of a file before it is started.
  reader.MaxExtractBytes = files[0].Bytes.size() + 10;
  EXPECT_EQ(ExtractError(reader, tmp / "cut.zrcab", tmp / "bytes"), quota);
  EXPECT_EQ(ReadBytes(tmp / "bytes/first.txt"), files[0].Bytes);
  EXPECT_FALSE(Exists(tmp / "bytes/MyFilm.~zrflm"));
  reader.MaxExtractBytes = TSTCabReader::kDefaultMaxExtractBytes;

  reader.MaxExtractFiles = 1;
  EXPECT_EQ(ExtractError(reader, tmp / "cut.zrcab", tmp / "files"), quota);
  EXPECT_FALSE(Exists(tmp / "files/MyFilm.~zrflm"));
  reader.MaxExtractFiles = TSTCabReader::kDefaultMaxExtractFiles;

  // A link where the cut film should go is refused; what it points at is untouched.
  fs::create_directories(tmp / "link");
  WriteBytes(tmp / "victim", {1, 2, 3});
  ASSERT_EQ(::symlink((tmp / "victim").c_str(), (tmp / "link/MyFilm.~zrflm").c_str()), 0);
  EXPECT_EQ(ExtractError(reader, tmp / "cut.zrcab", tmp / "link"),
            "Failure writing to target file [0x0008]" + OsPart(ELOOP));
  EXPECT_EQ(ReadBytes(tmp / "victim"), (TBytes{1, 2, 3}));
}

TEST(CabinetCutShort, SpannedSetsCutInAnyCabinet) {
  // Stored, and MSZIP laid out again with blocks split between cabinets.
  const std::vector<TSpanFile> stored = ThreeCabinetFiles();
  const std::vector<TCabFile> zipFiles = {{"MyFilm.~zrflm", NoisyFilm(3)},
                                          {"tail.txt", Text(20000, 3)}};
  TSpanOptions zipOptions;
  zipOptions.MaxCabinetSize = 12000;
  zipOptions.Checksums = true;
  struct TSetCase {
    const char* Name;
    std::vector<TCabFile> Files;
    std::vector<TSpanCabinet> Set;
  };
  std::vector<TSetCase> cases;
  {
    std::vector<TCabFile> files;
    for (const TSpanFile& f : stored) files.push_back({f.Name, f.Bytes});
    cases.push_back({"Stored", std::move(files), ThreeCabinetSet(stored)});
  }
  cases.push_back({"MsZip", zipFiles, ResplitCabinet(MakeCabinet(zipFiles), zipOptions)});

  for (const TSetCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_GE(c.Set.size(), 3u);
    for (size_t victim = 0; victim < c.Set.size(); ++victim) {
      SCOPED_TRACE(victim);
      const TBytes& whole = c.Set[victim].Bytes;
      TTempDir tmp;
      std::vector<uint64_t> previous(c.Files.size(), 0);
      TSTCabReader salvaging;
      salvaging.SalvageCutShort = true;
      TSTCabReader plain;
      for (size_t cut = 0; cut <= whole.size(); cut += whole.size() / 23 + 1) {
        SCOPED_TRACE(cut);
        fs::remove_all(tmp / "pkg");
        fs::create_directory(tmp / "pkg");
        for (size_t i = 0; i < c.Set.size(); ++i) {
          WriteBytes(tmp / ("pkg/" + c.Set[i].Name),
                     i == victim ? Truncated(whole, cut) : c.Set[i].Bytes);
        }
        const std::string first = tmp / ("pkg/" + c.Set[0].Name);
        fs::remove_all(tmp / "out");
        const std::string error = ExtractError(salvaging, first, tmp / "out");
        EXPECT_NE(error, "");
        EXPECT_EQ(ExtractError(plain, first, tmp / "plain"), error);
        // Every file there is a prefix, whole ones before the first that is not, none after.
        bool started = true;
        for (size_t i = 0; i < c.Files.size(); ++i) {
          std::string clean;
          ASSERT_TRUE(CleanStoredName(c.Files[i].Name, clean));
          const std::string path = tmp / ("out/" + clean);
          if (!started || !Exists(path)) {
            EXPECT_FALSE(Exists(path)) << clean;
            started = false;
            continue;
          }
          const TBytes got = ReadBytes(path);
          const TBytes& bytes = c.Files[i].Bytes;
          ASSERT_LE(got.size(), bytes.size()) << clean;
          EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin())) << clean;
          EXPECT_GE(got.size(), previous[i]) << clean;
          previous[i] = got.size();
          started = got.size() == bytes.size();
        }
      }
      // The whole set again.
      fs::remove_all(tmp / "out");
      WriteBytes(tmp / ("pkg/" + c.Set[victim].Name), whole);
      ASSERT_EQ(ExtractError(salvaging, tmp / ("pkg/" + c.Set[0].Name), tmp / "out"), "");
      for (const TCabFile& f : c.Files) {
        std::string clean;
        ASSERT_TRUE(CleanStoredName(f.Name, clean));
        EXPECT_EQ(ReadBytes(tmp / ("out/" + clean)), f.Bytes) << clean;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Targets: read-only files, attributes, times.

time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

struct TReadOnlyCase {
  const char* Name;
  uint16_t StoredAttribs;
  unsigned Options;
  bool Overwritten;
  bool ReadOnlyAfter;
};

TEST(CabinetTargets, ReadOnlyExistingTarget) {
  const TReadOnlyCase cases[] = {
      {"StoredReadOnly", 0x21, 0, true, true},
      {"StoredWritable", 0x20, 0, true, false},
      {"HiddenSystemIgnored", 0x26, 0, true, false},
      {"KeptUnderDontOverwrite", 0x20, croDontOverwriteReadOnlyFiles, false, true},
  };
  for (const TReadOnlyCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir tmp;
    fs::create_directory(tmp / "out");
    const std::string target = tmp / "out/MyFilm.~zrflm";
    const TBytes old = Text(5000, 9);  // longer than the new content
    WriteBytes(target, old);
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);

    TSpanFile film = SpanFile("MyFilm.~zrflm", Pseudo(1234, 1), c.StoredAttribs);
    film.Date = uint16_t(((2008 - 1980) << 9) | (6 << 5) | 15);
    film.Time = uint16_t((13 << 11) | (45 << 5) | (30 / 2));
    WriteBytes(tmp / "p.zrcab", MakeStoredCabinet(std::vector<TSpanFile>{film}));

    TSTCabReader reader;
    reader.Options = c.Options;
    ASSERT_EQ(ExtractError(reader, tmp / "p.zrcab", tmp / "out"), "");
    struct stat st;
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    if (c.Overwritten) {
      EXPECT_EQ(ReadBytes(target), film.Bytes);  // written from the start, and no longer
      EXPECT_EQ(st.st_mtim.tv_sec, LocalTime(2008, 6, 15, 13, 45, 30));
      EXPECT_EQ(reader.FilesWritten(), 1u);
    } else {
      EXPECT_EQ(ReadBytes(target), old);
      EXPECT_EQ(reader.FilesWritten(), 0u);
    }
    if (c.ReadOnlyAfter) {
      EXPECT_EQ(st.st_mode & 0222, 0u);
    } else {
      EXPECT_NE(st.st_mode & S_IWUSR, 0u);
    }
  }
}

TEST(CabinetTargets, TimesAndAttributes) {
  TTempDir tmp;
  const std::string path = tmp / "f";
  WriteBytes(path, {1, 2, 3});
  SetFileTimeAndAttributes(path, uint16_t(((1999 - 1980) << 9) | (12 << 5) | 31),
                           uint16_t((23 << 11) | (59 << 5) | 29), 0x01);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, LocalTime(1999, 12, 31, 23, 59, 58));
  EXPECT_EQ(st.st_mode & 0222, 0u);
  // An impossible date leaves the time; not read-only gives the owner's write bit back.
  SetFileTimeAndAttributes(path, uint16_t(((2001 - 1980) << 9) | (2 << 5) | 30), 0, 0x20);
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, LocalTime(1999, 12, 31, 23, 59, 58));
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
  // A link is left alone, and so is what it points to.
  ASSERT_EQ(::symlink(path.c_str(), (tmp / "link").c_str()), 0);
  SetFileTimeAndAttributes(tmp / "link", uint16_t(((2010 - 1980) << 9) | (1 << 5) | 1), 0, 0x01);
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, LocalTime(1999, 12, 31, 23, 59, 58));
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
}

TEST(CabinetTargets, HandlerChangesOrSkipsTargets) {
  TTempDir tmp;
  const std::vector<TSpanFile> files = {SpanFile("keep.txt", Text(10, 1)),
                                        SpanFile("skip.txt", Text(20, 2)),
                                        SpanFile("move.txt", Text(30, 3))};
  WriteBytes(tmp / "p.cab", MakeStoredCabinet(files));
  TSTCabReader reader;
  reader.OnCopyFile = [&](TSTCabReader&, const std::string& name, int32_t, uint16_t, uint16_t,
                          uint16_t, uint16_t, std::string& target, bool&) {
    if (name == "skip.txt") target.clear();
    if (name == "move.txt") target = tmp / "elsewhere/moved.txt";
  };
  ASSERT_EQ(ExtractError(reader, tmp / "p.cab", tmp / "out"), "");
  EXPECT_EQ(ReadBytes(tmp / "out/keep.txt"), files[0].Bytes);
  EXPECT_FALSE(Exists(tmp / "out/skip.txt"));
  EXPECT_FALSE(Exists(tmp / "out/move.txt"));
  EXPECT_EQ(ReadBytes(tmp / "elsewhere/moved.txt"), files[2].Bytes);
  EXPECT_TRUE(reader.SkippedNames().empty());  // skipped by the handler, not for its name
}

TEST(CabinetTargets, FolderThatCannotBeMade) {
  TTempDir tmp;
  const std::vector<TSpanFile> files = {SpanFile("a.txt", Text(10, 1))};
  WriteBytes(tmp / "p.cab", MakeStoredCabinet(files));
  WriteBytes(tmp / "file", {1});
  TSTCabReader reader;
  // The target folder's own path runs through a file.
  EXPECT_EQ(
      ExtractError(reader, tmp / "p.cab", tmp / "file/out"),
      "EOSError: Win32 Error.  Code: " + std::to_string(ENOTDIR) + ".\n" + std::strerror(ENOTDIR));
  // No target folder at all.
  EXPECT_EQ(
      ExtractError(reader, tmp / "p.cab", ""),
      "EOSError: Win32 Error.  Code: " + std::to_string(ENOENT) + ".\n" + std::strerror(ENOENT));
}

// ---------------------------------------------------------------------------------------------
// Hostile packages.

TEST(CabinetHostile, StoredNamesStayInsideTheTargetFolder) {
  TTempDir tmp;
  const std::string dest = tmp / "a/b/target";
  fs::create_directories(dest);
  fs::create_directories(tmp / "a/b/sibling");
  const std::string absolute = tmp / "a/b/sibling/absolute";
  const std::vector<std::string> hostile = {
      "../evil",
      "..\\evil2",
      "/etc/veRirove-cab-test",
      absolute,
      "\\rooted",
      "C:\\x",
      "c:drive",
      "a\\..\\..\\b",
      "dir/../../x",
      "sub\\..\\..\\..\\up",
      "..",
      ".",
      "",
      "\\\\server\\share\\f",
  };
  const std::map<std::string, std::string> fine = {
      {"ok.txt", "ok.txt"}, {"sub\\file", "sub/file"}, {"sub/deeper\\f2", "sub/deeper/f2"},
      {".\\dot", "dot"},    {"x\\\\y", "x/y"},         {"...", "..."},
  };
  std::vector<TSpanFile> files;
  uint32_t seed = 1;
  for (const std::string& name : hostile) files.push_back(SpanFile(name, Text(50, seed++)));
  for (const auto& [name, path] : fine) files.push_back(SpanFile(name, Text(60, seed++)));
  WriteBytes(tmp / "hostile.cab", MakeStoredCabinet(files));
  const std::set<std::string> before = Tree(tmp.Path());

  TSTCabReader reader;
  ASSERT_EQ(ExtractError(reader, tmp / "hostile.cab", dest), "");
  EXPECT_EQ(reader.SkippedNames(), hostile);
  EXPECT_EQ(reader.FilesWritten(), fine.size());
  EXPECT_FALSE(Exists("/etc/veRirove-cab-test"));
  for (const TSpanFile& f : files) {
    auto it = fine.find(f.Name);
    if (it != fine.end()) {
      EXPECT_EQ(ReadBytes(dest + "/" + it->second), f.Bytes) << f.Name;
    }
  }
  // Everything new lies under the target folder.
  for (const std::string& path : Tree(tmp.Path())) {
    if (before.count(path)) continue;
    EXPECT_EQ(path.rfind("a/b/target/", 0), 0u) << path;
  }
}

struct TLinkCase {
  const char* Name;
  std::string Stored;
  std::function<void(const TTempDir&)> Arrange;
  int Errno;
};

TEST(CabinetHostile, LinksInTheTargetFolderAreNotFollowed) {
  const std::vector<TLinkCase> cases = {
      {"LinkToAFile", "victim.txt",
       [](const TTempDir& t) {
         ::symlink((t / "outside/victim.txt").c_str(), (t / "target/victim.txt").c_str());
       },
       ELOOP},
      {"DanglingLink", "new.txt",
       [](const TTempDir& t) {
         ::symlink((t / "outside/new.txt").c_str(), (t / "target/new.txt").c_str());
       },
       ELOOP},
      {"LinkToAFolder", "dir\\inside.txt",
       [](const TTempDir& t) { ::symlink((t / "outside").c_str(), (t / "target/dir").c_str()); },
       ENOTDIR},
      {"LinkDeeper", "sub\\dir\\inside.txt",
       [](const TTempDir& t) {
         fs::create_directory(t / "target/sub");
         ::symlink((t / "outside").c_str(), (t / "target/sub/dir").c_str());
       },
       ENOTDIR},
      {"HardLink", "hard.txt",
       [](const TTempDir& t) {
         ::link((t / "outside/victim.txt").c_str(), (t / "target/hard.txt").c_str());
       },
       EMLINK},
      {"FileWhereAFolderShouldBe", "plain\\inside.txt",
       [](const TTempDir& t) { WriteBytes(t / "target/plain", {7}); }, ENOTDIR},
      {"Fifo", "pipe", [](const TTempDir& t) { ::mkfifo((t / "target/pipe").c_str(), 0666); },
       ENXIO},
  };
  for (const TLinkCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir tmp;
    fs::create_directory(tmp / "target");
    fs::create_directory(tmp / "outside");
    const TBytes victim = Text(100, 1);
    WriteBytes(tmp / "outside/victim.txt", victim);
    c.Arrange(tmp);
    const std::set<std::string> outsideBefore = Tree(tmp / "outside");

    const std::vector<TSpanFile> files = {SpanFile("first.txt", Text(10, 2)),
                                          SpanFile(c.Stored, Pseudo(300, 3))};
    WriteBytes(tmp / "p.cab", MakeStoredCabinet(files));
    TSTCabReader reader;
    EXPECT_EQ(ExtractError(reader, tmp / "p.cab", tmp / "target"),
              "Failure writing to target file [0x0008]" + OsPart(c.Errno));
    EXPECT_EQ(ReadBytes(tmp / "outside/victim.txt"), victim);
    EXPECT_EQ(Tree(tmp / "outside"), outsideBefore);
    EXPECT_TRUE(Exists(tmp / "target/first.txt"));
  }
}

TEST(CabinetHostile, SizeLimitsStopAPackage) {
  const std::vector<TSpanFile> files = {
      SpanFile("a", Pseudo(600, 1)), SpanFile("b", Pseudo(600, 2)), SpanFile("c", Pseudo(10, 3))};
  const std::string quota = "Failure writing to target file [0x0008]" + OsPart(EDQUOT);
  {
    TTempDir tmp;
    WriteBytes(tmp / "p.cab", MakeStoredCabinet(files));
    TSTCabReader reader;
    reader.MaxExtractBytes = 1000;
    EXPECT_EQ(ExtractError(reader, tmp / "p.cab", tmp / "out"), quota);
    EXPECT_EQ(ReadBytes(tmp / "out/a"), files[0].Bytes);
    EXPECT_FALSE(Exists(tmp / "out/b"));
    EXPECT_EQ(reader.BytesWritten(), 600u);
    // Exactly at the limit is allowed.
    reader.MaxExtractBytes = 1210;
    EXPECT_EQ(ExtractError(reader, tmp / "p.cab", tmp / "out2"), "");
  }
  {
    TTempDir tmp;
    WriteBytes(tmp / "p.cab", MakeStoredCabinet(files));
    TSTCabReader reader;
    reader.MaxExtractFiles = 2;
    EXPECT_EQ(ExtractError(reader, tmp / "p.cab", tmp / "out"), quota);
    EXPECT_TRUE(Exists(tmp / "out/b"));
    EXPECT_FALSE(Exists(tmp / "out/c"));
    EXPECT_EQ(reader.FilesWritten(), 2u);
  }
  {
    // The limits hold across the cabinets of a set.
    TTempDir tmp;
    const auto set = ThreeCabinetSet(ThreeCabinetFiles());
    WriteSet(tmp.Path(), set);
    TSTCabReader reader;
    reader.MaxExtractBytes = 1650;
    EXPECT_EQ(ExtractError(reader, tmp / set[0].Name, tmp / "out"), quota);
    EXPECT_TRUE(Exists(tmp / "out/big.bin"));
    EXPECT_FALSE(Exists(tmp / "out/d.txt"));
  }
}

// ---------------------------------------------------------------------------------------------
// Events and aborts.

TEST(CabinetEvents, OrderAndAborts) {
  TTempDir tmp;
  const std::vector<TSpanFile> files = {SpanFile("one", Text(100, 1)),
                                        SpanFile("two", Text(100, 2), 0x60)};
  WriteBytes(tmp / "p.cab", MakeStoredCabinet(files));

  std::vector<std::string> log;
  TSTCabReader reader;
  reader.OnCabinetInfo = [&](TSTCabReader&, const std::string& next, const std::string&,
                             const std::string& path, uint16_t, uint16_t no, bool&) {
    log.push_back("info " + std::to_string(no) + " [" + next + "] " +
                  (path == tmp.Path() + "/" ? "here" : path));
  };
  reader.OnCopyFile = [&](TSTCabReader&, const std::string& name, int32_t size, uint16_t date,
                          uint16_t time, uint16_t attrs, uint16_t folder, std::string& target,
                          bool&) {
    log.push_back("copy " + name + " " + std::to_string(size) + " " + std::to_string(date) + " " +
                  std::to_string(time) + " " + std::to_string(attrs) + " " +
                  std::to_string(folder) +
                  (target == tmp / ("out/" + name) ? "" : " target=" + target));
  };
  reader.OnCloseFile = [&](TSTCabReader&, const std::string& name, uint16_t, uint16_t,
                           uint16_t attrs, uint16_t, bool& exec, const std::string& target, bool&) {
    log.push_back("close " + name + " " + std::to_string(attrs) + (exec ? " exec" : "") +
                  (Exists(target) ? "" : " missing"));
  };
  ASSERT_EQ(ExtractError(reader, tmp / "p.cab", tmp / "out"), "");
  const std::string stamp = std::to_string(files[0].Date) + " " + std::to_string(files[0].Time);
  EXPECT_EQ(log, (std::vector<std::string>{
                     "info 0 [] here", "copy one 100 " + stamp + " 32 0", "close one 32",
                     "copy two 100 " + stamp + " 96 0",
                     "close two 96 exec",  // 0x40: run after extraction (never done)
                 }));

  // An abort from each event, and an exception from a handler.
  TSTCabReader aborting;
  aborting.OnCopyFile = [](TSTCabReader&, const std::string& name, int32_t, uint16_t, uint16_t,
                           uint16_t, uint16_t, std::string&,
                           bool& abort) { abort = name == "two"; };
  EXPECT_EQ(ExtractError(aborting, tmp / "p.cab", tmp / "out2"), "FDI aborted [0x000B]");
  EXPECT_TRUE(Exists(tmp / "out2/one"));
  EXPECT_FALSE(Exists(tmp / "out2/two"));

  TSTCabReader infoAbort;
  infoAbort.OnCabinetInfo = [](TSTCabReader&, const std::string&, const std::string&,
                               const std::string&, uint16_t, uint16_t,
                               bool& abort) { abort = true; };
  EXPECT_EQ(ExtractError(infoAbort, tmp / "p.cab", tmp / "out3"), "FDI aborted [0x000B]");
  EXPECT_FALSE(Exists(tmp / "out3"));

  TSTCabReader closeAbort;
  closeAbort.OnCloseFile = [](TSTCabReader&, const std::string&, uint16_t, uint16_t, uint16_t,
                              uint16_t, bool&, const std::string&, bool& abort) { abort = true; };
  EXPECT_EQ(ExtractError(closeAbort, tmp / "p.cab", tmp / "out4"), "FDI aborted [0x000B]");
  EXPECT_TRUE(Exists(tmp / "out4/one"));
  EXPECT_FALSE(Exists(tmp / "out4/two"));

  TSTCabReader throwing;
  throwing.OnCopyFile = [](TSTCabReader&, const std::string&, int32_t, uint16_t, uint16_t, uint16_t,
                           uint16_t, std::string&,
                           bool&) { throw std::runtime_error("handler failed"); };
  EXPECT_EQ(ExtractError(throwing, tmp / "p.cab", tmp / "out5"), "other: handler failed");
  // The instance goes on working after a handler's exception.
  throwing.OnCopyFile = nullptr;
  EXPECT_EQ(ExtractError(throwing, tmp / "p.cab", tmp / "out5"), "");
  EXPECT_TRUE(Exists(tmp / "out5/two"));
  // Raised inside the decompressor, it waits until that has stopped.
  const size_t descriptors = OpenDescriptorCount();
  throwing.OnFileData = [](TSTCabReader&, const std::string&, std::span<const uint8_t>, bool&) {
    throw std::runtime_error("data handler failed");
  };
  EXPECT_EQ(ExtractError(throwing, tmp / "p.cab", tmp / "out6"), "other: data handler failed");
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  throwing.OnFileData = nullptr;
  EXPECT_EQ(ExtractError(throwing, tmp / "p.cab", tmp / "out6"), "");
  EXPECT_EQ(ReadBytes(tmp / "out6/two"), files[1].Bytes);
}

// A file whose data handler has all it wants ends there, as a whole file does; the files
// after it come out whole, in the same folder too (decompressed from its start again), in
// one cabinet or across a set.
TEST(CabinetEvents, FileDataEndsAFileWhereItsHandlerSays) {
  const std::vector<TSpanFile> single = {SpanFile("a", Text(5000, 1)), SpanFile("big", Text(300000, 2)),
                                         SpanFile("c", Text(40000, 3))};
  const std::vector<TCabFile> singleCab = {{"a", single[0].Bytes}, {"big", single[1].Bytes}, {"c", single[2].Bytes}};
  const struct {
    const char* name;
    std::vector<TSpanFile> files;
    std::vector<TSpanCabinet> cabinets;
    std::map<std::string, size_t> enough;  // the files ended, and the bytes that suffice
  } cases[] = {
      {"MSZIP", single, {{"p.cab", MakeCabinet(singleCab, TCabCompression::MsZip)}}, {{"big", 70000}}},
      {"stored", single, {{"p.cab", MakeCabinet(singleCab, TCabCompression::None)}}, {{"big", 70000}, {"c", 1}}},
      {"a set", ThreeCabinetFiles(), ThreeCabinetSet(ThreeCabinetFiles()), {{"big.bin", 1}, {"d.txt", 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TTempDir tmp;
    const std::string first = WriteSet(tmp.Path(), c.cabinets);
    TSTCabReader reader;
    std::map<std::string, size_t> seen;
    reader.OnFileData = [&](TSTCabReader&, const std::string& target, std::span<const uint8_t> data, bool& complete) {
      const std::string name = fs::path(target).filename();
      seen[name] += data.size();
      complete = c.enough.count(name) && seen[name] >= c.enough.at(name);
    };
    int closed = 0;
    reader.OnCloseFile = [&](TSTCabReader&, const std::string&, uint16_t, uint16_t, uint16_t, uint16_t, bool&,
                             const std::string&, bool&) { ++closed; };
    // Twice on one instance: nothing of the ended file is left over for the next extraction.
    for (int round = 0; round < 2; ++round) {
      seen.clear(), closed = 0;
      ASSERT_EQ(ExtractError(reader, first, tmp / "out"), "");
      EXPECT_EQ(closed, int(c.files.size()));
      uint64_t written = 0;
      for (const TSpanFile& f : c.files) {
        const TBytes got = ReadBytes(tmp / ("out/" + f.Name));
        written += got.size();
        if (!c.enough.count(f.Name)) {
          EXPECT_EQ(got, f.Bytes) << f.Name;
          continue;
        }
        // The piece that sufficed, and nothing after it.
        EXPECT_GE(got.size(), c.enough.at(f.Name)) << f.Name;
        EXPECT_LT(got.size(), c.enough.at(f.Name) + 32768) << f.Name;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), f.Bytes.begin())) << f.Name;
      }
      EXPECT_EQ(reader.BytesWritten(), written);
    }
  }
}

// A folder from OnNextCabinet that the layer's buffer cannot take is a cabinet not found,
// not an abort; only anAbort is one.
TEST(CabinetEvents, NextCabinetFolderTooLongForTheBuffer) {
  TTempDir tmp;
  const auto set = ThreeCabinetSet(ThreeCabinetFiles());
  WriteSet(tmp.Path(), set);
  const std::string tooLong = "/" + std::string(300, 'x');
  const std::string missing = tmp / "nowhere";
  struct TCase {
    const char* Name;
    std::vector<std::string> Folders;  // one a request; "abort" sets anAbort
    std::string Expected;
  };
  const TCase cases[] = {
      {"TooLong", {tooLong}, "Cabinet not found [0x0001]" + OsPart(ENAMETOOLONG)},
      {"TooLongAfterAMiss",
       {missing, tooLong},
       "Cabinet not found [0x0001]" + OsPart(ENAMETOOLONG)},
      {"Abort", {"abort"}, "FDI aborted [0x000B]"},
      {"AbortAfterAMiss", {missing, "abort"}, "Cabinet not found [0x0001]" + OsPart(ENOENT)},
  };
  for (const TCase& c : cases) {
    TSTCabReader reader;
    size_t asked = 0;
    reader.OnNextCabinet = [&](TSTCabReader&, const std::string&, const std::string&,
                               std::string& path, FDIERROR, bool& abort) {
      ASSERT_LT(asked, c.Folders.size());
      const std::string& folder = c.Folders[asked++];
      if (folder == "abort") {
        abort = true;
      } else {
        path = folder;
      }
    };
    EXPECT_EQ(ExtractError(reader, tmp / set[0].Name, tmp / c.Name), c.Expected) << c.Name;
    EXPECT_EQ(asked, c.Folders.size()) << c.Name;
  }
}

// ---------------------------------------------------------------------------------------------
// The FDI-like layer on its own: how a handler's answer ends a copy.

// Plain file callbacks over descriptors.
void* LayerAlloc(uint32_t cb) { return std::malloc(cb ? cb : 1); }
void LayerFree(void* pv) { std::free(pv); }
INT_PTR LayerOpen(const char* name, int oflag, int) {
  const int fd = ::open(name, ((oflag & 3) == FDI_O_RDONLY ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
  return fd < 0 ? -1 : fd;
}
uint32_t LayerRead(INT_PTR hf, void* pv, uint32_t cb) {
  const ssize_t r = ::read(int(hf), pv, cb);
  return r < 0 ? uint32_t(-1) : uint32_t(r);
}
uint32_t LayerWrite(INT_PTR hf, const void* pv, uint32_t cb) {
  const ssize_t w = ::write(int(hf), pv, cb);
  return w < 0 ? uint32_t(-1) : uint32_t(w);
}
int LayerClose(INT_PTR hf) { return ::close(int(hf)); }
long LayerSeek(INT_PTR hf, long dist, int seektype) {
  const int whence = seektype == FDI_SEEK_CUR   ? SEEK_CUR
                     : seektype == FDI_SEEK_END ? SEEK_END
                                                : SEEK_SET;
  return long(::lseek(int(hf), off_t(dist), whence));
}

enum class TAnswer { Abort, Error, Throw };

// Where and how the handler ends the copy; the user value of FDICopy.
struct TLayerCase {
  const char* Name;
  const char* Cabinet;  // of the three-cabinet set
  FDINOTIFICATIONTYPE At;
  TAnswer Answer;
  FDIERROR Code = FDIERROR_NONE;  // TAnswer::Error: put in fdie, with Errno in errno
  int Errno = 0;
  std::string Expected;
};

// Writes every file to /dev/null, and answers at the first notification of the case's kind.
INT_PTR AnsweringHandler(FDINOTIFICATIONTYPE type, FDINOTIFICATION* n) {
  const TLayerCase* c = static_cast<const TLayerCase*>(n->pv);
  if (type == fdintCLOSE_FILE_INFO) ::close(int(n->hf));  // the handler's to close
  if (c != nullptr && type == c->At) {
    switch (c->Answer) {
      case TAnswer::Abort:
        return -1;
      case TAnswer::Error:
        n->fdie = c->Code;
        errno = c->Errno;
        return -1;
      case TAnswer::Throw:
        throw std::runtime_error("handler failed");
    }
  }
  if (type == fdintCOPY_FILE) return ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  return type == fdintCLOSE_FILE_INFO ? 1 : 0;
}

// "" when the copy went through, the message of the error record when it failed, or
// "exception: …" for what came out of FDICopy.
std::string LayerCopy(HFDI context, const ERF& erf, const std::string& folder,
                      const std::string& cabinet, const TLayerCase* c) {
  try {
    if (FDICopy(context, cabinet.c_str(), folder.c_str(), 0, AnsweringHandler, nullptr,
                const_cast<TLayerCase*>(c))) {
      return "";
    }
  } catch (const std::exception& e) {
    return std::string("exception: ") + e.what() + (erf.fError ? " (error recorded)" : "");
  }
  return ESTCabinet(erf, false).what();
}

TEST(CabinetLayer, HandlerAnswers) {
  TTempDir tmp;
  // Named inside the set as they are on disk: these callbacks do not look for another case.
  WriteSet(tmp.Path(), ThreeCabinetSet(ThreeCabinetFiles(), [](unsigned i) {
             return "disk" + std::to_string(i + 1) + ".cab";
           }));
  const std::string aborted = "FDI aborted [0x000B]";
  const std::string thrown = "exception: handler failed";
  // disk1.cab tells CABINET_INFO, COPY_FILE, CLOSE_FILE_INFO and NEXT_CABINET; disk2.cab
  // begins with PARTIAL_FILE.
  const TLayerCase cases[] = {
      {"InfoAbort", "disk1.cab", fdintCABINET_INFO, TAnswer::Abort, {}, 0, aborted},
      {"InfoError", "disk1.cab", fdintCABINET_INFO, TAnswer::Error, FDIERROR_WRONG_CABINET, 0,
       "Cabinet returned on fdintNEXT_CABINET is incorrect [0x000A]"},
      {"InfoThrow", "disk1.cab", fdintCABINET_INFO, TAnswer::Throw, {}, 0, thrown},
      {"PartialAbort", "disk2.cab", fdintPARTIAL_FILE, TAnswer::Abort, {}, 0, aborted},
      {"PartialError", "disk2.cab", fdintPARTIAL_FILE, TAnswer::Error, FDIERROR_TARGET_FILE, EIO,
       "Failure writing to target file [0x0008]" + OsPart(EIO)},
      {"PartialThrow", "disk2.cab", fdintPARTIAL_FILE, TAnswer::Throw, {}, 0, thrown},
      {"CopyAbort", "disk1.cab", fdintCOPY_FILE, TAnswer::Abort, {}, 0, aborted},
      {"CopyError", "disk1.cab", fdintCOPY_FILE, TAnswer::Error, FDIERROR_TARGET_FILE, EDQUOT,
       "Failure writing to target file [0x0008]" + OsPart(EDQUOT)},
      {"CopyThrow", "disk1.cab", fdintCOPY_FILE, TAnswer::Throw, {}, 0, thrown},
      {"CloseAbort", "disk1.cab", fdintCLOSE_FILE_INFO, TAnswer::Abort, {}, 0, aborted},
      {"CloseError", "disk1.cab", fdintCLOSE_FILE_INFO, TAnswer::Error, FDIERROR_TARGET_FILE, EIO,
       "Failure writing to target file [0x0008]" + OsPart(EIO)},
      {"CloseThrow", "disk1.cab", fdintCLOSE_FILE_INFO, TAnswer::Throw, {}, 0, thrown},
      {"NextAbort", "disk1.cab", fdintNEXT_CABINET, TAnswer::Abort, {}, 0, aborted},
      {"NextError", "disk1.cab", fdintNEXT_CABINET, TAnswer::Error, FDIERROR_CABINET_NOT_FOUND,
       ENAMETOOLONG, "Cabinet not found [0x0001]" + OsPart(ENAMETOOLONG)},
      // Throwing during the request, with big.bin open for writing.
      {"NextThrow", "disk1.cab", fdintNEXT_CABINET, TAnswer::Throw, {}, 0, thrown},
  };
  const size_t descriptors = OpenDescriptorCount();
  const std::string folder = tmp.Path() + "/";
  ERF erf;
  // A fresh context a case: one that kept a set would not ask for the next cabinet again.
  auto newContext = [&] {
    return FDICreate(LayerAlloc, LayerFree, LayerOpen, LayerRead, LayerWrite, LayerClose,
                     LayerSeek, cpuUNKNOWN, &erf);
  };
  for (const TLayerCase& c : cases) {
    HFDI context = newContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(LayerCopy(context, erf, folder, c.Cabinet, &c), c.Expected) << c.Name;
    // Nothing is left open, and the context goes on working.
    EXPECT_EQ(OpenDescriptorCount(), descriptors) << c.Name;
    EXPECT_EQ(LayerCopy(context, erf, folder, c.Cabinet, nullptr), "") << c.Name;
    EXPECT_TRUE(FDIDestroy(context));
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors);

  // No handler at all is the caller's fault, not an abort.
  HFDI context = newContext();
  ASSERT_NE(context, nullptr);
  try {
    FDICopy(context, "disk1.cab", folder.c_str(), 0, nullptr, nullptr, nullptr);
    ADD_FAILURE() << "FDICopy without a handler went through";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "FDICopy: no notification handler");
  }
  EXPECT_TRUE(FDIDestroy(context));
}

}  // namespace
