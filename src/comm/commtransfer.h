// The transfer step as the clients' handler rounds run it: the first step
// of a round checks the connection and sets the socket's mode, later steps
// of the same round only move bytes.
#pragma once
#include <tarvex/comm.h>

// The error of a connection dropped because its send queues passed
// COMM_SEND_QUEUE_MAX_* (its peer does not read what is routed to it).
constexpr const char* kSendQueueFullText =
    "CommBase: Send queue full, the peer does not read what is routed to it (limit 65536 packets, "
    "67108864 bytes), connection dropped";

// Packets completed by the transfer steps so far (wraps).
uint32_t CommPacketsTakenIn();
// Client-round transfer steps that moved anything so far (wraps).
uint32_t CommStepsWithProgress();

// SendOtherSideNodes of from to target; with applyBars, under the routing
// bars of both.
int32_t SendOtherSideNodesRouted(CCommBase* from, CCommBase* target, bool applyBars);

// Removals from the client registration lists so far (wraps): a walk over a
// copy of such a list knows each entry is still listed while this holds.
uint32_t CommClientListRemovals();
void CommNoteClientListRemoval();

// A read pass: the steps from its start on read a socket only until a read
// finds nothing more waiting (a short read). A pass begins with each round
// of a client's handler, or, while an SCommReadPass object lives (the frame's
// client rounds), once for all the rounds it spans.
void CommBeginReadPass();
bool CommInReadPass();
struct SCommReadPass {
    SCommReadPass();
    ~SCommReadPass();
    SCommReadPass(const SCommReadPass&) = delete;
    SCommReadPass& operator=(const SCommReadPass&) = delete;
    bool outer;
};

// The step with the link's read-ahead buffer and remembered socket mode (see
// SCommLink), as the client handler rounds run it; taken gets the bytes of
// the packets it took from transferOut.
int32_t PacketTransferStep(bool firstOfRound, int32_t& progress, int32_t blocked, SCommLink& link,
                           int32_t& connected, CLList* transferIn, CLList* transferOut, uint32_t& taken);
int32_t PacketTransferStep(bool firstOfRound, int32_t& progress, int32_t blocked, SCommLink& link,
                           int32_t& connected, CLList* transferIn, CLList* transferOut);

int32_t PacketTransferStep(bool firstOfRound, int32_t& progress, int32_t blocked, uint32_t& sock,
                           int32_t& connected, SXPacket*& recvPacket, uint32_t& recvCount,
                           int32_t& recvStatus, SXPacket*& sendPacket, uint32_t& sendCount,
                           int32_t& sendStatus, CLList* transferIn, CLList* transferOut, SCryptData* cd);
