#include "shell/UzrHelp.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QStringDecoder>
#include <QStyle>
#include <QTextDocument>
#include <QToolBar>
#include <QTreeWidget>
#include <span>

#include "film/ByteReader.h"
#include "film/Cp1251.h"
#include "shell/UzrArtwork.h"

#ifdef VERIROVE_HAVE_CHMLIB
#include <chm_lib.h>
#endif

namespace {

const QString kHelpFileName = QStringLiteral("veRirove.chm");
const QString kViewerTitle = QStringLiteral("Справка veRirove");
const QString kScheme = QStringLiteral("chm");
// No object of a help file is near this; a bigger length is a damaged directory entry.
constexpr qint64 kMaxObjectSize = 64 * 1024 * 1024;

QPointer<TfrmHelp> gViewer;

bool IsPage(const QString& path) {
  return path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive) ||
         path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive);
}

// "/x.htm" from "x.htm", "/x.htm" or "\x.htm"; the anchor is dropped.
QString ObjectPath(QString topic) {
  const qsizetype hash = topic.indexOf(QLatin1Char('#'));
  if (hash >= 0) topic.truncate(hash);
  topic.replace(QLatin1Char('\\'), QLatin1Char('/'));
  while (topic.startsWith(QLatin1Char('/'))) topic.remove(0, 1);
  return QLatin1Char('/') + topic;
}

// Text of a "#SYSTEM" record: up to its first NUL.
[[maybe_unused]] QString SystemString(std::span<const uint8_t> data) {
  size_t length = 0;
  while (length < data.size() && data[length] != 0) ++length;
  return DecodeHelpText(QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(length)));
}

// The five entities the sitemap files use, and numeric ones.
QString DecodeEntities(const QString& text) {
  if (!text.contains(QLatin1Char('&'))) return text;
  static const QRegularExpression entity(QStringLiteral("&(#x[0-9a-fA-F]+|#[0-9]+|[a-zA-Z]+);"));
  QString out;
  qsizetype last = 0;
  for (auto it = entity.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    out += text.mid(last, m.capturedStart() - last);
    const QString name = m.captured(1);
    QString replacement = m.captured(0);
    if (name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive) || name.startsWith(QLatin1Char('#'))) {
      bool ok = false;
      const uint code = name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive) ? name.mid(2).toUInt(&ok, 16)
                                                                                 : name.mid(1).toUInt(&ok, 10);
      if (ok && code > 0 && code <= 0x10FFFF) {
        const char32_t c = code;
        replacement = QString::fromUcs4(&c, 1);
      }
    } else if (name == QLatin1String("amp")) {
      replacement = QStringLiteral("&");
    } else if (name == QLatin1String("lt")) {
      replacement = QStringLiteral("<");
    } else if (name == QLatin1String("gt")) {
      replacement = QStringLiteral(">");
    } else if (name == QLatin1String("quot")) {
      replacement = QStringLiteral("\"");
    } else if (name == QLatin1String("apos")) {
      replacement = QStringLiteral("'");
    } else if (name == QLatin1String("nbsp")) {
      replacement = QString(QChar(0xA0));
    }
    out += replacement;
    last = m.capturedEnd();
  }
  return out + text.mid(last);
}

// The sitemap of a .hhc: nested <UL> lists of <OBJECT type="text/sitemap"> with <param> tags.
QList<THelpContentsItem> ParseSitemap(const QString& text) {
  static const QRegularExpression tag(QStringLiteral("<\\s*(/?)\\s*(ul|object|param)\\b([^>]*)>"),
                                      QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression attribute(
      QStringLiteral("([A-Za-z_:][-A-Za-z0-9_:.]*)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s\"'>]+))"));
  QList<THelpContentsItem> items;
  int depth = 0;
  bool inItem = false;
  THelpContentsItem item;
  for (auto it = tag.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    const bool closing = !m.captured(1).isEmpty();
    const QString name = m.captured(2).toLower();
    QString paramName, paramValue, type;
    for (auto a = attribute.globalMatch(m.captured(3)); a.hasNext();) {
      const QRegularExpressionMatch am = a.next();
      const QString key = am.captured(1).toLower();
      const QString value = DecodeEntities(am.captured(2) + am.captured(3) + am.captured(4));
      if (key == QLatin1String("name")) paramName = value.toLower();
      if (key == QLatin1String("value")) paramValue = value;
      if (key == QLatin1String("type")) type = value.toLower();
    }
    if (name == QLatin1String("ul")) {
      depth = closing ? qMax(0, depth - 1) : depth + 1;
    } else if (name == QLatin1String("object")) {
      if (!closing) {
        inItem = type == QLatin1String("text/sitemap");
        item = THelpContentsItem{};
        item.Level = qMax(0, depth - 1);
      } else if (inItem) {
        inItem = false;
        if (!item.Name.isEmpty()) items.append(item);
      }
    } else if (inItem) {  // <param>
      // An item may name several topics; the first "Name" and "Local" count.
      if (paramName == QLatin1String("name") && item.Name.isEmpty()) item.Name = paramValue.trimmed();
      if (paramName == QLatin1String("local") && item.Local.isEmpty()) item.Local = paramValue.trimmed();
    }
  }
  return items;
}

QString Escaped(const QString& text) { return text.toHtmlEscaped(); }

// A file cut short can still list its topics; their pages then read as zeros, which no page
// in a single-byte charset or UTF-8 holds.
bool Garbled(const QByteArray& page) {
  const bool utf16 = page.startsWith("\xFF\xFE") || page.startsWith("\xFE\xFF");
  return !utf16 && page.contains('\0');
}

}  // namespace

// ---- The CHM file ----

// One open CHM, read through chmlib. Without chmlib no file can be opened.
class TChmFile {
 public:
  static std::unique_ptr<TChmFile> Open(const QString& path);

  // The object at `path` ("/index.htm"; chmlib matches it without regard to case).
  bool Read(const QString& path, QByteArray& data) const;
  bool Exists(const QString& path) const;
  QString DefaultTopic() const;
  QString ContentsFile() const;

 private:
#ifdef VERIROVE_HAVE_CHMLIB
  struct TCloser {
    void operator()(chmFile* h) const { chm_close(h); }
  };
  explicit TChmFile(chmFile* handle) : FHandle(handle) {}
  bool Resolve(const QString& path, chmUnitInfo& info) const;
  void ReadSystem();
  void ListObjects();

  std::unique_ptr<chmFile, TCloser> FHandle;
#endif
  QString FSystemTopic, FSystemContents;
  QStringList FFiles;  // the file objects, in the order the CHM lists them
};

std::unique_ptr<TChmFile> TChmFile::Open(const QString& path) {
#ifdef VERIROVE_HAVE_CHMLIB
  chmFile* handle = chm_open(QFile::encodeName(path).constData());
  if (!handle) return nullptr;
  std::unique_ptr<TChmFile> file(new TChmFile(handle));
  file->ReadSystem();
  file->ListObjects();
  return file;
#else
  Q_UNUSED(path);
  return nullptr;
#endif
}

#ifdef VERIROVE_HAVE_CHMLIB
bool TChmFile::Resolve(const QString& path, chmUnitInfo& info) const {
  const QByteArray name = path.toUtf8();
  if (name.isEmpty() || name.size() > CHM_MAX_PATHLEN) return false;
  return chm_resolve_object(FHandle.get(), name.constData(), &info) == CHM_RESOLVE_SUCCESS;
}

void TChmFile::ReadSystem() {
  // "/#SYSTEM": a version (4 bytes), then records of a code (2), a length (2) and the data.
  // Code 0 names the contents file, code 2 the default topic.
  QByteArray system;
  if (!Read(QStringLiteral("/#SYSTEM"), system)) return;
  TByteReader reader(std::span(reinterpret_cast<const uint8_t*>(system.constData()), size_t(system.size())));
  reader.Skip(4);
  while (reader.Remaining() >= 4) {
    const uint16_t code = reader.ReadU16();
    const uint16_t length = reader.ReadU16();
    const std::span<const uint8_t> data = reader.Take(length);
    if (reader.Overrun()) break;
    if (code == 0) FSystemContents = SystemString(data);
    if (code == 2) FSystemTopic = SystemString(data);
  }
}

void TChmFile::ListObjects() {
  auto collect = [](chmFile*, chmUnitInfo* info, void* context) -> int {
    QByteArray path(info->path, qsizetype(qstrnlen(info->path, CHM_MAX_PATHLEN)));
    if (!path.endsWith('/')) static_cast<QStringList*>(context)->append(QString::fromUtf8(path));
    return CHM_ENUMERATOR_CONTINUE;
  };
  chm_enumerate(FHandle.get(), CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, collect, &FFiles);
}
#endif

bool TChmFile::Read(const QString& path, QByteArray& data) const {
  data.clear();
#ifdef VERIROVE_HAVE_CHMLIB
  chmUnitInfo info{};
  if (!Resolve(path, info)) return false;
  if (info.length > LONGUINT64(kMaxObjectSize)) return false;
  data.resize(qsizetype(info.length));
  LONGUINT64 done = 0;
  while (done < info.length) {
    const LONGINT64 got = chm_retrieve_object(FHandle.get(), &info, reinterpret_cast<unsigned char*>(data.data()) + done,
                                              done, LONGINT64(info.length - done));
    if (got <= 0) break;
    done += LONGUINT64(got);
  }
  if (done != info.length) {
    data.clear();
    return false;
  }
  return true;
#else
  Q_UNUSED(path);
  return false;
#endif
}

bool TChmFile::Exists(const QString& path) const {
#ifdef VERIROVE_HAVE_CHMLIB
  chmUnitInfo info{};
  return Resolve(path, info);
#else
  Q_UNUSED(path);
  return false;
#endif
}

QString TChmFile::DefaultTopic() const {
  if (!FSystemTopic.isEmpty() && Exists(ObjectPath(FSystemTopic))) return ObjectPath(FSystemTopic).mid(1);
  if (Exists(QStringLiteral("/index.htm"))) return QStringLiteral("index.htm");
  for (const QString& path : FFiles)
    if (path.startsWith(QLatin1Char('/')) && IsPage(path)) return path.mid(1);
  return {};
}

QString TChmFile::ContentsFile() const {
  if (!FSystemContents.isEmpty() && Exists(ObjectPath(FSystemContents))) return ObjectPath(FSystemContents);
  for (const QString& path : FFiles)
    if (path.startsWith(QLatin1Char('/')) && path.endsWith(QLatin1String(".hhc"), Qt::CaseInsensitive)) return path;
  return {};
}

// ---- Free functions ----

QString HelpPath() { return QCoreApplication::applicationDirPath() + QLatin1Char('/') + kHelpFileName; }

THelpLocation ResolveHelpLocation(const QString& location) {
  THelpLocation where;
  QString rest = location;
  for (const QLatin1String prefix : {QLatin1String("mk:@MSITStore:"), QLatin1String("ms-its:")}) {
    if (rest.startsWith(prefix, Qt::CaseInsensitive)) {
      rest.remove(0, prefix.size());
      break;
    }
  }
  const qsizetype separator = rest.lastIndexOf(QLatin1String("::/"));
  if (separator < 0) {
    if (rest.endsWith(QLatin1String("::"))) rest.chop(2);
    where.File = rest;
    return where;
  }
  where.File = rest.left(separator);
  QString topic = rest.mid(separator + 3);
  const qsizetype hash = topic.indexOf(QLatin1Char('#'));
  if (hash >= 0) {
    where.Anchor = topic.mid(hash + 1);
    topic.truncate(hash);
  }
  where.Topic = ObjectPath(topic).mid(1);
  return where;
}

bool ReadHelpTopic(const QString& chmPath, const QString& topic, QByteArray& html) {
  html.clear();
  const std::unique_ptr<TChmFile> file = TChmFile::Open(chmPath);
  if (!file) return false;
  const QString page = ObjectPath(topic).mid(1).isEmpty() ? file->DefaultTopic() : ObjectPath(topic).mid(1);
  if (page.isEmpty()) return false;
  return file->Read(ObjectPath(page), html);
}

QString DefaultHelpTopic(const QString& chmPath) {
  const std::unique_ptr<TChmFile> file = TChmFile::Open(chmPath);
  return file ? file->DefaultTopic() : QString();
}

QString DecodeHelpText(const QByteArray& bytes) {
  // A charset the text names itself (meta tag or byte order mark) and Qt knows.
  QStringDecoder declared = QStringDecoder::decoderForHtml(bytes);
  if (declared.isValid()) {
    const QString text = declared.decode(bytes);
    if (!declared.hasError()) return text;
  }
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8.decode(bytes);
  if (!utf8.hasError()) return text;
  return QString::fromStdString(Cp1251ToUtf8(std::string_view(bytes.constData(), size_t(bytes.size()))));
}

QList<THelpContentsItem> ReadHelpContents(const QString& chmPath) {
  const std::unique_ptr<TChmFile> file = TChmFile::Open(chmPath);
  if (!file) return {};
  QByteArray sitemap;
  const QString contents = file->ContentsFile();
  if (contents.isEmpty() || !file->Read(contents, sitemap)) return {};
  return ParseSitemap(DecodeHelpText(sitemap));
}

TfrmHelp* HelpViewer() { return gViewer.data(); }

void CloseHelpViewer() { delete gViewer.data(); }

bool HtmlHelp(QWidget* owner, const QString& location) {
#ifndef VERIROVE_HAVE_CHMLIB
  Q_UNUSED(owner);
  Q_UNUSED(location);
  return false;
#else
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
#endif
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
  ABack->setShortcut(QKeySequence::Back);
  ABack->setEnabled(false);
  AForward = new QAction(look->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("Вперёд"), this);
  AForward->setShortcut(QKeySequence::Forward);
  AForward->setEnabled(false);
  AHome = new QAction(look->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("В начало"), this);
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
