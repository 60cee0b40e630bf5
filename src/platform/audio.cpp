// The audio output probe of the sound module, before it opens the device.
#include "platform.h"

#include <SDL.h>

namespace tvp
{

bool AudioProbe(int32_t* why)
{
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        if (why != nullptr)
            *why = 1;
        return false;
    }
    bool ok = SDL_GetCurrentAudioDriver() != nullptr;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    if (!ok && why != nullptr)
        *why = 2;
    return ok;
}

} // namespace tvp
