// The clock-difference service: a client process learns how far the
// millisecond clock of a server process is from its own, over a pair of
// comm nodes with the same id and name. CTimeDiffServer answers one time
// request; CTimeDiffClient asks once, computes the offset, says "Done", and
// afterwards converts server time stamps into local elapsed time. Both are
// comm nodes, are driven by calling Handler once per frame and keep their
// own error text (GetErrorMsg) instead of the library error.
//
// The client adds the whole round trip to the server's answer, not half of
// it: the offset it learns errs by up to one round trip towards the server
// clock being ahead.
#pragma once

#include <tarvex/export.h>

#include <tarvex/commnode.h>

// Client states.
enum : int32_t {
    TDC_INVALID = 0,
    TDC_SENDREQUEST = 1,
    TDC_WAITREQANSWER = 2,
    TDC_SENDDONE = 3,
    TDC_FINISHED = 4,
};
// Server states.
enum : int32_t {
    TDS_INVALID = 0,
    TDS_WAITREQUEST = 1,
    TDS_WAITDONE = 2,
    TDS_FINISHED = 3,
};
// Handler calls the client waits for the answer before it gives up.
constexpr uint32_t TDC_MAXWAIT = 750;

// The messages of one side, as static texts (GetErrorMsg returns them).
struct TARVEX_API STimeDiffTexts {
    const char* setName;
    const char* setObjName;
    const char* initName;
    const char* initId;
    const char* initNode;
    const char* notInitialized;
    const char* invalidState;
    const char* recvKCBL;
    const char* findItem;
    const char* sendInit;
    const char* newItem;
    const char* sendKCBL;
};

// What the server and the client share: naming, Init and the error text.
class TARVEX_API CTimeDiffNode : public CCommNode
{
  public:
    void SetId(uint32_t id);
    int32_t SetName(const char* name);
    int32_t SetName(const char* a, const char* b);
    int32_t SetName(const char* name, uint32_t first, uint32_t second, uint32_t third);
    int32_t SetName(const char* a, const char* b, uint32_t first, uint32_t second, uint32_t third);
    int32_t SetObjName(const char* name);
    int32_t SetObjName(const char* a, const char* b);
    int32_t SetObjName(const char* a, uint32_t n);
    int32_t SetObjName(const char* a, const char* b, uint32_t n);
    int32_t Init(int32_t log);
    int32_t IsClientDone() const { return clientDone; }
    const char* GetErrorMsg() const { return errorMsg != nullptr ? errorMsg : ""; }
    int32_t GetState() const { return state; }

  protected:
    CTimeDiffNode(const STimeDiffTexts& texts, uint32_t type) : texts(texts), type(type) {}
    int32_t Error(const char* text)
    {
        errorMsg = text;
        return FALSE;
    }
    int32_t Named(int32_t result);
    int32_t ObjNamed(int32_t result);
    // SendInit, one item built by add, SendKCBLPacket; the texts' messages
    // on failure.
    template <class Add> int32_t SendOne(Add add);
    // The next packet into recvKCBL and the wanted item found; a packet
    // without the item is released again, so it cannot wedge the service.
    int32_t ReceiveItem(const char* item);

    const STimeDiffTexts& texts;
    uint32_t type;
    int32_t idSet = FALSE;
    int32_t nameSet = FALSE;
    int32_t state = 0;
    int32_t clientDone = FALSE;
    const char* errorMsg = nullptr;
};

class TARVEX_API CTimeDiffServer : public CTimeDiffNode
{
  public:
    CTimeDiffServer();
    ~CTimeDiffServer();
    int32_t Handler();
    void Exit();
};

class TARVEX_API CTimeDiffClient : public CTimeDiffNode
{
  public:
    CTimeDiffClient();
    ~CTimeDiffClient();
    int32_t Handler();
    void Exit();
    // The local time elapsed since the moment the server's clock showed
    // serverStamp.
    uint32_t GetTimeDiff(uint32_t serverStamp);
    void SetPreTime(uint32_t t) { preTime = t; }
    void SetPostTime(uint32_t t) { postTime = t; }
    uint32_t GetPreTime() const { return preTime; }
    uint32_t GetPostTime() const { return postTime; }
    // The offset: its size and sign (1 server clock ahead, 2 behind or
    // equal, 0 not measured).
    uint32_t GetOffset() const { return timeDiff; }
    int32_t GetDiffSign() const { return diffSign; }

  protected:
    uint32_t preTime = 0; // stored for the application; nothing here reads them
    uint32_t postTime = 0;
    uint32_t waitCounter = 0;
    uint32_t serverTime = 0;
    uint32_t requestTime = 0;
    uint32_t timeDiff = 0;
    int32_t diffSign = 0;
};
