// A message for the user, as the windows show it in a box.
#pragma once

#include <QMessageBox>
#include <QString>

// A Russian text, and the internal English message as details.
struct TUserMessage {
  QMessageBox::Icon Icon = QMessageBox::NoIcon;
  QString Text;
  QString Details;
};
