// The lobby client's connection and messages (see client.h).
#include "client.h"

#include <random>

namespace lobby
{

Client::~Client()
{
    if (comm != nullptr && comm->IsConnected())
        comm->Disconnect();
    clock.Exit();
    node.ExitCommNode();
    XDELETE(comm);
}

bool Client::Connect(const ClientOptions& options, std::string& error)
{
    // The token tells this client's messages apart from the others': drawn
    // from the system's entropy, so two clients started at once differ.
    token = std::random_device{}() | 1u; // never 0
    node.SetId(kLobbyNodeId);
    node.SetName(kLobbyNodeName);
    node.SetObjName("lobby client");
    clock.SetId(kClockNodeId);
    clock.SetName(ClockNodeName(token).c_str());
    clock.SetObjName("lobby clock");
    comm = XNEW(CCommRemoteClient);
    comm->SetObjName("lobby connection");
    comm->SetPacketTypes(0, 1);
    if (options.tls)
        comm->SetEncryption(1);
    bool ok = node.InitCommNode(CNODE_CLIENT) && clock.Init(0) && comm->Startup() &&
              comm->SetRemoteLocation(options.host.c_str(), options.port);
    if (ok && !options.proxyHost.empty())
        ok = comm->SetProxy(options.proxyHost.c_str(), options.proxyPort);
    ok = ok && comm->Connect();
    if (!ok) {
        error = glb->error.GetError();
        return false;
    }
    connecting = true;
    return true;
}

void Client::Login(const std::string& u, const std::string& p)
{
    user = Clean(u, kMaxName);
    password = p;
    loginPending = true;
    if (connected)
        SendLogin();
}

void Client::SendLogin()
{
    // Only once the server knows our clock node, by which it tells our
    // connection apart: the registration went out when the connection came up.
    loginPending = false;
    Send(node, [&](CKCBL& s) {
        return s.NewItem("login", KSTRING, user.c_str(), KSTRING, password.c_str(), KULONG, token, KEND);
    });
}

void Client::Join(const std::string& r)
{
    if (loggedIn)
        Send(node, [&](CKCBL& s) { return s.NewItem("join", KULONG, token, KSTRING, r.c_str(), KEND); });
}

void Client::Leave()
{
    if (loggedIn && !room.empty())
        Send(node, [&](CKCBL& s) { return s.NewItem("leave", KULONG, token, KEND); });
}

void Client::Say(const std::string& text)
{
    std::string t = Clean(text, kMaxText);
    if (loggedIn && !room.empty() && !t.empty())
        Send(node, [&](CKCBL& s) { return s.NewItem("say", KULONG, token, KSTRING, t.c_str(), KEND); });
}

void Client::Logout()
{
    if (loggedIn)
        Send(node, [&](CKCBL& s) { return s.NewItem("logout", KULONG, token, KEND); });
    loggedIn = false;
}

void Client::Frame()
{
    if (comm == nullptr)
        return;
    if (connecting) {
        if (!comm->IsConnected() && !comm->NonBlockedConnectHandler()) {
            connecting = false;
            listener.Disconnected();
            return;
        }
        if (!comm->IsConnected())
            return;
        connecting = false;
        connected = true;
        listener.Connected();
        if (loginPending)
            SendLogin();
    }
    if (!connected)
        return;
    if (!comm->IsConnected()) {
        connected = loggedIn = false;
        room.clear();
        listener.Disconnected();
        return;
    }
    int32_t timedOut = 0;
    if (comm->PingHandler(timedOut) && timedOut) {
        comm->Disconnect();
        return;
    }
    Dispatch();
    if (loggedIn && !clockDone && clock.GetState() != TDC_INVALID) {
        if (!clock.Handler()) {
            clock.Exit(); // no answer: the status line says so
        } else if (clock.IsClientDone()) {
            clockDone = true;
            int32_t off = static_cast<int32_t>(clock.GetOffset());
            clockOffset = clock.GetDiffSign() == 1 ? off : -off;
            listener.ClockMeasured();
        }
    }
    uint32_t now = xGetTime();
    if (loggedIn && xTimeDiff(lastPing, now) >= kPingEveryMs) {
        lastPing = now;
        Send(node, [&](CKCBL& s) { return s.NewItem("ping", KULONG, token, KULONG, now, KEND); });
    }
}

void Client::Dispatch()
{
    ForEachMessage(node, [&](CKCBL& k) { Handle(k); });
}

void Client::Handle(CKCBL& k)
{
    k.FirstItem();
    std::string what = k.GetKeyword() != nullptr ? k.GetKeyword() : "";
    if (what == "welcome" && Number(k, 0) == token) {
        loggedIn = true;
        colour = static_cast<int32_t>(Number(k, 1));
        listener.Welcome();
    } else if (what == "refused" && Number(k, 0) == token) {
        listener.Refused(Text(k, 1));
    } else if (what == "rooms") {
        rooms.clear();
        while (k.NextItem() && rooms.size() < kMaxListed)
            if (k.GetKeyword() != nullptr && std::string(k.GetKeyword()) == "room")
                rooms.push_back({Clean(Text(k, 0), kMaxName), static_cast<int32_t>(Number(k, 1))});
        listener.RoomsChanged();
    } else if (what == "joined" && Number(k, 0) == token) {
        room = Text(k, 1);
        lastSeq = 0;
        players.clear();
        listener.Joined();
    } else if (what == "left" && Number(k, 0) == token) {
        room.clear();
        players.clear();
        listener.Left();
    } else if (what == "players" && !room.empty() && Text(k, 0) == room) {
        players.clear();
        while (k.NextItem() && players.size() < kMaxListed)
            if (k.GetKeyword() != nullptr && std::string(k.GetKeyword()) == "player")
                players.push_back({Clean(Text(k, 0), kMaxName), static_cast<int32_t>(Number(k, 1) % kNumColours)});
        listener.PlayersChanged();
    } else if (what == "chat" && !room.empty() && Text(k, 0) == room &&
               (Number(k, 5) == 0 || Number(k, 5) == token) && Number(k, 1) > lastSeq) {
        ChatLine line{Number(k, 1), Clean(Text(k, 2), kMaxName), static_cast<int32_t>(Number(k, 3) % kNumColours),
                      Clean(Text(k, 4), kMaxText)};
        lastSeq = line.seq;
        listener.Chat(line);
    } else if (what == "pong" && Number(k, 0) == token) {
        rtt = xTimeDiff(Number(k, 1), xGetTime());
        rttKnown = true;
        listener.ClockMeasured();
    }
}

} // namespace lobby
