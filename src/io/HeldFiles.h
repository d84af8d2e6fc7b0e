// Files and folders that a running process works in, told apart from those that a process
// which has ended left behind: the process holds an exclusive lock (flock) on what it made for
// as long as it works with it, and the system lets the lock go when the process ends, however
// it ends (killed included). Only whoever holds the lock removes the thing, so nothing that a
// live process holds is ever touched.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The names in the folder open at `dirFd` that `wanted` picks ("." and ".." are not offered);
// none when it cannot be listed. The names are taken first, so that removing what they name
// does not disturb the listing.
std::vector<std::string> FolderNames(int dirFd, const std::function<bool(std::string_view)>& wanted);

// Takes the lock of the file or folder open at `fd` (opened at `path`) when it is free; it is
// held until that descriptor is closed. True when the lock was had and `path` still names the
// file or folder: a clean-up may have taken and removed it between its making and its locking.
bool LockInPlace(int fd, const std::string& path);

// Creates a file beside `path` as CreateFileBeside does (FilePlace.h) and holds it: the
// descriptor returned keeps its lock. -1 with errno set when it cannot be made.
int CreateHeldFileBeside(const std::string& path, const char* pattern, std::string& temporary);

// Removes the files in `folder` named after `pattern` (the Xs any letters or digits, as
// CreateHeldFileBeside makes them) that are regular files of this user which nobody holds:
// those of a process that was killed while it wrote them. Returns how many it removed.
int RemoveAbandonedFiles(const std::string& folder, const char* pattern);
