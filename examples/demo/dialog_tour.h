// The dialog part of the main example.
#pragma once

#include <string>

// Packs the log-in form of data/gui/login.script, loads it and shows the
// dialog in the demo window, fills it in through mouse and key messages
// given to the main window as the window system would, reacts to OK (the
// status line greets the user, then a message box, closed by Enter, says
// who logged in) and saves the picture as "<folder>/dialog.bmp".
bool DialogTour(const std::string& folder);
