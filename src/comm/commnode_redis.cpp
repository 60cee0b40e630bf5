// Hubs joined through Redis: the bridge. It is one more remote comm object
// of the hub, in the registry beside the hub's connections, so the routing
// the comm objects already do reaches it unchanged: node data routed to it
// is published to the other hubs that list the node, registrations routed
// to it tell it that the hub's own list changed, and what comes in from
// Redis is routed onwards as if it had come in on one connection.
//
// Redis is reached over two non-blocking connections driven by the frame's
// comm rounds (the bridge's handler): one publishes and refreshes, the other
// is subscribed to this hub's channel and to the group's news channel, on
// which a hub announces that its list changed. Nothing here waits; a lost
// connection is reported and tried again with a growing pause.
//
// Keys of a group <prefix>:
//   <prefix>:hubs          set of hub ids (dead ones are removed by whoever
//                          finds their list gone)
//   <prefix>:hub:<id>      the hub's node list (commnode_redis.h), with the
//                          time to live the hub refreshes
//   <prefix>:msg:<id>      channel of node messages for the hub
//   <prefix>:news          channel of hub ids whose list changed
#include "comm/commnode_internal.h"
#include "comm/commnode_redis.h"

#include <tarvex/comm.h>
#include <tarvex/commnode.h>
#include <tarvex/error.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>
#include <tarvex/socket.h>

#include "core/textcopy.h"

#include <platform/net.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace
{

uint32_t g_ttlMs = COMMNODE_REDIS_TTL_MS;
uint32_t g_refreshMs = COMMNODE_REDIS_REFRESH_MS;

} // namespace

int32_t xCommNodeSetRedisTimes(uint32_t ttlMs, uint32_t refreshMs)
{
    if (refreshMs < 10 || refreshMs >= ttlMs || ttlMs > 86400000u)
        return xErrorf("xCommNodeSetRedisTimes: refresh (%u ms) must be at least 10 ms and below the time to "
                       "live (%u ms), the time to live at most a day",
                       refreshMs, ttlMs);
    g_ttlMs = ttlMs;
    g_refreshMs = refreshMs;
    return TRUE;
}

#if TARVEX_HAVE_HIREDIS

#include <hiredis/hiredis.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace
{

using tvredis::NodeEntry;

// Commands the publishing connection may hold unwritten before node data
// waits in the bridge's send queue instead.
constexpr size_t kMaxUnwritten = 8u * 1024u * 1024u;
// Reads of one connection per handler round (hiredis reads 16 KiB at a time).
constexpr int kReadsPerRound = 256;
// What a reply may carry beyond one packet: the reply's own framing, the
// channel name, the node header of a message.
constexpr size_t kReplySlack = 64u * 1024u;
constexpr uint32_t kConnectTimeoutMs = 3000;
constexpr uint32_t kFirstRetryMs = 250;
constexpr uint32_t kLastRetryMs = 5000;

uint32_t PacketSizeOf(const SXPacket* p)
{
    uint32_t size = 0;
    p->GetPacketSize(size);
    return size;
}

struct Link {
    const char* role;
    redisContext* ctx = nullptr;
    enum { Down, Connecting, Up } state = Down;
    uint32_t since = 0;
    uint32_t retryAt = 0;
    uint32_t pause = kFirstRetryMs;
    bool reported = false; // the current outage was reported

    uint32_t Socket() const
    {
        return ctx != nullptr && ctx->fd >= 0 ? static_cast<uint32_t>(ctx->fd) : tvp::XINVALID_SOCKET;
    }
    size_t Unwritten() const { return ctx != nullptr && ctx->obuf != nullptr ? sdslen(ctx->obuf) : 0; }
};

// What the next reply on the publishing connection answers.
struct Pending {
    enum { Ignore, Members, Lists } kind = Ignore;
    std::vector<std::string> hubs; // Lists: the hubs asked for, in order
};

class CCommRedisBridge final : public CCommRemoteClientBase
{
  public:
    CCommRedisBridge(std::string host, int port, const std::string& prefix, const std::string& hub);
    ~CCommRedisBridge() override;

    int32_t BlockedHandler(int32_t) override { return NonBlockedHandler(); }
    int32_t NonBlockedHandler() override;
    const char* GetClassName() override { return "CCommRedisBridge"; }
    int32_t Startup() override { return TRUE; }
    int32_t Closedown() override { return TRUE; }
    int32_t Connect() override { return TRUE; }
    // The bridge stays up whatever Redis does: a lost link is retried.
    void Disconnect() override {}
    int32_t BlockedConnectHandler(int32_t) override { return TRUE; }
    int32_t NonBlockedConnectHandler() override { return TRUE; }
    int32_t SetConnectFromServer(CCommRemoteServerBase*) override { return FALSE; }
    int32_t IsFlushed() override { return sendQue.first == nullptr && pub.Unwritten() == 0; }
    void SetEncryption(int32_t) override {}

    int32_t Start();
    // Takes the hub's list out of Redis (as far as a short wait allows) and
    // its nodes out of the view of this hub's connections.
    void Stop();
    bool Linked() const { return pub.state == Link::Up && sub.state == Link::Up && subscriptions == 2; }
    bool Lists(uint32_t id, const char* name) const;
    // The sockets the frame's wait watches.
    int32_t Sockets(uint32_t socks[2]) const;

  private:
    void Drive(Link& link, uint32_t now);
    void Lost(Link& link, const char* why, uint32_t now);
    void LinkUp(Link& link);
    bool Flush(Link& link, uint32_t now);
    template <class F> void Read(Link& link, uint32_t now, F onReply);
    bool Command(std::initializer_list<std::string_view> args, Pending pending = {});
    void OnSub(const redisReply* r);
    void OnPub(const redisReply* r);
    void TakeSendQue();
    void Publish(SXPacket* packet);
    void Deliver(const char* bytes, size_t size);
    void Refresh(uint32_t now);
    void Fetch();
    void ApplyView();
    void Route(uint8_t type, const NodeEntry& e);
    std::vector<NodeEntry> OwnNodes();
    void Complain(uint32_t& count, const char* what);

    std::string host;
    int port;
    std::string hubId, keyHubs, keyMine, chanMine, chanNews, chanPrefix, keyPrefix;
    Link pub{"publish"};
    Link sub{"subscribe"};
    std::deque<Pending> pending;
    int subscriptions = 0;
    bool dirty = true;
    bool fetching = false;
    bool fetchAgain = false;
    uint32_t lastRefresh = 0;
    std::string lastList;
    std::map<std::string, std::vector<NodeEntry>> hubs; // the other hubs' lists
    // Nodes heard from before their hub's list was read, with when they
    // were last heard: in the view until the time to live has passed.
    std::map<NodeEntry, uint32_t> heard;
    std::vector<NodeEntry> view; // the union of both, sorted: otherSideNodes
    uint32_t malformed = 0, unroutable = 0, overflow = 0;
};

CCommRedisBridge* g_bridge = nullptr;

std::string_view Text(const redisReply* r)
{
    return r != nullptr && (r->type == REDIS_REPLY_STRING || r->type == REDIS_REPLY_STATUS ||
                            r->type == REDIS_REPLY_ERROR)
               ? std::string_view(r->str, r->len)
               : std::string_view();
}

CCommRedisBridge::CCommRedisBridge(std::string h, int p, const std::string& prefix, const std::string& hub)
    : host(std::move(h)), port(p), hubId(hub)
{
    keyHubs = prefix + ":hubs";
    keyPrefix = prefix + ":hub:";
    keyMine = keyPrefix + hub;
    chanPrefix = prefix + ":msg:";
    chanMine = chanPrefix + hub;
    chanNews = prefix + ":news";
    SetObjName("redis bridge ", hub.c_str());
    SetPacketTypes(0, 1);
}

CCommRedisBridge::~CCommRedisBridge()
{
    for (Link* l : {&pub, &sub})
        if (l->ctx != nullptr)
            redisFree(l->ctx);
}

int32_t CCommRedisBridge::Start()
{
    // Up from the start: routing reaches the bridge whatever Redis does, and
    // what is routed to it waits (bounded) while the link is down.
    connected = 1;
    if (!RegisterRemoteClient())
        return FALSE;
    const uint32_t now = xGetTime();
    Drive(pub, now);
    Drive(sub, now);
    return TRUE;
}

void CCommRedisBridge::Stop()
{
    if (pub.state == Link::Up) {
        Command({"DEL", keyMine});
        Command({"SREM", keyHubs, hubId});
        Command({"PUBLISH", chanNews, hubId});
        // A short wait for the goodbye to leave; a hub that cannot say it
        // drops out when its key expires.
        for (int i = 0; i < 50 && pub.state == Link::Up && pub.Unwritten() != 0; ++i) {
            tvp::Readiness r;
            tvp::WaitSocket(pub.Socket(), false, true, 2, r);
            Flush(pub, xGetTime());
        }
    }
    hubs.clear();
    heard.clear();
    ApplyView();
    UnRegisterRemoteClient();
    Cleanup();
    connected = 0;
}

int32_t CCommRedisBridge::Sockets(uint32_t socks[2]) const
{
    int32_t n = 0;
    for (const Link* l : {&sub, &pub})
        if (l->state == Link::Up)
            socks[n++] = l->Socket();
    return n;
}

bool CCommRedisBridge::Lists(uint32_t id, const char* name) const
{
    return std::any_of(view.begin(), view.end(),
                       [&](const NodeEntry& e) { return e.id == id && e.name == name; });
}

void CCommRedisBridge::Complain(uint32_t& count, const char* what)
{
    // The first of a kind and then every 1000th: a flood stays readable.
    if (count++ % 1000 == 0)
        xErrorf("CCommRedisBridge: %s (hub %s, %u so far)", what, hubId.c_str(), count);
}

// ---------------------------------------------------------------- the links

void CCommRedisBridge::Lost(Link& link, const char* why, uint32_t now)
{
    if (!link.reported) {
        xErrorf("CCommRedisBridge: Redis link lost (%s connection of hub %s to %s:%d): %s; retrying",
                link.role, hubId.c_str(), host.c_str(), port, why);
        dprintf("CCommRedisBridge: Redis link lost (%s connection of hub %s to %s:%d): %s; retrying\n",
                link.role, hubId.c_str(), host.c_str(), port, why);
        link.reported = true;
    }
    if (link.ctx != nullptr)
        redisFree(link.ctx);
    link.ctx = nullptr;
    link.state = Link::Down;
    link.retryAt = now + link.pause;
    link.pause = std::min(link.pause * 2, kLastRetryMs);
    if (&link == &pub) {
        pending.clear();
        fetching = false;
    } else {
        subscriptions = 0;
    }
}

void CCommRedisBridge::LinkUp(Link& link)
{
    link.state = Link::Up;
    link.pause = kFirstRetryMs;
    if (link.reported)
        dprintf("CCommRedisBridge: Redis link back (%s connection of hub %s)\n", link.role, hubId.c_str());
    link.reported = false;
    redisEnableKeepAlive(link.ctx);
    tvp::SetNoDelay(link.Socket(), true);
    if (&link == &sub) {
        const char* argv[] = {"SUBSCRIBE", chanMine.c_str(), chanNews.c_str()};
        const size_t len[] = {9, chanMine.size(), chanNews.size()};
        redisAppendCommandArgv(sub.ctx, 3, argv, len);
    }
    // Whatever changed meanwhile (on both sides) is set right at once.
    dirty = true;
}

void CCommRedisBridge::Drive(Link& link, uint32_t now)
{
    if (link.state == Link::Down) {
        if (static_cast<int32_t>(now - link.retryAt) < 0)
            return;
        link.ctx = redisConnectNonBlock(host.c_str(), port);
        if (link.ctx == nullptr || link.ctx->err != 0) {
            Lost(link, link.ctx != nullptr ? link.ctx->errstr : "out of memory", now);
            return;
        }
        link.state = Link::Connecting;
        link.since = now;
    }
    if (link.state == Link::Connecting) {
        tvp::Readiness r;
        if (tvp::WaitSocket(link.Socket(), false, true, 0, r) < 0 || r.failed) {
            Lost(link, "connection refused", now);
            return;
        }
        int32_t code = 0;
        if (r.writable) {
            if (!tvp::GetPendingError(link.Socket(), code) || code != 0)
                Lost(link, "connection refused", now);
            else
                LinkUp(link);
        } else if (now - link.since > kConnectTimeoutMs) {
            Lost(link, "connect timed out", now);
        }
    }
}

bool CCommRedisBridge::Flush(Link& link, uint32_t now)
{
    if (link.state != Link::Up || link.Unwritten() == 0)
        return true;
    int done = 0;
    if (redisBufferWrite(link.ctx, &done) != REDIS_OK) {
        Lost(link, link.ctx->errstr, now);
        return false;
    }
    return true;
}

template <class F> void CCommRedisBridge::Read(Link& link, uint32_t now, F onReply)
{
    for (int i = 0; i < kReadsPerRound && link.state == Link::Up; ++i) {
        uint32_t fd = link.Socket();
        uint8_t ready = 0;
        if (!tvp::PollReadable(&fd, 1, &ready) || ready == 0)
            return;
        if (redisBufferRead(link.ctx) != REDIS_OK) {
            Lost(link, link.ctx->errstr, now);
            return;
        }
        // A reply still coming in may not grow past what one node packet
        // can be: the reader would otherwise hold whatever Redis sends.
        const redisReader* reader = link.ctx->reader;
        if (reader->len - reader->pos > size_t{xGetMaxPacketSize()} + kReplySlack) {
            Lost(link, "a reply larger than the largest packet", now);
            return;
        }
        for (;;) {
            void* reply = nullptr;
            if (redisGetReplyFromReader(link.ctx, &reply) != REDIS_OK) {
                Lost(link, link.ctx->errstr, now);
                return;
            }
            if (reply == nullptr)
                break;
            onReply(static_cast<const redisReply*>(reply));
            freeReplyObject(reply);
            if (link.state != Link::Up)
                return;
        }
    }
}

bool CCommRedisBridge::Command(std::initializer_list<std::string_view> args, Pending p)
{
    if (pub.state != Link::Up)
        return false;
    const char* argv[8];
    size_t len[8];
    int n = 0;
    for (std::string_view a : args) {
        argv[n] = a.data();
        len[n++] = a.size();
    }
    if (redisAppendCommandArgv(pub.ctx, n, argv, len) != REDIS_OK) {
        Lost(pub, "out of memory", xGetTime());
        return false;
    }
    pending.push_back(std::move(p));
    return true;
}

// ---------------------------------------------------------------- the handler round

int32_t CCommRedisBridge::NonBlockedHandler()
{
    const uint32_t now = xGetTime();
    // Routing filled the send queues to their bound: what waited is gone
    // (reported by the routing); the bridge itself goes on.
    sendQueOver = 0;
    Drive(pub, now);
    Drive(sub, now);
    Read(sub, now, [&](const redisReply* r) { OnSub(r); });
    Read(pub, now, [&](const redisReply* r) { OnPub(r); });
    TakeSendQue();
    if (pub.state == Link::Up && (dirty || now - lastRefresh >= g_refreshMs))
        Refresh(now);
    Flush(pub, now);
    Flush(sub, now);
    return TRUE;
}

void CCommRedisBridge::TakeSendQue()
{
    // Local nodes send into the bridge without the routing's bound: while
    // Redis is away the queue is held to the same bound here.
    if (static_cast<uint32_t>(sendQue.GetNumNodes()) > COMM_SEND_QUEUE_MAX_PACKETS ||
        sendQueBytes > COMM_SEND_QUEUE_MAX_BYTES) {
        EmptyList(sendQue);
        Complain(overflow, "node data for other hubs dropped: Redis does not take it (limit 65536 packets, "
                           "67108864 bytes)");
    }
    while (sendQue.first != nullptr) {
        auto* p = static_cast<SXPacket*>(sendQue.first->data);
        uint8_t type = 0;
        p->GetPacketType(type);
        if (type == PACKET_TYPE_CNODE) {
            if (pub.state != Link::Up || pub.Unwritten() > kMaxUnwritten)
                return;
            Publish(p);
        } else if (type == PACKET_TYPE_CNODEREG || type == PACKET_TYPE_CNODEUNREG) {
            dirty = true;
        }
        sendQue.Unlink(sendQue.first);
        TakeFromSendQueBytes(PacketSizeOf(p));
        XFREE(p);
    }
}

void CCommRedisBridge::Publish(SXPacket* packet)
{
    SXPacketCNode* cnode = SXPacketCNode::From(packet);
    uint32_t id = 0, type = 0, session = 0, size = 0, head = 0;
    void* data = nullptr;
    const char* name = cnode->GetNodeName();
    if (name == nullptr || !cnode->GetNodeId(id) || !cnode->GetNodeType(type) ||
        !cnode->GetNodeSessionIndex(session) || !cnode->GetPacketSize(size) ||
        !cnode->GetFullNodeHeaderSize(head) || head > size || !cnode->GetNodeDataPtr(data))
        return;
    std::string message;
    bool encoded = false;
    for (const auto& [hub, nodes] : hubs) {
        const bool wanted = std::any_of(nodes.begin(), nodes.end(), [&](const NodeEntry& e) {
            return e.id == id && e.name == name && tvredis::TypesMeet(type, e.type);
        });
        if (!wanted)
            continue;
        if (!encoded && !tvredis::EncodeMessage(message, id, type, session, name,
                                                static_cast<const char*>(data), size - head)) {
            Complain(unroutable,
                     "node data not sent to other hubs: the node name is longer than 255 bytes or the "
                     "node type is not ANY, SERVER or CLIENT");
            return;
        }
        encoded = true;
        Command({"PUBLISH", chanPrefix + hub, message});
    }
}

void CCommRedisBridge::Deliver(const char* bytes, size_t size)
{
    tvredis::Message m;
    if (!tvredis::DecodeMessage(bytes, size, m)) {
        Complain(malformed, "malformed node message from Redis dropped");
        return;
    }
    const std::string name(m.name);
    // A peer drops a connection that brings data of a node it was never
    // told of: a node whose hub's list has not been read yet is announced
    // first.
    NodeEntry sender{m.id, m.type, name};
    if (!std::binary_search(view.begin(), view.end(), sender)) {
        heard[sender] = xGetTime();
        ApplyView();
    } else if (auto it = heard.find(sender); it != heard.end()) {
        it->second = xGetTime();
    }
    SXPacket* p = BuildPacket(PACKET_TYPE_CNODE, m.id, name.c_str(), m.type, m.session, m.data, m.size);
    if (p == nullptr) {
        xErrorf("CCommRedisBridge: Unable to allocate memory for a node packet of %u bytes", m.size);
        return;
    }
    LogData(">RECV:Node data<", p, PacketSizeOf(p));
    SendCommNodeToAllComm(this, p);
    if (const SCommNodeHooks* hooks = xGetCommNodeHooks()) {
        for (SLListNode* n = thisSideNodes.first; n != nullptr; n = n->next) {
            auto* node = static_cast<CCommNode*>(n->data);
            if (hooks->getId(node) == m.id && name == hooks->getName(node))
                hooks->recvIncomingFromComm(node, p);
        }
    }
    XFREE(p);
}

void CCommRedisBridge::OnSub(const redisReply* r)
{
    if (r->type != REDIS_REPLY_ARRAY || r->elements != 3) {
        if (r->type == REDIS_REPLY_ERROR)
            xErrorf("CCommRedisBridge: Redis refused (hub %s): %.*s", hubId.c_str(), static_cast<int>(r->len),
                    r->str);
        return;
    }
    const std::string_view kind = Text(r->element[0]);
    const std::string_view channel = Text(r->element[1]);
    if (kind == "subscribe") {
        if (r->element[2]->type == REDIS_REPLY_INTEGER)
            subscriptions = static_cast<int>(r->element[2]->integer);
        return;
    }
    if (kind != "message" || r->element[2]->type != REDIS_REPLY_STRING)
        return;
    if (channel == chanMine)
        Deliver(r->element[2]->str, r->element[2]->len);
    else if (channel == chanNews && Text(r->element[2]) != hubId)
        Fetch();
}

void CCommRedisBridge::OnPub(const redisReply* r)
{
    if (pending.empty())
        return;
    Pending p = std::move(pending.front());
    pending.pop_front();
    if (r->type == REDIS_REPLY_ERROR) {
        xErrorf("CCommRedisBridge: Redis refused (hub %s): %.*s", hubId.c_str(), static_cast<int>(r->len),
                r->str);
        if (p.kind != Pending::Ignore)
            fetching = false;
        return;
    }
    if (p.kind == Pending::Members) {
        Pending lists;
        lists.kind = Pending::Lists;
        if (r->type == REDIS_REPLY_ARRAY)
            for (size_t i = 0; i < r->elements; ++i) {
                const std::string_view id = Text(r->element[i]);
                if (!tvredis::ValidId(id) || id == hubId)
                    continue;
                if (lists.hubs.size() == tvredis::kMaxHubs) {
                    Complain(unroutable, "hubs past 256 in the group left out");
                    break;
                }
                lists.hubs.emplace_back(id);
            }
        if (lists.hubs.empty()) {
            hubs.clear();
            ApplyView();
            fetching = false;
        } else {
            const char* argv[tvredis::kMaxHubs + 1];
            size_t len[tvredis::kMaxHubs + 1];
            std::vector<std::string> keys;
            keys.reserve(lists.hubs.size());
            argv[0] = "MGET";
            len[0] = 4;
            for (const std::string& h : lists.hubs) {
                keys.push_back(keyPrefix + h);
                argv[keys.size()] = keys.back().c_str();
                len[keys.size()] = keys.back().size();
            }
            if (redisAppendCommandArgv(pub.ctx, static_cast<int>(keys.size() + 1), argv, len) != REDIS_OK) {
                Lost(pub, "out of memory", xGetTime());
                return;
            }
            pending.push_back(std::move(lists));
        }
    } else if (p.kind == Pending::Lists) {
        std::map<std::string, std::vector<NodeEntry>> seen;
        for (size_t i = 0; i < p.hubs.size(); ++i) {
            const redisReply* e = r->type == REDIS_REPLY_ARRAY && i < r->elements ? r->element[i] : nullptr;
            if (e == nullptr || e->type != REDIS_REPLY_STRING) {
                // The hub's key expired: it stopped refreshing.
                Command({"SREM", keyHubs, p.hubs[i]});
                continue;
            }
            std::vector<NodeEntry> nodes;
            if (!tvredis::DecodeNodeList(e->str, e->len, nodes))
                Complain(malformed, "malformed node list from Redis ignored");
            std::sort(nodes.begin(), nodes.end());
            seen[p.hubs[i]] = std::move(nodes);
        }
        hubs = std::move(seen);
        ApplyView();
        fetching = false;
    }
    if (!fetching && fetchAgain)
        Fetch();
}

// ---------------------------------------------------------------- the lists

std::vector<NodeEntry> CCommRedisBridge::OwnNodes()
{
    std::vector<NodeEntry> nodes;
    if (glb != nullptr)
        for (CLList* list : {glb->localClients, glb->remoteClients}) {
            if (list == nullptr)
                continue;
            for (SLListNode* n = list->first; n != nullptr; n = n->next) {
                auto* comm = static_cast<CCommBase*>(n->data);
                if (comm == this || !comm->AcceptNodes() || !comm->IsConnected())
                    continue;
                for (comm->OtherSideNodes_First(); comm->OtherSideNodes_Exists();
                     comm->OtherSideNodes_Next()) {
                    const SOtherSideNode* e = comm->OtherSideNodes_Get();
                    if (e->name != nullptr)
                        nodes.push_back({e->nodeId, e->nodeType, e->name});
                }
            }
        }
    if (CLList* list = tvnode::NodeList())
        for (SLListNode* n = list->first; n != nullptr; n = n->next) {
            auto* node = static_cast<CCommNode*>(n->data);
            if (node->IsInitialized())
                nodes.push_back({node->GetId(), node->GetType(), node->GetName()});
        }
    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    return nodes;
}

void CCommRedisBridge::Refresh(uint32_t now)
{
    uint32_t skipped = 0;
    std::string list;
    tvredis::EncodeNodeList(list, OwnNodes(), skipped);
    if (skipped != 0)
        Complain(unroutable, "nodes left out of the hub's list: name longer than 255 bytes, type not ANY, "
                             "SERVER or CLIENT, or more than 4096 nodes");
    const std::string ttl = std::to_string(g_ttlMs);
    Command({"SET", keyMine, list, "PX", ttl});
    Command({"SADD", keyHubs, hubId});
    if (list != lastList)
        Command({"PUBLISH", chanNews, hubId});
    lastList = std::move(list);
    lastRefresh = now;
    dirty = false;
    Fetch();
}

void CCommRedisBridge::Fetch()
{
    if (fetching) {
        fetchAgain = true;
        return;
    }
    Pending p;
    p.kind = Pending::Members;
    fetchAgain = false;
    fetching = Command({"SMEMBERS", keyHubs}, std::move(p));
}

void CCommRedisBridge::Route(uint8_t type, const NodeEntry& e)
{
    SXPacket* p = BuildPacket(type, e.id, e.name.c_str(), e.type, 0, nullptr, 0);
    if (p == nullptr)
        return;
    SendCommNodeRegToAllComm(this, p);
    XFREE(p);
}

void CCommRedisBridge::ApplyView()
{
    std::vector<NodeEntry> now;
    for (const auto& entry : hubs)
        now.insert(now.end(), entry.second.begin(), entry.second.end());
    const uint32_t time = xGetTime();
    for (auto it = heard.begin(); it != heard.end();) {
        if (time - it->second >= g_ttlMs) {
            it = heard.erase(it);
        } else {
            now.push_back(it->first);
            ++it;
        }
    }
    std::sort(now.begin(), now.end());
    now.erase(std::unique(now.begin(), now.end()), now.end());
    std::vector<NodeEntry> gone, added;
    std::set_difference(view.begin(), view.end(), now.begin(), now.end(), std::back_inserter(gone));
    std::set_difference(now.begin(), now.end(), view.begin(), view.end(), std::back_inserter(added));
    for (const NodeEntry& e : gone) {
        for (SLListNode* n = otherSideNodes.first; n != nullptr; n = n->next) {
            auto* o = static_cast<SOtherSideNode*>(n->data);
            if (o->nodeId == e.id && o->nodeType == e.type && e.name == o->name) {
                otherSideNodes.Unlink(n);
                XFREE(o->name);
                XDELETE(o);
                break;
            }
        }
        Route(PACKET_TYPE_CNODEUNREG, e);
    }
    for (const NodeEntry& e : added) {
        char* copy = tvcore::CopyText(e.name.c_str());
        auto* o = copy != nullptr ? XNEW(SOtherSideNode) : nullptr;
        if (o == nullptr) {
            if (copy != nullptr)
                XFREE(copy);
            xErrorf("CCommRedisBridge: Unable to allocate memory for a node of another hub");
            now.erase(std::find(now.begin(), now.end(), e));
            continue;
        }
        o->nodeId = e.id;
        o->nodeType = e.type;
        o->name = copy;
        o->refCount = 1;
        if (!otherSideNodes.InsertLast(o)) {
            XFREE(copy);
            XDELETE(o);
            now.erase(std::find(now.begin(), now.end(), e));
            continue;
        }
        Route(PACKET_TYPE_CNODEREG, e);
    }
    view = std::move(now);
}

int32_t ReadBridgeSockets(void* object, uint32_t socks[2])
{
    return g_bridge != nullptr && object == g_bridge ? g_bridge->Sockets(socks) : 0;
}

} // namespace

int32_t xCommNodeJoinRedis(const char* redisAddress, const char* prefix, const char* hubId)
{
    if (g_bridge != nullptr)
        return xErrorf("xCommNodeJoinRedis: this process has joined already (hub %s)",
                       g_bridge->GetObjName());
    const char* colon = redisAddress != nullptr ? std::strrchr(redisAddress, ':') : nullptr;
    char* end = nullptr;
    const long port = colon != nullptr ? std::strtol(colon + 1, &end, 10) : 0;
    if (colon == nullptr || colon == redisAddress || end == colon + 1 || *end != 0 || port < 1 ||
        port > 65535 || colon - redisAddress > 255)
        return xErrorf("xCommNodeJoinRedis: the Redis address must read host:port (not \"%s\")",
                       redisAddress != nullptr ? redisAddress : "(null)");
    if (prefix == nullptr || hubId == nullptr || !tvredis::ValidId(prefix) || !tvredis::ValidId(hubId))
        return xErrorf(
            "xCommNodeJoinRedis: prefix and hub id must be 1 to 64 characters of A-Z a-z 0-9 _ . -");
    if (glb == nullptr || glb->remoteClients == nullptr)
        return xErrorf("xCommNodeJoinRedis: the comm layer is not started (CommBaseStartup)");
    const std::string name(redisAddress, colon);
    uint32_t address = 0;
    if (!tvp::ResolveName(name.c_str(), address))
        return xErrorf("xCommNodeJoinRedis: Unable to resolve the Redis host %s", name.c_str());
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    const std::string dotted = std::to_string(b[0]) + "." + std::to_string(b[1]) + "." +
                               std::to_string(b[2]) + "." + std::to_string(b[3]);
    xInstallCommNodeHooks();
    g_bridge = XNEW(CCommRedisBridge, dotted, static_cast<int>(port), prefix, hubId);
    if (g_bridge == nullptr)
        return xErrorf("xCommNodeJoinRedis: Unable to allocate memory for the bridge");
    xSetWaitSocketReader(XWAIT_REDIS_BRIDGE, ReadBridgeSockets);
    if (!g_bridge->Start()) {
        xCommNodeLeaveRedis();
        return xErrorf("xCommNodeJoinRedis: Unable to register the bridge with the comm layer");
    }
    return TRUE;
}

void xCommNodeLeaveRedis()
{
    if (g_bridge == nullptr)
        return;
    g_bridge->Stop();
    XDELETE(g_bridge);
    g_bridge = nullptr;
    xSetWaitSocketReader(XWAIT_REDIS_BRIDGE, nullptr);
}

int32_t xCommNodeRedisLinked() { return g_bridge != nullptr && g_bridge->Linked() ? TRUE : FALSE; }

int32_t xCommNodeRedisHasNode(uint32_t id, const char* name)
{
    return g_bridge != nullptr && name != nullptr && g_bridge->Lists(id, name) ? TRUE : FALSE;
}

#else // built without hiredis

int32_t xCommNodeJoinRedis(const char*, const char*, const char*)
{
    return xErrorf(
        "xCommNodeJoinRedis: this build of the library has no Redis bridge (built without hiredis)");
}

void xCommNodeLeaveRedis() {}

int32_t xCommNodeRedisLinked() { return FALSE; }

int32_t xCommNodeRedisHasNode(uint32_t, const char*) { return FALSE; }

#endif
