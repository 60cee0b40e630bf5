// The GUI part of the main example.
#pragma once

#include <string>

// Packs data/gui/sample.script into "<folder>/sample.res", loads it with the
// GUI root in place and opens its two windows on a 640x480 16-bit screen;
// then, through mouse messages given to the main window as the window system
// would, raises the back one, drags it by its title bar and closes the other
// with its close box; saves the last picture as "<folder>/gui.bmp".
bool GuiTour(const std::string& folder);
