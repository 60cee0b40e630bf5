// The lobby's windowed front end: the log-in form and the lobby window from
// the packed resource file, news fetched by FTP, music and sound effects.
#pragma once

#include "client.h"

namespace lobby
{

struct GuiOptions {
    ClientOptions client;
    std::string user, password;
    bool serverGiven = false; // --server on the command line beats the settings file
    bool autoLogin = false;   // log in at once with what the form holds
    std::string settingsFile; // remember-me, KCBL
    std::string resFile;      // the packed resources (lobby.res)
    std::string dataRoot;     // the folder the resources' file names start from
    std::string news;         // ftp://host:port/path, downloaded at start-up
    std::string musicDir;     // jukebox folder; empty: no music
    long seconds = 0;
};

int RunGui(GuiOptions& options);

} // namespace lobby
