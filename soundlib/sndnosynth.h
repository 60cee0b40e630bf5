// The synthesiser calls of sndmidi.cpp for a build without FluidSynth (the
// Windows build, where it is not available): settings cannot be made, so
// opening a MIDI driver fails with its usual message and nothing else is
// ever reached. Digital output, samples and streams are unaffected.
#pragma once

struct fluid_settings_t;
struct fluid_synth_t;

enum { FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG };

inline void fluid_set_log_function(int, void*, void*) {}
inline fluid_settings_t* new_fluid_settings() { return nullptr; }
inline void delete_fluid_settings(fluid_settings_t*) {}
inline int fluid_settings_setnum(fluid_settings_t*, const char*, double) { return -1; }
inline int fluid_settings_setint(fluid_settings_t*, const char*, int) { return -1; }
inline fluid_synth_t* new_fluid_synth(fluid_settings_t*) { return nullptr; }
inline void delete_fluid_synth(fluid_synth_t*) {}
inline int fluid_synth_sfload(fluid_synth_t*, const char*, int) { return -1; }
inline int fluid_synth_sfunload(fluid_synth_t*, int, int) { return -1; }
inline int fluid_synth_noteon(fluid_synth_t*, int, int, int) { return -1; }
inline int fluid_synth_noteoff(fluid_synth_t*, int, int) { return -1; }
inline int fluid_synth_key_pressure(fluid_synth_t*, int, int, int) { return -1; }
inline int fluid_synth_cc(fluid_synth_t*, int, int, int) { return -1; }
inline int fluid_synth_program_change(fluid_synth_t*, int, int) { return -1; }
inline int fluid_synth_channel_pressure(fluid_synth_t*, int, int) { return -1; }
inline int fluid_synth_pitch_bend(fluid_synth_t*, int, int) { return -1; }
inline int fluid_synth_all_notes_off(fluid_synth_t*, int) { return -1; }
inline int fluid_synth_system_reset(fluid_synth_t*) { return -1; }
inline int fluid_synth_write_float(fluid_synth_t*, int, void*, int, int, void*, int, int) { return -1; }
