// The export of the loaded film to a video file, as the player offers it: the dialog that asks
// for the file, the format and the quality, and the words for how an export ended. The job that
// writes the file is player/ExportJob.h. The dialog does not know the window that uses it.
#pragma once

#include <QDialog>

#include "export/FilmExport.h"
#include "shell/dialogs/UzrUserMessage.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;

// What the dialog starts from.
struct TExportRequest {
  QString FilmPath;
  QString Folder;          // where the file goes unless the user says otherwise
  QString BaseName;        // the file's name without its extension
  TExportOptions Options;  // the format, quality and cursor offered; Segment is not used
  int32_t CurrentSegment = 0;  // from 0: the segment "Только текущий сегмент" means
  QString CurrentSegmentName;
  int32_t SegmentCount = 0;
};

// What the user chose in the dialog.
struct TExportChoice {
  QString Path;
  TExportOptions Options;
  bool Replace = false;  // the file exists and the user agreed to replace it
};

// The folder an export goes to by default: the film's own when it can be written to, else the
// user's videos folder, else the home folder.
QString DefaultExportFolder(const QString& filmPath);
// The path with the format's extension: an extension of another export format is replaced,
// any other name gets the extension added.
QString WithExportExtension(const QString& path, TExportFormat format);
// The user's words for an export that did not succeed, with the engine's reason as details.
// A cancelled export has none: its text is empty.
TUserMessage ExportResultMessage(const TExportResult& result, const QString& path, const TExportOptions& options);

class TfrmExport : public QDialog {
  Q_OBJECT

 public:
  // The help topic of the dialog, inside the program's help file.
  static constexpr const char* kHelpTopic = "::/export.htm";

  explicit TfrmExport(const TExportRequest& request, QWidget* parent = nullptr);

  // What was chosen, once the dialog has been accepted.
  const TExportChoice& Choice() const { return FChoice; }
  TExportFormat Format() const;
  // The file as the dialog would write it: the name typed, made absolute from the request's
  // folder, with the format's extension.
  QString OutputPath() const;

 signals:
  // The user asked for help on the dialog: `topic` of the program's help file.
  void HelpRequested(const QString& topic);

 public slots:
  // Checks the file: a folder or the film itself is refused, and an existing file is replaced
  // only when the user agrees; otherwise the dialog stays open.
  void accept() override;
  void btnBrowseClick();

 private:
  void SetFormat(TExportFormat format);
  void cbxFormatChange();
  void edtFileEdited(const QString& text);

  QLineEdit* edtFile = nullptr;
  QPushButton* btnBrowse = nullptr;
  QComboBox* cbxFormat = nullptr;
  QSlider* sldQuality = nullptr;
  QSpinBox* spnQuality = nullptr;
  QCheckBox* chkCursor = nullptr;
  QCheckBox* chkSegment = nullptr;
  QPushButton* btnExport = nullptr;
  QPushButton* btnCancel = nullptr;
  QPushButton* btnHelp = nullptr;
  TExportRequest FRequest;
  TExportChoice FChoice;
};
