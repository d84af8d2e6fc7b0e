// The help: the help file's path and an in-process viewer for compiled HTML Help files (CHM).
// The viewer is one top-level window, reused from call to call, whose text browser reads
// pages, pictures and style sheets straight out of the CHM.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QTextBrowser>
#include <QUrl>
#include <memory>

#include "shell/helpfile/UzrHelpFile.h"

class QAction;
class QTreeWidget;
class QTreeWidgetItem;
class TfrmHelp;

// The help file's full path: the program's folder + "/" + "veRirove.chm".
QString HelpPath();

// Opens the help viewer on `location`: a CHM path, optionally followed by "::/topic.htm" and
// "#anchor" (e.g. HelpPath() + "::/veRirove_v1_2.htm#Segments"). With no topic, the file's
// default topic. Returns true when the viewer shows the topic. Without a widget application
// nothing happens and false is returned; when the file is missing or damaged, or has no such
// topic, the viewer window shows its own message saying so (in Russian) instead of the topic,
// and false is returned.
bool HtmlHelp(QWidget* owner, const QString& location);

// The viewer window, or nullptr before the first HtmlHelp (and after CloseHelpViewer).
TfrmHelp* HelpViewer();
// Destroys the viewer window. Done also when the application leaves its event loop.
void CloseHelpViewer();

// The topic pane: a text browser whose resources come from the viewer's open CHM.
class THelpBrowser : public QTextBrowser {
  Q_OBJECT

 public:
  THelpBrowser(TfrmHelp& viewer, QWidget* parent);
  QVariant loadResource(int type, const QUrl& name) override;

 private:
  TfrmHelp& FViewer;
};

class TfrmHelp : public QMainWindow {
  Q_OBJECT

 public:
  TfrmHelp();
  ~TfrmHelp() override;

  // Shows `topic` (empty: the file's default) of `file` at `anchor`. False, with the viewer's
  // message in place of the topic, when the file is missing, damaged or lacks the topic.
  bool ShowTopic(const QString& file, const QString& topic, const QString& anchor);

  // The CHM being shown; empty while the viewer shows one of its messages.
  QString CurrentFile() const { return FMessage ? QString() : FFile; }
  bool ShowsMessage() const { return FMessage; }
  // An object of the open CHM by its path inside it ("/index.htm").
  bool ReadObject(const QString& path, QByteArray& data) const;

  // Browser URLs name a topic of the open CHM: "chm:/topic.htm#anchor".
  static QUrl TopicUrl(const QString& topic, const QString& anchor);

 private:
  void ShowMessage(const QString& heading, const QString& text);
  void FillContents();
  void SelectContentsItem(const QUrl& url);
  void LinkActivated(const QUrl& link);
  void SourceChanged(const QUrl& url);
  void tvContentsItemActivated(QTreeWidgetItem* item);
  void AHomeExecute();

  std::unique_ptr<TChmFile> FChm;
  QString FFile;
  bool FMessage = false;
  THelpBrowser* brwTopic = nullptr;
  QTreeWidget* tvContents = nullptr;
  QAction *ABack = nullptr, *AForward = nullptr, *AHome = nullptr;
};
