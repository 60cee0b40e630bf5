// The lobby programs end to end without a screen: the server and console
// clients run as child processes over loopback, as they would for players.
// The clients print every event as a line; the tests read those back.
#include "process_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

namespace
{

// Waits up to timeoutMs for the program to end; its exit code, or -1.
int WaitExit(tvtest::Program& p, int timeoutMs)
{
    int status = 0;
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (waitpid(p.pid, &status, WNOHANG) == p.pid) {
            p.Drain();
            p.pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        p.Drain();
        usleep(10000);
    }
    return -1;
}

class LobbyTest : public ::testing::Test
{
  protected:
    // Starts the server with these settings lines (KCBL text) and the ping
    // time-out shortened so that a vanished client leaves quickly.
    void StartServer(const std::string& settings, uint32_t pingTimeoutMs = 3000)
    {
        std::ofstream("lobby.kcbl") << settings;
        server = std::make_unique<tvtest::Program>(
            std::vector<std::string>{TARVEX_LOBBY_SERVER, "-c", "lobby.kcbl", "-p", "0", "-t",
                                     std::to_string(pingTimeoutMs)},
            true);
        ASSERT_TRUE(server->ReadUntil("listening on port ")) << server->output;
        size_t at = server->output.find("listening on port ") + 18;
        port = std::stoi(server->output.substr(at));
    }

    tvtest::Program& StartClient(const std::string& user, const std::string& password = "pw",
                                 std::vector<std::string> extra = {})
    {
        std::vector<std::string> args{TARVEX_LOBBY_CLIENT, "--console", "--server",
                                      "127.0.0.1:" + std::to_string(port), "--user", user,
                                      "--password", password};
        args.insert(args.end(), extra.begin(), extra.end());
        clients[user] = std::make_unique<tvtest::Program>(args, true);
        return *clients[user];
    }

    // A client logged in and in the room.
    tvtest::Program& Enter(const std::string& user, const std::string& room = "Hall")
    {
        tvtest::Program& c = StartClient(user);
        EXPECT_TRUE(c.ReadUntil("welcome " + user)) << c.output;
        c.Write("join " + room + "\n");
        EXPECT_TRUE(c.ReadUntil("joined " + room)) << c.output;
        return c;
    }

    // The chat lines a client printed, in order ("<seq> <from>: <text>").
    static std::vector<std::string> ChatLines(tvtest::Program& c)
    {
        c.Drain();
        std::vector<std::string> lines;
        std::istringstream in(c.output);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("chat ", 0) == 0)
                lines.push_back(line.substr(line.find(' ', 5) + 1));
        return lines;
    }

    // The last player list a client printed for the room.
    static std::string LastPlayers(tvtest::Program& c, const std::string& room)
    {
        c.Drain();
        std::string key = "players " + room + " ", last;
        std::istringstream in(c.output);
        for (std::string line; std::getline(in, line);)
            if (line.rfind(key, 0) == 0)
                last = line.substr(key.size());
        return last;
    }

    template <class F> static bool Eventually(F done, int timeoutMs)
    {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return done();
    }

    void TearDown() override
    {
        // Every program that is still alive must end cleanly (no leaks, no
        // sanitizer report) when told to.
        for (auto& [name, c] : clients) {
            if (c->pid <= 0 || stopped.count(name))
                continue;
            c->Write("quit\n");
            EXPECT_EQ(WaitExit(*c, 10000), 0) << name << ":\n" << c->output;
        }
        if (server != nullptr && server->pid > 0) {
            kill(server->pid, SIGTERM);
            EXPECT_EQ(WaitExit(*server, 10000), 0) << server->output;
        }
    }

    std::unique_ptr<tvtest::Program> server;
    std::map<std::string, std::unique_ptr<tvtest::Program>> clients;
    std::set<std::string> stopped; // killed or frozen by the test
    int port = 0;
};

TEST_F(LobbyTest, EveryLineReachesEveryClientOnceInOrderAndLateJoinersGetTheHistory)
{
    StartServer("room = Hall\nroom = Arena\nhistoryLines = 6\n");
    tvtest::Program& ada = Enter("ada");
    tvtest::Program& bob = Enter("bob");
    ASSERT_TRUE(Eventually([&] { return LastPlayers(ada, "Hall").find("bob") != std::string::npos; }, 10000));
    // Both talk at once, without waiting for each other's lines, one of them
    // with the characters the message text has to escape.
    for (int i = 1; i <= 4; ++i) {
        ada.Write("say ada " + std::to_string(i) + "\n");
        bob.Write("say bob " + std::to_string(i) + " \"quoted\" \\ back\n");
    }
    ASSERT_TRUE(Eventually([&] { return ChatLines(ada).size() == 8 && ChatLines(bob).size() == 8; }, 10000))
        << ada.output << bob.output;
    // Somebody in another room hears none of it.
    tvtest::Program& eve = Enter("eve", "Arena");
    // The late joiner gets the last six lines as history, then the live ones.
    tvtest::Program& cy = Enter("cy");
    ASSERT_TRUE(Eventually([&] { return ChatLines(cy).size() == 6; }, 10000)) << cy.output;
    cy.Write("say cy 1\n");
    ada.Write("say ada 5\n");
    ASSERT_TRUE(Eventually([&] { return ChatLines(ada).size() == 10 && ChatLines(cy).size() == 8; }, 10000))
        << ada.output << cy.output;
    ASSERT_TRUE(Eventually([&] { return ChatLines(bob).size() == 10; }, 10000)) << bob.output;

    std::vector<std::string> all = ChatLines(ada);
    EXPECT_EQ(ChatLines(bob), all);
    std::vector<std::string> tail(all.begin() + 2, all.end());
    EXPECT_EQ(ChatLines(cy), tail);
    EXPECT_TRUE(ChatLines(eve).empty());
    // Numbered 1..10 in the order the server took them; each speaker's lines
    // in the order they were said, each once.
    std::map<std::string, int> next{{"ada", 1}, {"bob", 1}, {"cy", 1}};
    for (size_t i = 0; i < all.size(); ++i) {
        std::istringstream line(all[i]);
        unsigned seq = 0;
        std::string who, said;
        int n = 0;
        line >> seq >> who >> said >> n;
        EXPECT_EQ(seq, i + 1) << all[i];
        who.pop_back(); // the colon
        EXPECT_EQ(said, who) << all[i];
        EXPECT_EQ(n, next[who]++) << all[i];
        if (who == "bob") {
            EXPECT_NE(all[i].find("\"quoted\" \\ back"), std::string::npos) << all[i];
        }
    }
}

// A client that is killed drops its connection at once; one that is frozen
// keeps it open and is dropped when the ping time-out passes. Either way the
// others' player lists lose it within the time-out.
TEST_F(LobbyTest, VanishedClientLeavesTheOthersPlayerListsWithinThePingTimeout)
{
    const uint32_t timeoutMs = 2000;
    StartServer("room = Hall\n", timeoutMs);
    struct Case {
        const char* name;
        int signal;
    };
    for (const Case& c : {Case{"killed", SIGKILL}, Case{"frozen", SIGSTOP}}) {
        SCOPED_TRACE(c.name);
        tvtest::Program& ada = Enter(std::string("ada_") + c.name);
        tvtest::Program& gone = Enter(c.name);
        tvtest::Program& cy = Enter(std::string("cy_") + c.name);
        auto listed = [&](tvtest::Program& p) {
            std::string players = "," + LastPlayers(p, "Hall") + ",";
            return players.find("," + std::string(c.name) + ",") != std::string::npos;
        };
        ASSERT_TRUE(Eventually([&] { return listed(ada) && listed(cy); }, 10000)) << ada.output;
        kill(gone.pid, c.signal);
        stopped.insert(c.name);
        auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(Eventually([&] { return !listed(ada) && !listed(cy); }, 3 * timeoutMs))
            << ada.output << cy.output;
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        // The time-out plus a frame or two and the trip to the others.
        EXPECT_LE(took.count(), timeoutMs + 1000);
        if (c.signal == SIGSTOP)
            kill(gone.pid, SIGKILL);
        ada.Write("leave\n");
        cy.Write("leave\n");
        ASSERT_TRUE(ada.ReadUntil("\nleft\n") && cy.ReadUntil("\nleft\n"));
    }
}

TEST_F(LobbyTest, LogInIsRefusedForTakenNamesAndWrongPasswords)
{
    StartServer("room = Hall\naccount = ada, secret\naccount = bob, hunter2\n");
    struct Case {
        const char* user;
        const char* password;
        const char* expect;
    };
    const Case cases[] = {
        {"ada", "secret", "welcome ada"},
        {"ada", "secret", "refused that name is in use"},
        {"bob", "secret", "refused wrong user name or password"},
        {"mallory", "", "refused wrong user name or password"},
        {"", "x", "refused no user name"},
        {"bob", "hunter2", "welcome bob"},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string key = std::to_string(n++) + c.user;
        std::vector<std::string> args{TARVEX_LOBBY_CLIENT, "--console", "--server",
                                      "127.0.0.1:" + std::to_string(port), "--password", c.password};
        clients[key] = std::make_unique<tvtest::Program>(args, true);
        clients[key]->Write(std::string("login ") + c.user + " " + c.password + "\n");
        EXPECT_TRUE(clients[key]->ReadUntil(c.expect)) << c.user << ": " << clients[key]->output;
    }
}

TEST_F(LobbyTest, EncryptedConnectionsWhenTheServerHasACertificate)
{
    ASSERT_TRUE(tvtest::MakeTestCertificate());
    StartServer("room = Hall\ntlsKey = key.pem\ntlsCert = cert.pem\n");
    tvtest::Program& ada = StartClient("ada", "pw", {"--tls"});
    ASSERT_TRUE(ada.ReadUntil("welcome ada")) << ada.output;
    ASSERT_TRUE(ada.ReadUntil("clock offset")) << ada.output;
}

TEST_F(LobbyTest, ServerRefusesBadSettings)
{
    std::ofstream("bad.kcbl") << "port = 70000\n";
    tvtest::Program bad({TARVEX_LOBBY_SERVER, "-c", "bad.kcbl"}, true);
    EXPECT_EQ(WaitExit(bad, 10000), 1) << bad.output;
    tvtest::Program missing({TARVEX_LOBBY_SERVER, "-c", "missing.kcbl"}, true);
    EXPECT_EQ(WaitExit(missing, 10000), 1) << missing.output;
}

} // namespace
