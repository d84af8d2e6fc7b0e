// The help: the compiled help file, its topics and contents, locations, and the viewer window
// on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QtEndian>
#include <cstring>
#include <functional>

#include "shell/dialogs/ProgramData.h"
#include "shell/dialogs/UzrHelp.h"
#include "support/FindChild.h"

namespace {

const QString kHelpFile = QStringLiteral(VERIROVE_HELP_FILE);

QString Text(const QByteArray& bytes) { return DecodeHelpText(bytes); }

// The viewer's topic pane and contents pane.
QTextBrowser* Browser(const TfrmHelp* viewer) { return Child<QTextBrowser>(*viewer, "brwTopic"); }
QTreeWidget* Contents(const TfrmHelp* viewer) { return Child<QTreeWidget>(*viewer, "tvContents"); }

QString ViewerText() { return HelpViewer() ? Browser(HelpViewer())->toPlainText() : QString(); }

// A folder of the test's own; removed with the object.
class THelpTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(FTemp.isValid()); }
  void TearDown() override { CloseHelpViewer(); }

  // A copy of the compiled help file under `folder` (relative to the test's folder).
  QString CopyHelp(const QString& folder, const QString& name = QStringLiteral("veRirove.chm")) {
    const QString dir = FTemp.filePath(folder);
    EXPECT_TRUE(QDir().mkpath(dir));
    const QString path = dir + QLatin1Char('/') + name;
    EXPECT_TRUE(QFile::copy(kHelpFile, path));
    return path;
  }

  QString WriteFile(const QString& name, const QByteArray& bytes) {
    const QString path = FTemp.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
  }

  QTemporaryDir FTemp;
};

// ---- The compiled file ----

TEST(HelpFile, IsBuiltBesideTheProgram) {
  const QFileInfo info(kHelpFile);
  ASSERT_TRUE(info.isFile()) << kHelpFile.toStdString();
  EXPECT_EQ(info.fileName(), QStringLiteral("veRirove.chm"));
  EXPECT_GT(info.size(), 4096);
  QFile file(kHelpFile);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.read(4), QByteArray("ITSF"));  // the signature of a compiled help file
}

TEST(HelpFile, DefaultTopicIsTheOverviewInRussian) {
  EXPECT_EQ(DefaultHelpTopic(kHelpFile), QStringLiteral("index.htm"));
  QByteArray html;
  ASSERT_TRUE(ReadHelpTopic(kHelpFile, QString(), html));
  const QString text = Text(html);
  EXPECT_TRUE(text.contains(QStringLiteral("проигрыватель фильмов")));
  EXPECT_TRUE(text.contains(QStringLiteral("<title>veRirove</title>")));
  EXPECT_FALSE(text.contains(QChar(QChar::ReplacementCharacter)));
  EXPECT_TRUE(html.contains("charset=utf-8"));
}

TEST(HelpFile, SegmentsTopicHasItsAnchor) {
  const THelpLocation where = ResolveHelpLocation(kHelpFile + QStringLiteral("::/veRirove_v1_2.htm#Segments"));
  EXPECT_EQ(where.File, kHelpFile);
  EXPECT_EQ(where.Topic, QStringLiteral("veRirove_v1_2.htm"));
  EXPECT_EQ(where.Anchor, QStringLiteral("Segments"));
  QByteArray html;
  ASSERT_TRUE(ReadHelpTopic(where.File, where.Topic, html));
  const QString text = Text(html);
  EXPECT_TRUE(text.contains(QStringLiteral("<a name=\"Segments\"></a>")));
  for (const char* needle : {"Управление Сегментами", "№", "Название", "Время", "Enter", "Esc", "F6", "Пауза"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(needle))) << needle;
}

TEST(HelpFile, EveryTopicIsInTheFile) {
  for (const char* topic : {"index.htm", "open.htm", "play.htm", "navigate.htm", "chapters.htm", "window.htm", "panel.htm", "veRirove_v1_2.htm",
                            "cmdline.htm", "about.htm", "zrfilm.htm", "export.htm", "veRirove.css",
                            "images/veRirove.png"}) {
    QByteArray bytes;
    EXPECT_TRUE(ReadHelpTopic(kHelpFile, QString::fromUtf8(topic), bytes)) << topic;
    EXPECT_FALSE(bytes.isEmpty()) << topic;
  }
  QByteArray png;
  ASSERT_TRUE(ReadHelpTopic(kHelpFile, QStringLiteral("/IMAGES/veRirove.PNG"), png));  // names ignore case
  EXPECT_EQ(QImage::fromData(png).size(), QSize(48, 48));
  QByteArray none;
  EXPECT_FALSE(ReadHelpTopic(kHelpFile, QStringLiteral("no-such-topic.htm"), none));
}

// Every link of every topic leads to a page of the file, and to an anchor that page has.
TEST(HelpFile, LinksLeadToTopicsAndAnchorsInTheFile) {
  static const QRegularExpression href(QStringLiteral("href=\"([^\"]*)\""));
  int links = 0;
  for (const char* topic : {"index.htm", "open.htm", "play.htm", "navigate.htm", "chapters.htm", "window.htm", "panel.htm", "veRirove_v1_2.htm",
                            "cmdline.htm", "about.htm", "zrfilm.htm", "export.htm"}) {
    QByteArray html;
    ASSERT_TRUE(ReadHelpTopic(kHelpFile, QString::fromUtf8(topic), html)) << topic;
    for (auto it = href.globalMatch(Text(html)); it.hasNext();) {
      const QString link = it.next().captured(1);
      if (link.startsWith(QLatin1String("http")) || link.startsWith(QLatin1String("mailto:"))) continue;
      ++links;
      const QString page = link.section(QLatin1Char('#'), 0, 0);
      const QString anchor = link.section(QLatin1Char('#'), 1);
      QByteArray target;
      ASSERT_TRUE(ReadHelpTopic(kHelpFile, page, target)) << topic << " -> " << link.toStdString();
      if (!anchor.isEmpty() && !page.endsWith(QLatin1String(".css"))) {
        const QString targetText = Text(target);
        EXPECT_TRUE(targetText.contains(QStringLiteral("name=\"%1\"").arg(anchor)) ||
                    targetText.contains(QStringLiteral("id=\"%1\"").arg(anchor)))
            << topic << " -> " << link.toStdString();
      }
    }
  }
  EXPECT_GT(links, 20);
}

TEST(HelpFile, ContentsListTheTopics) {
  const QList<THelpContentsItem> items = ReadHelpContents(kHelpFile);
  ASSERT_EQ(items.size(), 12);
  EXPECT_EQ(items[0].Name, QStringLiteral("veRirove"));
  EXPECT_EQ(items[0].Local, QStringLiteral("index.htm"));
  EXPECT_EQ(items[0].Level, 0);
  bool segments = false;
  for (qsizetype i = 1; i < items.size(); ++i) {
    EXPECT_EQ(items[i].Level, 1) << items[i].Name.toStdString();
    QByteArray page;
    EXPECT_TRUE(ReadHelpTopic(kHelpFile, items[i].Local, page)) << items[i].Local.toStdString();
    if (items[i].Name == QStringLiteral("Сегменты")) {
      segments = true;
      EXPECT_EQ(items[i].Local, QStringLiteral("veRirove_v1_2.htm#Segments"));
    }
  }
  EXPECT_TRUE(segments);
}

// ---- Locations ----

struct TLocationRow {
  const char* Name;
  const char* Location;
  const char* File;
  const char* Topic;
  const char* Anchor;
};

TEST(HelpLocation, SplitsFileTopicAndAnchor) {
  const TLocationRow rows[] = {
      {"file alone", "/opt/veRirove/veRirove.chm", "/opt/veRirove/veRirove.chm", "", ""},
      {"topic and anchor", "/opt/veRirove/veRirove.chm::/veRirove_v1_2.htm#Segments", "/opt/veRirove/veRirove.chm",
       "veRirove_v1_2.htm", "Segments"},
      {"topic without anchor", "/opt/v/veRirove.chm::/index.htm", "/opt/v/veRirove.chm", "index.htm", ""},
      {"blanks in the path", "/home/anna/мои программы/ve Rirove/veRirove.chm::/play.htm#Пауза",
       "/home/anna/мои программы/ve Rirove/veRirove.chm", "play.htm", "Пауза"},
      {"blanks at the ends of the path", " /tmp/a b/veRirove.chm ", " /tmp/a b/veRirove.chm ", "", ""},
      {"topic in a folder", "/a/b.chm::/images/veRirove.png", "/a/b.chm", "images/veRirove.png", ""},
      {"empty topic after the separator", "/a/b.chm::/", "/a/b.chm", "", ""},
      {"trailing separator without slash", "/a/b.chm::", "/a/b.chm", "", ""},
      {"empty anchor", "/a/b.chm::/t.htm#", "/a/b.chm", "t.htm", ""},
      {"anchor only", "/a/b.chm::/#Segments", "/a/b.chm", "", "Segments"},
      {"hash inside the anchor", "/a/b.chm::/t.htm#x#y", "/a/b.chm", "t.htm", "x#y"},
      {"hash in the file name", "/a/b#1.chm", "/a/b#1.chm", "", ""},
      {"double colon inside the path", "/a/x::y/b.chm::/t.htm", "/a/x::y/b.chm", "t.htm", ""},
      {"split on the last separator", "/a/::/b.chm::/t.htm#s", "/a/::/b.chm", "t.htm", "s"},
      {"double slash after the separator", "/a/b.chm:://t.htm", "/a/b.chm", "t.htm", ""},
      {"backslashes in the topic", "/a/b.chm::/images\\veRirove.png", "/a/b.chm", "images/veRirove.png", ""},
      {"HTML Help link form", "ms-its:/a/b.chm::/t.htm#z", "/a/b.chm", "t.htm", "z"},
      {"HTML Help store form", "mk:@MSITStore:/a/b.chm::/t.htm", "/a/b.chm", "t.htm", ""},
      {"relative file", "veRirove.chm::/t.htm", "veRirove.chm", "t.htm", ""},
      {"nothing", "", "", "", ""},
  };
  for (const TLocationRow& row : rows) {
    const THelpLocation where = ResolveHelpLocation(QString::fromUtf8(row.Location));
    EXPECT_EQ(where.File, QString::fromUtf8(row.File)) << row.Name;
    EXPECT_EQ(where.Topic, QString::fromUtf8(row.Topic)) << row.Name;
    EXPECT_EQ(where.Anchor, QString::fromUtf8(row.Anchor)) << row.Name;
  }
}

TEST(HelpLocation, HelpPathIsInTheProgramFolder) {
  EXPECT_EQ(HelpPath(), QCoreApplication::applicationDirPath() + QStringLiteral("/veRirove.chm"));
  // Installed as PREFIX/bin/veRirove, the data is in PREFIX/share/veRirove; elsewhere beside it.
  QTemporaryDir prefix;
  ASSERT_TRUE(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
  const QString bin = prefix.filePath(QStringLiteral("bin"));
  EXPECT_EQ(ProgramDataFolder(bin), bin);
  ASSERT_TRUE(QDir(prefix.path()).mkpath(QStringLiteral("share/veRirove")));
  EXPECT_EQ(ProgramDataFolder(bin), prefix.filePath(QStringLiteral("share/veRirove")));
}

TEST(HelpText, DecodesTheDeclaredCharsetElseUtf8ElseWindows1251) {
  const QString word = QStringLiteral("Привет");
  EXPECT_EQ(DecodeHelpText(word.toUtf8()), word);
  // "Привет" in Windows-1251, with and without a declaration.
  const QByteArray cp1251("\xcf\xf0\xe8\xe2\xe5\xf2");
  EXPECT_EQ(DecodeHelpText(cp1251), word);
  const QByteArray declared =
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\"></head><body>" +
      cp1251 + "</body></html>";
  EXPECT_TRUE(DecodeHelpText(declared).contains(word));
}

// ---- The viewer ----

TEST_F(THelpTest, ViewerOpensTheDefaultTopic) {
  ASSERT_TRUE(HtmlHelp(nullptr, kHelpFile));
  TfrmHelp* viewer = HelpViewer();
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_FALSE(viewer->ShowsMessage());
  EXPECT_EQ(viewer->CurrentFile(), kHelpFile);
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("проигрыватель фильмов")));
  EXPECT_EQ(Browser(viewer)->source(), TfrmHelp::TopicUrl(QStringLiteral("index.htm"), QString()));
  EXPECT_TRUE(viewer->windowTitle().contains(QStringLiteral("Справка veRirove")));
  // The contents pane, from the file's .hhc, marks the topic shown.
  ASSERT_NE(Contents(viewer)->topLevelItemCount(), 0);
  ASSERT_NE(Contents(viewer)->currentItem(), nullptr);
  EXPECT_EQ(Contents(viewer)->currentItem()->text(0), QStringLiteral("veRirove"));
  // Pictures and the style sheet come out of the file.
  const QVariant picture =
      Browser(viewer)->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("images/veRirove.png")));
  EXPECT_EQ(QImage::fromData(picture.toByteArray()).size(), QSize(48, 48));
  const QVariant sheet =
      Browser(viewer)->loadResource(QTextDocument::StyleSheetResource, QUrl(QStringLiteral("veRirove.css")));
  EXPECT_TRUE(sheet.toString().contains(QStringLiteral("font-family")));
  // Nothing outside the file.
  EXPECT_FALSE(Browser(viewer)
                   ->loadResource(QTextDocument::ImageResource, QUrl::fromLocalFile(kHelpFile))
                   .isValid());
}

TEST_F(THelpTest, SegmentsTopicFromAFolderWithBlanks) {
  const QString copy = CopyHelp(QStringLiteral("папка со справкой/help files"));
  ASSERT_TRUE(QFileInfo(copy).isFile());
  ASSERT_TRUE(HtmlHelp(nullptr, copy + QStringLiteral("::/veRirove_v1_2.htm#Segments")));
  TfrmHelp* viewer = HelpViewer();
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->CurrentFile(), copy);
  const QString text = ViewerText();
  EXPECT_TRUE(text.contains(QStringLiteral("Управление Сегментами")));
  EXPECT_TRUE(text.contains(QStringLiteral("Выбор сегмента")));
  EXPECT_EQ(Browser(viewer)->source().fragment(), QStringLiteral("Segments"));
  EXPECT_EQ(viewer->windowTitle(), QStringLiteral("Сегменты — Справка veRirove"));
  ASSERT_NE(Contents(viewer)->currentItem(), nullptr);
  EXPECT_EQ(Contents(viewer)->currentItem()->text(0), QStringLiteral("Сегменты"));
  // The same copy without a topic: its default one, in the same window.
  ASSERT_TRUE(HtmlHelp(nullptr, copy));
  EXPECT_EQ(HelpViewer(), viewer);
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("проигрыватель фильмов")));
}

TEST_F(THelpTest, OneViewerWindowIsReused) {
  ASSERT_TRUE(HtmlHelp(nullptr, kHelpFile));
  TfrmHelp* first = HelpViewer();
  ASSERT_TRUE(HtmlHelp(nullptr, kHelpFile + QStringLiteral("::/cmdline.htm")));
  EXPECT_EQ(HelpViewer(), first);
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("/closeonfinish")));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("Неверный формат командной строки")));
  int viewers = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<TfrmHelp*>(w)) ++viewers;
  EXPECT_EQ(viewers, 1);
  // The viewer does not keep the program running once its main window has closed.
  EXPECT_FALSE(first->testAttribute(Qt::WA_QuitOnClose));
  CloseHelpViewer();
  EXPECT_EQ(HelpViewer(), nullptr);
}

TEST_F(THelpTest, HelpForAWindowOnTopComesUpOverIt) {
  QWidget onTop(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint);
  QWidget ordinary;
  ASSERT_TRUE(HtmlHelp(&onTop, kHelpFile + QStringLiteral("::/veRirove_v1_2.htm#Segments")));
  EXPECT_TRUE(HelpViewer()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(HelpViewer()->isVisible());
  ASSERT_TRUE(HtmlHelp(&ordinary, kHelpFile));
  EXPECT_FALSE(HelpViewer()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(HelpViewer()->isVisible());
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("проигрыватель фильмов")));
}

TEST_F(THelpTest, LinksStayInTheFileAndHistoryGoesBack) {
  ASSERT_TRUE(HtmlHelp(nullptr, kHelpFile));
  QTextBrowser* browser = Browser(HelpViewer());
  // A relative link, as a click on it reports it.
  emit browser->anchorClicked(QUrl(QStringLiteral("open.htm")));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("Исполняемые фильмы")));
  EXPECT_EQ(HelpViewer()->windowTitle(), QStringLiteral("Открытие фильма — Справка veRirove"));
  emit browser->anchorClicked(QUrl(QStringLiteral("veRirove_v1_2.htm#Segments")));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("Управление Сегментами")));
  EXPECT_EQ(browser->source().fragment(), QStringLiteral("Segments"));
  ASSERT_TRUE(browser->isBackwardAvailable());
  browser->backward();
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("Исполняемые фильмы")));
  browser->backward();
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("проигрыватель фильмов")));
  EXPECT_TRUE(browser->isForwardAvailable());
  // HTML Help's own link form names a topic of the same file.
  emit browser->anchorClicked(QUrl(QStringLiteral("ms-its:veRirove.chm::/zrfilm.htm")));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("zrfilm info")));
  // A link to a page the file lacks shows the viewer's note, not an empty page.
  emit browser->anchorClicked(QUrl(QStringLiteral("missing-page.htm")));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("missing-page.htm")));
}

TEST_F(THelpTest, MissingFileShowsTheViewersMessage) {
  const QString missing = FTemp.filePath(QStringLiteral("нет такой папки/veRirove.chm"));
  EXPECT_FALSE(HtmlHelp(nullptr, missing + QStringLiteral("::/veRirove_v1_2.htm#Segments")));
  TfrmHelp* viewer = HelpViewer();
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_TRUE(viewer->ShowsMessage());
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("Файл справки не найден")));
  EXPECT_TRUE(ViewerText().contains(missing));
  EXPECT_EQ(Contents(viewer)->topLevelItemCount(), 0);
  EXPECT_FALSE(Browser(viewer)->isBackwardAvailable());
  // The good file again: the topic replaces the message, even at a URL shown before.
  ASSERT_TRUE(HtmlHelp(nullptr, kHelpFile + QStringLiteral("::/veRirove_v1_2.htm#Segments")));
  EXPECT_FALSE(viewer->ShowsMessage());
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("Управление Сегментами")));
  EXPECT_FALSE(HtmlHelp(nullptr, QString()));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("Файл справки не найден")));
  ASSERT_TRUE(HtmlHelp(nullptr, kHelpFile + QStringLiteral("::/veRirove_v1_2.htm#Segments")));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("Управление Сегментами")));
}

TEST_F(THelpTest, DamagedFilesShowTheViewersMessage) {
  const QString garbage = WriteFile(QStringLiteral("garbage.chm"), QByteArray(5000, 'x'));
  EXPECT_FALSE(HtmlHelp(nullptr, garbage));
  EXPECT_TRUE(HelpViewer()->ShowsMessage());
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("повреждён")));
  const QString empty = WriteFile(QStringLiteral("empty.chm"), QByteArray());
  EXPECT_FALSE(HtmlHelp(nullptr, empty));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("повреждён")));
  // A folder is no file.
  EXPECT_FALSE(HtmlHelp(nullptr, FTemp.path()));
  EXPECT_TRUE(HelpViewer()->ShowsMessage());
  // Cut short at several lengths: a message or the topic, never a crash.
  QFile whole(kHelpFile);
  ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
  const QByteArray bytes = whole.readAll();
  for (const qsizetype length : {qsizetype(100), qsizetype(0x60), qsizetype(4096), bytes.size() / 2, bytes.size() - 100}) {
    const QString cut = WriteFile(QStringLiteral("cut-%1.chm").arg(length), bytes.left(length));
    const bool shown = HtmlHelp(nullptr, cut + QStringLiteral("::/veRirove_v1_2.htm#Segments"));
    EXPECT_EQ(shown, !HelpViewer()->ShowsMessage()) << length;
    if (shown) {
      EXPECT_TRUE(ViewerText().contains(QStringLiteral("Управление Сегментами"))) << length;
    }
  }
}

// ---- Hostile help files ----

// A compiled help file taken apart far enough to build hostile variants of it: its header,
// its directory header, the entries of its one listing chunk, and the stored data after it.
struct THelpImage {
  struct TEntry {
    QByteArray Name;
    quint64 Section = 0, Offset = 0, Length = 0;
  };
  QByteArray Itsf, Itsp, Data;
  quint32 ChunkSize = 0;
  QList<TEntry> Entries;
  QList<QByteArray> MoreChunks;  // after the listing chunk

  static quint32 U32(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); }
  static quint64 U64(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint64>(b.constData() + at); }
  static void SetU32(QByteArray& b, qsizetype at, quint32 v) { qToLittleEndian(v, b.data() + at); }
  static void SetU64(QByteArray& b, qsizetype at, quint64 v) { qToLittleEndian(v, b.data() + at); }

  static quint64 EncInt(const QByteArray& b, qsizetype& at) {
    quint64 v = 0;
    for (uchar c = 0x80; c & 0x80;) v = v << 7 | ((c = uchar(b[at++])) & 0x7F);
    return v;
  }
  static QByteArray EncInt(quint64 v) {
    QByteArray out(1, char(v & 0x7F));
    while (v >>= 7) out.prepend(char(0x80 | (v & 0x7F)));
    return out;
  }

  static THelpImage Parse(const QByteArray& bytes) {
    THelpImage image;
    const quint64 dirOffset = U64(bytes, 0x48), dirSize = U64(bytes, 0x50), dataOffset = U64(bytes, 0x58);
    image.Itsf = bytes.left(qsizetype(dirOffset));
    image.Itsp = bytes.mid(qsizetype(dirOffset), 0x54);
    image.ChunkSize = U32(image.Itsp, 0x10);
    EXPECT_EQ(dirSize, 0x54 + image.ChunkSize);  // the one listing chunk
    EXPECT_EQ(dataOffset, dirOffset + dirSize);
    const QByteArray chunk = bytes.mid(qsizetype(dirOffset + 0x54), image.ChunkSize);
    EXPECT_TRUE(chunk.startsWith("PMGL"));
    for (qsizetype at = 0x14, end = image.ChunkSize - U32(chunk, 4); at < end;) {
      TEntry entry;
      const qsizetype length = qsizetype(EncInt(chunk, at));
      entry.Name = chunk.mid(at, length);
      at += length;
      entry.Section = EncInt(chunk, at);
      entry.Offset = EncInt(chunk, at);
      entry.Length = EncInt(chunk, at);
      image.Entries.append(entry);
    }
    image.Data = bytes.mid(qsizetype(dataOffset));
    return image;
  }

  TEntry& Entry(const QByteArray& name) {
    for (TEntry& entry : Entries)
      if (entry.Name == name) return entry;
    ADD_FAILURE() << name.constData();
    return Entries.front();
  }
  // The stored bytes of an object, to be changed in place.
  char* Stored(const QByteArray& name) { return Data.data() + Entry(name).Offset; }

  // The file with a 32-bit field of its directory (`at` from the directory header) changed.
  QByteArray WithDirectoryField(qsizetype at, quint32 value) const {
    QByteArray bytes = Build();
    SetU32(bytes, qsizetype(U64(bytes, 0x48)) + at, value);
    return bytes;
  }

  QByteArray Build() const {
    QByteArray chunk("PMGL", 4);
    chunk.append(QByteArray(0x10, '\0'));
    SetU32(chunk, 0x0C, 0xFFFFFFFF);  // no previous
    SetU32(chunk, 0x10, 0xFFFFFFFF);  // no next
    for (const TEntry& entry : Entries)
      chunk += EncInt(quint64(entry.Name.size())) + entry.Name + EncInt(entry.Section) + EncInt(entry.Offset) +
               EncInt(entry.Length);
    SetU32(chunk, 4, quint32(ChunkSize - chunk.size()));
    chunk.append(QByteArray(qsizetype(ChunkSize) - chunk.size(), '\0'));
    QByteArray itsf = Itsf, itsp = Itsp;
    const quint64 dirSize = 0x54 + ChunkSize * quint64(1 + MoreChunks.size());
    SetU64(itsf, 0x50, dirSize);
    SetU64(itsf, 0x58, U64(itsf, 0x48) + dirSize);
    SetU32(itsp, 0x2C, quint32(1 + MoreChunks.size()));
    QByteArray out = itsf + itsp + chunk;
    for (const QByteArray& more : MoreChunks) out += more;
    return out + Data;
  }
};

const QByteArray kResetTable =
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";
const QByteArray kControlData = "::DataSpace/Storage/MSCompressed/ControlData";

// A reader that believes these as the file says loops forever, divides by zero or decompresses
// memory it never filled; the rest have it allocate or walk what no help file holds. Each must
// read as a damaged file, at once.
TEST_F(THelpTest, HostileHelpFilesReadAsDamaged) {
  QFile built(kHelpFile);
  ASSERT_TRUE(built.open(QIODevice::ReadOnly));
  const QByteArray original = built.readAll();
  struct TRow {
    const char* Name;
    std::function<QByteArray(THelpImage&)> Make;
  };
  const TRow rows[] = {
      {"listing chain that leads back to its own chunk",
       [](THelpImage& image) { return image.WithDirectoryField(0x54 + 0x10, 0); }},
      {"index chunk that names itself",
       [](THelpImage& image) {
         QByteArray index("PMGI\0\0\0\0", 8);
         index += THelpImage::EncInt(1) + "/" + THelpImage::EncInt(1);
         THelpImage::SetU32(index, 4, quint32(image.ChunkSize - index.size()));
         index.append(QByteArray(qsizetype(image.ChunkSize) - index.size(), '\0'));
         image.MoreChunks = {index};
         THelpImage::SetU32(image.Itsp, 0x1C, 1);  // the index root
         return image.Build();
       }},
      {"free space larger than the chunk", [](THelpImage& image) { return image.WithDirectoryField(0x54 + 4, 0xFFFF); }},
      {"chunk size of a gigabyte", [](THelpImage& image) { return image.WithDirectoryField(0x10, 0x40000000); }},
      {"name longer than any path buffer",
       [](THelpImage& image) {
         image.Entries.append({QByteArray(600, 'x'), 0, 0, 0});
         return image.Build();
       }},
      {"reset table in a section of its own",
       [](THelpImage& image) {
         image.Entry(kResetTable).Section = 32;
         return image.Build();
       }},
      {"control data in the compressed section",
       [](THelpImage& image) {
         image.Entry(kControlData).Section = 1;
         return image.Build();
       }},
      {"stored object beyond the end of the file",
       [](THelpImage& image) {
         image.Entry("/#SYSTEM").Length = 1 << 30;
         return image.Build();
       }},
      {"cut short inside the compressed content", [](THelpImage& image) { return image.Build().chopped(100); }},
      {"compression blocks out of order",
       [](THelpImage& image) {
         THelpImage::SetU64(image.Data, qsizetype(image.Entry(kResetTable).Offset) + 0x28 + 8, 1 << 20);
         return image.Build();
       }},
      {"compression blocks of 64 KiB",
       [](THelpImage& image) {
         THelpImage::SetU64(image.Data, qsizetype(image.Entry(kResetTable).Offset) + 0x20, 0x10000);
         return image.Build();
       }},
      {"control data with no window",
       [](THelpImage& image) {
         std::memset(image.Stored(kControlData) + 8, 0, 16);
         return image.Build();
       }},
      {"control data cut short",
       [](THelpImage& image) {
         image.Entry(kControlData).Length = 8;
         return image.Build();
       }},
      {"control data with no window, named with a NUL tail",
       [](THelpImage& image) {
         std::memset(image.Stored(kControlData) + 8, 0, 16);
         image.Entry(kControlData).Name += QByteArray("\0x", 2);
         return image.Build();
       }},
      {"reset interval of half a compression block",
       [](THelpImage& image) {
         const qsizetype at = qsizetype(image.Entry(kControlData).Offset);
         THelpImage::SetU32(image.Data, at + 8, 1);  // counted in bytes
         THelpImage::SetU32(image.Data, at + 12, 0x4000);
         THelpImage::SetU32(image.Data, at + 16, 0x8000);
         return image.Build();
       }},
      {"reset table of 4-byte entries",
       [](THelpImage& image) {
         THelpImage::SetU32(image.Data, qsizetype(image.Entry(kResetTable).Offset) + 8, 4);
         return image.Build();
       }},
      {"compressed page beyond the compressed data",
       [](THelpImage& image) {
         image.Entry("/about.htm").Offset = 1 << 30;
         return image.Build();
       }},
  };
  const QString rebuilt = WriteFile(QStringLiteral("rebuilt.chm"), THelpImage::Parse(original).Build());
  EXPECT_EQ(DefaultHelpTopic(rebuilt), QStringLiteral("index.htm"));  // the parts make a whole again
  QByteArray page;
  EXPECT_TRUE(ReadHelpTopic(rebuilt, QStringLiteral("veRirove_v1_2.htm"), page));
  EXPECT_FALSE(ReadHelpContents(rebuilt).isEmpty());
  int n = 0;
  for (const TRow& row : rows) {
    THelpImage image = THelpImage::Parse(original);
    const QString path = WriteFile(QStringLiteral("hostile-%1.chm").arg(++n), row.Make(image));
    QByteArray html;
    EXPECT_FALSE(ReadHelpTopic(path, QString(), html)) << row.Name;
    EXPECT_TRUE(html.isEmpty()) << row.Name;
    EXPECT_TRUE(DefaultHelpTopic(path).isEmpty()) << row.Name;
    EXPECT_TRUE(ReadHelpContents(path).isEmpty()) << row.Name;
    EXPECT_FALSE(HtmlHelp(nullptr, path + QStringLiteral("::/veRirove_v1_2.htm#Segments"))) << row.Name;
    EXPECT_TRUE(ViewerText().contains(QStringLiteral("повреждён"))) << row.Name;
  }
}

// The viewer reads the file once, as it opens it: what becomes of the file afterwards does not
// change what it shows.
TEST_F(THelpTest, TheFileIsReadOnceAsItIsOpened) {
  const QString copy = CopyHelp(QStringLiteral("read once"));
  ASSERT_TRUE(HtmlHelp(nullptr, copy));
  WriteFile(QStringLiteral("read once/veRirove.chm"), QByteArray(5000, 'x'));
  QTextBrowser* browser = Browser(HelpViewer());
  emit browser->anchorClicked(QUrl(QStringLiteral("zrfilm.htm")));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("zrfilm info")));
  const QVariant picture =
      browser->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("images/veRirove.png")));
  EXPECT_EQ(QImage::fromData(picture.toByteArray()).size(), QSize(48, 48));
}

// Without a default topic and an index.htm, the first page whose name can be asked for again:
// not one whose name is not UTF-8 or holds a '#'.
TEST_F(THelpTest, DefaultTopicIsAPageThatCanBeRead) {
  QFile built(kHelpFile);
  ASSERT_TRUE(built.open(QIODevice::ReadOnly));
  THelpImage image = THelpImage::Parse(built.readAll());
  image.Entry("/index.htm").Name = "/start.htm";
  image.Entries.prepend({"/a#b.htm", 1, 0, 10});
  image.Entries.prepend({"/\xff\xfe.htm", 1, 0, 10});
  const QString path = WriteFile(QStringLiteral("odd-names.chm"), image.Build());
  EXPECT_EQ(DefaultHelpTopic(path), QStringLiteral("about.htm"));
  ASSERT_TRUE(HtmlHelp(nullptr, path));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("О программе")));
}

TEST_F(THelpTest, MissingTopicShowsTheViewersMessage) {
  EXPECT_FALSE(HtmlHelp(nullptr, kHelpFile + QStringLiteral("::/no-such-topic.htm")));
  EXPECT_TRUE(HelpViewer()->ShowsMessage());
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("no-such-topic.htm")));
  // A missing anchor still shows the topic.
  EXPECT_TRUE(HtmlHelp(nullptr, kHelpFile + QStringLiteral("::/play.htm#no-such-anchor")));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("Пауза")));
}

// Help files compiled here with chmcmd: the default-topic fallbacks, Windows-1251 pages, and
// two files with the same topic names shown one after the other.
TEST_F(THelpTest, OtherHelpFilesCompiledHere) {
  const QString chmcmd = QStringLiteral(VERIROVE_CHMCMD);
  if (chmcmd.isEmpty() || !QFileInfo(chmcmd).isExecutable()) GTEST_SKIP() << "chmcmd is not available";
  auto compile = [&](const QString& folder, const QByteArray& project,
                     const QList<QPair<QString, QByteArray>>& files) -> QString {
    const QString dir = FTemp.filePath(folder);
    EXPECT_TRUE(QDir().mkpath(dir));
    WriteFile(folder + QStringLiteral("/p.hhp"), project);
    for (const auto& [name, bytes] : files) WriteFile(folder + QLatin1Char('/') + name, bytes);
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(chmcmd, {QStringLiteral("--verbosity"), QStringLiteral("0"), QStringLiteral("p.hhp")});
    EXPECT_TRUE(process.waitForFinished(-1));
    EXPECT_EQ(process.exitCode(), 0);
    return dir + QStringLiteral("/p.chm");
  };
  const QByteArray privet("\xcf\xf0\xe8\xe2\xe5\xf2");  // "Привет" in Windows-1251
  // No default topic and no index.htm: the first page.
  const QString plain = compile(QStringLiteral("plain"), "[OPTIONS]\nCompiled file=p.chm\n\n[FILES]\nb.htm\na.htm\n",
                                {{QStringLiteral("a.htm"),
                                  "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                                  "charset=windows-1251\"><title>A</title></head><body>" + privet + " A</body></html>"},
                                 {QStringLiteral("b.htm"), "<html><body>" + privet + " B</body></html>"}});
  EXPECT_EQ(DefaultHelpTopic(plain), QStringLiteral("a.htm"));
  ASSERT_TRUE(HtmlHelp(nullptr, plain));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("Привет A")));
  ASSERT_TRUE(HtmlHelp(nullptr, plain + QStringLiteral("::/b.htm")));  // no charset declared
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("Привет B")));
  EXPECT_EQ(Contents(HelpViewer())->topLevelItemCount(), 0);  // no contents file
  EXPECT_TRUE(Contents(HelpViewer())->isHidden());
  // No default topic, but an index.htm.
  const QString indexed = compile(QStringLiteral("indexed"), "[OPTIONS]\nCompiled file=p.chm\n\n[FILES]\na.htm\nindex.htm\n",
                                  {{QStringLiteral("a.htm"), "<html><body>A</body></html>"},
                                   {QStringLiteral("index.htm"), "<html><body>Other index</body></html>"}});
  EXPECT_EQ(DefaultHelpTopic(indexed), QStringLiteral("index.htm"));
  // Same topic name, another file: the page of the new file is shown.
  ASSERT_TRUE(HtmlHelp(nullptr, kHelpFile + QStringLiteral("::/index.htm")));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("проигрыватель фильмов")));
  ASSERT_TRUE(HtmlHelp(nullptr, indexed + QStringLiteral("::/index.htm")));
  EXPECT_TRUE(ViewerText().contains(QStringLiteral("Other index")));
  EXPECT_FALSE(Browser(HelpViewer())->isBackwardAvailable());  // history is per file
}

// The topics read without scrolling sideways in the viewer at the size it opens with on a
// common screen: a wide line of preformatted text or a wide table would force it.
TEST_F(THelpTest, EveryTopicFitsTheViewerWithoutScrollingSideways) {
  for (const char* topic : {"index.htm", "open.htm", "play.htm", "navigate.htm", "chapters.htm", "window.htm", "panel.htm", "veRirove_v1_2.htm",
                            "cmdline.htm", "about.htm", "zrfilm.htm", "export.htm"}) {
    ASSERT_TRUE(HtmlHelp(nullptr, kHelpFile + QStringLiteral("::/") + QString::fromUtf8(topic)));
    TfrmHelp* viewer = HelpViewer();
    viewer->resize(900, 680);
    QApplication::processEvents();
    ASSERT_GE(Browser(viewer)->viewport()->width(), 560) << topic;
    EXPECT_EQ(Browser(viewer)->horizontalScrollBar()->maximum(), 0) << topic;
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int result = RUN_ALL_TESTS();
  CloseHelpViewer();
  return result;
}
