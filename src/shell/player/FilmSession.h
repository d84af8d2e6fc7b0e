// The film the window holds: the run's own temporary folder and the loader, loading a film into
// the playback core, the user's words for what loading reports, and the exit status that
// follows from it.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <string>

#include "film/FilmLoader.h"
#include "film/TempFolder.h"
#include "shell/dialogs/UzrUserMessage.h"

class QWidget;
class TTransport;

class TFilmSession {
 public:
  // The private temporary folder is made here; without one nothing can be loaded, and the
  // loader says so.
  explicit TFilmSession(IFilmLoaderUi& ui);
  ~TFilmSession();

  TFilmLoader& Loader() { return *FLoader; }
  QString FileName() const { return QString::fromStdString(FLoader->FileName()); }
  void SetFileName(const QString& path) { FLoader->SetFileName(path.toStdString()); }

  // Loads the film at path and hands it to the transport's core; the film loaded before is
  // released first, whatever the load gives. The film is read on a thread of its own while
  // this thread's events are handled (the windows paint, answer and can be closed); what the
  // loader tells the window, it is told once the load has ended, in order (the loading
  // banner comes at once). A load called off (CancelLoad, or the program ending) gives false
  // and tells nothing.
  bool Load(const std::string& path, TTransport& transport);
  // Whether a film is being loaded: nothing may then load or list a film, nor set the path.
  bool Loading() const { return FLoading; }
  // Calls off the film being loaded, if any: Load ends soon.
  void CancelLoad() { FCancel = true; }
  // Whether the last load was called off.
  bool LoadCancelled() const { return FCancelled; }
  // No film: none loaded, no path.
  void Unload(TTransport& transport);
  // Extracts the film file of the path set afresh, to list its segments without loading the
  // film (Loader().ReadFilmFileSegmentList()); false when there is none.
  bool ExtractFilmFile();

  // The user's words for a notice of the loader. Every notice is about a film that did not
  // load, or not all of it: the film counts as failed.
  TUserMessage Report(const TLoadReport& report, const QStringList& lbMessages);

  // 1 when the film opened last could not be opened or played without an error (it is
  // missing, damaged even in part, has no segments, or its playback failed), or when an error
  // was reported before any film; else 0.
  int ExitStatus() const { return FFilmFailed ? 1 : 0; }
  // A film is being opened: its own outcome decides the status.
  void BeginOpen() { FFilmFailed = false; }
  void MarkFailed() { FFilmFailed = true; }
  // "/closeonfinish": the program ends after the film, or after a failure once told.
  bool CloseOnFinish() const { return FCloseOnFinish; }
  void SetCloseOnFinish(bool on) { FCloseOnFinish = on; }
  // A failure was reported: the film counts as failed. True once, when the program is to end
  // because of it (with /closeonfinish).
  bool EndAfterFailure();

 private:
  class TUiRelay;

  std::unique_ptr<TRunFolder> FRunFolder;  // this run's own temporary folder
  std::unique_ptr<TUiRelay> FRelay;        // the window, as the loader reaches it
  std::unique_ptr<TFilmLoader> FLoader;
  std::atomic<bool> FCancel = false;
  bool FLoading = false;
  bool FCancelled = false;
  bool FFilmFailed = false;
  bool FCloseOnFinish = false;
  bool FEndQueued = false;
};

// The Open dialog: a film file chosen by the user; empty when cancelled. It starts in
// OpenDialogFolder for this program and the film opened last.
QString AskForFilmFile(QWidget* parent);

// The folder the Open dialog starts in. Run from where it was built, the program's own folder.
// Installed in a system folder (/bin, /sbin, or under /usr or /opt), where the user keeps no
// films: the folder of the film opened last, else the user's videos folder, else home, the
// first of them that exists.
QString OpenDialogFolder(const QString& programFolder, const QString& lastFilmFolder, const QString& videos,
                         const QString& home);
// Remembers the folder of a film that opened, for the Open dialog of this run and the next
// (in the settings; when they cannot be written, it is not remembered).
void RememberFilmFolder(const QString& filmPath);
// The folder remembered; empty when there is none.
QString RememberedFilmFolder();
