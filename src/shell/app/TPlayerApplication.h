// The application object: Qt's own words in Russian, and a failure that escapes an event
// handler anywhere reaches the main window's handler instead of ending the program.
#pragma once

#include <QApplication>
#include <functional>

#include "shell/app/UzrQtTranslations.h"

class TPlayerApplication : public QApplication {
 public:
  TPlayerApplication(int& argc, char** argv) : QApplication(argc, argv) { InstallQtTranslations(*this); }

  std::function<void(const QString&)> OnException;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      Report(QString::fromUtf8(e.what()));
    } catch (...) {
      Report(QStringLiteral("Unknown failure"));
    }
    return false;
  }

 private:
  void Report(const QString& message) {
    if (OnException) OnException(message);
  }
};
