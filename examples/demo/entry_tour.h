// The edit field, slider and list part of the main example.
#pragma once

#include <string>

// Opens a window with an edit field, a slider, a list box and a combo box on
// a 640x480 16-bit screen; types a name, clicks an entry, moves the slider
// and picks from the combo box through the main window procedure as the
// window system would; saves the picture as "<folder>/entry.bmp".
bool EntryTour(const std::string& folder);
