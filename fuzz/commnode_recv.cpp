// Fuzz target: the receive path of comm nodes. The input arrives three
// times: twice as the byte stream of a connected comm object (read from a
// socket by the plain transfer step, and by the client rounds' step with its
// read-ahead buffer, then handed on by RecvHandler: registrations, node data
// for the registered nodes, anything else), and as one packet offered
// directly to a node's RecvIncomingFromComm. Whatever was queued is then
// read as KCBL, by the snooper and by the ordinary reader.
#include <tarvex/tarvex.h>

#include "comm/commtransfer.h"

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

class FuzzComm : public CCommBase
{
  public:
    int32_t IsRemote() override { return 1; }
    int32_t BlockedHandler(int32_t) override { return TRUE; }
    int32_t NonBlockedHandler() override { return TRUE; }
    const char* GetClassName() override { return "FuzzComm"; }
    void SetConnected(int32_t c) { connected = c; }
    int32_t& Connected() { return connected; }
    CLList& In() { return transferIn; }
    CLList& Out() { return transferOut; }
};

struct Node : CCommNode {
    Node(uint32_t type, bool snoop)
    {
        SetId(1);
        SetName("game");
        SetPrivate(FALSE);
        SetUseSessionIndex(type == CNODE_SERVER);
        SnoopSetSnooping(snoop ? TRUE : FALSE);
        InitCommNode(type);
    }
    void Drain()
    {
        for (int i = 0; i < 64 && NumQueuedPackets() > 0; ++i) {
            if (SnoopIsDataAvailable()) {
                SnoopRecvKCBLPacket();
                SnoopFreeKCBL();
            }
            if (IsDataAvailable()) {
                RecvKCBLPacket();
                RecvKCBLFree();
            } else if (!SnoopIsDataAvailable()) {
                break;
            }
        }
    }
};

void ThroughTheSocket(FuzzComm& comm, const uint8_t* data, size_t size, bool viaLink)
{
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return;
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    size_t written = 0;
    while (written < size) {
        ssize_t w = write(fds[1], data + written, size - written);
        if (w <= 0)
            break;
        written += static_cast<size_t>(w);
    }
    close(fds[1]); // the peer is gone after its bytes

    SCommLink link;
    SCryptData& cd = link.cryptData;
    int32_t& code = link.startupCode;
    xStartupSockets(code, 1, &cd);
    uint32_t& sock = link.sock;
    sock = static_cast<uint32_t>(fds[0]);
    comm.SetConnected(1);
    SXPacket* recvPacket = nullptr;
    SXPacket* sendPacket = nullptr;
    uint32_t recvCount = 0, sendCount = 0;
    int32_t recvStatus = COMM_RECV_IDLE, sendStatus = COMM_SEND_IDLE;
    for (int round = 0; round < 64 && comm.Connected(); ++round) {
        comm.SendHandler();
        // Only the incoming side is of interest: what this side would send
        // (registrations) is dropped unsent.
        for (comm.Out().First(); comm.Out().Exists(); comm.Out().Next())
            XFREE(comm.Out().Get());
        comm.Out().KillAll();
        int32_t progress = 0;
        CommBeginReadPass();
        for (int step = 0; step < COMM_STEPS_PER_ROUND; ++step) {
            const int32_t ok =
                viaLink ? PacketTransferStep(step == 0, progress, 0, link, comm.Connected(), &comm.In(),
                                             &comm.Out())
                        : PacketTransferHandler(progress, 0, sock, comm.Connected(), recvPacket, recvCount,
                                                recvStatus, sendPacket, sendCount, sendStatus, &comm.In(),
                                                &comm.Out(), &cd);
            if (!ok || progress == 0)
                break;
        }
        comm.RecvHandler();
        int32_t timedOut = 0;
        if (comm.Connected())
            comm.PingHandler(timedOut);
        if (progress == 0)
            break;
    }
    if (recvPacket != nullptr)
        XFREE(recvPacket);
    if (sendPacket != nullptr)
        XFREE(sendPacket);
    link.ResetTransfer();
    xCloseSocket(sock);
    comm.SetConnected(0);
    xClosedownSockets(code, &cd);
}

void Directly(Node& node, const uint8_t* data, size_t size)
{
    if (size < PACKET_HEADER_SIZE || size > (1u << 20))
        return;
    // A packet is one block of exactly its announced size.
    auto* p = static_cast<uint8_t*>(XALLOC(size));
    std::memcpy(p, data, size);
    const auto n = static_cast<uint32_t>(size);
    p[8] = static_cast<uint8_t>(n >> 24);
    p[9] = static_cast<uint8_t>(n >> 16);
    p[10] = static_cast<uint8_t>(n >> 8);
    p[11] = static_cast<uint8_t>(n);
    node.RecvIncomingFromComm(reinterpret_cast<SXPacket*>(p));
    XFREE(p);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto g = std::make_unique<SGlobals>();
    auto s = std::make_unique<SSysGlobals>();
    glb = g.get();
    sglb = s.get();
    xCreateGlobals();
    CommBaseStartup();
    xSetMaxPacketSize(1u << 20);
    {
        auto comm = std::make_unique<FuzzComm>();
        comm->SetPacketTypes(1, 1);
        comm->SetInAckMode(0);
        // The comm object is not in the client lists: register the nodes
        // with it by hand, as a starting client would.
        auto server = std::make_unique<Node>(CNODE_SERVER, false);
        auto client = std::make_unique<Node>(CNODE_CLIENT, true);
        auto any = std::make_unique<Node>(CNODE_ANY, false);
        comm->RegisterCommNode(server.get());
        comm->RegisterCommNode(client.get());
        comm->RegisterCommNode(any.get());

        ThroughTheSocket(*comm, data, size, false);
        ThroughTheSocket(*comm, data, size, true);
        Directly(*client, data, size);
        Directly(*server, data, size);
        server->Drain();
        client->Drain();
        any->Drain();
        char* raw = nullptr;
        uint32_t rawSize = 0;
        while (comm->RecvRawData(raw, rawSize))
            XFREE(raw);
    }
    xSetMaxPacketSize(0);
    CommBaseExit();
    xFreeGlobals();
    glb = nullptr;
    sglb = nullptr;
    return 0;
}
