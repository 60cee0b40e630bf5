// The sprite part of the main example: sprites over the windowed screen,
// moved by the keyboard and the mouse, with text drawn on the screen.
#pragma once

#include <string>

// Opens a 640 x 480 16-bit window (offscreen when there is no display) over
// a persistent background; an animated sprite walks where the arrow keys
// send it, a second one follows the mouse, and a line of text is drawn each
// frame. Key and mouse messages are handed to the main window's procedure
// as the window system would deliver them. The last frame shown is saved as
// "<folder>/sprites.bmp". True when every step worked.
bool SpriteTour(const std::string& folder);
