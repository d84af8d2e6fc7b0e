// The About box: the program's name and version, the picture, the makers' notice, and two
// links that open the web address and a new mail message.
#pragma once

#include <QDesktopServices>
#include <QDialog>
#include <QLabel>
#include <QUrl>
#include <functional>

class QFrame;
class QPushButton;

// A label whose text carries a 1-pixel shadow in the palette's light colour, offset one pixel
// to the lower right. It is as large as its text plus the shadow.
class TShadowLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TShadowLabel(const QString& text, QWidget* parent = nullptr);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// A label that acts as a link: blue, underlined, hand cursor. A left-button press and release
// inside it is a click.
class TLinkLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TLinkLabel(const QString& text, QWidget* parent = nullptr);

 signals:
  void Click();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool FPressed = false;
};

class TfrmAbout : public QDialog {
  Q_OBJECT

 public:
  // The picture file, looked up in the picture folder.
  static constexpr const char* kPictureFileName = "veRirove_about.jpg";

  // Reads the picture from `pictureFolder`, or from the program's folder when it is empty.
  // A missing or damaged picture leaves the panel empty; nothing is reported.
  explicit TfrmAbout(QWidget* parent = nullptr, const QString& pictureFolder = QString());

  // Opens the links. A seam for tests; its result is ignored (a failure stays silent).
  std::function<bool(const QUrl&)> OpenUrl = &QDesktopServices::openUrl;

 public slots:
  void Button1Click();
  void lblSiteClick();
  void lblMailClick();

 protected:
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // Where the box's frame goes: centred on its owner window, or on the screen without one.
  QPoint CentredPosition() const;
  void LoadPicture(const QString& folder);
  void Open(const QUrl& url);

  QFrame* Panel1;
  QLabel* Image1;
  TShadowLabel* RxLabel1;
  QLabel* Label3;
  QLabel* Label1;
  TLinkLabel* lblMail;  // the web address
  TLinkLabel* Label2;   // the mail address
  QFrame* Bevel1;
  QPushButton* Button1;
  bool FCentrePending = false;
};
