// Files written whole or not at all: written under a temporary name beside the final one,
// then moved into place.
#pragma once

#include <sys/types.h>

#include <string>

// Moves the finished file `from` to `to`, its bytes synced to the disk first and the folder
// after; without `replace` a file already at `to` stays and the move fails with errno EEXIST.
bool MoveIntoPlace(const std::string& from, const std::string& to, bool replace);

// The permissions a new file gets, as fopen would make it (0666 less the umask).
mode_t NewFileMode();

// The folder a path's file lies in: "." for a bare name.
std::string FolderOf(const std::string& path);

// Creates a new file in the folder of `path`, named after `pattern` (ending in "XXXXXX.part",
// the Xs made unique), with the permissions of a new file; its name goes to `temporary`.
// The open descriptor, or -1 with errno set.
int CreateFileBeside(const std::string& path, const char* pattern, std::string& temporary);
