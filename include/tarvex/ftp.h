// CFtpClient: a polling FTP download client. The application calls Update
// once per frame; each call pumps the command connection (queued commands
// out, reply lines in) and advances one step of a state machine, so nothing
// ever blocks the frame loop for long. Network failures end in bounded
// retries: the client tears the connection down, keeps its unfinished work
// and connects again. Finished downloads are queued as CDownloadedNote
// records for the application to collect.
#pragma once

#include <tarvex/export.h>

#include <tarvex/downloadnote.h>
#include <tarvex/file.h>
#include <tarvex/llist.h>
#include <tarvex/socket.h>

// Client states (CFtpClient::state).
enum : int32_t {
    FTPNOSTATE = 0, // idle before Connect; also the state after any error
    FTPCONNECTING = 1,
    FTPWAITINGFORLOGIN = 2,
    FTPSENDLOGIN = 3,
    FTPWAITLOGINANSWER = 4,
    FTPSTARTUPINIT = 5,
    FTPSENDPASSWORD = 6,
    FTPWAITPASSWORDANSWER = 7,
    FTPWAITFORTYPEANSWER = 8,
    FTPWAITFORUSERCOMMANDS = 9,
    FTPUSERCOMMANDCWD = 10,
    FTPUSERCOMMANDQUIT = 11,
    FTPUSERCOMMANDLIST = 12,
    FTPDOWNLOADINIT = 13,
    FTPPASVDOWNLOADWAITPASVANSWER = 14,
    FTPPASVDOWNLOADCONNECTING = 15,
    FTPPASVDOWNLOADWAITRECVFILE = 16,
    FTPNORMDOWNLOADWAITPORTANSWER = 17,
    FTPNORMDOWNLOADSENDRECVFILE = 18,
    FTPNORMDOWNLOADWAITRECVFILE = 19,
    FTPNORMDOWNLOADWAITINCOMINGCONNECT = 20,
    FTPDOWNLOADSTART = 21,
    FTPDOWNLOADDOWNLOADING = 22,
    FTPDOWNLOADEND = 23,
    FTPDOWNLOADPAUSE = 250, // short pause after a download, then FTPWAITFORUSERCOMMANDS
};

// User command types.
enum : int32_t { FTPUSERCMD_RAW = 1, FTPUSERCMD_DOWNLOAD = 2 };

// Limits of the client.
enum : uint32_t {
    FTP_LINE_SIZE = 1024,              // a reply line holds at most 1023 characters
    FTP_MAX_REPLY_LINES = 256,         // lines of one (multi-line) reply
    FTP_MAX_REPLY_TEXT = 64 * 1024,    // characters of one reply's text
    FTP_MAX_QUEUED_REPLIES = 64,       // replies waiting to be read
    FTP_DEFAULT_UPDATE_BUDGET = 1024,  // data bytes taken in per Update
    FTP_MAX_UPDATE_BUDGET = 64u << 20, // the largest budget SetUpdateByteBudget accepts
    FTP_STATE_TIMEOUT = 20000,         // ms a waiting state may last
    FTP_LOGIN_TIMEOUT = 30000,         // ms to wait for the greeting
    FTP_COMMAND_SPACING = 250,         // ms between two commands
    FTP_MAX_CONNECT_TRIES = 5,
    FTP_MAX_DATA_TRIES = 7,
    FTP_MAX_RECONNECTS = 6,
};

struct TARVEX_API SFtpFile {
    char* localName = nullptr;  // owned
    char* remoteName = nullptr; // owned
};

struct TARVEX_API SFtpUserCommand {
    int32_t type = 0; // FTPUSERCMD_*
    int32_t id = 0;
    char* string = nullptr;   // owned
    SFtpFile* file = nullptr; // owned
};

struct TARVEX_API SFtpSendCommand {
    char* text = nullptr; // the complete command line, "\r\n" included (owned)
    uint32_t sent = 0;    // bytes already sent
};

struct TARVEX_API SFtpRecvCommand {
    int32_t code = 0;     // the three-digit reply code
    char* text = nullptr; // all lines of the reply, each ending in "\n" (owned)
    int32_t multiLine = 0;
    int32_t lastLine = 0;
    CLList lines; // char* (owned): the lines one by one
    char line[FTP_LINE_SIZE] = {};
    uint32_t lineLength = 0;
    uint32_t textLength = 0;
};

// One connection slot: a socket with its flag, address and TLS record.
struct TARVEX_API SFtpSocket {
    uint32_t sock = INVALID_SOCKET;
    int32_t connected = 0;
    sockaddr_in addr{};
    SCryptData cd;
    int32_t startupCode = 0;
};

using FtpAppLogCallback = void (*)(char* text, void* user);
using FtpLoginCallback = int32_t (*)(char*& text, void* user);

class TARVEX_API CFtpClient
{
  public:
    // Queues.
    CLList recvQueue; // SFtpRecvCommand*, oldest first
    CLList sendQueue; // SFtpSendCommand*
    CLList userQueue; // SFtpUserCommand*

    int32_t connected = 0;
    int32_t connectAllowed = 1;
    int32_t logEnabled = 0;

    SFtpSocket command;
    SFtpSocket listening;
    SFtpSocket data;

    int32_t startupDone = 0;
    int32_t blockingConnect = 0;
    int32_t passiveMode = 0;
    char* hostName = nullptr;
    uint16_t port = 0;
    char* loginName = nullptr;
    char* password = nullptr;
    int32_t destroyed = 0;

    uint32_t connectTime = 0;
    int32_t connectTries = 0;
    int32_t dataTries = 0;
    const char* stateText = nullptr;
    const char* loggedStateText = nullptr;
    int32_t state = FTPNOSTATE;
    int32_t seenState = FTPNOSTATE;
    uint32_t stateTime = 0;

    SFtpFile* currentFile = nullptr;
    CFile file;

    int32_t parserState = 1;
    SFtpRecvCommand* currentReply = nullptr;
    SFtpSendCommand* currentSend = nullptr;
    int32_t sendState = 1;
    uint32_t sendPauseTime = 0;

    uint32_t bytesTransfered = 0;
    uint32_t downloadStart = 0;
    int32_t downloadSpeed = 0;
    int32_t transferDone = 0;
    int32_t hasFileSize = 0;
    uint32_t fileSize = 0;
    int32_t endTimerSet = 0;
    uint32_t endTimer = 0;
    int32_t reconnects = 0;
    int32_t downloads = 0;
    uint32_t updateBudget = FTP_DEFAULT_UPDATE_BUDGET;

    // Fault switches (counters count down by one per use).
    int32_t debugStopConnect = 0;
    char* debugStopSite = nullptr;
    int32_t debugStopFileConnect = 0;
    int32_t debugAlwaysStopPassive = 0;
    int32_t debugAlwaysStopNormal = 0;
    int32_t debugStopLogin = 0;
    int32_t debugStopPassword = 0;
    int32_t debugStopPort = 0;
    int32_t debugStopRecv = 0;
    int32_t debugStopFileSize = 0;
    int32_t debugAlwaysStopFileSize = 0;
    int32_t wrongDataPort = 0; // this data connection uses a wrong port

    CLList notes; // CDownloadedNote*, oldest first

    FtpAppLogCallback appLogCallback = nullptr;
    void* appLogUser = nullptr;
    FtpLoginCallback loginNameCallback = nullptr;
    void* loginNameUser = nullptr;
    FtpLoginCallback loginPasswordCallback = nullptr;
    void* loginPasswordUser = nullptr;
    FtpLoginCallback loginNameErrorCallback = nullptr;
    void* loginNameErrorUser = nullptr;
    FtpLoginCallback loginPasswordErrorCallback = nullptr;
    void* loginPasswordErrorUser = nullptr;

    char* errorText = nullptr;     // owned
    char* errorFunction = nullptr; // owned

    explicit CFtpClient(int32_t log = 0);
    // A client owns sockets and a file: copies are refused.
    CFtpClient(const CFtpClient&) = delete;
    CFtpClient& operator=(const CFtpClient&) = delete;
    ~CFtpClient();

    // Life cycle and set-up.
    int32_t Startup();
    int32_t Closedown();
    int32_t ClearObject();
    int32_t Disconnect();
    void SetBlockingConnectOn() { blockingConnect = TRUE; }
    void SetBlockingConnectOff() { blockingConnect = FALSE; }
    void SetPassiveMode() { passiveMode = TRUE; }
    void SetNormalMode() { passiveMode = FALSE; }
    void ChangeFileTransferMode() { passiveMode = passiveMode ? FALSE : TRUE; }
    int32_t Connect(const char* host, uint16_t port);
    int32_t SetLoginName(const char* name);
    int32_t SetLoginPassword(const char* text);
    // Data bytes taken in per Update (default 1024; 1 to FTP_MAX_UPDATE_BUDGET).
    int32_t SetUpdateByteBudget(uint32_t bytes);

    void SetAppLogCallback(FtpAppLogCallback cb, void* user);
    void SetLoginNameCallback(FtpLoginCallback cb, void* user);
    void SetLoginPasswordCallback(FtpLoginCallback cb, void* user);
    void SetLoginNameErrorCallback(FtpLoginCallback cb, void* user);
    void SetLoginPasswordErrorCallback(FtpLoginCallback cb, void* user);

    // Logs: "ftpfull.log", "ftpsendlow.log", "ftprecvlow.log".
    void LogEnable() { logEnabled = TRUE; }
    void LogDisable() { logEnabled = FALSE; }
    void LogDelete();
    void LogString(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogApp(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LogSendLow(const char* text, uint32_t start, uint32_t count);
    void LogRecvLow(const char* text, uint32_t start, uint32_t count);

    // Work.
    int32_t Update();
    int32_t RetrieveFile(const char* local, const char* remote);
    int32_t SendFile(const char*, const char*) { return TRUE; }

    // Queries.
    int32_t GetState() const { return state; }
    const char* GetStateString() const { return stateText != nullptr ? stateText : ""; }
    int32_t IsWaitingForUserCommands() const { return state == FTPWAITFORUSERCOMMANDS ? TRUE : FALSE; }
    int32_t IsUserCommands() const;
    int32_t IsDownloading() const { return state == FTPDOWNLOADDOWNLOADING ? TRUE : FALSE; }
    int32_t GetDownloadHasFileSize() const { return hasFileSize; }
    uint32_t GetDownloadFileSize() const { return fileSize; }
    uint32_t GetDownloadBytesTransfered() const { return bytesTransfered; }
    int32_t GetDownloadSpeed() const { return downloadSpeed; }
    // The names of the download in progress (not copies); NULL when none.
    const char* GetDownloadLocalFileName() const;
    const char* GetDownloadRemoteFileName() const;

    // Queues.
    int32_t RecvCommandQueue_IsMessage() const { return recvQueue.count > 0 ? TRUE : FALSE; }
    int32_t RecvCommandQueue_GetMessage(int32_t& code, char*& text, int32_t wantText);
    int32_t UserCommandQueue_IsMessage() const { return userQueue.count > 0 ? TRUE : FALSE; }
    int32_t UserCommandQueue_MessageType() const;
    int32_t UserCommandQueue_GetMessageFile(SFtpFile*& file);
    int32_t UserCommandQueue_GetMessage(int32_t& id, char*& string);
    int32_t SendCommandQueue_AddMessage(const char* command, const char* argument);
    int32_t AddRecvCommand(SFtpRecvCommand* reply);
    // Runs received command-connection bytes through the reply parser.
    // Returns 1, or 0 after an over-long line or reply (error reported);
    // reconnect is set when a reply does not start with a code.
    int32_t ParseReplyBytes(const char* bytes, uint32_t size, int32_t& reconnect);
    // Reads the announced size from a 125/150 reply text.
    int32_t TryGetFileSizeFromString(const char* text);

    // Errors.
    int32_t FtpErrorTxt(const char* text, const char* function);
    int32_t FtpErrorTxtIfNoError(const char* text, const char* function);
    int32_t FtpGetErrorTxt(char*& text, char*& function);

    // Notes.
    int32_t IsDownloadedNote() const { return notes.count > 0 ? TRUE : FALSE; }
    int32_t GetDownloadedNote(uint32_t, int32_t, uint32_t, char*& local, char*& remote);
    int32_t AddDownloadedNote(uint32_t time, int32_t hasSize, uint32_t size, const char* local,
                              const char* remote);

    // Fault injection for tests of the retry paths.
    void DebugStopConnect(int32_t n);
    void DebugAlwaysStopSite(const char* host);
    void DebugStopFileConnect(int32_t n);
    void DebugAlwaysStopPassive();
    void DebugAlwaysStopNormal();
    void DebugStopLogin(int32_t n);
    void DebugStopPassword(int32_t n);
    void DebugStopPort(int32_t n);
    void DebugStopRecv(int32_t n);
    void DebugStopFileSize(int32_t n);
    void DebugAlwaysStopFileSize();

    // The steps of Update (ftpupdate.cpp); applications call Update.
    int32_t SendRecvCommandHandler(int32_t& reconnect);
    int32_t Reconnect();
    int32_t Fail(const char* text);
    int32_t FailSoftly(const char* text);
    const char* StateName() const;
    int32_t Timeout(const char* format, uint32_t limit, bool& timedOut);
    int32_t TakeReply(int32_t& code, char*& text);
    int32_t QueueCommand(const char* command, const char* argument, const char* failText);
    int32_t DataRetry(const char* retryText, const char* switchText, const char* giveUpLog,
                      const char* giveUpError, const char* reconnectFailText);
    int32_t StartConnectAttempt(int32_t attempt);
    void AbandonLocalFile();
    void CloseData();
    bool DriveAccept(const char* connectedText, const char* failText, int32_t& result);
    int32_t RestartSocketLayer(SFtpSocket& slot);
    int32_t ReceiveData(uint32_t& got, bool& receiveError);
    int32_t CompleteDownload();
    int32_t DownloadRetry(const char* text);

    int32_t StepConnecting();
    int32_t StepWaitingForLogin();
    struct SCredentialStep;
    int32_t StepSendCredential(const SCredentialStep& step);
    int32_t StepSendLogin();
    int32_t StepWaitLoginAnswer();
    int32_t StepSendPassword();
    int32_t StepWaitPasswordAnswer();
    int32_t StepStartupInit();
    int32_t StepWaitTypeAnswer();
    int32_t StepIdle();
    int32_t StepDownloadInit();
    int32_t StepPasvAnswer();
    int32_t StepPasvConnecting();
    int32_t StepWaitRecvFile(bool passive);
    int32_t StepPortAnswer();
    int32_t StepNormSendRecv();
    int32_t StepWaitIncoming();
    int32_t StepDownloadStart();
    int32_t StepDownloading();
    int32_t StepDownloadEnd();
    struct SReplyError {
        int32_t code;
        const char* logText;
        const char* errorText;
    };
    int32_t FailReply(int32_t code, const SReplyError* table, uint32_t count, const char* invalidLog);
    bool StateReadsReplies() const;
};

// Reads the six numbers of a 227 reply's "(h1,h2,h3,h4,p1,p2)" group. Each
// number must be 0-255 and the port non-zero; FALSE otherwise.
TARVEX_API int32_t xFtpParsePasvReply(const char* text, uint8_t host[4], uint16_t& port);
// The announced size in a "(... bytes)" group of a 125/150 reply: the first
// group of 1 to 62 characters naming bytes whose number reads as a size of
// 1 to 4294967295. FALSE (size 0) when there is none.
TARVEX_API int32_t xFtpParseFileSize(const char* text, uint32_t& size);
