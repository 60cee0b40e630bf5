// tarvex_lobby: the lobby's client.
//
//   tarvex_lobby [--server host:port] [--proxy host:port] [--tls]
//                [--user name] [--password text] [--login] [--seconds n]
//                [--settings file.kcbl] [--news ftp://host:port/file]
//                [--music folder] [--res file.res] [--console]
//
// The windowed client shows the log-in form (filled from the settings file
// when "remember me" was ticked, or from --user and --password; --login
// logs in at once), then the lobby. With --console it reads commands from
// standard input and reports on standard output instead (see console.h).
#include "console.h"
#include "gui.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace
{

int Usage()
{
    std::fprintf(stderr, "usage: tarvex_lobby [--server host:port] [--proxy host:port] [--tls]\n"
                         "                    [--user name] [--password text] [--login] [--seconds n]\n"
                         "                    [--settings file.kcbl] [--news ftp://host:port/file]\n"
                         "                    [--music folder] [--res file.res] [--console]\n");
    return 2;
}

// "host:port" into its parts; false when the port is missing or out of range.
bool HostPort(const char* text, std::string& host, long& port)
{
    const char* colon = std::strrchr(text, ':');
    if (colon == nullptr || colon == text)
        return false;
    host.assign(text, colon);
    char* end = nullptr;
    port = std::strtol(colon + 1, &end, 10);
    return *end == 0 && port > 0 && port <= 65535;
}

// The folder holding rel: the working folder or one of the five above the
// program; "." when none has it.
std::string FindDataRoot(const char* rel)
{
    std::error_code ec;
    if (std::filesystem::exists(rel, ec))
        return std::filesystem::current_path(ec).string();
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (int up = 0; up < 5 && !ec && !dir.empty(); ++up, dir = dir.parent_path())
        if (std::filesystem::exists(dir / rel, ec))
            return dir.string();
    return ".";
}

std::string Absolute(const std::string& file)
{
    std::error_code ec;
    return file.empty() ? file : std::filesystem::absolute(file, ec).string();
}

} // namespace

int main(int argc, char** argv)
{
    lobby::GuiOptions gui;
    lobby::ClientOptions& options = gui.client;
    std::string& user = gui.user;
    std::string& password = gui.password;
    bool console = false;
    long& seconds = gui.seconds;
    std::error_code ec;
    std::string exeDir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
    gui.resFile = exeDir + "/lobby.res";
    gui.dataRoot = FindDataRoot("data/lobby/lobby.script");
    gui.musicDir = gui.dataRoot + "/data/sound";
    const char* home = std::getenv("HOME");
    gui.settingsFile = std::string(home != nullptr ? home : ".") + "/.tarvex-lobby.kcbl";
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        bool more = i + 1 < argc;
        long port = 0;
        if (std::strcmp(a, "--server") == 0 && more) {
            if (!HostPort(argv[++i], options.host, port))
                return Usage();
            options.port = static_cast<int32_t>(port);
            gui.serverGiven = true;
        } else if (std::strcmp(a, "--proxy") == 0 && more) {
            if (!HostPort(argv[++i], options.proxyHost, port))
                return Usage();
            options.proxyPort = static_cast<uint16_t>(port);
        } else if (std::strcmp(a, "--tls") == 0) {
            options.tls = true;
        } else if (std::strcmp(a, "--user") == 0 && more) {
            user = argv[++i];
        } else if (std::strcmp(a, "--password") == 0 && more) {
            password = argv[++i];
        } else if (std::strcmp(a, "--console") == 0) {
            console = true;
        } else if (std::strcmp(a, "--login") == 0) {
            gui.autoLogin = true;
        } else if (std::strcmp(a, "--settings") == 0 && more) {
            gui.settingsFile = Absolute(argv[++i]);
        } else if (std::strcmp(a, "--news") == 0 && more) {
            gui.news = argv[++i];
        } else if (std::strcmp(a, "--music") == 0 && more) {
            gui.musicDir = Absolute(argv[++i]);
        } else if (std::strcmp(a, "--res") == 0 && more) {
            gui.resFile = Absolute(argv[++i]);
        } else if (std::strcmp(a, "--seconds") == 0 && more) {
            seconds = std::strtol(argv[++i], nullptr, 10);
        } else {
            return Usage();
        }
    }

    static SGlobals globals;
    static SSysGlobals sysGlobals;
    glb = &globals;
    sglb = &sysGlobals;
    ThisInstance = nullptr;
    SetApplicationName("tarvex lobby");
    // The window and the sound come with xInit; the console needs neither.
    char* initArgs[] = {argv[0], nullptr};
    if (!xCreateGlobals() || (!console && !xInit(1, initArgs)) || !CommBaseStartup()) {
        std::fprintf(stderr, "start-up failed: %s\n", glb->error.GetError());
        return 1;
    }
    xSetXHandlerWaitMode(1);
    // The console answers at once; the window is drawn 40 times a second.
    SetMinimumFrameTime(console ? 10 : 25);
    int rc = console ? lobby::RunConsole(options, user, password, seconds) : lobby::RunGui(gui);
    return lobby::FinishProgram(rc, !console);
}
