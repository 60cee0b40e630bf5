// The lobby server: a remote comm server whose accepted connections form a
// hub around one SERVER node, with users, rooms and a bounded chat history,
// and a clock-difference server for each logged-in client. Everything runs
// in the caller's frames (Frame once per frame after xHandler).
#pragma once

#include "protocol.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace lobby
{

struct ServerSettings {
    int32_t port = kDefaultPort;
    std::vector<std::string> rooms{"Hall"};
    uint32_t historyLines = 50;   // kept per room and sent to a joiner
    uint32_t maxUsers = 64;       // logged-in users at once
    uint32_t pingTimeoutMs = 30000; // a client not heard from for this long is dropped
    std::string tlsKey, tlsCert;  // both set: connections are encrypted
    std::map<std::string, std::string> accounts; // empty: any name not in use
    // Reads a KCBL settings file: port, room (one item per room),
    // historyLines, maxUsers, pingTimeout, tlsKey, tlsCert, account
    // (name, password). Missing items keep their defaults.
    bool Load(const char* fileName, std::string& error);
};

class Server
{
  public:
    explicit Server(const ServerSettings& settings);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool Start(std::string& error);
    void Frame();
    int32_t Port() const { return listener.GetBoundPort(); }
    size_t NumUsers() const { return users.size(); }
    size_t NumLinks() const { return links.size(); }
    // One message from a client, as received (see protocol.h).
    void Handle(CKCBL& message);

  private:
    struct Link {
        CCommRemoteClient* comm = nullptr;
        uint32_t token = 0; // 0 until its user logs in
        uint32_t since = 0;
    };
    struct User {
        std::string name;
        std::string room;
        int32_t colour = 0;
        uint32_t lastHeard = 0;
        Link* link = nullptr;
        CTimeDiffServer* clock = nullptr;
    };
    struct Line {
        uint32_t seq;
        std::string from;
        int32_t colour;
        std::string text;
    };
    struct Room {
        uint32_t nextSeq = 1;
        std::deque<Line> history;
    };

    static int32_t Accept(CCommRemoteServerBase* s, void* self, int32_t);
    int32_t Accept(CCommRemoteServerBase* s);
    void Dispatch();
    void Login(uint32_t token, const std::string& name, const std::string& password);
    void Join(User& user, uint32_t token, const std::string& room);
    void LeaveRoom(User& user, uint32_t token, bool tell);
    void Say(User& user, const std::string& text);
    void Drop(uint32_t token, const char* why);
    void DropLinks();
    void SendRooms();
    void SendPlayers(const std::string& room);
    void SendChat(const std::string& room, const Line& line, uint32_t to);
    Link* FindLink(uint32_t token);

    ServerSettings settings;
    CCommRemoteServer listener;
    CCommNode node;
    std::vector<Link*> links;
    std::map<uint32_t, User> users;
    std::map<std::string, Room> rooms;
    int32_t nextColour = 0;
};

} // namespace lobby
