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
std::string PlayerList(const std::vector<Player>& players);
std::string RoomList(const std::vector<RoomInfo>& rooms);

} // namespace lobby
