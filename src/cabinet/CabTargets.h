// CabTargets: where the cabinet component may write, and which names from a package it
// follows. Packages come from anywhere, so the component must be safe on any file:
//   - Stored names stay inside the target folder. A name that is absolute ("/etc/x",
//     "\\x"), carries a drive ("C:\\x", "C:x"), has a ".." part anywhere, or is empty once
//     "." and empty parts are dropped, gets an empty target: OnCopyFile still sees it (and
//     may give a target of its own); left empty, the entry is skipped (the rest of the
//     package still extracts) and its stored name is listed in SkippedNames().
//   - Symbolic links inside the target folder are never followed. Folders are made and
//     files opened one part at a time relative to the target folder (mkdirat/openat with
//     O_NOFOLLOW). A symbolic link, or any other non-folder, where a folder of the stored
//     path should be, or anything but a plain file with one link where the file should be,
//     fails the entry with "Failure writing to target file" (FDIERROR_TARGET_FILE) and the
//     errno of the refusal: ENOTDIR for a link or file where a folder should be, ELOOP for a
//     link where the file should be, ENXIO for a FIFO, EINVAL for another non-file, EMLINK
//     for a file with more than one link (a hard link would carry the bytes elsewhere).
//     Nothing is written through it, and it is not truncated. The target folder itself, and a
//     target outside it that an OnCopyFile handler chose, are the caller's and are opened as given
//     (only their last part without following a link).
//   - A target is written from its first byte and truncated: an existing longer file does
//     not keep old bytes past the new end.
//   - Limits per Extract: MaxExtractBytes bytes written (default 4 GiB) and MaxExtractFiles
//     files (default 65,536). A file that would pass either limit is not opened (its size
//     is known beforehand), and a write past the byte limit is refused whole; extraction
//     stops with ESTCabinet "Failure writing to target file" (FDIERROR_TARGET_FILE) and
//     OS error EDQUOT ("Disk quota exceeded").
//   - A continuation cabinet named by a package is used only when the name is a bare file
//     name; one with '/', '\\' or that is "." or ".." is ignored (no continuation).
//   - A folder that cannot be created (mkdir fails with anything but EEXIST), a target folder
//     that cannot be made or opened, and a target with no folder at all (an empty target
//     folder, or a relative target) raise EOSError, not ESTCabinet.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "io/UniqueFd.h"

// An operating-system failure outside the FDI record (a folder that cannot be created), with
// the message "Win32 Error.  Code: %d.\n%s" (errno and its text), or "A Win32 API function
// failed" when errno is 0. code() is the errno in std::generic_category().
class EOSError : public std::system_error {
 public:
  explicit EOSError(int err);
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

// Whether name is a bare file name: not empty, not "." or "..", without '/' or '\\'. A cabinet
// names its neighbours in a set; only such a name is ever looked for.
bool IsBareName(std::string_view name);

// The stored name of a cabinet entry as a path inside the target folder ('\\' read as '/',
// "." and empty parts dropped), or false when it would lead outside (see above).
bool CleanStoredName(std::string_view stored, std::string& clean);

// Whether an extraction that has written filesWritten files and bytesWritten bytes may start
// a file of size bytes under its limits.
bool WithinExtractLimits(uint32_t filesWritten, uint64_t bytesWritten, uint64_t size,
                         uint32_t maxFiles, uint64_t maxBytes);

// How many more bytes an extraction that has written bytesWritten may write.
uint64_t ExtractBytesLeft(uint64_t bytesWritten, uint64_t maxBytes);

// The target folder of one extraction. It is made (following links: it is the caller's) and
// opened at the first target, and every target inside it is opened relative to it.
class TCabTargetFolder {
 public:
  // What Open gives for a read-only target that is to be skipped.
  static constexpr int kTargetSkipped = -2;

  TCabTargetFolder() = default;
  ~TCabTargetFolder() { Close(); }
  TCabTargetFolder(const TCabTargetFolder&) = delete;
  TCabTargetFolder& operator=(const TCabTargetFolder&) = delete;

  // Starts over with the folder path (ending in '/', or empty); the one held before is closed.
  void Reset(std::string path);
  const std::string& Path() const { return FPath; }
  void Close();

  // Opens target for writing, emptied: a descriptor, kTargetSkipped for a read-only target
  // when skipReadOnly is set (otherwise it is made writable for the owner), or -1 with errno
  // when it may not or cannot be opened. Raises EOSError for a folder that cannot be made and
  // for a target with no folder.
  int Open(const std::string& target, bool skipReadOnly);

 private:
  int Fd();

  std::string FPath;
  TFd FFd;
};
