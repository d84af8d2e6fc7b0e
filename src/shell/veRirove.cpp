// Program entry. For now: a window that names the film it was started on.
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("veRirove"));
  QString film;
  if (argc > 1) film = QFileInfo(QString::fromLocal8Bit(argv[1])).fileName();
  auto* label = new QLabel(film.isEmpty() ? QStringLiteral("veRirove") : film, &window);
  label->setAlignment(Qt::AlignCenter);
  window.setCentralWidget(label);
  window.resize(800, 600);
  window.show();
  return app.exec();
}
