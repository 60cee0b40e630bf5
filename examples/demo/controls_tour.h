// The standard-controls part of the main example.
#pragma once

#include <string>

// A window with a check box, a radio group, a progress bar, a scrolling
// text and an OK button whose handler destroys the window; the mouse checks
// the box, picks a radio button and clicks OK. Saves the picture before the
// click as "<folder>/controls.bmp".
bool ControlsTour(const std::string& folder);
