// Where the program's data files (the help file, the About picture) are: beside the program
// when it runs from its build folder, and in the data folder <prefix>/share/veRirove when it
// is installed as <prefix>/bin/veRirove (only programs go into bin/).
#pragma once

#include <QString>

// The data folder for a program in `programFolder`: `programFolder`/../share/veRirove when
// that is a folder, else `programFolder` itself.
QString ProgramDataFolder(const QString& programFolder);
// The data folder of the running program.
QString ProgramDataFolder();
