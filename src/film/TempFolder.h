// The player's private temporary folder: $XDG_RUNTIME_DIR/veRirove/ when that variable is set,
// else <system temp>/veRirove-<uid>/. It is created with mode 0700 and refused when it is a
// symbolic link, not a folder, or owned by another user, so the fixed file names the player
// uses there live where nobody else can write.
#pragma once

#include <string>

// The folder's path, ending in '/'; empty with a message in `error` when it cannot be had.
std::string PrivateTempFolder(std::string& error);
