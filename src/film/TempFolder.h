// The player's private temporary folder, and the folder of its own that every run works in.
//
// The private folder is $XDG_RUNTIME_DIR/veRirove/ when that variable holds an absolute path
// and the folder can be used there, else <TMPDIR or /tmp>/veRirove-<uid>/ (a relative TMPDIR
// is ignored, as a relative XDG_RUNTIME_DIR is). It is created with mode 0700 and refused when
// it is a symbolic link, not a folder, owned by another user or cannot be written; a run that
// made it removes it again when it leaves it empty, so a folder it was given (a sandbox's
// temporary folder, which its owner removes afterwards) keeps nothing of it.
//
// Every running player or tool makes a folder of its own inside it ("run-XXXXXX", mkdtemp,
// 0700) and holds an exclusive lock (flock) on that folder for as long as it runs; it extracts
// only there, and removes the folder when it ends. Two runs never share a file. A run that
// crashed leaves its folder unlocked: the next run that starts removes it. A folder is only
// removed by whoever holds its lock, so a folder whose owner is alive is never touched.
#pragma once

#include <string>

#include "io/UniqueFd.h"

// The private folder's path, ending in '/'; empty with a message in `error` when it cannot be
// had. `made` (when given) tells whether this call created it.
std::string PrivateTempFolder(std::string& error, bool* made = nullptr);

class TRunFolder {
 public:
  // Makes this run's folder inside `privateFolder` (PrivateTempFolder() when empty), after
  // removing the folders of runs that have ended. On failure Path() is empty and Error() says
  // why, naming the folder.
  TRunFolder();
  explicit TRunFolder(const std::string& privateFolder);
  ~TRunFolder();
  TRunFolder(const TRunFolder&) = delete;
  TRunFolder& operator=(const TRunFolder&) = delete;

  // The folder, ending in '/'; empty when it could not be made.
  const std::string& Path() const { return FPath; }
  const std::string& Error() const { return FError; }

  // Removes the run folders made after this call also when SIGINT, SIGTERM or SIGHUP ends
  // the process: the handler empties and removes them, then lets the signal end the process
  // as it would have. A signal that was ignored stays ignored. Idempotent.
  static void RemoveOnSignals();

 private:
  void Make(std::string privateFolder);

  std::string FPath;
  std::string FError;
  TFd FLockFd;  // holds the folder's lock
  int FSignalSlot = -1;
  bool FMadePrivate = false;  // this run made the private folder
};

// Removes everything inside the folder (not the folder itself), never following a link; a
// read-only file or folder inside is removed too. False with a message when something stays.
bool RemoveFolderContents(const std::string& folder, std::string& error);

// Removes the run folders inside `privateFolder` whose owner has ended (their lock is free),
// and the film file and package copy that earlier versions left in the private folder itself
// when no program holds them. Returns how many run folders were removed.
int RemoveAbandonedRunFolders(const std::string& privateFolder);
