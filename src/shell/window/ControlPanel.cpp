#include "shell/window/ControlPanel.h"

#include <QAction>
#include <QFontMetrics>
#include <QLabel>
#include <QToolButton>

#include "shell/artwork/UzrArtwork.h"
#include "shell/widgets/UzrSeekBar.h"
#include "shell/window/PlayerActions.h"

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlack = 0xFF000000;

}  // namespace

TControlPanel::TControlPanel(const TPlayerActions& actions, const TTransport& transport, QWidget* parent)
    : QWidget(parent) {
  setObjectName(QStringLiteral("pnlControls"));
  setFixedHeight(24);
  setAutoFillBackground(true);
  QFont bold = font();
  bold.setBold(true);
  setFont(bold);

  btnLoadFromFile = Button("btnLoadFromFile", 2, 20, "Открыть файл", actions.ALoadFromFile);
  // The tool tip's missing letter is deliberate: the button has always read so (the action's
  // hint is spelt right).
  btnPlay = Button("btnPlay", 32, 18, "Воспроиведение", actions.APlay);
  btnPause = Button("btnPause", 52, 20, "Пауза", actions.APause);
  btnStop = Button("btnStop", 74, 20, "Стоп", actions.AStop);
  btnSegments = Button("btnSegments", 102, 20, "Сегменты", actions.ASegments);
  // Deliberate: the "?" button's hint names the About box, yet it opens the help, as it always
  // has; the About box is in the menus.
  SpeedButton1 = Button("SpeedButton1", 126, 20, "О программе...", actions.AHelp);
  btnInOwnWindow = Button("btnInOwnWindow", 152, 18, "В отдельном окне", actions.ASetOwnWindow);
  btnLoadFromFile->setIcon(ImageListIcon(6));
  btnSegments->setIcon(ImageListIcon(3));
  SpeedButton1->setIcon(ImageListIcon(4));
  btnInOwnWindow->setIcon(OwnWindowIcon());

  pbrProgress = new TSeekBar(this);
  pbrProgress->setObjectName(QStringLiteral("pbrProgress"));
  pbrProgress->setGeometry(184, 7, 173, 10);  // at the window's starting width; see LayOut
  pbrProgress->setRange(0, 100);
  pbrProgress->setValue(0);
  pbrProgress->setTextVisible(false);
  pbrProgress->SetTipText([&transport](int64_t frame) {
    const auto pos = FrameOfFilm(transport.Segments(), frame);
    return pos ? QString::fromStdString(FormatClock(FrameTime(transport.Segments(), *pos))) : QString();
  });
  connect(pbrProgress, &TSeekBar::SeekRequested, this, [this, &transport](int64_t frame) {
    if (const auto pos = FrameOfFilm(transport.Segments(), frame)) emit SeekRequested(*pos);
  });

  pnlPath = new QLabel(this);
  pnlPath->setObjectName(QStringLiteral("pnlPath"));
  pnlPath->setGeometry(368, 3, 417, 19);
  pnlPath->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  lblTime = new QLabel(this);
  lblTime->setObjectName(QStringLiteral("lblTime"));
  lblTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

QToolButton* TControlPanel::Button(const char* name, int x, int width, const char* hint, QAction* action) {
  auto* button = new QToolButton(this);
  button->setObjectName(QString::fromUtf8(name));
  button->setAutoRaise(true);
  button->setGeometry(x, 2, width, 20);
  button->setIconSize(QSize(16, 16));
  button->setToolTip(QString::fromUtf8(hint));
  button->setCheckable(action->isCheckable());
  // The button executes its action and shows its state; its hint and picture are its own.
  connect(button, &QToolButton::clicked, action, &QAction::trigger);
  auto follow = [button, action] {
    button->setEnabled(action->isEnabled());
    button->setChecked(action->isChecked());
  };
  connect(action, &QAction::changed, button, follow);
  follow();
  return button;
}

QString TControlPanel::PathText() const { return FPathText; }

void TControlPanel::SetPathText(const QString& text) {
  if (text == FPathText) return;
  FPathText = text;
  LayOut();
}

void TControlPanel::SetTimeText(const QString& text) {
  if (text == lblTime->text()) return;
  lblTime->setText(text);
  LayOut();
}

void TControlPanel::SetGlyph(QToolButton* button, TTransportGlyph glyph, bool highlighted) {
  QIcon& icon = FGlyphs[int(glyph)][highlighted];
  if (icon.isNull()) {
    // Normally white is the transparent colour; the highlighted picture shows its white
    // background, with black transparent instead.
    icon = QIcon(GlyphWithTransparentColour(TransportGlyphImage(glyph), highlighted ? kBlack : kWhite));
  }
  button->setIcon(icon);
}

void TControlPanel::ResetTransportGlyphs() {
  SetGlyph(btnPlay, TTransportGlyph::Play, false);
  SetGlyph(btnPause, TTransportGlyph::Pause, false);
  SetGlyph(btnStop, TTransportGlyph::Stop, false);
  FHighlighted = nullptr;
}

void TControlPanel::ShowPlayState(TPlayState state, bool highlighted) {
  ResetTransportGlyphs();
  if (!highlighted) return;
  const auto [button, glyph] = state == psStopped   ? std::pair(btnStop, TTransportGlyph::Stop)
                               : state == psPlaying ? std::pair(btnPlay, TTransportGlyph::Play)
                                                    : std::pair(btnPause, TTransportGlyph::Pause);
  SetGlyph(button, glyph, true);
  FHighlighted = button;
}

void TControlPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOut();
}

void TControlPanel::LayOut() {
  // At the window's starting width (and below) the seek bar has its own 173 pixels; a wider
  // window gives it the extra width, and the path panel keeps its width between it and the
  // time at the right end. In a narrow window the bar gives up width (down to kBarMin) for the
  // path panel to show at least the name's first word.
  constexpr int kStartWidth = 800, kBarLeft = 184, kBarWidth = 173, kBarMin = 40, kBarToPath = 11, kMargin = 4;
  const int timeWidth = lblTime->text().isEmpty() ? 0 : lblTime->sizeHint().width();
  lblTime->setGeometry(width() - kMargin - timeWidth, 3, timeWidth, 19);
  const int pathRight = width() - 2 * kMargin - timeWidth;  // one past the path panel
  int bar = kBarWidth + std::max(0, width() - kStartWidth);
  const int room = pathRight - (kBarLeft + bar + kBarToPath);
  const QFontMetrics metrics = pnlPath->fontMetrics();
  const int fullWidth = metrics.horizontalAdvance(FPathText);
  if (room < fullWidth) {
    const QString first = FPathText.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    const int needed = std::min(fullWidth, metrics.horizontalAdvance(first + QStringLiteral("…")));
    if (room < needed) bar = std::max(kBarMin, bar - (needed - room));
  }
  pbrProgress->setGeometry(kBarLeft, 7, bar, 10);
  const int pathLeft = kBarLeft + bar + kBarToPath;
  const int pathWidth = std::max(0, pathRight - pathLeft);
  pnlPath->setGeometry(pathLeft, 3, pathWidth, 19);
  const QString shown = metrics.elidedText(FPathText, Qt::ElideRight, pathWidth);
  pnlPath->setText(shown);
  // An elided name shows whole in the tip.
  pnlPath->setToolTip(shown == FPathText ? QString() : FPathText);
}
