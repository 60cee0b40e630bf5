// Keeps SIGPIPE away while OpenSSL writes to a socket: OpenSSL writes with
// write(), which raises the signal on a closed peer. One guard per TLS call,
// on the stack. Windows has no such signal (sigpipe_win.cpp does nothing).
#pragma once

#include <cstdint>

namespace tvp
{

class SigPipeGuard
{
  public:
    SigPipeGuard();
    ~SigPipeGuard();
    SigPipeGuard(const SigPipeGuard&) = delete;
    SigPipeGuard& operator=(const SigPipeGuard&) = delete;

  private:
    // The thread's previous signal mask (a sigset_t, kept opaque here).
    alignas(8) unsigned char m_old[128] = {};
    bool m_active = false;
    bool m_wasPending = false;
};

} // namespace tvp
