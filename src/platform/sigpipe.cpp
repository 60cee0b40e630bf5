// While a TLS call runs, SIGPIPE is blocked for this thread; a SIGPIPE it
// caused is taken from the pending set before the mask returns, so the
// application's own handling of the signal is untouched.
#include "platform/sigpipe.h"

#include <csignal>
#include <ctime>
#include <pthread.h>

namespace tvp
{

static_assert(sizeof(sigset_t) <= sizeof(unsigned char[128]), "the saved mask must fit");

SigPipeGuard::SigPipeGuard()
{
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    m_wasPending = sigismember(&pending, SIGPIPE) == 1;
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGPIPE);
    m_active = pthread_sigmask(SIG_BLOCK, &block, reinterpret_cast<sigset_t*>(m_old)) == 0;
}

SigPipeGuard::~SigPipeGuard()
{
    if (!m_active)
        return;
    if (!m_wasPending) {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1) {
            sigset_t only;
            sigemptyset(&only);
            sigaddset(&only, SIGPIPE);
            timespec zero{0, 0};
            sigtimedwait(&only, nullptr, &zero);
        }
    }
    pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(m_old), nullptr);
}

} // namespace tvp
