// The lobby's wire protocol: KCBL messages between comm nodes.
//
// Every client process has a CLIENT node (kLobbyNodeId, "lobby") and the
// server a SERVER node with the same address, so a client's messages reach
// only the server and the server's reach every client; a message the server
// means for one client carries that client's token and the others skip it.
// The first item of a message names it:
//
//   client -> server                      server -> clients
//   login  user password token            welcome token colour
//   join   token room                     refused token reason
//   leave  token                          rooms   (then one "room" item per room: name players)
//   say    token text                     joined  token room
//   ping   token time                     left    token
//   logout token                          players room (then one "player" item per player: name colour)
//                                         chat    room seq from colour text to
//                                         pong    token time
//
// A chat line with to = 0 goes to everybody in its room; the history a late
// joiner is sent carries its token. Sequence numbers count per room, so a
// client shows each line once and in order whatever reaches it twice.
//
// Each client also runs the clock-difference client on a node named
// "clock_<token>"; the server starts a matching clock server when that
// client logs in, and finds the client's connection by the node it
// announced.
#pragma once

#include <tarvex/tarvex.h>

#include <cstdint>
#include <string>

namespace lobby
{

constexpr uint32_t kLobbyNodeId = 29;
constexpr const char* kLobbyNodeName = "lobby";
constexpr uint32_t kClockNodeId = 30;
constexpr const char* kClockNodeName = "clock";
constexpr int32_t kDefaultPort = 4790;
// Longest user name and chat line the server keeps (longer ones are cut).
constexpr size_t kMaxName = 24;
constexpr size_t kMaxText = 200;
// How often a client says it is alive (and measures its round trip).
constexpr uint32_t kPingEveryMs = 1000;
// Colours the server hands out, one per user in turn.
constexpr int32_t kNumColours = 8;
// Most rooms and players a client takes from one list.
constexpr size_t kMaxListed = 256;

// "clock_<token>", the name of a client's clock node.
std::string ClockNodeName(uint32_t token);

// Sends one message: fill adds its items to node.sendKCBL.
template <class Fill> bool Send(CCommNode& node, Fill fill)
{
    if (!node.SendInit())
        return false;
    if (!fill(node.sendKCBL)) {
        node.sendKCBL.Free();
        // A send must follow SendInit before the next one is allowed: an
        // empty message is sent instead of the one that could not be built.
        node.sendKCBL.NewItem("nop", KEND);
    }
    return node.SendKCBLPacket() != 0;
}

// Hands each waiting message of node to handle (at most 256 a frame, so a
// flood cannot stall the rest of the frame) and releases it.
template <class Handle> void ForEachMessage(CCommNode& node, Handle handle)
{
    for (int n = 0; n < 256 && node.IsDataAvailable(); ++n) {
        if (!node.RecvKCBLPacket())
            continue;
        handle(node.recvKCBL);
        node.RecvKCBLFree();
    }
}

// The end of both programs: comm objects, the frame (withFrame: xInit was
// called) and the globals go; anything the tracker still lists is written
// to standard error and makes the result 1.
int FinishProgram(int rc, bool withFrame);

// Reading the current item's values: "" and 0 when a value is missing.
std::string Text(CKCBL& k, int32_t i);
uint32_t Number(CKCBL& k, int32_t i);

// Cuts text to at most max bytes without splitting a UTF-8 sequence and
// drops control characters.
std::string Clean(const std::string& text, size_t max);

} // namespace lobby
