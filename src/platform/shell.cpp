// Handing files and addresses to the desktop. The opener runs from an argument
// vector, never through a shell, so names with spaces or quotes arrive intact.
#include "platform/platform.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace tvp {

namespace {

// The classic answers of the shell's open call.
constexpr int32_t kFileNotFound = 2;
constexpr int32_t kPathNotFound = 3;
constexpr int32_t kAccessDenied = 5;
constexpr int32_t kNoAssociation = 31;
constexpr int32_t kOpened = 33;

// The desktop opener returns as soon as it has handed over; one that hangs
// is left running and reaped later.
constexpr int kWaitLimitMs = 5000;
constexpr int kWaitStepMs = 10;

const char* const kDefaultOpener = "xdg-open";

struct ShellState {
    std::mutex lock;
    std::string opener = kDefaultOpener;
    std::vector<pid_t> stragglers; // openers still running when we stopped waiting
};

ShellState& Shell()
{
    static ShellState* s = new ShellState;
    return *s;
}

// "scheme:" with a scheme of two or more characters (RFC 3986 letters).
bool IsUrl(std::string_view s)
{
    const size_t colon = s.find(':');
    if (colon == std::string_view::npos || colon < 2 || !std::isalpha(static_cast<unsigned char>(s[0])))
        return false;
    return std::all_of(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    });
}

int32_t CheckLocalFile(const std::string& file)
{
    struct stat st{};
    if (stat(file.c_str(), &st) == 0)
        return 0;
    if (errno == EACCES)
        return kAccessDenied;
    const size_t slash = file.find_last_of('/');
    if (slash == std::string::npos)
        return kFileNotFound;
    const std::string folder = slash == 0 ? "/" : file.substr(0, slash);
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? kFileNotFound : kPathNotFound;
}

void ReapStragglersLocked(ShellState& s)
{
    std::erase_if(s.stragglers, [](pid_t pid) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
    });
}

void SleepMs(int ms)
{
    // Real time even under the test clock: this waits for another process.
    timespec req{0, static_cast<long>(ms) * 1000000L};
    timespec rem{};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR)
        req = rem;
}

} // namespace

int32_t ShellOpen(const char* file, const char* params)
{
    if (file == nullptr || *file == '\0')
        return kFileNotFound;
    const std::string target = file;
    if (!IsUrl(target)) {
        if (const int32_t err = CheckLocalFile(target); err != 0)
            return err;
    }

    ShellState& s = Shell();
    std::string opener;
    {
        std::lock_guard g(s.lock);
        ReapStragglersLocked(s);
        opener = s.opener;
    }
    const std::string args = params != nullptr ? params : "";
    std::vector<char*> argv{opener.data(), const_cast<char*>(target.c_str())};
    if (!args.empty())
        argv.push_back(const_cast<char*>(args.c_str()));
    argv.push_back(nullptr);

    // The child reports a failed exec through the pipe; a successful exec
    // closes it (O_CLOEXEC) and the parent reads end-of-file.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return 0;
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return 0;
    }
    if (pid == 0) {
        close(fds[0]);
        execvp(argv[0], argv.data());
        const int err = errno;
        ssize_t ignored = write(fds[1], &err, sizeof err);
        (void)ignored;
        _exit(127);
    }
    close(fds[1]);
    int execErr = 0;
    ssize_t got;
    do {
        got = read(fds[0], &execErr, sizeof execErr);
    } while (got < 0 && errno == EINTR);
    close(fds[0]);

    int status = 0;
    for (int waited = 0;; waited += kWaitStepMs) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0) {
            // Someone else reaped it (SIGCHLD ignored): its result is unknown.
            return got > 0 ? kNoAssociation : kOpened;
        }
        if (waited >= kWaitLimitMs) {
            std::lock_guard g(s.lock);
            s.stragglers.push_back(pid);
            return got > 0 ? kNoAssociation : kOpened;
        }
        SleepMs(kWaitStepMs);
    }
    if (got > 0)
        return kNoAssociation;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kOpened : kNoAssociation;
}

void TestSetShellOpener(const char* program)
{
    ShellState& s = Shell();
    std::lock_guard g(s.lock);
    s.opener = (program != nullptr && *program != '\0') ? program : kDefaultOpener;
}

} // namespace tvp
