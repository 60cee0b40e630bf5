// The main example's stop at the keyboard and the mouse.
#pragma once

// Types "Hi!" and clicks into the main window as the window system would
// report it, and shows what the keyboard queue and the mouse then hold.
bool InputTour();
