// The fonts part of the main example.
#pragma once

#include <string>

// Loads the committed DejaVu Sans font, draws a title and a wrapped
// paragraph into a bitmap and saves it as "<folder>/text.bmp".
bool FontTour(const std::string& folder);
