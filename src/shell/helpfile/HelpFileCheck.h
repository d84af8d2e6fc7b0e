// The safety check of a help file before chmlib reads it.
#pragma once

#include <QString>

// chmlib reads a help file as the file says. A chain of listing chunks (PMGL) that leads back
// into itself, or an index chunk (PMGI) that names itself or one above it, keeps it reading
// forever; control data without a usable LZX window makes it divide by zero; a file cut short
// has it decompress memory it never filled. So the directory, the places of the stored objects
// and the tables of the compressed section are checked before chmlib sees the file, and a file
// that fails is a damaged one. What chmlib would allocate or walk on the file's word (chunk
// sizes, free space, name lengths) is also kept to what help compilers write: a handful of
// 4 KiB chunks, short names, 32 KiB compression blocks.
//
// False for a file that fails: a damaged one. True otherwise, also for a file that cannot be
// opened or is no CHM at all, which chmlib refuses by itself.
bool HelpFileSound(const QString& path);
