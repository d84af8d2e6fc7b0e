// The film the window holds: the run's own temporary folder and the loader, loading a film into
// the playback core, the user's words for what loading reports, and the exit status that
// follows from it.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "film/FilmLoader.h"
#include "film/TempFolder.h"
#include "shell/dialogs/UzrUserMessage.h"

class QEventLoop;
class QObject;
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
  // this thread's events are handled (the windows paint, answer and can be closed). Load
  // returns as soon as the first segment is in the core, or when the load has ended without
  // one; what the loader told the window until then, it is told then, in order (the loading
  // banner comes at once). The later segments are read on while the first plays: each is
  // added to the core on this thread as it comes (the window is told SegmentsArrived, then
  // ReadingEnded), and what the loader tells after the first is told as it comes. A load
  // called off (CancelLoad, or the program ending) gives false and tells nothing.
  bool Load(const std::string& path, TTransport& transport);
  // Whether a film is being loaded up to its first segment: nothing may then load or list a
  // film, nor set the path.
  bool Loading() const { return FLoading; }
  // Whether later segments of the film loaded are still being read.
  bool Reading() const { return FReader.joinable(); }
  // Calls off the film being loaded, if any: Load ends soon.
  void CancelLoad() { FCancel = true; }
  // Calls off the reading of later segments, if any, and waits for it to end (within a block
  // of the package): the segments read so far stay in the core, the film ends with them.
  void StopReading();
  // Called on the loading thread after each segment read has been handed on (`read` so far);
  // the reading goes on when it returns. Tests pace the reading with it.
  std::function<void(int32_t read)> OnSegmentRead;
  // What failed while later segments were read (no memory, a fault of the cabinet layer), for
  // the window's error reporting.
  std::function<void(std::exception_ptr)> OnReadingFailed;
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

  // What the loading thread posts, on this thread; `generation` tells posts of a load
  // called off from those of the current one.
  void Deliver(int generation, const std::function<void(IFilmLoaderUi&)>& call);
  void Arrived(int generation);
  void Ended(int generation, bool loaded, bool cancelled, std::exception_ptr failure);
  // Hands the segments read since to the core and tells the window.
  void TakeArrived();
  // The loading thread has ended after Load returned: the film is whole.
  void FinishReading(bool cancelled, std::exception_ptr failure);
  void Join();

  IFilmLoaderUi& FUi;
  std::unique_ptr<QObject> FInbox;         // receives what the loading thread posts
  std::unique_ptr<TRunFolder> FRunFolder;  // this run's own temporary folder
  std::unique_ptr<TUiRelay> FRelay;        // the window, as the loader reaches it
  std::unique_ptr<TFilmLoader> FLoader;
  std::thread FReader;
  int FGeneration = 0;
  TTransport* FTransport = nullptr;  // of the load running
  QEventLoop* FWait = nullptr;       // while Load waits for the first segment
  std::vector<std::function<void(IFilmLoaderUi&)>> FKept;  // told when Load stops waiting
  bool FBannerShown = false;
  bool FFirstArrived = false;
  bool FEnded = false;
  bool FLoaded = false;
  std::exception_ptr FFailure;
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
