// The lobby server's rooms, users and messages (see server.h).
#include "server.h"

#include <algorithm>

namespace lobby
{

namespace
{

// Connections that have not logged in after this long are closed.
constexpr uint32_t kLoginTimeMs = 30000;

} // namespace

bool ServerSettings::Load(const char* fileName, std::string& error)
{
    CKCBL* k = XNEW(CKCBL);
    if (k == nullptr || !k->Load(fileName)) {
        error = std::string("cannot read settings ") + fileName + ": " + glb->error.GetError();
        XDELETE(k);
        return false;
    }
    std::vector<std::string> roomList;
    for (int32_t ok = k->FirstItem(); ok && k->ItemExists(); ok = k->NextItem()) {
        const char* key = k->GetKeyword();
        if (key == nullptr || k->IsComment())
            continue;
        std::string name = key;
        if (name == "port")
            port = static_cast<int32_t>(Number(*k, 0));
        else if (name == "room" && !Text(*k, 0).empty())
            roomList.push_back(Clean(Text(*k, 0), kMaxName));
        else if (name == "historyLines")
            historyLines = Number(*k, 0);
        else if (name == "maxUsers")
            maxUsers = Number(*k, 0);
        else if (name == "pingTimeout")
            pingTimeoutMs = Number(*k, 0);
        else if (name == "tlsKey")
            tlsKey = Text(*k, 0);
        else if (name == "tlsCert")
            tlsCert = Text(*k, 0);
        else if (name == "account")
            accounts[Text(*k, 0)] = Text(*k, 1);
    }
    XDELETE(k);
    if (!roomList.empty())
        rooms = roomList;
    if (port < 0 || port > 65535 || pingTimeoutMs == 0) {
        error = std::string("bad settings in ") + fileName;
        return false;
    }
    return true;
}

Server::Server(const ServerSettings& s) : settings(s)
{
    for (auto& r : settings.rooms)
        rooms[r];
}

Server::~Server()
{
    for (auto& [token, user] : users)
        XDELETE(user.clock);
    for (Link* l : links) {
        XDELETE(l->comm);
        XDELETE(l);
    }
    if (listener.RemoteServerRunning())
        listener.StopListen();
}

bool Server::Start(std::string& error)
{
    listener.SetObjName("lobby listener");
    listener.SetPort(settings.port);
    if (!settings.tlsKey.empty() && !settings.tlsCert.empty())
        listener.SetEncryption(1, settings.tlsKey.c_str(), settings.tlsCert.c_str());
    listener.SetCallbackFunction(Accept, this, 0);
    node.SetId(kLobbyNodeId);
    node.SetName(kLobbyNodeName);
    node.SetObjName("lobby server");
    if (!listener.Startup() || !listener.StartListen() || !listener.NonBlockedStartListenHandler() ||
        !node.InitCommNode(CNODE_SERVER)) {
        error = glb->error.GetError();
        return false;
    }
    dprintf("lobby: listening on port %d%s, %zu rooms, ping time-out %u ms\n", Port(),
            settings.tlsKey.empty() ? "" : " (TLS)", rooms.size(), settings.pingTimeoutMs);
    return true;
}

int32_t Server::Accept(CCommRemoteServerBase* s, void* self, int32_t)
{
    return static_cast<Server*>(self)->Accept(s);
}

int32_t Server::Accept(CCommRemoteServerBase* s)
{
    // Room for every user and as many again still logging in.
    if (links.size() >= 2 * static_cast<size_t>(settings.maxUsers) + 4) {
        dprintf("lobby: connection refused, %zu connections open\n", links.size());
        return FALSE;
    }
    auto* link = XNEW(Link);
    link->comm = XNEW(CCommRemoteClient);
    link->since = xGetTime();
    CCommRemoteClient* c = link->comm;
    c->SetObjName("lobby client ", static_cast<uint32_t>(links.size()));
    c->SetPacketTypes(0, 1);
    // Clients talk to the server only: what one announces is not passed on
    // to the others, so their lists of the far side's nodes stay small.
    c->SetNeverRouteNode_From_Client(1);
    if (!c->Startup() || !c->SetConnectFromServer(s)) {
        dprintf("lobby: connection not taken: %s\n", glb->error.GetError());
        XDELETE(link->comm);
        XDELETE(link);
        return FALSE;
    }
    links.push_back(link);
    dprintf("lobby: connection %zu accepted\n", links.size());
    return TRUE;
}

void Server::Frame()
{
    listener.NonBlockedHandler();
    uint32_t now = xGetTime();
    for (Link* l : links) {
        int32_t timedOut = 0;
        if (l->comm->IsConnected() && l->comm->PingHandler(timedOut) && timedOut) {
            dprintf("lobby: connection of user %u stopped answering pings\n", l->token);
            l->comm->Disconnect();
        }
        if (l->token == 0 && xTimeDiff(l->since, now) > kLoginTimeMs && l->comm->IsConnected())
            l->comm->Disconnect();
    }
    Dispatch();
    for (auto& [token, user] : users)
        if (user.clock != nullptr && user.clock->GetState() != TDS_FINISHED)
            user.clock->Handler();
    now = xGetTime();
    std::vector<uint32_t> silent;
    for (auto& [token, user] : users)
        if (xTimeDiff(user.lastHeard, now) > settings.pingTimeoutMs)
            silent.push_back(token);
    for (uint32_t t : silent)
        Drop(t, "timed out");
    DropLinks();
}

void Server::Dispatch()
{
    ForEachMessage(node, [&](CKCBL& k) { Handle(k); });
}

void Server::Handle(CKCBL& k)
{
    k.FirstItem();
    std::string what = k.GetKeyword() != nullptr ? k.GetKeyword() : "";
    if (what == "login") {
        Login(Number(k, 2), Clean(Text(k, 0), kMaxName), Text(k, 1));
        return;
    }
    uint32_t token = Number(k, 0);
    auto u = users.find(token);
    if (u == users.end())
        return;
    User& user = u->second;
    user.lastHeard = xGetTime();
    if (what == "join") {
        Join(user, token, Text(k, 1));
    } else if (what == "leave") {
        LeaveRoom(user, token, true);
        SendRooms();
    } else if (what == "say") {
        Say(user, Clean(Text(k, 1), kMaxText));
    } else if (what == "ping") {
        uint32_t t = Number(k, 1);
        Send(node, [&](CKCBL& s) { return s.NewItem("pong", KULONG, token, KULONG, t, KEND); });
    } else if (what == "logout") {
        Drop(token, "logged out");
    }
}

Server::Link* Server::FindLink(uint32_t token)
{
    std::string clock = ClockNodeName(token);
    for (Link* l : links)
        if (l->token == 0 && l->comm->IsConnected() &&
            l->comm->HasOtherSideNode(clock.c_str(), static_cast<uint32_t>(clock.size()), kClockNodeId,
                                      CNODE_SERVER))
            return l;
    return nullptr;
}

void Server::Login(uint32_t token, const std::string& name, const std::string& password)
{
    auto refuse = [&](const char* reason) {
        dprintf("lobby: log-in of \"%s\" refused: %s\n", name.c_str(), reason);
        Send(node, [&](CKCBL& s) { return s.NewItem("refused", KULONG, token, KSTRING, reason, KEND); });
    };
    Link* link = token != 0 ? FindLink(token) : nullptr;
    if (link == nullptr || users.count(token) != 0) {
        // Not a client of ours, or a repeated log-in.
        dprintf("lobby: log-in of \"%s\" ignored: no connection announced its clock node\n", name.c_str());
        return;
    }
    if (name.empty())
        return refuse("no user name");
    if (users.size() >= settings.maxUsers)
        return refuse("the lobby is full");
    for (auto& [t, u] : users)
        if (u.name == name)
            return refuse("that name is in use");
    if (!settings.accounts.empty()) {
        auto a = settings.accounts.find(name);
        if (a == settings.accounts.end() || a->second != password)
            return refuse("wrong user name or password");
    }
    User& user = users[token];
    user.name = name;
    user.colour = nextColour;
    nextColour = (nextColour + 1) % kNumColours;
    user.lastHeard = xGetTime();
    user.link = link;
    link->token = token;
    user.clock = XNEW(CTimeDiffServer);
    user.clock->SetId(kClockNodeId);
    user.clock->SetName(ClockNodeName(token).c_str());
    user.clock->SetObjName("lobby clock");
    if (!user.clock->Init(0)) {
        dprintf("lobby: clock service for \"%s\" not started: %s\n", name.c_str(), user.clock->GetErrorMsg());
        XDELETE(user.clock);
    }
    dprintf("lobby: \"%s\" logged in (%zu users)\n", name.c_str(), users.size());
    int32_t colour = user.colour;
    Send(node, [&](CKCBL& s) { return s.NewItem("welcome", KULONG, token, KLONG, colour, KEND); });
    SendRooms();
}

void Server::Join(User& user, uint32_t token, const std::string& roomName)
{
    auto r = rooms.find(roomName);
    if (r == rooms.end() || user.room == roomName)
        return;
    LeaveRoom(user, token, false);
    user.room = roomName;
    dprintf("lobby: \"%s\" joined %s\n", user.name.c_str(), roomName.c_str());
    Send(node, [&](CKCBL& s) { return s.NewItem("joined", KULONG, token, KSTRING, roomName.c_str(), KEND); });
    for (const Line& line : r->second.history)
        SendChat(roomName, line, token);
    SendPlayers(roomName);
    SendRooms();
}

void Server::LeaveRoom(User& user, uint32_t token, bool tell)
{
    if (user.room.empty())
        return;
    std::string room = user.room;
    user.room.clear();
    dprintf("lobby: \"%s\" left %s\n", user.name.c_str(), room.c_str());
    if (tell)
        Send(node, [&](CKCBL& s) { return s.NewItem("left", KULONG, token, KEND); });
    SendPlayers(room);
}

void Server::Say(User& user, const std::string& text)
{
    if (user.room.empty() || text.empty())
        return;
    Room& room = rooms[user.room];
    Line line{room.nextSeq++, user.name, user.colour, text};
    room.history.push_back(line);
    while (room.history.size() > settings.historyLines)
        room.history.pop_front();
    SendChat(user.room, line, 0);
}

void Server::Drop(uint32_t token, const char* why)
{
    auto u = users.find(token);
    if (u == users.end())
        return;
    User& user = u->second;
    dprintf("lobby: \"%s\" %s\n", user.name.c_str(), why);
    std::string room = user.room;
    XDELETE(user.clock);
    if (user.link != nullptr) {
        user.link->token = 0;
        if (user.link->comm->IsConnected())
            user.link->comm->Disconnect();
    }
    users.erase(u);
    if (!room.empty())
        SendPlayers(room);
    SendRooms();
}

void Server::DropLinks()
{
    for (size_t i = 0; i < links.size();) {
        Link* l = links[i];
        if (l->comm->IsConnected()) {
            ++i;
            continue;
        }
        if (l->token != 0) {
            auto u = users.find(l->token);
            if (u != users.end())
                u->second.link = nullptr;
            Drop(l->token, "disconnected");
        }
        links.erase(links.begin() + static_cast<std::ptrdiff_t>(i));
        XDELETE(l->comm);
        XDELETE(l);
    }
}

void Server::SendRooms()
{
    Send(node, [&](CKCBL& s) {
        if (!s.NewItem("rooms", KEND))
            return false;
        // In the order of the settings.
        for (const std::string& name : settings.rooms) {
            int32_t count = 0;
            for (auto& [t, u] : users)
                count += u.room == name;
            if (!s.NewItem("room", KSTRING, name.c_str(), KLONG, count, KEND))
                return false;
        }
        return true;
    });
}

void Server::SendPlayers(const std::string& room)
{
    Send(node, [&](CKCBL& s) {
        if (!s.NewItem("players", KSTRING, room.c_str(), KEND))
            return false;
        std::vector<const User*> in;
        for (auto& [t, u] : users)
            if (u.room == room)
                in.push_back(&u);
        std::sort(in.begin(), in.end(), [](const User* a, const User* b) { return a->name < b->name; });
        for (const User* u : in)
            if (!s.NewItem("player", KSTRING, u->name.c_str(), KLONG, u->colour, KEND))
                return false;
        return true;
    });
}

void Server::SendChat(const std::string& room, const Line& line, uint32_t to)
{
    Send(node, [&](CKCBL& s) {
        return s.NewItem("chat", KSTRING, room.c_str(), KULONG, line.seq, KSTRING, line.from.c_str(), KLONG,
                         line.colour, KSTRING, line.text.c_str(), KULONG, to, KEND);
    });
}

} // namespace lobby
