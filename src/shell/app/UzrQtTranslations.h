// Qt's own words in Russian: the buttons of message boxes and dialog button boxes, the file
// dialog, the context menus of text fields. The interface is Russian whatever the system's
// locale, so Qt's translations are loaded for Russian always.
#pragma once

class QCoreApplication;

// Loads Qt's Russian translations (qtbase_ru.qm, from the folder QLibraryInfo names) into a
// translator owned by `app`, before any window is made. False, with Qt speaking English, when
// they are not installed.
bool InstallQtTranslations(QCoreApplication& app);
