// The clock-difference service: the server answers "RequestTime" with its
// clock in "RequestTimeAnswer" and waits for "Done"; the client asks,
// computes the offset and says "Done". The steps both sides share (naming,
// Init, sending one item, receiving one item) are written once in
// CTimeDiffNode and take each side's message texts as data.
#include <tarvex/frame.h>
#include <tarvex/timediff.h>

namespace
{

constexpr STimeDiffTexts kServerTexts = {
    "CTimeDiffServer::SetName:Node.SetName:Function failed",
    "CTimeDiffServer::SetObjName:Node.SetObjName:Function failed",
    "CTimeDiffServer::Init:name has not been initialized",
    "CTimeDiffServer::Init: id has not been initialized",
    "CTimeDiffServer::Init: InitCommNode: Function failed",
    "CTimeDiffServer::Handler:The timediffserver is not initialized",
    "CTimeDiffServer::Handler:The server is in an invalid state",
    "CTimeDiffServer::Handler:RecvKCBLPacket:Function failed",
    "CTimeDiffServer::Handler:FindItem (RequestTime):Function failed",
    "CTimeDiffServer::Handler:SendInit:Function failed",
    "CTimeDiffServer::Handler:NewItem:Function failed",
    "CTimeDiffServer::Handler:SendKCBLPacket:Function failed",
};

constexpr STimeDiffTexts kClientTexts = {
    "CTimeDiffClient::SetName:Node.SetName:Function failed",
    "CTimeDiffClient::SetObjName:Node.SetObjName:Function failed",
    "CTimeDiffClient::Init:name has not been initialized",
    "CTimeDiffClient::Init: id has not been initialized",
    "CTimeDiffClient::Init: InitCommNode: Function failed",
    "CTimeDiffClient::Handler:The timediffserver is not initialized",
    "CTimeDiffClient::Handler:The client is in an invalid state",
    "CTimeDiffClient::Handler:RecvKCBLPacket:Function failed",
    "CTimeDiffClient::Handler:FindItem (RequestTimeAnswer):Function failed",
    "CTimeDiffClient::Handler:SendInit:Function failed",
    "CTimeDiffClient::Handler:NewItem:Function failed",
    "CTimeDiffClient::Handler:SendKCBLPacket:Function failed",
};

constexpr const char* kTimedOut = "CTimeDiffClient::Handler:TDC_WAITREQANSWER:Timed out!";
constexpr const char* kGetLong = "CTimeDiffClient::Handler:GetLong:Function failed";

} // namespace

// ---------------------------------------------------------------- shared steps

void CTimeDiffNode::SetId(uint32_t id)
{
    CCommNode::SetId(id);
    idSet = TRUE;
}

int32_t CTimeDiffNode::Named(int32_t result)
{
    if (result != 1)
        return Error(texts.setName);
    nameSet = TRUE;
    return TRUE;
}

int32_t CTimeDiffNode::ObjNamed(int32_t result) { return result == 1 ? TRUE : Error(texts.setObjName); }

int32_t CTimeDiffNode::SetName(const char* name) { return Named(CCommNode::SetName(name)); }
int32_t CTimeDiffNode::SetName(const char* a, const char* b) { return Named(CCommNode::SetName(a, b)); }
int32_t CTimeDiffNode::SetName(const char* name, uint32_t first, uint32_t second, uint32_t third)
{
    return Named(CCommNode::SetName(name, first, second, third));
}
int32_t CTimeDiffNode::SetName(const char* a, const char* b, uint32_t first, uint32_t second, uint32_t third)
{
    return Named(CCommNode::SetName(a, b, first, second, third));
}
int32_t CTimeDiffNode::SetObjName(const char* name) { return ObjNamed(CCommNode::SetObjName(name)); }
int32_t CTimeDiffNode::SetObjName(const char* a, const char* b)
{
    return ObjNamed(CCommNode::SetObjName(a, b));
}
int32_t CTimeDiffNode::SetObjName(const char* a, uint32_t n) { return ObjNamed(CCommNode::SetObjName(a, n)); }
int32_t CTimeDiffNode::SetObjName(const char* a, const char* b, uint32_t n)
{
    return ObjNamed(CCommNode::SetObjName(a, b, n));
}

int32_t CTimeDiffNode::Init(int32_t log)
{
    if (!nameSet)
        return Error(texts.initName);
    if (!idSet)
        return Error(texts.initId);
    if (!InitCommNode(type))
        return Error(texts.initNode);
    SetLog(log);
    state = 1;
    return TRUE;
}

template <class Add> int32_t CTimeDiffNode::SendOne(Add add)
{
    if (!SendInit())
        return Error(texts.sendInit);
    if (!add())
        return Error(texts.newItem);
    if (!SendKCBLPacket())
        return Error(texts.sendKCBL);
    return TRUE;
}

int32_t CTimeDiffNode::ReceiveItem(const char* item)
{
    if (!RecvKCBLPacket())
        return Error(texts.recvKCBL);
    if (!recvKCBL.FindItem(item, nullptr, nullptr, nullptr)) {
        RecvKCBLFree();
        return Error(texts.findItem);
    }
    return TRUE;
}

// ---------------------------------------------------------------- server

CTimeDiffServer::CTimeDiffServer() : CTimeDiffNode(kServerTexts, CNODE_SERVER) {}

CTimeDiffServer::~CTimeDiffServer() { Exit(); }

void CTimeDiffServer::Exit()
{
    idSet = FALSE;
    nameSet = FALSE;
    clientDone = FALSE;
    ExitCommNode();
}

int32_t CTimeDiffServer::Handler()
{
    if (!idSet || !nameSet)
        return Error(texts.notInitialized);
    switch (state) {
    case TDS_INVALID:
        return Error(texts.invalidState);
    case TDS_WAITREQUEST:
        if (IsDataAvailable()) {
            if (!ReceiveItem("RequestTime"))
                return FALSE;
            uint32_t now = xGetTime();
            int32_t sent = SendOne([&] {
                return sendKCBL.NewItem("RequestTimeAnswer", KLONG, static_cast<int32_t>(now), KEND);
            });
            RecvKCBLFree();
            if (!sent)
                return FALSE;
            state = TDS_WAITDONE;
        }
        return TRUE;
    case TDS_WAITDONE:
        if (IsDataAvailable()) {
            // The client's last word: a stray packet without it is released
            // and reported, and the server keeps waiting.
            if (!ReceiveItem("Done"))
                return FALSE;
            clientDone = TRUE;
            RecvKCBLFree();
            state = TDS_FINISHED;
        }
        return TRUE;
    case TDS_FINISHED:
        return TRUE;
    default:
        state = TDS_INVALID;
        return TRUE;
    }
}

// ---------------------------------------------------------------- client

CTimeDiffClient::CTimeDiffClient() : CTimeDiffNode(kClientTexts, CNODE_CLIENT) {}

CTimeDiffClient::~CTimeDiffClient() { Exit(); }

void CTimeDiffClient::Exit()
{
    nameSet = FALSE;
    idSet = FALSE;
    clientDone = FALSE;
    serverTime = 0;
    timeDiff = 0;
    diffSign = 0;
    ExitCommNode();
}

int32_t CTimeDiffClient::Handler()
{
    if (!idSet || !nameSet)
        return Error(texts.notInitialized);
    switch (state) {
    case TDC_INVALID:
        return Error(texts.invalidState);
    case TDC_SENDREQUEST:
        if (!SendOne([&] { return sendKCBL.NewItem("RequestTime", KEND); }))
            return FALSE;
        state = TDC_WAITREQANSWER;
        waitCounter = 0;
        requestTime = xGetTime();
        return TRUE;
    case TDC_WAITREQANSWER: {
        // Counts frames, not milliseconds: the answer may take up to 751 calls.
        uint32_t n = waitCounter++;
        if (n > TDC_MAXWAIT)
            return Error(kTimedOut);
        if (!IsDataAvailable())
            return TRUE;
        if (!ReceiveItem("RequestTimeAnswer"))
            return FALSE;
        int32_t stamp = 0;
        if (!recvKCBL.GetLong(0, &stamp)) {
            RecvKCBLFree();
            return Error(kGetLong);
        }
        uint32_t now = xGetTime();
        // The whole round trip is added, not half of it.
        serverTime = static_cast<uint32_t>(stamp) + xTimeDiff(requestTime, now);
        if (serverTime > now) {
            diffSign = 1;
            timeDiff = serverTime - now;
        } else {
            diffSign = 2;
            timeDiff = now - serverTime;
        }
        RecvKCBLFree();
        state = TDC_SENDDONE;
        return TRUE;
    }
    case TDC_SENDDONE:
        if (!SendOne([&] { return sendKCBL.NewItem("Done", KEND); }))
            return FALSE;
        clientDone = TRUE;
        state = TDC_FINISHED;
        return TRUE;
    case TDC_FINISHED:
        return TRUE;
    default:
        state = TDC_INVALID;
        return TRUE;
    }
}

uint32_t CTimeDiffClient::GetTimeDiff(uint32_t serverStamp)
{
    uint32_t now = xGetTime();
    if (diffSign == 1)
        return xTimeDiff(serverStamp - timeDiff, now);
    if (diffSign == 2)
        return xTimeDiff(serverStamp + timeDiff, now);
    return xTimeDiff(serverStamp, now);
}
