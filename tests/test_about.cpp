// The About box and its JPEG decoder, on the offscreen platform. The picture under test is the
// one the build makes (VERIROVE_ABOUT_JPEG); hostile inputs are made from it byte by byte.
#include <gtest/gtest.h>

// jpeglib.h needs size_t and FILE declared first.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "jpegwriter/JpegWriter.h"
#include "shell/dialogs/UzrAbout.h"
#include "shell/artwork/UzrArtwork.h"
#include "shell/artwork/UzrJpeg.h"
#include "support/FindChild.h"

namespace {

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

QByteArray BuiltJpeg() { return ReadFile(QStringLiteral(VERIROVE_ABOUT_JPEG)); }

QString BuiltJpegFolder() { return QFileInfo(QStringLiteral(VERIROVE_ABOUT_JPEG)).absolutePath(); }

// The offset of the first marker `code` (the byte after 0xFF) in the header part of a JPEG
// file, walking the marker segments; -1 when absent.
qsizetype FindMarker(const QByteArray& jpeg, uint8_t code) {
  qsizetype at = 2;  // after SOI
  while (at + 4 <= jpeg.size() && uint8_t(jpeg[at]) == 0xFF) {
    const uint8_t marker = uint8_t(jpeg[at + 1]);
    if (marker == code) return at;
    if (marker == 0xDA) return -1;  // start of scan: the header is over
    const int length = (uint8_t(jpeg[at + 2]) << 8) | uint8_t(jpeg[at + 3]);
    at += 2 + length;
  }
  return -1;
}

// The built picture with its frame header (SOF0) changed: dimensions and/or process.
QByteArray WithFrame(int width, int height, uint8_t sofCode = 0xC0) {
  QByteArray jpeg = BuiltJpeg();
  const qsizetype sof = FindMarker(jpeg, 0xC0);
  if (sof < 0) return {};
  // FF C0, length (2), precision (1), height (2), width (2).
  jpeg[sof + 1] = char(sofCode);
  jpeg[sof + 5] = char(height >> 8), jpeg[sof + 6] = char(height);
  jpeg[sof + 7] = char(width >> 8), jpeg[sof + 8] = char(width);
  return jpeg;
}

// The built picture with the entropy-coded data after the scan header overwritten.
QByteArray WithScrambledScan() {
  QByteArray jpeg = BuiltJpeg();
  const qsizetype sos = FindMarker(jpeg, 0xDA);
  if (sos < 0) return {};
  const int length = (uint8_t(jpeg[sos + 2]) << 8) | uint8_t(jpeg[sos + 3]);
  const qsizetype data = sos + 2 + length;
  // Stuffed 0xFF 0x00 pairs would only be codes; 0xFF followed by RST or EOI markers would
  // end the data. A pattern without 0xFF is damaged in a plain way.
  for (qsizetype i = data + 40; i < data + 400 && i < jpeg.size() - 2; ++i) jpeg[i] = char(0x5A ^ (i & 0x3F));
  return jpeg;
}

// The drawing encoded progressively with a legal scan script of `refinements` + 1 passes per
// AC coefficient and component: the coefficients one at a time, first at reduced precision,
// then refined bit by bit. One DC scan comes first. refinements = 1 gives 379 scans,
// refinements = 2 gives 568.
QByteArray ProgressiveJpeg(int refinements) {
  const QImage rgb = AboutPicture().convertToFormat(QImage::Format_RGB888);
  std::vector<jpeg_scan_info> script;
  script.push_back({3, {0, 1, 2, 0}, 0, 0, 0, 0});
  for (int c = 0; c < 3; ++c)
    for (int k = 1; k < 64; ++k) {
      script.push_back({1, {c, 0, 0, 0}, k, k, 0, refinements});
      for (int al = refinements - 1; al >= 0; --al) script.push_back({1, {c, 0, 0, 0}, k, k, al + 1, al});
    }
  TJpegSettings settings;
  settings.ScanScript = script;
  std::vector<uint8_t> out;
  std::string error;
  if (!EncodeJpeg(rgb.constBits(), rgb.width(), rgb.height(), rgb.bytesPerLine(), settings, out, error))
    ADD_FAILURE() << error;
  QByteArray bytes(reinterpret_cast<const char*>(out.data()), qsizetype(out.size()));
  return bytes;
}

struct TDifference {
  double Mean = 0;  // mean absolute difference per channel
  int Max = 0;      // largest difference of one channel
};

TDifference Compare(const QImage& a, const QImage& b) {
  TDifference d;
  double sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      for (const int delta : {std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))}) {
        sum += delta;
        d.Max = std::max(d.Max, delta);
      }
    }
  d.Mean = sum / (3.0 * a.width() * a.height());
  return d;
}

// ---------------------------------------------------------------------------------------------
// The decoder.

TEST(DecodeJpeg, BuiltPictureMatchesTheDrawing) {
  const QByteArray bytes = BuiltJpeg();
  ASSERT_FALSE(bytes.isEmpty()) << VERIROVE_ABOUT_JPEG;
  QImage image;
  QString error;
  ASSERT_TRUE(DecodeJpeg(bytes, image, error)) << error.toStdString();
  EXPECT_TRUE(error.isEmpty());
  EXPECT_EQ(image.size(), QSize(162, 216));
  EXPECT_EQ(image.format(), QImage::Format_RGB32);
  const QImage drawn = AboutPicture();
  ASSERT_EQ(drawn.size(), image.size());
  // JPEG is lossy; at quality 92 with full-resolution chroma the error stays small (about
  // 1.4 on average and 23 at worst; halved chroma would reach 65 at coloured edges).
  const TDifference difference = Compare(image, drawn);
  EXPECT_LT(difference.Mean, 2.0);
  EXPECT_LE(difference.Max, 40);
}

TEST(DecodeJpeg, BuiltPictureIsBaseline) {
  const QByteArray bytes = BuiltJpeg();
  EXPECT_GE(FindMarker(bytes, 0xC0), 0) << "no SOF0 (baseline) frame header";
  EXPECT_LT(FindMarker(bytes, 0xC2), 0) << "progressive frame header";
}

struct THostileCase {
  const char* Name;
  QByteArray Bytes;
  QString Error;  // the exact message, or its beginning when it ends with "…"
};

TEST(DecodeJpeg, HostileInputsFailWithTheirReason) {
  const QByteArray built = BuiltJpeg();
  ASSERT_FALSE(built.isEmpty());
  const std::vector<THostileCase> cases = {
      {"empty", QByteArray(), QStringLiteral("empty JPEG data")},
      {"garbage", QByteArray("this is not a picture at all, only words"),
       QStringLiteral("damaged JPEG: Not a JPEG file: starts with 0x74 0x68")},
      {"only_soi", QByteArray("\xFF\xD8", 2), QStringLiteral("damaged JPEG: Premature end of JPEG file")},
      {"truncated_in_header", built.left(100), QStringLiteral("damaged JPEG: Premature end of JPEG file")},
      {"truncated_in_scan", built.left(built.size() / 2),
       QStringLiteral("damaged JPEG: Premature end of JPEG file")},
      {"scrambled_scan", WithScrambledScan(), QStringLiteral("damaged JPEG: …")},
      {"huge_60000x60000", WithFrame(60000, 60000),
       QStringLiteral("JPEG too large: 60000 × 60000 pixels, at most 4096 × 4096")},
      {"wide_4097", WithFrame(4097, 16), QStringLiteral("JPEG too large: 4097 × 16 pixels, at most 4096 × 4096")},
      {"zero_height", WithFrame(162, 0),
       QStringLiteral("unsupported JPEG: Empty JPEG image (DNL not supported)")},
      {"lossless_process", WithFrame(162, 216, 0xC3),
       QStringLiteral("unsupported JPEG: Unsupported JPEG process: SOF type 0xc3")},
  };
  for (const THostileCase& c : cases) {
    SCOPED_TRACE(c.Name);
    QImage image(4, 4, QImage::Format_RGB32);  // must come back null
    QString error;
    EXPECT_FALSE(DecodeJpeg(c.Bytes, image, error));
    EXPECT_TRUE(image.isNull());
    if (c.Error.endsWith(QChar(u'…')))
      EXPECT_TRUE(error.startsWith(c.Error.chopped(1)) && error.size() > c.Error.size())
          << error.toStdString();
    else
      EXPECT_EQ(error.toStdString(), c.Error.toStdString());
  }
}

TEST(DecodeJpeg, ProgressiveWithinTheScanLimitDecodes) {
  QImage image;
  QString error;
  ASSERT_TRUE(DecodeJpeg(ProgressiveJpeg(1), image, error)) << error.toStdString();
  EXPECT_EQ(image.size(), QSize(162, 216));
  EXPECT_LT(Compare(image, AboutPicture()).Mean, 5.0);  // libjpeg's defaults: quality 75, 4:2:0
}

TEST(DecodeJpeg, ProgressiveWithTooManyScansIsRefused) {
  QImage image;
  QString error;
  EXPECT_FALSE(DecodeJpeg(ProgressiveJpeg(2), image, error));
  EXPECT_TRUE(image.isNull());
  EXPECT_EQ(error.toStdString(), "unsupported JPEG: more than 500 scans");
}

TEST(DecodeJpeg, EveryTruncationFailsCleanly) {
  // Each length up to the whole file less its EOI marker: no crash, no partial picture.
  const QByteArray built = BuiltJpeg();
  ASSERT_GT(built.size(), 2);
  for (qsizetype n = 1; n < built.size() - 2; n += (n < 700 ? 1 : 37)) {
    QImage image;
    QString error;
    ASSERT_FALSE(DecodeJpeg(built.left(n), image, error)) << n;
    ASSERT_TRUE(image.isNull());
    ASSERT_FALSE(error.isEmpty());
  }
}

TEST(DecodeJpeg, SingleByteChangesNeverCrash) {
  const QByteArray built = BuiltJpeg();
  ASSERT_FALSE(built.isEmpty());
  for (qsizetype at = 0; at < built.size(); at += 7) {
    for (const uint8_t value : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x80)}) {
      QByteArray changed = built;
      changed[at] = char(value);
      QImage image;
      QString error;
      if (DecodeJpeg(changed, image, error)) {
        EXPECT_FALSE(image.isNull());
        EXPECT_LE(image.width(), kMaxJpegSide);
        EXPECT_LE(image.height(), kMaxJpegSide);
      } else {
        EXPECT_TRUE(image.isNull());
        EXPECT_FALSE(error.isEmpty());
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The About box.

struct TAboutFixture : ::testing::Test {
  std::unique_ptr<TfrmAbout> About;
  std::vector<QUrl> Opened;
  bool OpenResult = true;

  void SetUp() override { Make(BuiltJpegFolder()); }

  void Make(const QString& folder) {
    About = std::make_unique<TfrmAbout>(nullptr, folder);
    About->OpenUrl = [this](const QUrl& url) {
      Opened.push_back(url);
      return OpenResult;
    };
  }

  // A part of the box by its object name.
  template <typename T>
  T* Find(const char* name) const {
    return Child<T>(*About, name);
  }

  void Show() {
    About->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(About.get()));
  }

  static bool AnyMessageBoxVisible() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (qobject_cast<QMessageBox*>(w) && w->isVisible()) return true;
    return false;
  }
};

TEST_F(TAboutFixture, FormNameCaptionAndFixedClientArea) {
  EXPECT_EQ(About->objectName(), QStringLiteral("frmAbout"));
  EXPECT_EQ(About->windowTitle(), QStringLiteral("О программе"));
  EXPECT_EQ(About->size(), QSize(392, 233));
  EXPECT_EQ(About->minimumSize(), QSize(392, 233));
  EXPECT_EQ(About->maximumSize(), QSize(392, 233));
  EXPECT_FALSE(About->isSizeGripEnabled());
  EXPECT_FALSE(About->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(About->windowFlags() & Qt::WindowMinimizeButtonHint);
  // Without it a window manager gives the box its own choice of buttons.
  EXPECT_TRUE(About->windowFlags() & Qt::CustomizeWindowHint);
  EXPECT_TRUE(About->windowFlags() & Qt::WindowCloseButtonHint);
  // A user's drag asks for another size; the box keeps its own.
  Show();
  About->resize(600, 400);
  EXPECT_EQ(About->size(), QSize(392, 233));
}

TEST_F(TAboutFixture, ComponentsAtTheirPlaces) {
  struct TPlace {
    QWidget* Widget;
    const char* Name;
    QPoint At;
  };
  const std::vector<TPlace> places = {
      {Find<QWidget>("Panel1"), "Panel1", {8, 8}},    {Find<QWidget>("RxLabel1"), "RxLabel1", {232, 4}},
      {Find<QWidget>("Label1"), "Label1", {184, 56}}, {Find<QWidget>("lblMail"), "lblMail", {184, 120}},
      {Find<QWidget>("Label2"), "Label2", {184, 144}}, {Find<QWidget>("Bevel1"), "Bevel1", {184, 192}},
      {Find<QWidget>("Button1"), "Button1", {304, 200}},
  };
  for (const TPlace& p : places) {
    SCOPED_TRACE(p.Name);
    EXPECT_EQ(p.Widget->objectName(), QString::fromLatin1(p.Name));
    EXPECT_EQ(p.Widget->parentWidget(), About.get());
    EXPECT_EQ(p.Widget->pos(), p.At);
  }
  QFrame* Panel1 = Find<QFrame>("Panel1");
  QFrame* Bevel1 = Find<QFrame>("Bevel1");
  QLabel* Label3 = Find<QLabel>("Label3");
  EXPECT_EQ(Panel1->size(), QSize(164, 218));
  EXPECT_EQ(Panel1->frameShape(), QFrame::Panel);
  EXPECT_EQ(Panel1->frameShadow(), QFrame::Sunken);
  EXPECT_EQ(Panel1->lineWidth(), 1);
  EXPECT_EQ(Find<QLabel>("Image1")->parentWidget(), Panel1);
  EXPECT_EQ(Find<QLabel>("Image1")->geometry(), QRect(1, 1, 162, 216));
  EXPECT_EQ(Bevel1->width(), 201);
  EXPECT_EQ(Bevel1->frameShape(), QFrame::HLine);
  EXPECT_EQ(Bevel1->frameShadow(), QFrame::Sunken);
  EXPECT_EQ(Find<QPushButton>("Button1")->size(), QSize(81, 25));
  // Right-aligned, its right edge at 377.
  EXPECT_EQ(Label3->x() + Label3->width(), 377);
  EXPECT_EQ(Label3->y(), 32);
  EXPECT_TRUE(Label3->alignment() & Qt::AlignRight);
  // Every text inside the client area, clear of the right margin.
  for (QWidget* w : {Find<QWidget>("RxLabel1"), Find<QWidget>("Label1"), Find<QWidget>("Label3"),
                     Find<QWidget>("lblMail"), Find<QWidget>("Label2")})
    EXPECT_TRUE(QRect(0, 0, 385, 233).contains(w->geometry())) << w->objectName().toStdString();
}

TEST_F(TAboutFixture, TextsAndFonts) {
  EXPECT_EQ(Find<TShadowLabel>("RxLabel1")->text(), QStringLiteral("veRirove"));
  EXPECT_EQ(Find<QLabel>("Label3")->text(), QStringLiteral("версия 1.4.1"));
  EXPECT_EQ(Find<QLabel>("Label1")->text().count(QLatin1Char('\n')), 1);
  EXPECT_TRUE(Find<QLabel>("Label1")->text().contains(QStringLiteral("veRirove")));
  EXPECT_EQ(Find<TLinkLabel>("lblMail")->text(), QStringLiteral("www.example.org/verirove"));
  EXPECT_EQ(Find<TLinkLabel>("Label2")->text(), QStringLiteral("verirove@example.org"));
  EXPECT_EQ(Find<QPushButton>("Button1")->text(), QStringLiteral("Закрыть"));

  const QFont title = Find<TShadowLabel>("RxLabel1")->font();
  EXPECT_EQ(title.family(), QStringLiteral("Times New Roman"));
  EXPECT_EQ(title.pointSize(), 20);
  EXPECT_TRUE(title.bold());
  const QFont notice = Find<QLabel>("Label1")->font();
  EXPECT_EQ(notice.family(), QStringLiteral("Times New Roman"));
  EXPECT_EQ(notice.pointSize(), 10);
  for (TLinkLabel* link : {Find<TLinkLabel>("lblMail"), Find<TLinkLabel>("Label2")}) {
    SCOPED_TRACE(link->objectName().toStdString());
    EXPECT_EQ(link->font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(link->font().pointSize(), 10);
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  }
}

TEST_F(TAboutFixture, PictureLoadsFromTheFolder) {
  const QPixmap shown = Find<QLabel>("Image1")->pixmap();
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(shown.size(), QSize(162, 216));
  QImage decoded;
  QString error;
  ASSERT_TRUE(DecodeJpeg(BuiltJpeg(), decoded, error));
  EXPECT_EQ(shown.toImage().convertToFormat(QImage::Format_RGB32), decoded);
}

TEST_F(TAboutFixture, MissingOrDamagedPictureLeavesThePanelEmpty) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  Make(folder.path());
  EXPECT_TRUE(Find<QLabel>("Image1")->pixmap().isNull());

  QFile damaged(QDir(folder.path()).filePath(QStringLiteral("veRirove_about.jpg")));
  ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
  damaged.write(BuiltJpeg().left(500));
  damaged.close();
  Make(folder.path());
  EXPECT_TRUE(Find<QLabel>("Image1")->pixmap().isNull());
  Show();
  EXPECT_FALSE(AnyMessageBoxVisible());
  About->close();
}

TEST_F(TAboutFixture, WebLinkOpensHttpAddress) {
  Show();
  QTest::mouseClick(Find<TLinkLabel>("lblMail"), Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_EQ(Opened.size(), 1u);
  EXPECT_EQ(Opened[0].toString(), QStringLiteral("http://www.example.org/verirove"));
  EXPECT_EQ(Opened[0], QUrl(QStringLiteral("http://www.example.org/verirove")));
}

TEST_F(TAboutFixture, MailLinkOpensMailto) {
  Show();
  QTest::mouseClick(Find<TLinkLabel>("Label2"), Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_EQ(Opened.size(), 1u);
  EXPECT_EQ(Opened[0].toString(), QStringLiteral("mailto:verirove@example.org"));
}

TEST_F(TAboutFixture, OtherButtonsAndReleasesOutsideDoNotOpen) {
  Show();
  QTest::mouseClick(Find<TLinkLabel>("lblMail"), Qt::RightButton, {}, QPoint(5, 5));
  QTest::mousePress(Find<TLinkLabel>("Label2"), Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseRelease(Find<TLinkLabel>("Label2"), Qt::LeftButton, {}, QPoint(-20, 5));
  EXPECT_TRUE(Opened.empty());
}

TEST_F(TAboutFixture, FailedOpenStaysSilent) {
  OpenResult = false;
  Show();
  QTest::mouseClick(Find<TLinkLabel>("lblMail"), Qt::LeftButton, {}, QPoint(5, 5));
  QTest::mouseClick(Find<TLinkLabel>("Label2"), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(Opened.size(), 2u);
  EXPECT_FALSE(AnyMessageBoxVisible());
  EXPECT_TRUE(About->isVisible());
}

TEST_F(TAboutFixture, CloseButtonClosesAndIsDefault) {
  EXPECT_TRUE(Find<QPushButton>("Button1")->isDefault());
  Show();
  QTest::mouseClick(Find<QPushButton>("Button1"), Qt::LeftButton);
  EXPECT_FALSE(About->isVisible());
}

TEST_F(TAboutFixture, EnterAndEscapeClose) {
  Show();
  QTest::keyClick(About.get(), Qt::Key_Escape);
  EXPECT_FALSE(About->isVisible());
  Show();
  QTest::keyClick(About.get(), Qt::Key_Return);
  EXPECT_FALSE(About->isVisible());
}

TEST_F(TAboutFixture, CentredOnTheScreen) {
  Show();
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const QRect frame = About->frameGeometry();
  EXPECT_LE(std::abs(frame.center().x() - screen.center().x()), 1);
  EXPECT_LE(std::abs(frame.center().y() - screen.center().y()), 1);
}

TEST(TAboutOwned, CentredOnItsOwnerWindowAndInsideTheScreen) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  struct Case {
    const char* name;
    QRect owner;
    bool centred;  // else pushed into the lower right corner of the screen
  };
  const Case cases[] = {
      {"owner in the middle", QRect(50, 40, 600, 400), true},
      {"owner at the top left", QRect(0, 0, 500, 300), true},
      {"owner hanging over the lower right edge", QRect(screen.right() - 200, screen.bottom() - 100, 600, 400), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QWidget owner;
    owner.setGeometry(c.owner);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    TfrmAbout about(&owner, BuiltJpegFolder());
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    const QRect frame = about.frameGeometry();
    EXPECT_TRUE(screen.contains(frame));
    if (c.centred) {
      EXPECT_LE((frame.center() - owner.frameGeometry().center()).manhattanLength(), 2);
    } else {
      EXPECT_EQ(frame.bottomRight(), screen.bottomRight());
    }
  }
}

TEST_F(TAboutFixture, BevelIsALoweredLineAndTitleHasALightShadow) {
  Show();
  const QImage shot = About->grab().toImage();
  const QPalette pal = About->palette();
  // (The light row stops one pixel short of the right end, as shaded lines do.)
  for (int x = 184; x < 184 + 200; x += 10) {
    EXPECT_EQ(shot.pixel(x, 191), pal.color(QPalette::Window).rgb()) << x;
    EXPECT_EQ(shot.pixel(x, 192), pal.color(QPalette::Dark).rgb()) << x;
    EXPECT_EQ(shot.pixel(x, 193), pal.color(QPalette::Light).rgb()) << x;
    EXPECT_EQ(shot.pixel(x, 194), pal.color(QPalette::Window).rgb()) << x;
  }
  // The title: text in the foreground colour, and shadow pixels in the light colour where the
  // text is not.
  const QImage title = Find<TShadowLabel>("RxLabel1")->grab().toImage();
  int text = 0, shadow = 0;
  const QRgb textColour = pal.color(QPalette::WindowText).rgb(), light = pal.color(QPalette::Light).rgb();
  for (int y = 0; y < title.height(); ++y)
    for (int x = 0; x < title.width(); ++x) {
      const QRgb p = title.pixel(x, y) | 0xFF000000u;
      text += p == textColour;
      shadow += p == light;
    }
  EXPECT_GT(text, 50);
  EXPECT_GT(shadow, 20);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
