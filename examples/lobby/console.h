// The lobby client driven by lines on standard input, reporting what
// happens as lines on standard output: for scripts, tests and terminals.
#pragma once

#include "client.h"

namespace lobby
{

// Commands: "login <user> <password>", "join <room>", "leave",
// "say <text>", "quit". Runs until "quit", a signal, or seconds > 0 pass.
int RunConsole(const ClientOptions& options, const std::string& user, const std::string& password,
               long seconds);

// The report lines both front ends print (the windowed client prints them
// too, so a test can read back what its chat box shows).
void PrintEvent(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Lines from standard input, read without waiting, once per frame. The
// end of the input leaves the program running until it is told to stop.
class InputLines
{
  public:
    InputLines();
    bool Next(std::string& line);

  private:
    std::string pending;
    bool open = true;
};

// SIGINT and SIGTERM ask the program to stop; StopRequested tells.
void CatchStopSignals();
bool StopRequested();

std::string PlayerList(const std::vector<Player>& players);
std::string RoomList(const std::vector<RoomInfo>& rooms);

} // namespace lobby
