#include "shell/dialogs/UzrExport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace {

struct TFormatRow {
  TExportFormat Format;
  const char* Caption;  // in the format list
  const char* Filter;   // in the save dialog's list of file types
};
// In the order of the list.
constexpr TFormatRow kFormats[] = {
    {TExportFormat::Mp4, "MP4 — H.264", "Видео MP4 (*.mp4)"},
    {TExportFormat::WebM, "WebM — VP9", "Видео WebM (*.webm)"},
    {TExportFormat::Mkv, "MKV — без потерь (FFV1)", "Видео Matroska без потерь (*.mkv)"},
    {TExportFormat::Gif, "GIF — анимация", "Анимация GIF (*.gif)"},
};

const TFormatRow& RowOf(TExportFormat format) {
  for (const auto& row : kFormats)
    if (row.Format == format) return row;
  return kFormats[0];
}

QString Extension(TExportFormat format) { return QString::fromLatin1(ExportExtension(format)); }

QString Quoted(const QString& path) { return QStringLiteral("«%1»").arg(QDir::toNativeSeparators(path)); }

}  // namespace

QString DefaultExportFolder(const QString& filmPath) {
  const QFileInfo film(filmPath);
  if (!filmPath.isEmpty()) {
    const QFileInfo folder(film.absolutePath());
    if (folder.isDir() && folder.isWritable()) return folder.absoluteFilePath();
  }
  const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  if (!videos.isEmpty() && QFileInfo(videos).isDir()) return videos;
  return QDir::homePath();
}

QString WithExportExtension(const QString& path, TExportFormat format) {
  const QString extension = Extension(format);
  if (ExportFormatOfPath(path.toStdString())) {
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    return path.left(dot) + extension;
  }
  return path + extension;
}

TUserMessage ExportResultMessage(const TExportResult& result, const QString& path, const TExportOptions& options) {
  TUserMessage m;
  m.Icon = QMessageBox::Warning;
  m.Details = QString::fromStdString(result.Details);
  const QString file = Quoted(path);
  const QString format = QString::fromUtf8(RowOf(options.Format).Caption);
  switch (result.Code) {
    case TExportErrc::None:
    case TExportErrc::Cancelled:
      return {};
    case TExportErrc::Exists:
      m.Text = QStringLiteral("Файл %1 уже существует и не был заменён.").arg(file);
      break;
    case TExportErrc::IsFilm:
      m.Text = QStringLiteral("Нельзя записать видео в файл самого фильма %1. Выберите другое имя файла.").arg(file);
      break;
    case TExportErrc::CannotCreate:
      m.Text = QStringLiteral("Не удалось создать файл %1. Проверьте, что папка существует и в неё можно записывать.").arg(file);
      break;
    case TExportErrc::Write:
      m.Icon = QMessageBox::Critical;
      m.Text = QStringLiteral("Не удалось записать файл %1. Проверьте свободное место на диске. Незаконченный файл удалён.").arg(file);
      break;
    case TExportErrc::Encoder:
      m.Icon = QMessageBox::Critical;
      m.Text = QStringLiteral("Не удалось записать видео в формате %1: кодировщик недоступен или не принял настройки.").arg(format);
      break;
    case TExportErrc::Playback:
      m.Icon = QMessageBox::Critical;
      m.Text = QStringLiteral("Фильм не удалось воспроизвести для экспорта: сегмент повреждён или не поддерживается.");
      break;
    case TExportErrc::NoMemory:
      m.Icon = QMessageBox::Critical;
      m.Text = QStringLiteral("Не хватает памяти, чтобы экспортировать фильм.");
      break;
    case TExportErrc::NoFrames:
      m.Text = options.Segment > 0 ? QStringLiteral("В сегменте %1 нет кадров: экспортировать нечего.").arg(options.Segment)
                                   : QStringLiteral("В фильме нет кадров: экспортировать нечего.");
      break;
    case TExportErrc::NoSegment:
      m.Text = QStringLiteral("В фильме нет сегмента %1.").arg(options.Segment);
      break;
    case TExportErrc::Options:
      m.Text = QStringLiteral("Выбранные настройки не подходят для формата %1.").arg(format);
      break;
  }
  return m;
}

// ---- The dialog ----

TfrmExport::TfrmExport(const TExportRequest& request, QWidget* parent) : QDialog(parent), FRequest(request) {
  setObjectName(QStringLiteral("frmExport"));
  setWindowTitle(QStringLiteral("Экспорт фильма"));
  setModal(true);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  // The white head with the title and a line on what the dialog does, as the segments dialog has.
  auto* Panel1 = new QWidget(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setAutoFillBackground(true);
  QPalette white = Panel1->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  Panel1->setPalette(white);
  auto* head = new QVBoxLayout(Panel1);
  head->setContentsMargins(8, 6, 8, 8);
  head->setSpacing(2);
  auto* Label1 = new QLabel(QStringLiteral("Экспорт"), Panel1);
  QFont title = Label1->font();
  title.setBold(true);
  title.setPointSize(title.pointSize() + 1);
  Label1->setFont(title);
  auto* Label2 = new QLabel(QStringLiteral("Сохраняет фильм в видеофайл, который откроет любой проигрыватель\n"
                                           "или браузер. Фильм в окне продолжает воспроизводиться."),
                            Panel1);
  Label2->setContentsMargins(24, 0, 0, 0);
  head->addWidget(Label1);
  head->addWidget(Label2);
  layout->addWidget(Panel1);

  auto* body = new QWidget(this);
  auto* grid = new QGridLayout(body);
  grid->setContentsMargins(12, 12, 12, 8);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(8);
  layout->addWidget(body);

  auto* lblFile = new QLabel(QStringLiteral("&Файл:"), body);
  edtFile = new QLineEdit(body);
  edtFile->setObjectName(QStringLiteral("edtFile"));
  edtFile->setMinimumWidth(360);
  lblFile->setBuddy(edtFile);
  btnBrowse = new QPushButton(QStringLiteral("Обзор..."), body);
  btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
  btnBrowse->setAutoDefault(false);
  grid->addWidget(lblFile, 0, 0);
  grid->addWidget(edtFile, 0, 1, 1, 3);
  grid->addWidget(btnBrowse, 0, 4);

  auto* lblFormat = new QLabel(QStringLiteral("Фор&мат:"), body);
  cbxFormat = new QComboBox(body);
  cbxFormat->setObjectName(QStringLiteral("cbxFormat"));
  for (const auto& row : kFormats) cbxFormat->addItem(QString::fromUtf8(row.Caption), int(row.Format));
  lblFormat->setBuddy(cbxFormat);
  grid->addWidget(lblFormat, 1, 0);
  grid->addWidget(cbxFormat, 1, 1, 1, 3, Qt::AlignLeft);

  auto* lblQuality = new QLabel(QStringLiteral("&Качество:"), body);
  sldQuality = new QSlider(Qt::Horizontal, body);
  sldQuality->setObjectName(QStringLiteral("sldQuality"));
  sldQuality->setRange(0, 100);
  sldQuality->setPageStep(10);
  sldQuality->setTickPosition(QSlider::TicksBelow);
  sldQuality->setTickInterval(10);
  spnQuality = new QSpinBox(body);
  spnQuality->setObjectName(QStringLiteral("spnQuality"));
  spnQuality->setRange(0, 100);
  lblQuality->setBuddy(sldQuality);
  const QString qualityHint = QStringLiteral("0 — самый маленький файл, 100 — лучшее качество");
  sldQuality->setToolTip(qualityHint);
  spnQuality->setToolTip(qualityHint);
  connect(sldQuality, &QSlider::valueChanged, spnQuality, &QSpinBox::setValue);
  connect(spnQuality, &QSpinBox::valueChanged, sldQuality, &QSlider::setValue);
  grid->addWidget(lblQuality, 2, 0);
  grid->addWidget(sldQuality, 2, 1, 1, 3);
  grid->addWidget(spnQuality, 2, 4);
  auto small = [body](const QString& text) {
    auto* label = new QLabel(text, body);
    QFont font = label->font();
    font.setPointSize(std::max(font.pointSize() - 1, 6));
    label->setFont(font);
    label->setEnabled(false);  // greyed: a scale, not a setting
    return label;
  };
  grid->addWidget(small(QStringLiteral("меньше файл")), 3, 1, Qt::AlignLeft | Qt::AlignTop);
  grid->addWidget(small(QStringLiteral("лучше качество")), 3, 3, Qt::AlignRight | Qt::AlignTop);

  chkCursor = new QCheckBox(QStringLiteral("Показывать &курсор мыши"), body);
  chkCursor->setObjectName(QStringLiteral("chkCursor"));
  chkCursor->setToolTip(QStringLiteral("Записанный курсор мыши рисуется поверх изображения, как при просмотре"));
  grid->addWidget(chkCursor, 4, 1, 1, 4);

  QString segment = QStringLiteral("Только &текущий сегмент");
  if (request.SegmentCount > 0) {
    // A long name is cut short rather than widening the dialog; an ampersand in it is no
    // shortcut key.
    QString name = fontMetrics().elidedText(request.CurrentSegmentName, Qt::ElideRight, 280);
    segment += QStringLiteral(": %1. %2").arg(request.CurrentSegment + 1).arg(name.replace(QLatin1Char('&'), QStringLiteral("&&")));
  }
  chkSegment = new QCheckBox(segment, body);
  chkSegment->setObjectName(QStringLiteral("chkSegment"));
  chkSegment->setToolTip(QStringLiteral("Сегмент в своём размере кадра; иначе весь фильм"));
  // With one segment the whole film is that segment.
  chkSegment->setEnabled(request.SegmentCount > 1);
  grid->addWidget(chkSegment, 5, 1, 1, 4);
  grid->setColumnStretch(2, 1);

  auto* Panel2 = new QHBoxLayout;
  Panel2->setContentsMargins(12, 4, 12, 12);
  btnHelp = new QPushButton(QStringLiteral("Справка..."), this);
  btnHelp->setObjectName(QStringLiteral("btnHelp"));
  btnHelp->setAutoDefault(false);
  btnExport = new QPushButton(QStringLiteral("Экспорт"), this);
  btnExport->setObjectName(QStringLiteral("btnExport"));
  btnExport->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setAutoDefault(false);
  Panel2->addWidget(btnHelp);
  Panel2->addStretch(1);
  Panel2->addWidget(btnExport);
  Panel2->addWidget(btnCancel);
  layout->addLayout(Panel2);

  auto* AHelp = new QAction(this);
  AHelp->setShortcut(Qt::Key_F1);
  AHelp->setShortcutContext(Qt::WindowShortcut);
  addAction(AHelp);
  connect(AHelp, &QAction::triggered, btnHelp, &QPushButton::click);
  connect(btnHelp, &QPushButton::clicked, this, [this] { emit HelpRequested(QString::fromLatin1(kHelpTopic)); });
  connect(btnExport, &QPushButton::clicked, this, &TfrmExport::accept);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmExport::reject);
  connect(btnBrowse, &QPushButton::clicked, this, &TfrmExport::btnBrowseClick);
  connect(cbxFormat, &QComboBox::currentIndexChanged, this, &TfrmExport::cbxFormatChange);
  connect(edtFile, &QLineEdit::textEdited, this, &TfrmExport::edtFileEdited);

  const TExportOptions& options = request.Options;
  const TExportFormat format = options.Format;
  edtFile->setText(QDir::toNativeSeparators(QDir(request.Folder).filePath(request.BaseName + Extension(format))));
  SetFormat(format);
  cbxFormatChange();
  spnQuality->setValue(options.Quality < 0 ? kDefaultQuality : std::min(options.Quality, 100));
  chkCursor->setChecked(options.Cursor);
  edtFile->setFocus();
  edtFile->selectAll();
  setFixedSize(sizeHint());
}

TExportFormat TfrmExport::Format() const { return TExportFormat(cbxFormat->currentData().toInt()); }

void TfrmExport::SetFormat(TExportFormat format) {
  const int index = cbxFormat->findData(int(format));
  if (index >= 0) cbxFormat->setCurrentIndex(index);
}

void TfrmExport::cbxFormatChange() {
  const TExportFormat format = Format();
  // Lossless keeps every pixel, and GIF every picture's own colours: only the video encoders
  // of MP4 and WebM have a quality to choose.
  const bool quality = format == TExportFormat::Mp4 || format == TExportFormat::WebM;
  sldQuality->setEnabled(quality);
  spnQuality->setEnabled(quality);
  const QString text = edtFile->text().trimmed();
  if (!text.isEmpty() && ExportFormatOfPath(text.toStdString()) != format) edtFile->setText(WithExportExtension(text, format));
}

void TfrmExport::edtFileEdited(const QString& text) {
  // A name typed with another format's extension asks for that format.
  if (const auto format = ExportFormatOfPath(text.trimmed().toStdString()); format && *format != Format()) SetFormat(*format);
}

QString TfrmExport::OutputPath() const {
  QString text = QDir::fromNativeSeparators(edtFile->text().trimmed());
  if (text.isEmpty()) return {};
  if (text == QLatin1String("~") || text.startsWith(QLatin1String("~/"))) text = QDir::homePath() + text.mid(1);
  QString path = QDir::cleanPath(QDir(FRequest.Folder).absoluteFilePath(text));
  if (ExportFormatOfPath(path.toStdString()) != Format()) path = WithExportExtension(path, Format());
  return path;
}

void TfrmExport::btnBrowseClick() {
  QFileDialog dialog(this, QStringLiteral("Экспорт фильма"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // Replacing is asked once, when the export starts.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  QStringList filters;
  for (const auto& row : kFormats) filters << QString::fromUtf8(row.Filter);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(QString::fromUtf8(RowOf(Format()).Filter));
  dialog.setDefaultSuffix(Extension(Format()).mid(1));
  connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, filters](const QString& filter) {
    const int index = int(filters.indexOf(filter));
    if (index >= 0) dialog.setDefaultSuffix(Extension(kFormats[index].Format).mid(1));
  });
  const QString current = OutputPath();
  if (!current.isEmpty()) {
    dialog.setDirectory(QFileInfo(current).absolutePath());
    dialog.selectFile(QFileInfo(current).fileName());
  } else {
    dialog.setDirectory(FRequest.Folder);
  }
  dialog.setSizeGripEnabled(true);
  // Wide enough for the names, sizes and dates of the files.
  dialog.resize(720, 460);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  QString path = dialog.selectedFiles().first();
  if (const auto format = ExportFormatOfPath(path.toStdString())) {
    SetFormat(*format);
  } else {
    // A name of its own extension: the format of the file type chosen, and its extension.
    const int index = int(filters.indexOf(dialog.selectedNameFilter()));
    if (index >= 0) SetFormat(kFormats[index].Format);
    path = WithExportExtension(path, Format());
  }
  edtFile->setText(QDir::toNativeSeparators(path));
}

void TfrmExport::accept() {
  const QString path = OutputPath();
  auto refuse = [this](const QString& text) {
    QMessageBox::warning(this, windowTitle(), text);
    edtFile->setFocus();
  };
  if (path.isEmpty()) return refuse(QStringLiteral("Укажите имя файла, в который записать видео."));
  const QFileInfo file(path);
  if (file.isDir()) return refuse(QStringLiteral("%1 — это папка. Укажите имя файла.").arg(Quoted(path)));
  if (!QFileInfo(file.absolutePath()).isDir())
    return refuse(QStringLiteral("Папки %1 нет. Выберите существующую папку.").arg(Quoted(file.absolutePath())));
  const QFileInfo film(FRequest.FilmPath);
  if (file.exists() && film.exists() && file.canonicalFilePath() == film.canonicalFilePath())
    return refuse(QStringLiteral("Нельзя записать видео в файл самого фильма. Выберите другое имя файла."));
  bool replace = false;
  if (file.exists()) {
    const auto answer = QMessageBox::question(this, windowTitle(),
                                              QStringLiteral("Файл %1 уже существует.\nЗаменить его?").arg(Quoted(path)),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
    replace = true;
  }
  FChoice.Path = path;
  FChoice.Replace = replace;
  TExportOptions& options = FChoice.Options;
  options = TExportOptions{};
  options.Format = Format();
  options.Lossless = options.Format == TExportFormat::Mkv;
  // The format list names FFV1 for lossless Matroska, so FFV1 it is (zrfilm's default there is
  // H.264 RGB).
  if (options.Lossless) options.Codec = TExportCodec::Ffv1;
  options.Quality = spnQuality->value();
  options.Cursor = chkCursor->isChecked();
  options.Segment = chkSegment->isEnabled() && chkSegment->isChecked() ? FRequest.CurrentSegment + 1 : 0;
  QDialog::accept();
}
