#include "shell/dialogs/UzrAbout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>

#include "io/Version.h"
#include "shell/dialogs/ProgramData.h"
#include "shell/artwork/UzrJpeg.h"

namespace {

constexpr int kClientWidth = 392;
constexpr int kClientHeight = 233;
// A picture file larger than this is not the About picture; it is not read at all.
constexpr qint64 kMaxPictureFileSize = 8 * 1024 * 1024;

const QString kWebAddress = QStringLiteral("www.example.org/verirove");
const QString kMailAddress = QStringLiteral("verirove@example.org");

// Fonts by their Windows names; where a family is missing the style hint picks a similar one.
QFont NamedFont(const QString& family, QFont::StyleHint hint, int pointSize, bool bold = false) {
  QFont font(family, pointSize, bold ? QFont::Bold : QFont::Normal);
  font.setStyleHint(hint);
  return font;
}

// Gives an auto-sized label its natural size and puts its top left corner at (x, y).
void PlaceAutoSized(QLabel* label, int x, int y) {
  label->resize(label->sizeHint());
  label->move(x, y);
}

}  // namespace

TShadowLabel::TShadowLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

QSize TShadowLabel::sizeHint() const {
  const QFontMetrics metrics(font());
  return {metrics.horizontalAdvance(text()) + 1, metrics.height() + 1};
}

void TShadowLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setFont(font());
  const QRect textRect(0, 0, width() - 1, height() - 1);
  const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine;
  painter.setPen(palette().color(QPalette::Light));
  painter.drawText(textRect.translated(1, 1), flags, text());
  painter.setPen(palette().color(foregroundRole()));
  painter.drawText(textRect, flags, text());
}

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setTextFormat(Qt::PlainText);
  QFont linkFont = NamedFont(QStringLiteral("Tahoma"), QFont::SansSerif, 10);
  linkFont.setUnderline(true);
  setFont(linkFont);
  QPalette blue = palette();
  blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
  setPalette(blue);
  setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mousePressEvent(QMouseEvent* event) {
  FPressed = event->button() == Qt::LeftButton;
  event->accept();
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      FPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  FPressed = false;
  event->accept();
  if (click) emit Click();
}

TfrmAbout::TfrmAbout(QWidget* parent, const QString& pictureFolder)
    // A fixed dialog: a title with a close box only (without CustomizeWindowHint a window
    // manager adds minimise and maximise).
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("О программе"));
  setFixedSize(kClientWidth, kClientHeight);
  setSizeGripEnabled(false);

  // The picture in a lowered bevel one pixel wide, the panel sized to the 162 × 216 picture.
  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setLineWidth(1);
  Panel1->setGeometry(8, 8, 164, 218);
  Image1 = new QLabel(Panel1);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image1->setGeometry(1, 1, 162, 216);

  RxLabel1 = new TShadowLabel(QStringLiteral("veRirove"), this);
  RxLabel1->setObjectName(QStringLiteral("RxLabel1"));
  RxLabel1->setFont(NamedFont(QStringLiteral("Times New Roman"), QFont::Serif, 20, true));
  PlaceAutoSized(RxLabel1, 232, 4);

  // Right-aligned: its right edge stays at 377 whatever the font makes its width.
  Label3 = new QLabel(QStringLiteral("версия ") + QLatin1String(kVersion), this);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setAlignment(Qt::AlignRight | Qt::AlignTop);
  Label3->resize(Label3->sizeHint());
  Label3->move(377 - Label3->width(), 32);

  // Short lines: they fit the 201 pixels up to the right margin even in wide fallback fonts.
  Label1 = new QLabel(QStringLiteral("Показ экранных фильмов\n"
                                     "© Авторы veRirove, 2026"),
                      this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setTextFormat(Qt::PlainText);
  Label1->setFont(NamedFont(QStringLiteral("Times New Roman"), QFont::Serif, 10));
  PlaceAutoSized(Label1, 184, 56);

  lblMail = new TLinkLabel(kWebAddress, this);
  lblMail->setObjectName(QStringLiteral("lblMail"));
  PlaceAutoSized(lblMail, 184, 120);
  connect(lblMail, &TLinkLabel::Click, this, &TfrmAbout::lblSiteClick);

  Label2 = new TLinkLabel(kMailAddress, this);
  Label2->setObjectName(QStringLiteral("Label2"));
  PlaceAutoSized(Label2, 184, 144);
  connect(Label2, &TLinkLabel::Click, this, &TfrmAbout::lblMailClick);

  // A horizontal lowered line: the shadow row at 192, the light row below it.
  Bevel1 = new QFrame(this);
  Bevel1->setObjectName(QStringLiteral("Bevel1"));
  Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  Bevel1->setLineWidth(1);
  Bevel1->setGeometry(184, 192, 201, 2);

  Button1 = new QPushButton(QStringLiteral("Закрыть"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(304, 200, 81, 25);
  Button1->setDefault(true);
  Button1->setFocus();
  connect(Button1, &QPushButton::clicked, this, &TfrmAbout::Button1Click);

  LoadPicture(pictureFolder.isEmpty() ? ProgramDataFolder() : pictureFolder);
}

void TfrmAbout::LoadPicture(const QString& folder) {
  QFile file(QDir(folder).filePath(QString::fromLatin1(kPictureFileName)));
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxPictureFileSize) return;
  const QByteArray bytes = file.read(kMaxPictureFileSize);
  QImage picture;
  QString error;
  if (DecodeJpeg(bytes, picture, error)) Image1->setPixmap(QPixmap::fromImage(picture));
}

void TfrmAbout::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  // Until the window manager has framed the box its frame is a guess: it is centred again
  // once the frame is known.
  FCentrePending = frameGeometry().size() == size();
  move(CentredPosition());
}

bool TfrmAbout::event(QEvent* event) {
  const bool handled = QDialog::event(event);
  // An X11 window manager frames the box without moving it; the frame is known by the time
  // the box is activated.
  const bool framedNow = event->type() == QEvent::Move || event->type() == QEvent::WindowActivate;
  if (FCentrePending && framedNow && frameGeometry().size() != size()) {
    FCentrePending = false;
    move(CentredPosition());
  }
  return handled;
}

QPoint TfrmAbout::CentredPosition() const {
  // Over the visible window that owns the box, else over the screen; inside the screen's
  // available area either way.
  const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
  if (owner && !owner->isVisible()) owner = nullptr;
  const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
  if (!screen) return pos();
  // Until the box has been framed its frame is not known; the owner's is the best guess.
  QSize frame = frameGeometry().size() - size();
  if (frame.isEmpty() && owner) frame = owner->frameGeometry().size() - owner->size();
  const QRect outer(QPoint(0, 0), size() + frame);
  const QRect area = screen->availableGeometry();
  QRect placed = outer;
  placed.moveCenter(owner ? owner->frameGeometry().center() : area.center());
  placed.moveLeft(std::clamp(placed.left(), area.left(), std::max(area.left(), area.right() - outer.width() + 1)));
  placed.moveTop(std::clamp(placed.top(), area.top(), std::max(area.top(), area.bottom() - outer.height() + 1)));
  return placed.topLeft();
}

void TfrmAbout::Open(const QUrl& url) {
  if (OpenUrl) OpenUrl(url);
}

void TfrmAbout::Button1Click() { close(); }

void TfrmAbout::lblSiteClick() { Open(QUrl(QStringLiteral("http://") + lblMail->text())); }

void TfrmAbout::lblMailClick() { Open(QUrl(QStringLiteral("mailto:") + Label2->text())); }
