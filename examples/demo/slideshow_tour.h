// The slide-show part of the main example.
#pragma once

#include <string>

// Opens a 640 x 480 24-bit window, runs a slide show of three generated
// pictures (a cut, then cross-fades) for a few seconds of frames, switches
// to the full-screen screen and back on the way (the F key, or by itself
// half way), saves what the full-screen page showed as
// "<folder>/fullscreen.bmp" and the last frame as "<folder>/slideshow.bmp".
// True when every step worked.
bool SlideShowTour(const std::string& folder);
