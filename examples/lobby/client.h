// The lobby client without a screen: connects (directly or through a relay
// proxy), logs in, lists, joins and leaves rooms, chats, keeps the player
// list, measures the clock offset to the server and the round trip. The
// console front end and the windowed one both sit on it and learn what
// happened through the Listener.
#pragma once

#include "protocol.h"

#include <string>
#include <vector>

namespace lobby
{

struct ClientOptions {
    std::string host = "127.0.0.1";
    int32_t port = kDefaultPort;
    std::string proxyHost; // empty: connect directly
    uint16_t proxyPort = 0;
    bool tls = false;
};

struct RoomInfo {
    std::string name;
    int32_t players;
};

struct Player {
    std::string name;
    int32_t colour;
};

struct ChatLine {
    uint32_t seq;
    std::string from;
    int32_t colour;
    std::string text;
};

class Listener
{
  public:
    virtual ~Listener() = default;
    virtual void Connected() {}
    virtual void Disconnected() {}
    virtual void Welcome() {}
    virtual void Refused(const std::string& /*reason*/) {}
    virtual void RoomsChanged() {}
    virtual void Joined() {}
    virtual void Left() {}
    virtual void PlayersChanged() {}
    virtual void Chat(const ChatLine& /*line*/) {}
    virtual void ClockMeasured() {}
};

class Client
{
  public:
    explicit Client(Listener& listener) : listener(listener) {}
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Starts connecting; Frame carries on from there.
    bool Connect(const ClientOptions& options, std::string& error);
    // Once per frame, after xHandler.
    void Frame();

    // Sent as soon as the connection is up.
    void Login(const std::string& user, const std::string& password);
    void Join(const std::string& room);
    void Leave();
    void Say(const std::string& text);
    void Logout();

    bool IsConnected() const { return connected; }
    bool IsLoggedIn() const { return loggedIn; }
    const std::string& UserName() const { return user; }
    int32_t Colour() const { return colour; }
    const std::string& Room() const { return room; }
    const std::vector<RoomInfo>& Rooms() const { return rooms; }
    const std::vector<Player>& Players() const { return players; }
    // Clock offset of the server's clock against ours (ms, positive: ahead)
    // and the last round trip; measured says whether they are known yet.
    bool ClockMeasured() const { return clockDone; }
    int32_t ClockOffset() const { return clockOffset; }
    bool RoundTripMeasured() const { return rttKnown; }
    uint32_t RoundTrip() const { return rtt; }
    // One message from the server, as received (see protocol.h).
    void Handle(CKCBL& message);

  private:
    void Dispatch();
    void SendLogin();

    Listener& listener;
    CCommRemoteClient* comm = nullptr;
    CCommNode node;
    CTimeDiffClient clock;
    uint32_t token = 0;
    bool connecting = false, connected = false, loggedIn = false, loginPending = false;
    bool clockDone = false, rttKnown = false;
    int32_t clockOffset = 0;
    uint32_t rtt = 0, lastPing = 0;
    int32_t colour = 0;
    std::string user, password, room;
    uint32_t lastSeq = 0; // of the room we are in
    std::vector<RoomInfo> rooms;
    std::vector<Player> players;
};

} // namespace lobby
