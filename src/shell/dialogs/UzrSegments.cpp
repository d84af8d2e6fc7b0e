#include "shell/dialogs/UzrSegments.h"

#include <QAction>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "film/SegmentDuration.h"

TfrmSegments::TfrmSegments() : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("frmSegments"));
  setWindowTitle(QStringLiteral("Управление Сегментами"));
  setModal(false);
  // 8-point text, as the dialog was laid out for.
  QFont small = font();
  small.setPointSize(8);
  setFont(small);
  resize(569, 424);
  move(301, 127);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* Panel1 = new QWidget(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFixedHeight(65);
  Panel1->setAutoFillBackground(true);
  QPalette white = Panel1->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  Panel1->setPalette(white);
  auto* Label1 = new QLabel(QStringLiteral("Сегменты"), Panel1);
  Label1->setObjectName(QStringLiteral("Label1"));
  QFont title = Label1->font();
  title.setPointSize(10);
  title.setBold(true);
  Label1->setFont(title);
  Label1->move(8, 0);
  Label1->adjustSize();
  auto* Label2 = new QLabel(QStringLiteral(
                                "Служат для разбиение фильма на логически отдельные части.\n"
                                "Фильм проще записывать по отдельным сегментам, потом объединить в одно целое.\n"
                                "Позволяют быстро перемещатся между сегментами во время воспроизведения."),
                            Panel1);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->move(32, 16);
  Label2->adjustSize();
  layout->addWidget(Panel1);

  sgdSegments = new QTableWidget(1, 3, this);
  sgdSegments->setObjectName(QStringLiteral("sgdSegments"));
  sgdSegments->setHorizontalHeaderLabels({QStringLiteral("№"), QStringLiteral("Название"), QStringLiteral("Время")});
  sgdSegments->verticalHeader()->hide();
  sgdSegments->setColumnWidth(0, 43);
  sgdSegments->setColumnWidth(1, 430);
  sgdSegments->setColumnWidth(2, 89);
  sgdSegments->setSelectionBehavior(QAbstractItemView::SelectRows);
  sgdSegments->setSelectionMode(QAbstractItemView::ExtendedSelection);
  sgdSegments->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgdSegments->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  sgdSegments->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  sgdSegments->setShowGrid(true);
  QFont grid(QStringLiteral("Tahoma"));
  grid.setPointSize(8);
  sgdSegments->setFont(grid);
  sgdSegments->verticalHeader()->setDefaultSectionSize(18);
  layout->addWidget(sgdSegments, 1);

  auto* Panel2 = new QWidget(this);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFixedHeight(40);
  layout->addWidget(Panel2);

  ASelect = new QAction(QStringLiteral("Закрыть"), this);
  ASelect->setObjectName(QStringLiteral("ASelect"));
  ASelect->setToolTip(QStringLiteral("Выбрать и закрыть"));
  ASelect->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
  ASelect->setShortcutContext(Qt::WindowShortcut);
  addAction(ASelect);
  AHelp = new QAction(QStringLiteral("Справка..."), this);
  AHelp->setObjectName(QStringLiteral("AHelp"));
  AHelp->setToolTip(QStringLiteral("Справка"));
  AHelp->setShortcut(Qt::Key_F1);
  AHelp->setShortcutContext(Qt::WindowShortcut);
  addAction(AHelp);
  connect(ASelect, &QAction::triggered, this, &TfrmSegments::ASelectExecute);
  connect(AHelp, &QAction::triggered, this, &TfrmSegments::AHelpExecute);

  btnClose = new QPushButton(QStringLiteral("Выбрать"), Panel2);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setToolTip(QStringLiteral("Выбрать и закрыть"));
  btnClose->setGeometry(487, 8, 75, 24);
  btnClose->setAutoDefault(false);
  btnHelp = new QPushButton(QStringLiteral("Справка..."), Panel2);
  btnHelp->setObjectName(QStringLiteral("btnHelp"));
  btnHelp->setToolTip(QStringLiteral("Справка"));
  btnHelp->setGeometry(8, 8, 75, 24);
  btnHelp->setAutoDefault(false);
  connect(btnClose, &QPushButton::clicked, ASelect, &QAction::trigger);
  connect(btnHelp, &QPushButton::clicked, AHelp, &QAction::trigger);
  connect(sgdSegments, &QTableWidget::cellDoubleClicked, ASelect, &QAction::trigger);
  sgdSegments->installEventFilter(this);
}

bool TfrmSegments::eventFilter(QObject* watched, QEvent* event) {
  // sgdSegmentsKeyDown: Enter chooses the row, Esc closes without a choice.
  if (watched == sgdSegments && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      ASelect->trigger();
      return true;
    }
    if (key == Qt::Key_Escape) {
      close();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmSegments::SetRows(const std::vector<TSegmentListEntry>& entries, int arrived) {
  // The row chosen stays chosen while the rows fill in.
  const int current = sgdSegments->currentRow();
  const bool refill = arrived >= 0 && sgdSegments->rowCount() == int(entries.size());
  sgdSegments->clearContents();
  sgdSegments->setRowCount(entries.empty() ? 1 : int(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    const bool coming = arrived >= 0 && int(i) >= arrived;
    const QString cells[3] = {QString::number(i + 1), QString::fromStdString(e.Name),
                              coming ? QStringLiteral("…")
                                     : QString::fromStdString(FormatSegmentDuration(e.FrameCount, e.FrameRate))};
    for (int column = 0; column < 3; ++column) sgdSegments->setItem(int(i), column, new QTableWidgetItem(cells[column]));
  }
  sgdSegments->setCurrentCell(refill && current >= 0 ? current : 0, 0);
}

void TfrmSegments::SelectRow(int row) {
  sgdSegments->setCurrentCell(row >= 0 && row < sgdSegments->rowCount() ? row : 0, 0);
}

bool TfrmSegments::HasFirstRow() const {
  const QTableWidgetItem* cell = sgdSegments->item(0, 0);
  return cell && !cell->text().isEmpty();
}

void TfrmSegments::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  sgdSegments->setFocus();
}

void TfrmSegments::ASelectExecute() {
  emit SegmentChosen(std::max(sgdSegments->currentRow(), 0));
  close();
}

void TfrmSegments::AHelpExecute() { emit HelpRequested(QString::fromLatin1(kHelpTopic)); }
