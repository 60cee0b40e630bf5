// The FTP part of the demo tour. A local pyftpdlib server (started here as a
// child process on a free loopback port) serves a generated file; the
// polling client downloads it one Update per frame, with a raised byte
// budget so the paced frames still move data quickly, and a progress line
// shows percent, bytes and speed. The copy is compared with the original.
#include "ftp_tour.h"

#include <tarvex/tarvex.h>

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32

namespace
{

using ServerId = int;

// Windows has no fork to start the server with: the one named by
// TARVEX_DEMO_FTP_PORT is used, serving the folder the tour writes to
// (scripts/windows.sh runs pyftpdlib so on the Linux side of Wine).
bool HaveServer(const std::string& served)
{
    if (std::getenv("TARVEX_DEMO_FTP_PORT") != nullptr)
        return true;
    std::printf(
        "ftp: skipped on Windows (no server: TARVEX_DEMO_FTP_PORT names the port of a local FTP server "
        "serving %s)\n",
        served.c_str());
    return false;
}

bool StartServer(const std::string&, uint16_t& port, ServerId&)
{
    port = static_cast<uint16_t>(std::atoi(std::getenv("TARVEX_DEMO_FTP_PORT")));
    return port != 0;
}

void StopServer(ServerId) {}

} // namespace

#else

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

using ServerId = pid_t;
constexpr const char* kPython = "/usr/bin/python3";

bool HaveServer(const std::string&)
{
    if (access(kPython, X_OK) == 0 &&
        std::system("/usr/bin/python3 -c 'import pyftpdlib' >/dev/null 2>&1") == 0)
        return true;
    std::printf("ftp: skipped (no local FTP server: pyftpdlib is not installed)\n");
    return false;
}

uint16_t FreePort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

bool Accepting(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// Starts pyftpdlib on a free loopback port and waits until it accepts.
bool StartServer(const std::string& dir, uint16_t& port, ServerId& pid)
{
    port = FreePort();
    std::string portText = std::to_string(port);
    pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        execl(kPython, kPython, "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", portText.c_str(), "-d",
              dir.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; pid > 0 && i < 250 && !Accepting(port); ++i)
        usleep(20000);
    return pid > 0 && Accepting(port);
}

void StopServer(ServerId pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

} // namespace

#endif

namespace
{
constexpr uint32_t kFileSize = 1u << 20;
} // namespace

bool FtpTour(const std::string& folder)
{
    std::string served = folder + "/ftp-served";
    if (!HaveServer(served))
        return true;
    std::string original = served + "/tour.bin";
    std::string copy = folder + "/ftp-got/tour.bin";
    auto* bytes = static_cast<uint8_t*>(XALLOC(kFileSize));
    for (uint32_t i = 0; i < kFileSize; ++i)
        bytes[i] = static_cast<uint8_t>((i * 131 + 7) % 251);
    xCreateDirsForFile(original.c_str());
    bool ok = xWriteFile(original.c_str(), bytes, kFileSize) != 0;
    XFREE(bytes);

    uint16_t port = 0;
    ServerId server = 0;
    ok = ok && StartServer(served, port, server);

    CFtpClient* client = XNEW(CFtpClient, 0);
    const uint32_t start = xGetTime();
    if (ok) {
        client->SetPassiveMode();
        client->SetUpdateByteBudget(64 * 1024);
        ok = client->Startup() && client->Connect("127.0.0.1", port) && client->SetLoginName("anonymous") &&
             client->SetLoginPassword("demo@") && client->RetrieveFile(copy.c_str(), "tour.bin");
    }
    // Frames until the note arrives (at most about 20 seconds).
    int lastShown = -1;
    while (ok && !client->IsDownloadedNote() && xTimeDiff(start, xGetTime()) < 20000) {
        xHandler();
        if (!client->Update())
            ok = false;
        if (client->IsDownloading()) {
            uint32_t got = client->GetDownloadBytesTransfered();
            int percent = static_cast<int>(static_cast<uint64_t>(got) * 100 / kFileSize);
            if (percent != lastShown) {
                std::printf("\rftp: downloading tour.bin %3d%% %7u of %u bytes, %d KB/s", percent, got,
                            kFileSize, client->GetDownloadSpeed() / 1024);
                std::fflush(stdout);
                lastShown = percent;
            }
        }
    }
    char *local = nullptr, *remote = nullptr;
    ok = ok && client->IsDownloadedNote() && client->GetDownloadedNote(0, 0, 0, local, remote);
    uint32_t size = 0;
    bool same = ok && xFileSize(local, &size) && size == kFileSize;
    if (same) {
        uint32_t a = 0, b = 0;
        same =
            xCalcFileCrc(local, &a, 0x04C11DB7) && xCalcFileCrc(original.c_str(), &b, 0x04C11DB7) && a == b;
    }
    std::printf("\rftp: downloading tour.bin 100%% %7u of %u bytes              \n", size, kFileSize);
    std::printf("ftp: %s from 127.0.0.1:%u to %s in %u ms, %s\n", remote != nullptr ? remote : "(none)", port,
                local != nullptr ? local : "(none)", xTimeDiff(start, xGetTime()),
                same ? "identical to the server's copy" : "FAILED");
    if (!ok) {
        char *text = nullptr, *function = nullptr;
        client->FtpGetErrorTxt(text, function);
        std::printf("ftp: error: %s (%s)\n", text != nullptr ? text : "?",
                    function != nullptr ? function : "?");
    }
    if (local != nullptr)
        XFREE(local);
    if (remote != nullptr)
        XFREE(remote);
    client->Closedown();
    XDELETE(client);
    StopServer(server);
    return same;
}
