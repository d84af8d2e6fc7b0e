// libmspack's system (mspack_system) over bytes in memory, for the help file reader: the help
// file is read once, libmspack decompresses from that copy, and what it extracts lands in a
// byte array. No file is opened by name.
#pragma once

#include <mspack.h>

#include <QByteArray>
#include <cstddef>

// libmspack hands the "file names" it is given to the system's open() untouched, so a name
// here is the address of one of these, made a name by MsName: an input to read for
// MSPACK_SYS_OPEN_READ, an output to write for MSPACK_SYS_OPEN_WRITE.
struct THelpMsInput {
  const char* Data = nullptr;
  size_t Size = 0;
};
struct THelpMsOutput {
  QByteArray* Bytes = nullptr;
  qsizetype Limit = 0;  // a write past it fails
};

inline const char* MsName(const THelpMsInput& input) { return reinterpret_cast<const char*>(&input); }
inline const char* MsName(const THelpMsOutput& output) { return reinterpret_cast<const char*>(&output); }

// The system. It keeps no state of its own: libmspack copies it.
mspack_system* HelpMsSystem();
