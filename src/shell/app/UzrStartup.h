// Start-up of the player: the command line read into the main window's place, size and state,
// the film named there opened and started, and the end of the program tied to the main window.
#pragma once

#include <QRect>
#include <QSize>
#include <string>
#include <vector>

#include "raster/URaster.h"

class TTelvoriPlayer;

// The outer bounds the main window gets for the bounds the command line asked for: no larger
// than the available area of its screen (a window larger than the screen costs memory and puts
// its controls out of reach), no smaller than the minimum, and placed inside the area so that
// its title bar can be reached. When the minimum does not fit, the top left corner stays in the
// area. Bounds that already fit are kept as they are.
QRect FitWindowBounds(const TRect& requested, const QRect& available, const QSize& minimum);

// Reads the arguments (without the program's own path), places and shows the main window and
// opens and starts the film named there, at the segment and the time asked for. Without arguments the window opens with its own
// bounds and no film. False when the command line is malformed: its message has been shown
// and the program ends (status 1) without showing the window.
bool StartPlayer(TTelvoriPlayer& player, const std::vector<std::string>& args);

// The program ends when the main window closes, whatever other windows are open: every event
// loop, nested ones included, ends with the player's exit status.
void EndWithMainWindow(TTelvoriPlayer& player);
