// The screen part of the main example: a window with a moving picture.
#pragma once

#include <string>

// Opens a 640 x 480 16-bit window (offscreen when there is no display),
// shows about a second and a half of a moving picture drawn with the
// primitives and the polygon rasteriser, and saves the last frame shown as
// "<folder>/screen.bmp". True when every step worked.
bool ScreenTour(const std::string& folder);
