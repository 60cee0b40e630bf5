// The main example's sound stop: a generated melody and an effect.
#pragma once

#include <string>

// Plays a melody written as a MIDI file in folder and an effect that
// overlaps itself, running frames meanwhile. Without any audio output (no
// display and no SDL_AUDIODRIVER) SDL's disk driver writes the sound to
// folder/sound.raw. False when the device is there but playing fails.
bool SoundTour(const std::string& folder);
