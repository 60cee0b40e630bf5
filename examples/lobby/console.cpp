// The lobby's console front end (see console.h).
#include "console.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace lobby
{

namespace
{

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

class Printer : public Listener
{
  public:
    Client* client = nullptr;
    void Connected() override { PrintEvent("connected"); }
    void Disconnected() override { PrintEvent("disconnected (%s)", glb->error.GetError()); }
    void Welcome() override { PrintEvent("welcome %s colour %d", client->UserName().c_str(), client->Colour()); }
    void Refused(const std::string& reason) override { PrintEvent("refused %s", reason.c_str()); }
    void RoomsChanged() override { PrintEvent("rooms %s", RoomList(client->Rooms()).c_str()); }
    void Joined() override { PrintEvent("joined %s", client->Room().c_str()); }
    void Left() override { PrintEvent("left"); }
    void PlayersChanged() override
    {
        PrintEvent("players %s %s", client->Room().c_str(), PlayerList(client->Players()).c_str());
    }
    void Chat(const ChatLine& l) override
    {
        PrintEvent("chat %s %u %s: %s", client->Room().c_str(), l.seq, l.from.c_str(), l.text.c_str());
    }
    void ClockMeasured() override
    {
        if (client->ClockMeasured() && client->RoundTripMeasured() && !told) {
            told = true;
            PrintEvent("clock offset %d ms round trip %u ms", client->ClockOffset(), client->RoundTrip());
        }
    }
    bool told = false;
};

void Command(Client& client, const std::string& line)
{
    size_t space = line.find(' ');
    std::string verb = line.substr(0, space);
    std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (verb == "login") {
        size_t s = rest.find(' ');
        client.Login(rest.substr(0, s), s == std::string::npos ? "" : rest.substr(s + 1));
    } else if (verb == "join") {
        client.Join(rest);
    } else if (verb == "leave") {
        client.Leave();
    } else if (verb == "say") {
        client.Say(rest);
    } else if (verb == "quit") {
        g_stop = 1;
    }
}

} // namespace

InputLines::InputLines() { fcntl(0, F_SETFL, fcntl(0, F_GETFL) | O_NONBLOCK); }

bool InputLines::Next(std::string& line)
{
    char buffer[512];
    ssize_t n = 0;
    while (open && (n = read(0, buffer, sizeof buffer)) > 0)
        pending.append(buffer, static_cast<size_t>(n));
    if (n == 0)
        open = false;
    size_t nl = pending.find('\n');
    if (nl == std::string::npos)
        return false;
    line = pending.substr(0, nl);
    pending.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

void CatchStopSignals()
{
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() { return g_stop != 0; }

void PrintEvent(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::putchar('\n');
    std::fflush(stdout);
}

std::string PlayerList(const std::vector<Player>& players)
{
    std::string s;
    for (auto& p : players)
        s += (s.empty() ? "" : ",") + p.name;
    return s;
}

std::string RoomList(const std::vector<RoomInfo>& rooms)
{
    std::string s;
    for (auto& r : rooms)
        s += (s.empty() ? "" : " ") + r.name + ":" + std::to_string(r.players);
    return s;
}

int RunConsole(const ClientOptions& options, const std::string& user, const std::string& password, long seconds)
{
    CatchStopSignals();
    InputLines input;
    Printer printer;
    auto* client = XNEW(Client, printer);
    printer.client = client;
    std::string error;
    int rc = 0;
    if (!client->Connect(options, error)) {
        std::fprintf(stderr, "lobby: cannot connect: %s\n", error.c_str());
        rc = 1;
    }
    if (!user.empty())
        client->Login(user, password);
    uint32_t start = xGetTime();
    while (rc == 0 && !g_stop && (seconds <= 0 || xTimeDiff(start, xGetTime()) < seconds * 1000u)) {
        xHandler();
        client->Frame();
        for (std::string line; input.Next(line);)
            Command(*client, line);
    }
    client->Logout();
    // Let the good-bye reach the server.
    for (int i = 0; i < 20; ++i)
        xHandler();
    XDELETE(client);
    return rc;
}

} // namespace lobby
