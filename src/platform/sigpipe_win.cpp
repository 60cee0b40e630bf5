// Windows raises no signal for a write to a closed socket: nothing to guard.
#include "platform/sigpipe.h"

namespace tvp
{

SigPipeGuard::SigPipeGuard() = default;
SigPipeGuard::~SigPipeGuard() = default;

} // namespace tvp
