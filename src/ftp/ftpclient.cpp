// The FTP client's object side: construction and teardown, start-up,
// connecting (with its bounded attempts and the connect fault switches),
// login texts and callbacks, the command and user-command queues, errors,
// logs, downloaded notes and the fault switches. The per-frame state
// machine lives in ftpupdate.cpp, the reply parser in ftpreply.cpp.
#include <tarvex/ftp.h>

#include <tarvex/error.h>
#include <tarvex/frame.h>
#include <tarvex/strings.h>

#include "ftp/ftpinternal.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

using tvftp::CopyText;
using tvftp::FreeText;

namespace
{

// Where the connect fault switches send a connection: a private-network
// address that nothing answers on.
constexpr const char* kDeadAddress = "10.255.255.1";
constexpr uint32_t kBlockingConnectTimeout = 20000;

constexpr const char* kFullLog = "ftpfull.log";
constexpr const char* kSendLog = "ftpsendlow.log";
constexpr const char* kRecvLog = "ftprecvlow.log";

void AppendToFile(const char* name, const char* bytes, uint32_t n)
{
    CFile f;
    if (f.Open(name, XFILE_APPEND))
        f.Write(bytes, n);
    f.Close();
}

} // namespace

namespace tvftp
{

void FreeFile(SFtpFile* file)
{
    if (file == nullptr)
        return;
    FreeText(file->localName);
    FreeText(file->remoteName);
    XDELETE(file);
}

void FreeUserCommand(SFtpUserCommand* cmd)
{
    if (cmd == nullptr)
        return;
    FreeText(cmd->string);
    FreeFile(cmd->file);
    XDELETE(cmd);
}

void FreeSendCommand(SFtpSendCommand* cmd)
{
    if (cmd == nullptr)
        return;
    FreeText(cmd->text);
    XDELETE(cmd);
}

} // namespace tvftp

// ---------------------------------------------------------------- life cycle

CFtpClient::CFtpClient(int32_t log) : logEnabled(log)
{
    LogString("\n\nFTP object created.\n\n");
    ClearObject();
}

CFtpClient::~CFtpClient()
{
    LogString("[Destructor: Function begin]");
    ClearObject();
    destroyed = TRUE;
    if (command.cd.initialised)
        xClosedownSockets(command.startupCode, &command.cd);
    if (listening.cd.initialised)
        xClosedownSockets(listening.startupCode, &listening.cd);
    if (data.cd.initialised)
        xClosedownSockets(data.startupCode, &data.cd);
    FreeText(hostName);
    FreeText(loginName);
    FreeText(password);
    FreeText(debugStopSite);
    FreeText(errorText);
    FreeText(errorFunction);
    for (notes.First(); notes.Exists(); notes.Next())
        XDELETE(static_cast<CDownloadedNote*>(notes.Get()));
    notes.KillAll();
    LogString("\n\nFTP object deleted.");
}

int32_t CFtpClient::Startup()
{
    if (destroyed)
        return FtpErrorTxt("Object is destroyed.", "Startup");
    if (startupDone)
        return FtpErrorTxt("Startup is already called.", "Startup");
    if (!xStartupSockets(command.startupCode, 0, &command.cd))
        return FALSE;
    startupDone = TRUE;
    return TRUE;
}

int32_t CFtpClient::Closedown()
{
    if (command.cd.initialised) {
        xDisconnectSocket(command.sock, command.connected, &command.cd);
        xClosedownSockets(command.startupCode, &command.cd);
    }
    return TRUE;
}

void CFtpClient::CloseData()
{
    if (data.sock != INVALID_SOCKET)
        xCloseSocket(data.sock);
    data.connected = 0;
}

void CFtpClient::AbandonLocalFile()
{
    if (!file.IsOpen())
        return;
    file.Close();
    if (currentFile != nullptr && currentFile->localName != nullptr)
        xFileDelete(currentFile->localName);
}

int32_t CFtpClient::ClearObject()
{
    xCloseSocket(command.sock);
    command.connected = 0;
    xCloseSocket(listening.sock);
    listening.connected = 0;
    CloseData();
    AbandonLocalFile();
    for (recvQueue.First(); recvQueue.Exists(); recvQueue.Next())
        tvftp::FreeReply(static_cast<SFtpRecvCommand*>(recvQueue.Get()));
    recvQueue.KillAll();
    for (sendQueue.First(); sendQueue.Exists(); sendQueue.Next())
        tvftp::FreeSendCommand(static_cast<SFtpSendCommand*>(sendQueue.Get()));
    sendQueue.KillAll();
    for (userQueue.First(); userQueue.Exists(); userQueue.Next())
        tvftp::FreeUserCommand(static_cast<SFtpUserCommand*>(userQueue.Get()));
    userQueue.KillAll();
    tvftp::FreeReply(currentReply);
    currentReply = nullptr;
    tvftp::FreeSendCommand(currentSend);
    currentSend = nullptr;
    tvftp::FreeFile(currentFile);
    currentFile = nullptr;
    connected = FALSE;
    connectAllowed = TRUE;
    parserState = 1;
    sendState = 1;
    bytesTransfered = 0;
    downloadStart = 0;
    downloadSpeed = 0;
    transferDone = 0;
    hasFileSize = 0;
    fileSize = 0;
    endTimerSet = 0;
    endTimer = 0;
    wrongDataPort = 0;
    return TRUE;
}

int32_t CFtpClient::Disconnect()
{
    ClearObject();
    state = FTPNOSTATE;
    return TRUE;
}

int32_t CFtpClient::SetUpdateByteBudget(uint32_t bytes)
{
    if (bytes == 0 || bytes > FTP_MAX_UPDATE_BUDGET)
        return FtpErrorTxt("Invalid byte budget.", "SetUpdateByteBudget");
    updateBudget = bytes;
    return TRUE;
}

// ---------------------------------------------------------------- connecting

int32_t CFtpClient::StartConnectAttempt(int32_t attempt)
{
    xCloseSocket(command.sock);
    command.connected = 0;
    const char* target = hostName;
    bool redirect = false;
    if (debugStopConnect > 0) {
        --debugStopConnect;
        redirect = true;
    } else if (debugStopSite != nullptr && xStricmp(debugStopSite, hostName) == 0) {
        redirect = true;
    }
    if (redirect) {
        LogString("Debugging: StopConnect: Connecting to %s:%lu instead of %s:%lu", kDeadAddress,
                  static_cast<unsigned long>(port), hostName, static_cast<unsigned long>(port));
        target = kDeadAddress;
    }
    if (attempt == 1)
        LogString("Connecting to ftp server: %s:%lu.", hostName, static_cast<unsigned long>(port));
    else
        LogString("Connecting to ftp server: %s:%lu (try %ld).", hostName, static_cast<unsigned long>(port),
                  static_cast<long>(attempt));
    connectTime = xGetTime();
    if (!xConnectSocket(target, port, nullptr, 0, command.sock, &command.addr, &command.cd)) {
        LogString("Unable to connection to the specfied ftp site");
        return FALSE;
    }
    return TRUE;
}

int32_t CFtpClient::Connect(const char* host, uint16_t portIn)
{
    if (destroyed)
        return FtpErrorTxt("Object is destroyed.", "Connect");
    if (!startupDone)
        return FtpErrorTxt("Startup has not been called.", "Connect");
    if (!connectAllowed)
        return FtpErrorTxt("Connect must be the first function to call.", "Connect");
    if (host == nullptr)
        return FtpErrorTxt("Hostname is NULL (invalid).", "Connect");
    if (host != hostName) {
        char* copy = CopyText(host);
        if (copy == nullptr)
            return FtpErrorTxt("Out of memory.", "Connect");
        FreeText(hostName);
        hostName = copy;
    }
    port = portIn;

    for (int32_t attempt = 1; attempt <= static_cast<int32_t>(FTP_MAX_CONNECT_TRIES); ++attempt) {
        if (!StartConnectAttempt(attempt))
            continue;
        if (!blockingConnect) {
            stateText = "Connecting...";
            state = FTPCONNECTING;
            connectTries = 0;
            connected = TRUE;
            connectAllowed = FALSE;
            return TRUE;
        }
        // Blocking: the rest of the library keeps running meanwhile.
        const uint32_t start = xGetTime();
        bool up = false;
        for (;;) {
            xHandler();
            if (!xNonBlockedConnectHandler(hostName, port, nullptr, 0, command.sock, command.connected,
                                           &command.cd)) {
                LogString("Unable to connect.");
                break;
            }
            if (command.connected) {
                up = true;
                break;
            }
            if (xTimeDiff(start, xGetTime()) > kBlockingConnectTimeout) {
                LogString("Timeout trying to connect.");
                xCloseSocket(command.sock);
                break;
            }
            xSleep(1);
        }
        if (up) {
            LogString("Connected.");
            stateText = "Connected: Waiting for login.";
            state = FTPWAITINGFORLOGIN;
            connected = TRUE;
            connectAllowed = FALSE;
            return TRUE;
        }
    }
    LogString("Unable to connect. Maximum retries reached.");
    return FtpErrorTxt("Unable to connect.", "Connect");
}

// ---------------------------------------------------------------- login texts and callbacks

namespace
{

int32_t SetLoginText(CFtpClient& c, char*& field, const char* text, const char* function)
{
    if (c.destroyed)
        return c.FtpErrorTxt("Object is destroyed.", function);
    if (!c.startupDone)
        return c.FtpErrorTxt("Startup has not been called.", function);
    if (!c.connected)
        return c.FtpErrorTxt("Connect must be called before Login.", function);
    if (!tvftp::SafeCommandText(text))
        return c.FtpErrorTxt("Text is missing or holds a line break.", function);
    char* copy = CopyText(text);
    if (copy == nullptr)
        return c.FtpErrorTxt("Out of memory.", function);
    FreeText(field);
    field = copy;
    return TRUE;
}

} // namespace

int32_t CFtpClient::SetLoginName(const char* name)
{
    return SetLoginText(*this, loginName, name, "SetLoginName");
}

int32_t CFtpClient::SetLoginPassword(const char* text)
{
    return SetLoginText(*this, password, text, "SetLoginPassword");
}

void CFtpClient::SetAppLogCallback(FtpAppLogCallback cb, void* user)
{
    appLogCallback = cb;
    appLogUser = user;
}

void CFtpClient::SetLoginNameCallback(FtpLoginCallback cb, void* user)
{
    loginNameCallback = cb;
    loginNameUser = user;
}

void CFtpClient::SetLoginPasswordCallback(FtpLoginCallback cb, void* user)
{
    loginPasswordCallback = cb;
    loginPasswordUser = user;
}

void CFtpClient::SetLoginNameErrorCallback(FtpLoginCallback cb, void* user)
{
    loginNameErrorCallback = cb;
    loginNameErrorUser = user;
}

void CFtpClient::SetLoginPasswordErrorCallback(FtpLoginCallback cb, void* user)
{
    loginPasswordErrorCallback = cb;
    loginPasswordErrorUser = user;
}

// ---------------------------------------------------------------- logs

void CFtpClient::LogDelete()
{
    xFileDelete(kFullLog);
    xFileDelete(kSendLog);
    xFileDelete(kRecvLog);
}

void CFtpClient::LogString(const char* format, ...)
{
    if (!logEnabled)
        return;
    char text[2048];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text - 1, format, args);
    va_end(args);
    if (n < 0)
        return;
    size_t len = std::strlen(text);
    text[len++] = '\n';
    AppendToFile(kFullLog, text, static_cast<uint32_t>(len));
}

void CFtpClient::LogApp(const char* format, ...)
{
    if (appLogCallback == nullptr)
        return;
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    appLogCallback(text, appLogUser);
}

void CFtpClient::LogSendLow(const char* text, uint32_t start, uint32_t count)
{
    if (logEnabled && text != nullptr && count > 0)
        AppendToFile(kSendLog, text + start, count);
}

void CFtpClient::LogRecvLow(const char* text, uint32_t start, uint32_t count)
{
    if (logEnabled && text != nullptr && count > 0)
        AppendToFile(kRecvLog, text + start, count);
}

// ---------------------------------------------------------------- queues

int32_t CFtpClient::RetrieveFile(const char* local, const char* remote)
{
    if (local == nullptr || !tvftp::SafeCommandText(remote))
        return FtpErrorTxt("File name is missing or holds a line break.", "RetrieveFile");
    auto* cmd = XNEW(SFtpUserCommand);
    auto* f = XNEW(SFtpFile);
    if (cmd != nullptr)
        cmd->file = f;
    if (f != nullptr) {
        f->localName = CopyText(local);
        f->remoteName = CopyText(remote);
    }
    if (cmd == nullptr || f == nullptr || f->localName == nullptr || f->remoteName == nullptr ||
        !userQueue.InsertLast(cmd)) {
        if (cmd != nullptr)
            tvftp::FreeUserCommand(cmd);
        else
            tvftp::FreeFile(f);
        return FtpErrorTxt("Out of memory.", "RetrieveFile");
    }
    cmd->type = FTPUSERCMD_DOWNLOAD;
    return TRUE;
}

int32_t CFtpClient::IsUserCommands() const
{
    return currentFile != nullptr || userQueue.count > 0 ? TRUE : FALSE;
}

const char* CFtpClient::GetDownloadLocalFileName() const
{
    return currentFile != nullptr ? currentFile->localName : nullptr;
}

const char* CFtpClient::GetDownloadRemoteFileName() const
{
    return currentFile != nullptr ? currentFile->remoteName : nullptr;
}

int32_t CFtpClient::UserCommandQueue_MessageType() const
{
    if (userQueue.first == nullptr)
        return 0;
    return static_cast<const SFtpUserCommand*>(userQueue.first->data)->type;
}

int32_t CFtpClient::UserCommandQueue_GetMessageFile(SFtpFile*& f)
{
    f = nullptr;
    if (UserCommandQueue_MessageType() != FTPUSERCMD_DOWNLOAD)
        return FtpErrorTxt("No download command is available.", "UserCommandQueue_GetMessageFile");
    userQueue.First();
    auto* cmd = static_cast<SFtpUserCommand*>(userQueue.Get());
    userQueue.Delete();
    f = cmd->file;
    cmd->file = nullptr;
    tvftp::FreeUserCommand(cmd);
    return TRUE;
}

int32_t CFtpClient::UserCommandQueue_GetMessage(int32_t& id, char*& string)
{
    string = nullptr;
    if (UserCommandQueue_MessageType() != FTPUSERCMD_RAW)
        return FtpErrorTxt("No user command is available.", "UserCommandQueue_GetMessage");
    userQueue.First();
    auto* cmd = static_cast<SFtpUserCommand*>(userQueue.Get());
    userQueue.Delete();
    id = cmd->id;
    string = cmd->string;
    cmd->string = nullptr;
    tvftp::FreeUserCommand(cmd);
    return TRUE;
}

int32_t CFtpClient::SendCommandQueue_AddMessage(const char* commandText, const char* argument)
{
    if (commandText == nullptr)
        return FALSE;
    size_t n = std::strlen(commandText) + (argument != nullptr ? 1 + std::strlen(argument) : 0) + 3;
    auto* cmd = XNEW(SFtpSendCommand);
    char* text = cmd != nullptr ? static_cast<char*>(XALLOC(n)) : nullptr;
    if (text == nullptr || !sendQueue.InsertLast(cmd)) {
        if (text != nullptr)
            XFREE(text);
        if (cmd != nullptr)
            XDELETE(cmd);
        return FtpErrorTxt("Out of memory.", "SendCommandQueue_AddMessage");
    }
    if (argument != nullptr)
        std::snprintf(text, n, "%s %s\r\n", commandText, argument);
    else
        std::snprintf(text, n, "%s\r\n", commandText);
    cmd->text = text;
    return TRUE;
}

// ---------------------------------------------------------------- errors

int32_t CFtpClient::FtpErrorTxt(const char* text, const char* function)
{
    if (text == nullptr)
        return FALSE;
    if (function == nullptr)
        function = "";
    state = FTPNOSTATE;
    // A download that fails for good leaves no partial file behind.
    AbandonLocalFile();
    FreeText(errorText);
    FreeText(errorFunction);
    errorText = CopyText(text);
    errorFunction = CopyText(function);
    LogString("Ftp error: (%s):%s", function, text);
    xErrorf("Ftp error: (%s):%s", function, text);
    return FALSE;
}

int32_t CFtpClient::FtpErrorTxtIfNoError(const char* text, const char* function)
{
    if (errorText == nullptr)
        return FtpErrorTxt(text, function);
    state = FTPNOSTATE;
    AbandonLocalFile();
    if (glb != nullptr)
        glb->error.SetErrorf("ftp error: %s::%s", function != nullptr ? function : "",
                             text != nullptr ? text : "");
    return FALSE;
}

int32_t CFtpClient::FtpGetErrorTxt(char*& text, char*& function)
{
    text = errorText;
    function = errorFunction;
    return errorText != nullptr ? TRUE : FALSE;
}

// ---------------------------------------------------------------- notes

int32_t CFtpClient::AddDownloadedNote(uint32_t time, int32_t hasSize, uint32_t size, const char* local,
                                      const char* remote)
{
    auto* note = XNEW(CDownloadedNote);
    if (note == nullptr)
        return FtpErrorTxt("Out of memory.", "AddDownloadedNote");
    note->SetDownloadTime(time);
    note->SetFileSizeExists(hasSize);
    note->SetFileSize(size);
    if (!note->SetLocalFileName(local) || !note->SetRemoteFileName(remote) || !notes.InsertLast(note)) {
        XDELETE(note);
        return FtpErrorTxt("Out of memory.", "AddDownloadedNote");
    }
    return TRUE;
}

int32_t CFtpClient::GetDownloadedNote(uint32_t, int32_t, uint32_t, char*& local, char*& remote)
{
    local = remote = nullptr;
    if (notes.count == 0 || !notes.First())
        return FtpErrorTxt("No downloaded notes exists", "GetDownloadedNote");
    auto* note = static_cast<CDownloadedNote*>(notes.Get());
    char* l = note->GetLocalFileName();
    char* r = note->GetRemoteFileName();
    if (l == nullptr || r == nullptr) {
        FreeText(l);
        FreeText(r);
        return FtpErrorTxt("Out of memory.", "GetDownloadedNote");
    }
    notes.Delete();
    XDELETE(note);
    local = l;
    remote = r;
    return TRUE;
}

// ---------------------------------------------------------------- fault switches

void CFtpClient::DebugStopConnect(int32_t n)
{
    LogString("DebugStopConnect: begin");
    debugStopConnect = n;
    LogString("DebugStopConnect: end");
}

void CFtpClient::DebugAlwaysStopSite(const char* host)
{
    LogString("DebugAlwaysStopSite: begin");
    FreeText(debugStopSite);
    debugStopSite = CopyText(host);
    LogString("DebugAlwaysStopSite: end");
}

void CFtpClient::DebugStopFileConnect(int32_t n)
{
    LogString("DebugStopFileConnect: begin");
    debugStopFileConnect = n;
    LogString("DebugStopFileConnect: end");
}

void CFtpClient::DebugAlwaysStopPassive()
{
    LogString("DebugAlwaysStopPassive: begin");
    debugAlwaysStopPassive = TRUE;
    LogString("DebugAlwaysStopPassive: end");
}

void CFtpClient::DebugAlwaysStopNormal()
{
    LogString("DebugAlwaysStopNormal: begin");
    debugAlwaysStopNormal = TRUE;
    LogString("DebugAlwaysStopNormal: end");
}

void CFtpClient::DebugStopLogin(int32_t n)
{
    LogString("DebugStopLogin: begin");
    debugStopLogin = n;
    LogString("DebugStopLogin: end");
}

void CFtpClient::DebugStopPassword(int32_t n)
{
    LogString("DebugStopPassword: begin");
    debugStopPassword = n;
    LogString("DebugStopPassword: end");
}

void CFtpClient::DebugStopPort(int32_t n)
{
    LogString("DebugStopPort: begin");
    debugStopPort = n;
    LogString("DebugStopPort: end");
}

void CFtpClient::DebugStopRecv(int32_t n)
{
    LogString("DebugStopRecv: begin");
    debugStopRecv = n;
    LogString("DebugStopRecv: end");
}

void CFtpClient::DebugStopFileSize(int32_t n)
{
    LogString("DebugStopFileSize: begin");
    debugStopFileSize = n;
    LogString("DebugStopFileSize: end");
}

void CFtpClient::DebugAlwaysStopFileSize()
{
    LogString("DebugAlwaysStopFileSize: begin");
    debugAlwaysStopFileSize = TRUE;
    LogString("DebugAlwaysStopFileSize: end");
}
