// A window's widget or action by its object name: the windows keep their parts private, and a
// test reaches them as a user's tools do. A missing one fails the test by its name.
#pragma once

#include <QObject>
#include <QString>
#include <gtest/gtest.h>

template <typename T>
T* Child(const QObject& window, const char* name) {
  T* found = window.findChild<T*>(QString::fromUtf8(name));
  if (!found) ADD_FAILURE() << "no child named " << name;
  return found;
}
