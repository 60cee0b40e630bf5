// The transfer step of a comm connection: moves the first queued packet out
// and the next incoming packet in (header, then body), a bounded amount per
// call, and disconnects on anything that is not a valid packet.
//
// Client handler rounds give the step their link's read-ahead buffer: while
// less than kAheadSize bytes of the packet are missing, the socket is read
// into that buffer as far as it has data, and the packet is filled from
// there, so a small packet's header and body (and the packets queued behind
// it) cost one read instead of two each.
#include "commtransfer.h"

#include <tarvex/comm.h>
#include <tarvex/error.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include <algorithm>
#include <cstring>

namespace
{

uint32_t g_packetsTakenIn = 0;
uint32_t g_stepsWithProgress = 0;
uint32_t g_readPass = 1;
bool g_inReadPass = false;

constexpr uint32_t kAheadSize = 64 * 1024;

constexpr const char* kBadHeaderText =
    "PacketTransferHandler:(ValidateHeader()):Function failed. This is not a valid packet, discarding it.";

// What a step may use beyond the plain transfer state.
struct SStepExtras {
    char*& ahead;
    uint32_t& aheadBegin;
    uint32_t& aheadEnd;
    int32_t& sockMode;
    uint32_t& sendBatch;
    int32_t& lastMoved;
    uint32_t& headerStart;
    uint32_t& drainedPass;
    uint32_t& taken;
};

// Joins the small packets at the front of out behind first (size bytes)
// into one block, up to kAheadSize bytes; returns the block and its size,
// or leaves first alone when nothing joins it.
SXPacket* JoinSmallPackets(SXPacket* first, uint32_t size, CLList* out, uint32_t& total)
{
    total = size;
    uint32_t count = 0;
    for (SLListNode* n = out->first; n != nullptr; n = n->next) {
        uint32_t s = 0;
        if (!static_cast<SXPacket*>(n->data)->GetPacketSize(s) || s > kAheadSize - total)
            break;
        total += s;
        ++count;
    }
    if (count == 0)
        return first;
    auto* block = static_cast<char*>(xAllocTracked(total, "base/commb", __LINE__));
    if (block == nullptr) {
        total = size;
        return first;
    }
    std::memcpy(block, first, size);
    xFreeMem(first, __FILE__, __LINE__);
    uint32_t at = size;
    for (uint32_t i = 0; i < count; ++i) {
        auto* p = static_cast<SXPacket*>(out->first->data);
        uint32_t s = 0;
        p->GetPacketSize(s);
        std::memcpy(block + at, p, s);
        at += s;
        out->Unlink(out->first);
        xFreeMem(p, __FILE__, __LINE__);
    }
    return reinterpret_cast<SXPacket*>(block);
}

int32_t Step(bool firstOfRound, int32_t& progress, int32_t blocked, uint32_t& sock, int32_t& connected,
             SXPacket*& recvPacket, uint32_t& recvCount, int32_t& recvStatus, SXPacket*& sendPacket,
             uint32_t& sendCount, int32_t& sendStatus, CLList* transferIn, CLList* transferOut,
             SCryptData* cd, SStepExtras* extras);

// Whether a packet of size bytes may join the packets read but not yet
// handed on.
bool RoomInTransferIn(const CLList& in, uint32_t size)
{
    if (in.first == nullptr)
        return true;
    if (static_cast<uint32_t>(in.GetNumNodes()) >= COMM_TRANSFER_IN_MAX_PACKETS)
        return false;
    uint32_t waiting = 0;
    for (const SLListNode* n = in.first; n != nullptr; n = n->next) {
        // Every packet here passed ValidateHeader on its way in: its size
        // field is read as it stands.
        const uint8_t* f = static_cast<const SXPacket*>(n->data)->packetSize;
        const uint32_t s = (uint32_t{f[0]} << 24) | (uint32_t{f[1]} << 16) | (uint32_t{f[2]} << 8) | f[3];
        if (s > COMM_TRANSFER_IN_MAX_BYTES - waiting)
            return false;
        waiting += s;
    }
    return size <= COMM_TRANSFER_IN_MAX_BYTES - waiting;
}

int32_t Drop(uint32_t& sock, int32_t& connected, SCryptData* cd, const char* text)
{
    xDisconnectSocket(sock, connected, cd);
    return xErrorTxt_Func(text, __FILE__, __LINE__);
}

} // namespace

uint32_t CommPacketsTakenIn() { return g_packetsTakenIn; }

uint32_t CommStepsWithProgress() { return g_stepsWithProgress; }

void CommBeginReadPass()
{
    // 0 is what a link that never read holds: never a pass of its own.
    if (++g_readPass == 0)
        g_readPass = 1;
}

bool CommInReadPass() { return g_inReadPass; }

SCommReadPass::SCommReadPass() : outer(!g_inReadPass)
{
    if (outer) {
        CommBeginReadPass();
        g_inReadPass = true;
    }
}

SCommReadPass::~SCommReadPass()
{
    if (outer)
        g_inReadPass = false;
}

int32_t PacketTransferHandler(int32_t& progress, int32_t blocked, uint32_t& sock, int32_t& connected,
                              SXPacket*& recvPacket, uint32_t& recvCount, int32_t& recvStatus,
                              SXPacket*& sendPacket, uint32_t& sendCount, int32_t& sendStatus,
                              CLList* transferIn, CLList* transferOut, SCryptData* cd)
{
    return PacketTransferStep(true, progress, blocked, sock, connected, recvPacket, recvCount, recvStatus,
                              sendPacket, sendCount, sendStatus, transferIn, transferOut, cd);
}

int32_t PacketTransferStep(bool firstOfRound, int32_t& progress, int32_t blocked, uint32_t& sock,
                           int32_t& connected, SXPacket*& recvPacket, uint32_t& recvCount,
                           int32_t& recvStatus, SXPacket*& sendPacket, uint32_t& sendCount,
                           int32_t& sendStatus, CLList* transferIn, CLList* transferOut, SCryptData* cd)
{
    return Step(firstOfRound, progress, blocked, sock, connected, recvPacket, recvCount, recvStatus,
                sendPacket, sendCount, sendStatus, transferIn, transferOut, cd, nullptr);
}

int32_t PacketTransferStep(bool firstOfRound, int32_t& progress, int32_t blocked, SCommLink& link,
                           int32_t& connected, CLList* transferIn, CLList* transferOut, uint32_t& taken)
{
    taken = 0;
    SStepExtras extras{link.ahead,    link.aheadBegin, link.aheadEnd,
                       link.sockMode, link.sendBatch,  link.lastMoved, link.headerStart,
                       link.drainedPass, taken};
    int32_t r = Step(firstOfRound, progress, blocked, link.sock, connected, link.recvPacket, link.recvCount,
                     link.recvStatus, link.sendPacket, link.sendCount, link.sendStatus, transferIn,
                     transferOut, &link.cryptData, &extras);
    if (progress != 0)
        ++g_stepsWithProgress;
    return r;
}

int32_t PacketTransferStep(bool firstOfRound, int32_t& progress, int32_t blocked, SCommLink& link,
                           int32_t& connected, CLList* transferIn, CLList* transferOut)
{
    uint32_t taken = 0;
    return PacketTransferStep(firstOfRound, progress, blocked, link, connected, transferIn, transferOut, taken);
}

namespace
{

int32_t Step(bool firstOfRound, int32_t& progress, int32_t blocked, uint32_t& sock, int32_t& connected,
             SXPacket*& recvPacket, uint32_t& recvCount, int32_t& recvStatus, SXPacket*& sendPacket,
             uint32_t& sendCount, int32_t& sendStatus, CLList* transferIn, CLList* transferOut,
             SCryptData* cd, SStepExtras* extras)
{
    if (recvStatus != COMM_RECV_IDLE && recvStatus != COMM_RECV_HEADER && recvStatus != COMM_RECV_BODY)
        return Drop(sock, connected, cd, "PacketTransferHandler: recvStatus is invalid");
    if (sendStatus != COMM_SEND_IDLE && sendStatus != COMM_SEND_SENDING)
        return Drop(sock, connected, cd, "PacketTransferHandler: sendStatus is invalid");
    progress = 0;
    if (connected == 0)
        return Drop(sock, connected, cd, "PacketTransferHandler:Not connected");
    // Later steps of a round rely on the first one's check: a peer lost in
    // between shows in the send and receive results themselves. So does
    // the next round when the last step moved bytes. A plain socket of a
    // client link needs no separate look at its pending error at all: the
    // step's own send or receive fails with it (after the bytes that came
    // before it), and a step that touches the socket neither way has
    // nothing to lose by it.
    const bool plain = cd == nullptr || cd->encrypted == 0;
    bool check = firstOfRound && (extras == nullptr || (extras->lastMoved == 0 && !plain));
    if (check && (!xCheckConnectionUp(sock, connected, cd) || connected == 0))
        return Drop(sock, connected, cd, "PacketTransferHandler:Not connected error");

    // Receive preparation.
    uint32_t recvWanted = 0;
    if (recvStatus == COMM_RECV_IDLE) {
        if (recvPacket != nullptr)
            return Drop(sock, connected, cd,
                        "PacketTransferHandler: (recvpacket) Receive status is empty but the pointer is "
                        "valid anyway");
        if (extras != nullptr && extras->aheadEnd - extras->aheadBegin >= PACKET_HEADER_SIZE) {
            // The header is already read ahead: checked where it lies, and
            // the whole packet allocated at once, so a small packet read
            // ahead is taken in by this one step.
            const auto* head = reinterpret_cast<const SXPacket*>(extras->ahead + extras->aheadBegin);
            if (!head->ValidateHeader())
                return Drop(sock, connected, cd, kBadHeaderText);
            uint32_t size = 0;
            if (!head->GetPacketSize(size))
                return Drop(sock, connected, cd, "PacketTransferHandler:GetPacketSize failed.");
            recvPacket = static_cast<SXPacket*>(xAllocTracked(size, "base/commb", __LINE__));
            if (recvPacket == nullptr)
                return Drop(sock, connected, cd, "PacketTransferHandler: Out of memory");
            std::memcpy(recvPacket, head, PACKET_HEADER_SIZE);
            extras->aheadBegin += PACKET_HEADER_SIZE;
            recvCount = PACKET_HEADER_SIZE;
            recvStatus = COMM_RECV_BODY;
        } else {
            recvPacket = static_cast<SXPacket*>(xAllocTracked(PACKET_HEADER_SIZE, "base/commb", __LINE__));
            if (recvPacket == nullptr)
                return Drop(sock, connected, cd, "PacketTransferHandler: Out of memory");
            recvCount = 0;
            recvStatus = COMM_RECV_HEADER;
        }
        progress = 1;
    }
    if (recvStatus == COMM_RECV_HEADER) {
        if (recvPacket == nullptr)
            return Drop(
                sock, connected, cd,
                "PacketTransferHandler: (recvpacket) Trying to receive header but the packet pointer is "
                "invalid");
        recvWanted = PACKET_HEADER_SIZE;
    } else {
        if (recvPacket == nullptr)
            return Drop(
                sock, connected, cd,
                "PacketTransferHandler: (recvpacket) Trying to receive body but the packet pointer is "
                "invalid");
        if (!recvPacket->GetPacketSize(recvWanted))
            return Drop(sock, connected, cd, "PacketTransferHandler: (recvpacket) GetPacketSize failed.");
    }

    // Send preparation.
    uint32_t sendWanted = 0;
    if (sendStatus == COMM_SEND_IDLE) {
        if (sendPacket != nullptr)
            return Drop(
                sock, connected, cd,
                "PacketTransferHandler: (sendpacket) Status set to no packet but packet exists anyway");
        if (transferOut != nullptr && transferOut->first != nullptr) {
            sendPacket = static_cast<SXPacket*>(transferOut->first->data);
            transferOut->Unlink(transferOut->first);
            sendStatus = COMM_SEND_SENDING;
            progress = 1;
            if (!sendPacket->ValidateHeader())
                dprintf("SEND ERROR: The header is incorrect.\n");
            // Small packets queued behind this one go out with the same write.
            uint32_t size = 0;
            const bool sized = sendPacket->GetPacketSize(size) != 0;
            if (extras != nullptr && sized)
                extras->taken = size;
            if (extras != nullptr && transferOut->first != nullptr && sized && size < kAheadSize) {
                uint32_t total = 0;
                sendPacket = JoinSmallPackets(sendPacket, size, transferOut, total);
                extras->sendBatch = total != size ? total : 0;
                extras->taken = total;
            }
        }
        sendCount = 0;
    }
    if (sendStatus == COMM_SEND_SENDING) {
        if (sendPacket == nullptr)
            return Drop(
                sock, connected, cd,
                "PacketTransferHandler: (sendpacket) Status set to sending packet but no packet exists");
        if (extras != nullptr && extras->sendBatch != 0) {
            sendWanted = extras->sendBatch;
        } else if (!sendPacket->GetPacketSize(sendWanted)) {
            connected = 0;
            return Drop(sock, connected, cd, "PacketTransferHandler: (sendpacket) GetPacketSize failed.");
        }
    }

    // Bound each direction for this step.
    uint32_t recvLimit = recvWanted;
    if (recvLimit - recvCount > COMM_STEP_LIMIT)
        recvLimit = recvCount + COMM_STEP_LIMIT;
    uint32_t sendLimit = sendWanted;
    if (sendLimit - sendCount > COMM_STEP_LIMIT)
        sendLimit = sendCount + COMM_STEP_LIMIT;

    uint32_t recvBefore = recvCount, sendBefore = sendCount;
    char* sendBuf = sendStatus == COMM_SEND_SENDING ? reinterpret_cast<char*>(sendPacket) : nullptr;
    char* recvBuf = reinterpret_cast<char*>(recvPacket);
    // Where this step's read goes: into the packet, or into the read-ahead
    // buffer (aheadDone bytes of kAheadSize), or nowhere when what was read
    // ahead already serves the step.
    uint32_t* readDone = &recvCount;
    uint32_t readWanted = recvLimit;
    uint32_t aheadDone = 0;
    bool viaAhead = false;
    // A plain socket that a read of this pass left empty is not read again
    // in the same pass: the read would only find nothing (a TLS connection
    // may hold decrypted bytes the socket does not show, and a blocking
    // read waits for more, so both read on).
    const bool drained = extras != nullptr && plain && blocked != 1 && extras->drainedPass == g_readPass;
    if (extras != nullptr && recvCount < recvLimit) {
        uint32_t need = recvLimit - recvCount;
        if (extras->aheadBegin < extras->aheadEnd) {
            uint32_t n = std::min(need, extras->aheadEnd - extras->aheadBegin);
            std::memcpy(recvBuf + recvCount, extras->ahead + extras->aheadBegin, n);
            extras->aheadBegin += n;
            recvCount += n;
            recvBuf = nullptr;
        } else if (drained) {
            recvBuf = nullptr;
        } else if (need < kAheadSize) {
            if (extras->ahead == nullptr)
                extras->ahead = static_cast<char*>(xAllocTracked(kAheadSize, "base/commb", __LINE__));
            if (extras->ahead != nullptr) {
                extras->aheadBegin = extras->aheadEnd = 0;
                recvBuf = extras->ahead;
                readDone = &aheadDone;
                readWanted = kAheadSize;
                viaAhead = true;
            }
        }
    }
    // The socket's mode is set by the first step of a round and stays; with
    // the mode remembered, only when it changes.
    const int32_t mode = blocked == 1 ? 0 : 1;
    const bool setMode = firstOfRound && (extras == nullptr || extras->sockMode != mode);
    const bool reads = recvBuf != nullptr && *readDone < readWanted;
    const uint32_t readBefore = *readDone;
    int32_t ok = !setMode       ? xSocketHandler(sock, connected, recvBuf, *readDone, readWanted, sendBuf,
                                                 sendCount, sendLimit, cd)
                 : blocked == 1 ? xBlockedHandler(sock, connected, recvBuf, *readDone, readWanted, sendBuf,
                                                  sendCount, sendLimit, cd)
                                : xNonBlockedHandler(sock, connected, recvBuf, *readDone, readWanted, sendBuf,
                                                     sendCount, sendLimit, cd);
    if (extras != nullptr && setMode)
        extras->sockMode = ok ? mode : -1;
    if (viaAhead) {
        uint32_t n = std::min(recvLimit - recvCount, aheadDone);
        std::memcpy(reinterpret_cast<char*>(recvPacket) + recvCount, extras->ahead, n);
        recvCount += n;
        extras->aheadBegin = n;
        extras->aheadEnd = aheadDone;
    }
    // Movement in either direction is progress: a one-way stream (a large
    // packet in, nothing out) keeps going within the round.
    if (recvCount != recvBefore || sendCount != sendBefore)
        progress = 1;
    // A step that touched the socket tells whether it is evidently up; one
    // that only took read-ahead bytes leaves that as it was.
    if (extras != nullptr && (reads || sendBuf != nullptr))
        extras->lastMoved = recvCount != recvBefore || sendCount != sendBefore ? 1 : 0;
    if (extras != nullptr && reads && plain && *readDone - readBefore < readWanted - readBefore)
        extras->drainedPass = g_readPass;
    if (!ok)
        return FALSE;

    // A header that has begun must come in whole in good time: a peer that
    // sends it a byte now and then only holds its own connection, and not
    // for ever.
    if (extras != nullptr && recvStatus == COMM_RECV_HEADER && recvCount > 0 &&
        recvCount < PACKET_HEADER_SIZE) {
        if (recvBefore == 0)
            extras->headerStart = xGetTime();
        else if (xTimeDiff(extras->headerStart, xGetTime()) > COMM_HEADER_TIMEOUT_MS)
            return Drop(sock, connected, cd,
                        "PacketTransferHandler: Timeout, the packet header did not complete in 10000 ms.");
    }

    if (recvStatus == COMM_RECV_HEADER && recvCount == PACKET_HEADER_SIZE) {
        if (recvWanted != PACKET_HEADER_SIZE)
            return Drop(
                sock, connected, cd,
                "PacketTransferHandler: (recvpacket) receive status set to receive header but the receive "
                "status is invalid");
        // ValidateHeader also refuses sizes above the packet-size limit, so
        // an oversize announcement drops the connection before allocation.
        if (!recvPacket->ValidateHeader())
            return Drop(sock, connected, cd, kBadHeaderText);
        uint32_t size = 0;
        if (!recvPacket->GetPacketSize(size))
            return Drop(sock, connected, cd, "PacketTransferHandler:GetPacketSize failed.");
        auto* whole = static_cast<SXPacket*>(xAllocTracked(size, "base/commb", __LINE__));
        if (whole == nullptr)
            return Drop(sock, connected, cd, "PacketTransferHandler: Out of memory");
        std::memcpy(whole, recvPacket, PACKET_HEADER_SIZE);
        xFreeMem(recvPacket, __FILE__, __LINE__);
        recvPacket = whole;
        recvStatus = COMM_RECV_BODY;
        progress = 1;
    }

    if (sendStatus == COMM_SEND_SENDING && sendCount >= PACKET_HEADER_SIZE) {
        uint32_t size = 0;
        if (extras != nullptr && extras->sendBatch != 0)
            size = extras->sendBatch;
        else if (!sendPacket->GetPacketSize(size))
            return Drop(sock, connected, cd, "PacketTransferHandler: GetPacketSize failed.");
        if (sendCount == size) {
            if (extras != nullptr)
                extras->sendBatch = 0;
            xFreeMem(sendPacket, __FILE__, __LINE__);
            sendPacket = nullptr;
            sendCount = 0;
            sendStatus = COMM_SEND_IDLE;
            progress = 1;
        }
    }

    if (recvStatus == COMM_RECV_BODY) {
        uint32_t size = 0;
        recvPacket->GetPacketSize(size);
        if (recvCount == size) {
            if (!recvPacket->ValidateHeader())
                return Drop(
                    sock, connected, cd,
                    "PacketTransferHandler:(ValidateHeader):Function failed. This is not a valid packet, "
                    "discarding it.");
            if (transferIn != nullptr && !RoomInTransferIn(*transferIn, size))
                return Drop(sock, connected, cd,
                            "PacketTransferHandler: Too many packets waiting to be handled (limit 4096 "
                            "packets, 67108864 bytes)");
            if (transferIn == nullptr || !transferIn->InsertLast(recvPacket))
                return Drop(sock, connected, cd,
                            "PacketTransferHandler:(CLList.InsertLast ()):Function failed");
            ++g_packetsTakenIn;
            recvPacket = nullptr;
            recvCount = 0;
            recvStatus = COMM_RECV_IDLE;
            progress = 1;
        }
    }
    return TRUE;
}

} // namespace
