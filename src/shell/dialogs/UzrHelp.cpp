#include "shell/dialogs/UzrHelp.h"

#include "shell/dialogs/ProgramData.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QPointer>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTextDocument>
#include <QToolBar>
#include <QTreeWidget>

#include "shell/artwork/UzrArtwork.h"

namespace {

const QString kHelpFileName = QStringLiteral("veRirove.chm");
const QString kViewerTitle = QStringLiteral("Справка veRirove");
const QString kScheme = QStringLiteral("chm");

QPointer<TfrmHelp> gViewer;

QString Escaped(const QString& text) { return text.toHtmlEscaped(); }

}  // namespace

// ---- Free functions ----

QString HelpPath() { return ProgramDataFolder() + QLatin1Char('/') + kHelpFileName; }

TfrmHelp* HelpViewer() { return gViewer.data(); }

void CloseHelpViewer() { delete gViewer.data(); }

bool HtmlHelp(QWidget* owner, const QString& location) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
  const THelpLocation where = ResolveHelpLocation(location);
  if (!gViewer) {
    gViewer = new TfrmHelp();
    // The viewer has no parent: it goes when the program leaves its event loop.
    static QPointer<QCoreApplication> cleanupFor;
    QCoreApplication* app = QCoreApplication::instance();
    if (cleanupFor != app) {
      cleanupFor = app;
      QObject::connect(app, &QCoreApplication::aboutToQuit, app, &CloseHelpViewer);
    }
    // First shown centred over the window that asked for it.
    const QWidget* anchor = owner ? owner->window() : nullptr;
    QScreen* screen = anchor && anchor->screen() ? anchor->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QSize size(qMin(900, area.width() * 9 / 10), qMin(680, area.height() * 9 / 10));
    const QPoint centre = anchor && anchor->isVisible() ? anchor->frameGeometry().center() : area.center();
    QRect bounds(QPoint(0, 0), size);
    bounds.moveCenter(centre);
    bounds.moveLeft(qBound(area.left(), bounds.left(), qMax(area.left(), area.right() - bounds.width() + 1)));
    bounds.moveTop(qBound(area.top(), bounds.top(), qMax(area.top(), area.bottom() - bounds.height() + 1)));
    gViewer->setGeometry(bounds);
  }
  TfrmHelp* viewer = gViewer.data();
  // Help asked for by a window that stays on top (the segments dialog) must come up over it,
  // as an owned window would; help asked for by any other window stays an ordinary window.
  const bool onTop = owner && owner->window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
  if (viewer->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop)
    viewer->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
  const bool shown = viewer->ShowTopic(where.File, where.Topic, where.Anchor);
  if (viewer->isMinimized())
    viewer->showNormal();
  else
    viewer->show();
  viewer->raise();
  viewer->activateWindow();
  return shown;
}

// ---- The topic pane ----

THelpBrowser::THelpBrowser(TfrmHelp& viewer, QWidget* parent) : QTextBrowser(parent), FViewer(viewer) {
  // Links are followed by the viewer: topics of the CHM here, the web and mail outside.
  setOpenLinks(false);
  setOpenExternalLinks(false);
}

QVariant THelpBrowser::loadResource(int type, const QUrl& name) {
  QUrl url = name;
  if (url.isRelative()) {
    const QUrl base = document()->baseUrl().isEmpty() ? source() : document()->baseUrl();
    url = base.resolved(name);
  }
  // Only the CHM: no file or network access from a help page.
  if (url.scheme() != kScheme) return {};
  const QString path = url.path(QUrl::FullyDecoded);
  QByteArray data;
  if (!FViewer.ReadObject(path, data) || (type == QTextDocument::HtmlResource && Garbled(data))) {
    if (type != QTextDocument::HtmlResource) return {};
    return QStringLiteral("<html><head><title>%1</title></head><body><h2>%1</h2><p>%2</p></body></html>")
        .arg(QStringLiteral("Раздел не найден"),
             QStringLiteral("В файле справки нет раздела «%1».").arg(Escaped(path.mid(1))));
  }
  switch (type) {
    case QTextDocument::HtmlResource:
    case QTextDocument::StyleSheetResource:
      return DecodeHelpText(data);
    default:
      return data;  // pictures: the document makes an image of the bytes
  }
}

// ---- The viewer window ----

TfrmHelp::TfrmHelp() : QMainWindow(nullptr) {
  setObjectName(QStringLiteral("frmHelp"));
  setWindowTitle(kViewerTitle);
  setWindowIcon(ApplicationIcon());
  // The player ends when its main window closes, open help or not.
  setAttribute(Qt::WA_QuitOnClose, false);

  auto* splitter = new QSplitter(Qt::Horizontal, this);
  tvContents = new QTreeWidget(splitter);
  tvContents->setObjectName(QStringLiteral("tvContents"));
  tvContents->setHeaderHidden(true);
  tvContents->setColumnCount(1);
  tvContents->header()->setStretchLastSection(true);
  brwTopic = new THelpBrowser(*this, splitter);
  brwTopic->setObjectName(QStringLiteral("brwTopic"));
  splitter->addWidget(tvContents);
  splitter->addWidget(brwTopic);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({260, 640});
  setCentralWidget(splitter);

  QStyle* look = style();
  ABack = new QAction(look->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("Назад"), this);
  ABack->setObjectName(QStringLiteral("ABack"));
  ABack->setShortcut(QKeySequence::Back);
  ABack->setEnabled(false);
  AForward = new QAction(look->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("Вперёд"), this);
  AForward->setObjectName(QStringLiteral("AForward"));
  AForward->setShortcut(QKeySequence::Forward);
  AForward->setEnabled(false);
  AHome = new QAction(look->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("В начало"), this);
  AHome->setObjectName(QStringLiteral("AHome"));
  AHome->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Home));
  for (QAction* action : {ABack, AForward, AHome})
    action->setToolTip(action->text() + QStringLiteral(" (") + action->shortcut().toString(QKeySequence::NativeText) +
                       QLatin1Char(')'));
  QToolBar* toolbar = addToolBar(QStringLiteral("Справка"));
  toolbar->setObjectName(QStringLiteral("tbHelp"));
  toolbar->setMovable(false);
  toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  toolbar->addActions({ABack, AForward, AHome});

  connect(ABack, &QAction::triggered, brwTopic, &QTextBrowser::backward);
  connect(AForward, &QAction::triggered, brwTopic, &QTextBrowser::forward);
  connect(AHome, &QAction::triggered, this, &TfrmHelp::AHomeExecute);
  connect(brwTopic, &QTextBrowser::backwardAvailable, ABack, &QAction::setEnabled);
  connect(brwTopic, &QTextBrowser::forwardAvailable, AForward, &QAction::setEnabled);
  connect(brwTopic, &QTextBrowser::anchorClicked, this, &TfrmHelp::LinkActivated);
  connect(brwTopic, &QTextBrowser::sourceChanged, this, &TfrmHelp::SourceChanged);
  connect(tvContents, &QTreeWidget::itemActivated, this, &TfrmHelp::tvContentsItemActivated);
  connect(tvContents, &QTreeWidget::itemClicked, this, &TfrmHelp::tvContentsItemActivated);
}

TfrmHelp::~TfrmHelp() = default;

QUrl TfrmHelp::TopicUrl(const QString& topic, const QString& anchor) {
  QUrl url;
  url.setScheme(kScheme);
  url.setPath(ObjectPath(topic), QUrl::DecodedMode);
  if (!anchor.isEmpty()) url.setFragment(anchor, QUrl::DecodedMode);
  return url;
}

bool TfrmHelp::ReadObject(const QString& path, QByteArray& data) const {
  data.clear();
  return FChm && FChm->Read(ObjectPath(path), data);
}

bool TfrmHelp::ShowTopic(const QString& file, const QString& topic, const QString& anchor) {
  const QFileInfo info(file);
  if (file.isEmpty() || !info.exists() || !info.isFile()) {
    FChm.reset();
    ShowMessage(QStringLiteral("Файл справки не найден"),
                QStringLiteral("Файл справки «%1» не найден.").arg(Escaped(QDir::toNativeSeparators(file))));
    return false;
  }
  const bool reopen = !FChm || FMessage || file != FFile;
  if (reopen) {
    std::unique_ptr<TChmFile> chm = TChmFile::Open(file);
    if (!chm) {
      FChm.reset();
      if (!info.isReadable())
        ShowMessage(QStringLiteral("Файл справки недоступен"),
                    QStringLiteral("Нет доступа к файлу справки «%1».").arg(Escaped(QDir::toNativeSeparators(file))));
      else
        ShowMessage(QStringLiteral("Файл справки повреждён"),
                    QStringLiteral("Файл «%1» повреждён или не является файлом справки.")
                        .arg(Escaped(QDir::toNativeSeparators(file))));
      return false;
    }
    FChm = std::move(chm);
    FFile = file;
    FillContents();
  }
  QString page = topic, mark = anchor;
  if (page.isEmpty()) {
    page = FChm->DefaultTopic();
    const qsizetype hash = page.indexOf(QLatin1Char('#'));
    if (hash >= 0) {
      if (mark.isEmpty()) mark = page.mid(hash + 1);
      page.truncate(hash);
    }
  }
  QByteArray html;
  if (!page.isEmpty() && FChm->Exists(ObjectPath(page)) && (!FChm->Read(ObjectPath(page), html) || Garbled(html))) {
    ShowMessage(QStringLiteral("Файл справки повреждён"),
                QStringLiteral("Раздел «%1» файла «%2» не удаётся прочитать: файл повреждён.")
                    .arg(Escaped(page), Escaped(QDir::toNativeSeparators(file))));
    return false;
  }
  if (page.isEmpty() || !FChm->Exists(ObjectPath(page))) {
    ShowMessage(QStringLiteral("Раздел не найден"),
                page.isEmpty() ? QStringLiteral("В файле справки «%1» нет ни одного раздела.")
                                     .arg(Escaped(QDir::toNativeSeparators(file)))
                               : QStringLiteral("В файле справки «%1» нет раздела «%2».")
                                     .arg(Escaped(QDir::toNativeSeparators(file)), Escaped(page)));
    return false;
  }
  // The browser loads a page only when its URL changes; after another file or a message the
  // same URL may name other content, and changing the document makes it load again.
  const bool fresh = reopen || FMessage;
  if (fresh) brwTopic->setHtml(QString());
  FMessage = false;
  AHome->setEnabled(true);
  tvContents->setVisible(tvContents->topLevelItemCount() > 0);
  brwTopic->setSource(TopicUrl(page, mark));
  if (fresh) brwTopic->clearHistory();
  SelectContentsItem(brwTopic->source());
  return true;
}

void TfrmHelp::ShowMessage(const QString& heading, const QString& text) {
  FMessage = true;
  tvContents->clear();
  brwTopic->clearHistory();
  brwTopic->setHtml(QStringLiteral("<html><body><h2>%1</h2><p>%2</p></body></html>").arg(Escaped(heading), text));
  tvContents->hide();
  ABack->setEnabled(false);
  AForward->setEnabled(false);
  AHome->setEnabled(false);
  setWindowTitle(kViewerTitle);
}

void TfrmHelp::FillContents() {
  tvContents->clear();
  QByteArray sitemap;
  const QString contents = FChm ? FChm->ContentsFile() : QString();
  if (contents.isEmpty() || !FChm->Read(contents, sitemap)) return;
  QList<QTreeWidgetItem*> parents;  // the last item of each level
  for (const THelpContentsItem& entry : ParseSitemap(DecodeHelpText(sitemap))) {
    const int level = qMin(entry.Level, int(parents.size()));
    parents.resize(level);
    auto* item = level == 0 ? new QTreeWidgetItem(tvContents) : new QTreeWidgetItem(parents.back());
    item->setText(0, entry.Name);
    item->setToolTip(0, entry.Name);
    item->setData(0, Qt::UserRole, entry.Local);
    parents.append(item);
  }
  tvContents->expandAll();
}

void TfrmHelp::SelectContentsItem(const QUrl& url) {
  const QString path = url.path(QUrl::FullyDecoded);
  const QString fragment = url.fragment(QUrl::FullyDecoded);
  QTreeWidgetItem* best = nullptr;
  for (QTreeWidgetItemIterator it(tvContents); *it; ++it) {
    const QString local = (*it)->data(0, Qt::UserRole).toString();
    if (local.isEmpty() || ObjectPath(local).compare(path, Qt::CaseInsensitive) != 0) continue;
    const qsizetype hash = local.indexOf(QLatin1Char('#'));
    const QString itemFragment = hash >= 0 ? local.mid(hash + 1) : QString();
    if (itemFragment == fragment) {
      best = *it;
      break;
    }
    if (!best) best = *it;
  }
  const QSignalBlocker quiet(tvContents);
  tvContents->setCurrentItem(best);
  if (!best) tvContents->clearSelection();
}

void TfrmHelp::LinkActivated(const QUrl& link) {
  const QString scheme = link.scheme().toLower();
  if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto") ||
      scheme == QLatin1String("ftp")) {
    QDesktopServices::openUrl(link);  // a failure stays silent
    return;
  }
  if (scheme == QLatin1String("ms-its") || scheme == QLatin1String("mk")) {
    // HTML Help's own form: a topic of this file, or of a file next to it.
    const THelpLocation where = ResolveHelpLocation(QUrl::fromPercentEncoding(link.toEncoded()));
    QString file = where.File;
    if (file.isEmpty() || QFileInfo(file).fileName().compare(QFileInfo(FFile).fileName(), Qt::CaseInsensitive) == 0)
      file = FFile;
    else if (QFileInfo(file).isRelative())
      file = QFileInfo(FFile).dir().filePath(file);
    ShowTopic(file, where.Topic, where.Anchor);
    return;
  }
  const QUrl target = link.isRelative() ? brwTopic->source().resolved(link) : link;
  if (target.scheme() == kScheme && !FMessage) brwTopic->setSource(target);
}

void TfrmHelp::SourceChanged(const QUrl& url) {
  const QString title = brwTopic->documentTitle().trimmed();
  setWindowTitle(title.isEmpty() || title == kViewerTitle ? kViewerTitle : title + QStringLiteral(" — ") + kViewerTitle);
  SelectContentsItem(url);
}

void TfrmHelp::tvContentsItemActivated(QTreeWidgetItem* item) {
  if (!item || FMessage) return;
  const QString local = item->data(0, Qt::UserRole).toString();
  if (local.isEmpty()) return;
  const qsizetype hash = local.indexOf(QLatin1Char('#'));
  brwTopic->setSource(TopicUrl(hash >= 0 ? local.left(hash) : local, hash >= 0 ? local.mid(hash + 1) : QString()));
}

void TfrmHelp::AHomeExecute() {
  if (!FChm || FMessage) return;
  QString page = FChm->DefaultTopic();
  if (page.isEmpty()) return;
  const qsizetype hash = page.indexOf(QLatin1Char('#'));
  brwTopic->setSource(TopicUrl(hash >= 0 ? page.left(hash) : page, hash >= 0 ? page.mid(hash + 1) : QString()));
}
