// The FTP client's per-frame state machine: Update pumps the command
// connection (reply bytes in, one queued command out per 250 ms) and then
// advances the current state by one step: login, binary mode, a passive or
// active data connection, the download itself and its end. Every network
// failure ends in a bounded retry (reconnect, data-connection retry with a
// mode switch after every third failure); a failure for good leaves the
// client in state 0, where Update does nothing more.
//
// Trust: the 227 reply's address is read but not used (the data connection
// goes to the command connection's peer); in active mode the announced
// address is that of the command connection's local end, and only the server
// may connect to it. The announced size is checked before it is believed.
#include <tarvex/ftp.h>

#include <tarvex/error.h>
#include <tarvex/frame.h>

#include "ftp/ftpinternal.h"
#include "platform/net.h"

#include <cctype>
#include <cstdio>
#include <cstring>

using tvftp::CopyText;
using tvftp::FreeText;

namespace
{

struct StateName {
    int32_t state;
    const char* name;
};

constexpr StateName kStateNames[] = {
    {FTPCONNECTING, "FTPCONNECTING"},
    {FTPWAITINGFORLOGIN, "FTPWAITINGFORLOGIN"},
    {FTPSENDLOGIN, "FTPSENDLOGIN"},
    {FTPWAITLOGINANSWER, "FTPWAITLOGINANSWER"},
    {FTPSTARTUPINIT, "FTPSTARTUPINIT"},
    {FTPSENDPASSWORD, "FTPSENDPASSWORD"},
    {FTPWAITPASSWORDANSWER, "FTPWAITPASSWORDANSWER"},
    {FTPWAITFORTYPEANSWER, "FTPWAITFORTYPEANSWER"},
    {FTPWAITFORUSERCOMMANDS, "FTPWAITFORUSERCOMMANDS"},
    {FTPUSERCOMMANDCWD, "FTPUSERCOMMANDCWD"},
    {FTPUSERCOMMANDQUIT, "FTPUSERCOMMANDQUIT"},
    {FTPUSERCOMMANDLIST, "FTPUSERCOMMANDLIST"},
    {FTPDOWNLOADINIT, "FTPDOWNLOADINIT"},
    {FTPPASVDOWNLOADWAITPASVANSWER, "FTPPASVDOWNLOADWAITPASVANSWER"},
    {FTPPASVDOWNLOADCONNECTING, "FTPPASVDOWNLOADCONNECTING"},
    {FTPPASVDOWNLOADWAITRECVFILE, "FTPPASVDOWNLOADWAITRECVFILE"},
    {FTPNORMDOWNLOADWAITPORTANSWER, "FTPNORMDOWNLOADWAITPORTANSWER"},
    {FTPNORMDOWNLOADSENDRECVFILE, "FTPNORMDOWNLOADSENDRECVFILE"},
    {FTPNORMDOWNLOADWAITRECVFILE, "FTPNORMDOWNLOADWAITRECVFILE"},
    {FTPNORMDOWNLOADWAITINCOMINGCONNECT, "FTPNORMDOWNLOADWAITINCOMINGCONNECT"},
    {FTPDOWNLOADSTART, "FTPDOWNLOADSTART"},
    {FTPDOWNLOADDOWNLOADING, "FTPDOWNLOADDOWNLOADING"},
    {FTPDOWNLOADEND, "FTPDOWNLOADEND"},
    {FTPDOWNLOADPAUSE, "FTPDOWNLOADPAUSE"},
};

using RE = CFtpClient::SReplyError;

constexpr RE kLoginErrors[] = {
    {120, "Ftp error(120): Server is not available.", "Server is not available."},
    {421, "Ftp error(421): Service not available.", "Server is not available."},
};
constexpr RE kUserErrors[] = {
    {500, "Ftp error(500): Syntax error.", "Syntax error, command unrecognized."},
    {501, "Ftp error(501): Syntax error.", "Syntax error in parameters or arguments."},
    {421, "Ftp error(421): Service not available.", "Service not available."},
    {332, "Ftp error(332): Unable to handle account request.", "We cannot handle the account command."},
};
constexpr RE kPassErrors[] = {
    {500, "Ftp error(500): Syntax error.", "Syntax error, command unrecognized."},
    {501, "Ftp error(501): Syntax error.", "Syntax error in parameters or arguments."},
    {421, "Ftp error(421): Service not available.", "Service not available."},
    {503, "Ftp error(503): Bad sequence.", "Bad sequence of commands."},
    {332, "Ftp error(332): Unable to handle account requests.", "We cannot handle the account command."},
};
constexpr RE kTypeErrors[] = {
    {500, "Ftp error(500): Syntax error.", "Syntax error, command unrecognized."},
    {501, "Ftp error(501): Syntax error.", "Syntax error in parameters or arguments."},
    {421, "Ftp error(421): Service not available.", "Service not available."},
    {504, "Ftp error(504): Command not implemented.", "Command not implemented for that parameter."},
    {530, "Ftp error(530): Not logged in.", "Not logged in."},
};
constexpr RE kTransferErrors[] = {
    {500, "Ftp error(500): Syntax error.", "Syntax error, command unrecoqnized."},
    {501, "Ftp error(501): Syntax error.", "Syntax error in parameters or arguments."},
    {421, "Ftp error(421): Service not available.", "Service not available."},
    {530, "Ftp error(530): Not logged in.", "Not logged in."},
};
constexpr RE kRetrErrors[] = {
    {450, "Ftp error(450): File unavailable (file busy).", "File unavailable (file busy)."},
    {550, "Ftp error(550): File unavailable (file not found).", "File unavailable (file not found)."},
    {500, "Ftp error(500): Syntax error.", "Syntax error, command unrecoqnized."},
    {501, "Ftp error(501): Syntax error.", "Syntax error in parameters or arguments."},
    {421, "Ftp error(421): Service not available.", "Service not available."},
    {530, "Ftp error(530): Not logged in.", "Not logged in."},
};

template <size_t N> constexpr uint32_t Count(const RE (&)[N]) { return static_cast<uint32_t>(N); }

// The local name from its first letter or digit on, for messages.
const char* ShortName(const char* name)
{
    if (name == nullptr)
        return "";
    for (const char* p = name; *p != 0; ++p)
        if (std::isalnum(static_cast<unsigned char>(*p)))
            return p;
    return name;
}

void Dotted(char* out, size_t size, const sockaddr_in& addr)
{
    const auto* b = reinterpret_cast<const uint8_t*>(&addr.sin_addr.s_addr);
    std::snprintf(out, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

} // namespace

const char* CFtpClient::StateName() const
{
    for (const auto& s : kStateNames)
        if (s.state == state)
            return s.name;
    return "";
}

int32_t CFtpClient::Fail(const char* text)
{
    char function[96];
    std::snprintf(function, sizeof function, "Update[%s]", StateName());
    return FtpErrorTxt(text, function);
}

int32_t CFtpClient::FailSoftly(const char* text)
{
    char function[96];
    std::snprintf(function, sizeof function, "Update[%s]", StateName());
    return FtpErrorTxtIfNoError(text, function);
}

int32_t CFtpClient::FailReply(int32_t code, const SReplyError* table, uint32_t count, const char* invalidLog)
{
    for (uint32_t i = 0; i < count; ++i)
        if (table[i].code == code) {
            LogString("%s", table[i].logText);
            return Fail(table[i].errorText);
        }
    LogString(invalidLog != nullptr ? invalidLog : "Invalid ftp reply(%ld).", static_cast<long>(code));
    return Fail("Invalid ftp reply.");
}

bool CFtpClient::StateReadsReplies() const
{
    switch (state) {
    case FTPWAITINGFORLOGIN:
    case FTPWAITLOGINANSWER:
    case FTPWAITPASSWORDANSWER:
    case FTPWAITFORTYPEANSWER:
    case FTPPASVDOWNLOADWAITPASVANSWER:
    case FTPPASVDOWNLOADWAITRECVFILE:
    case FTPNORMDOWNLOADWAITPORTANSWER:
    case FTPNORMDOWNLOADWAITRECVFILE:
    case FTPDOWNLOADDOWNLOADING:
        return true;
    default:
        return false;
    }
}

int32_t CFtpClient::TakeReply(int32_t& code, char*& text)
{
    text = nullptr;
    if (recvQueue.count == 0)
        return FALSE;
    return RecvCommandQueue_GetMessage(code, text, 1);
}

int32_t CFtpClient::QueueCommand(const char* commandText, const char* argument, const char* failText)
{
    if (SendCommandQueue_AddMessage(commandText, argument))
        return TRUE;
    LogString("Unable to send command.");
    return FailSoftly(failText);
}

int32_t CFtpClient::RestartSocketLayer(SFtpSocket& slot)
{
    if (slot.cd.initialised)
        xClosedownSockets(slot.startupCode, &slot.cd);
    return xStartupSockets(slot.startupCode, 0, &slot.cd);
}

// ---------------------------------------------------------------- command connection pump

int32_t CFtpClient::SendRecvCommandHandler(int32_t& reconnect)
{
    reconnect = 0;
    char buf[512];
    uint32_t got = 0, none = 0;
    // A failing receive drops the connection; Update then reconnects.
    xNonBlockedHandler(command.sock, command.connected, buf, got, sizeof buf, nullptr, none, 0, &command.cd);
    if (got > 0) {
        LogRecvLow(buf, 0, got);
        if (!ParseReplyBytes(buf, got, reconnect))
            return FALSE;
        if (reconnect)
            return TRUE;
    }

    const uint32_t now = xGetTime();
    for (int32_t step = 0; step < 4 && command.connected; ++step) {
        if (sendState == 1) {
            if (sendQueue.count == 0 || !sendQueue.First())
                return TRUE;
            currentSend = static_cast<SFtpSendCommand*>(sendQueue.Get());
            sendQueue.Delete();
            sendState = 2;
        }
        if (sendState == 2) {
            auto len = static_cast<uint32_t>(std::strlen(currentSend->text));
            uint32_t received = 0;
            if (!xNonBlockedHandler(command.sock, command.connected, nullptr, received, 0, currentSend->text,
                                    currentSend->sent, len, &command.cd))
                return TRUE; // the connection is gone: Update reconnects
            if (currentSend->sent < len)
                return TRUE;
            // The password never reaches a log in clear.
            if (std::strncmp(currentSend->text, "PASS ", 5) == 0)
                LogSendLow("PASS ****\r\n", 0, 11);
            else
                LogSendLow(currentSend->text, 0, len);
            tvftp::FreeSendCommand(currentSend);
            currentSend = nullptr;
            sendState = 3;
        }
        if (sendState == 3) {
            sendPauseTime = now;
            sendState = 4;
            return TRUE;
        }
        if (sendState == 4) {
            if (xTimeDiff(sendPauseTime, now) <= FTP_COMMAND_SPACING)
                return TRUE;
            sendState = 1;
        }
    }
    return TRUE;
}

// ---------------------------------------------------------------- reconnect and retries

int32_t CFtpClient::Reconnect()
{
    LogApp("Reconnecting.");
    if (reconnects >= static_cast<int32_t>(FTP_MAX_RECONNECTS)) {
        ClearObject();
        return FtpErrorTxt("Maximum reconnects without a successful download reached. Giving up.",
                           "Reconnect");
    }
    AbandonLocalFile();
    // Keep the work: the current download goes first, then the queue.
    CLList saved;
    if (currentFile != nullptr) {
        auto* cmd = XNEW(SFtpUserCommand);
        if (cmd == nullptr || !saved.InsertLast(cmd)) {
            if (cmd != nullptr)
                XDELETE(cmd);
            return FtpErrorTxt("Out of memory.", "Reconnect");
        }
        cmd->type = FTPUSERCMD_DOWNLOAD;
        cmd->file = currentFile;
        currentFile = nullptr;
    }
    for (userQueue.First(); userQueue.Exists(); userQueue.Next())
        if (!saved.InsertLast(userQueue.Get())) {
            for (saved.First(); saved.Exists(); saved.Next())
                if (!userQueue.IsItemInList(saved.Get()))
                    tvftp::FreeUserCommand(static_cast<SFtpUserCommand*>(saved.Get()));
            saved.KillAll();
            return FtpErrorTxt("Out of memory.", "Reconnect");
        }
    userQueue.KillAll();
    ClearObject();
    for (saved.First(); saved.Exists(); saved.Next()) {
        auto* cmd = static_cast<SFtpUserCommand*>(saved.Get());
        userQueue.InsertLast(cmd);
        if (cmd->type == FTPUSERCMD_DOWNLOAD && cmd->file != nullptr)
            LogString(
                "Reconnecting: Adding old usercommand: New user command( download file )\nlocal filename: "
                "%s\nremote filename: %s.",
                cmd->file->localName, cmd->file->remoteName);
        else
            LogString(
                "Reconnecting: Adding old usercommand: New user command\ntype: %ld\nid: %ld\nstring: %s.",
                static_cast<long>(cmd->type), static_cast<long>(cmd->id),
                cmd->string != nullptr ? cmd->string : "");
    }
    saved.KillAll();
    LogString("Reconnect: Trying to connect to server %s: %ld.", hostName, static_cast<long>(port));
    seenState = -1;
    if (!Connect(hostName, port))
        return FALSE;
    ++reconnects;
    return TRUE;
}

int32_t CFtpClient::DataRetry(const char* retryText, const char* switchText, const char* giveUpLog,
                              const char* giveUpError, const char* reconnectFailText)
{
    LogString("%s", retryText);
    // The attempt that just failed counts, so the seventh failure gives up.
    ++dataTries;
    if (dataTries >= static_cast<int32_t>(FTP_MAX_DATA_TRIES)) {
        LogString("%s", giveUpLog != nullptr
                            ? giveUpLog
                            : "Unable to connect to server. Maximum number of retries reached. "
                              "Giving up.");
        return Fail(giveUpError != nullptr ? giveUpError : "Unable to open data connection.");
    }
    if (dataTries % 3 == 0) {
        if (switchText != nullptr)
            LogString("%s", switchText);
        else
            LogString(passiveMode ? "Having problems connecting to server. Changing to normal mode."
                                  : "Having problems connecting to server. Changing to passive mode.");
        ChangeFileTransferMode();
    }
    if (!Reconnect())
        return FailSoftly(
            reconnectFailText != nullptr
                ? reconnectFailText
                : (passiveMode ? "Pasv, unable to do Reconnect." : "Normal mode, unable to do Reconnect."));
    return TRUE;
}

int32_t CFtpClient::Timeout(const char* format, uint32_t limit, bool& timedOut)
{
    timedOut = false;
    uint32_t elapsed = xTimeDiff(stateTime, xGetTime());
    if (elapsed <= limit)
        return TRUE;
    timedOut = true;
    LogString(format, static_cast<unsigned long>(elapsed / 1000));
    LogApp("Timeout.");
    if (!Reconnect())
        return FailSoftly("Timeout, unable to do Reconnect.");
    return TRUE;
}

// ---------------------------------------------------------------- Update

int32_t CFtpClient::Update()
{
    if (destroyed)
        return FtpErrorTxt("Object is destroyed.", "Update");
    if (!startupDone)
        return FtpErrorTxt("Startup has not been called.", "Update");
    if (!connected)
        return FtpErrorTxt("Connect must be called before Login.", "Update");
    // After an error nothing happens until the application connects again.
    if (state == FTPNOSTATE)
        return TRUE;

    if (state != FTPCONNECTING) {
        if (command.connected) {
            int32_t reconnect = 0;
            if (!SendRecvCommandHandler(reconnect))
                return FtpErrorTxtIfNoError("Unknown error.", "Update(command socket handler)");
            if (reconnect) {
                if (!Reconnect())
                    return FtpErrorTxtIfNoError("Unable to reconnect.", "Update(command socket handler)");
                return TRUE;
            }
        }
        // Replies that came before the server closed are read first.
        if (!command.connected && !(StateReadsReplies() && recvQueue.count > 0)) {
            LogString("commandsocket is not connected.");
            if (!Reconnect())
                return FtpErrorTxtIfNoError("Unable to reconnect.", "Update(command socket handler)");
            return TRUE;
        }
    }

    if (state != seenState) {
        stateTime = xGetTime();
        seenState = state;
    }
    if (stateText != loggedStateText) {
        LogString("%s", GetStateString());
        loggedStateText = stateText;
    }

    switch (state) {
    case FTPCONNECTING:
        return StepConnecting();
    case FTPWAITINGFORLOGIN:
        return StepWaitingForLogin();
    case FTPSENDLOGIN:
        return StepSendLogin();
    case FTPWAITLOGINANSWER:
        return StepWaitLoginAnswer();
    case FTPSTARTUPINIT:
        return StepStartupInit();
    case FTPSENDPASSWORD:
        return StepSendPassword();
    case FTPWAITPASSWORDANSWER:
        return StepWaitPasswordAnswer();
    case FTPWAITFORTYPEANSWER:
        return StepWaitTypeAnswer();
    case FTPWAITFORUSERCOMMANDS:
        return StepIdle();
    case FTPDOWNLOADINIT:
        return StepDownloadInit();
    case FTPPASVDOWNLOADWAITPASVANSWER:
        return StepPasvAnswer();
    case FTPPASVDOWNLOADCONNECTING:
        return StepPasvConnecting();
    case FTPPASVDOWNLOADWAITRECVFILE:
        return StepWaitRecvFile(true);
    case FTPNORMDOWNLOADWAITPORTANSWER:
        return StepPortAnswer();
    case FTPNORMDOWNLOADSENDRECVFILE:
        return StepNormSendRecv();
    case FTPNORMDOWNLOADWAITRECVFILE:
        return StepWaitRecvFile(false);
    case FTPNORMDOWNLOADWAITINCOMINGCONNECT:
        return StepWaitIncoming();
    case FTPDOWNLOADSTART:
        return StepDownloadStart();
    case FTPDOWNLOADDOWNLOADING:
        return StepDownloading();
    case FTPDOWNLOADEND:
        return StepDownloadEnd();
    case FTPDOWNLOADPAUSE:
        if (xTimeDiff(stateTime, xGetTime()) > 24) {
            state = FTPWAITFORUSERCOMMANDS;
            stateText = "Idle. Waiting for user commands.";
        }
        return TRUE;
    default: // the raw user-command states: the application reads the replies
        return TRUE;
    }
}

// ---------------------------------------------------------------- connecting and login

int32_t CFtpClient::StepConnecting()
{
    stateText = "Connecting...";
    bool failed =
        !xNonBlockedConnectHandler(hostName, port, nullptr, 0, command.sock, command.connected, &command.cd);
    if (!failed && command.connected) {
        LogString("Connected.");
        stateText = "Connected: Waiting for login.";
        state = FTPWAITINGFORLOGIN;
        return TRUE;
    }
    if (!failed && xTimeDiff(connectTime, xGetTime()) <= FTP_STATE_TIMEOUT)
        return TRUE;
    LogString(failed ? "Unable to connect." : "Timeout trying to connect.");
    while (++connectTries <= static_cast<int32_t>(FTP_MAX_CONNECT_TRIES))
        if (StartConnectAttempt(connectTries + 1))
            return TRUE;
    return Fail("Unable to contact server. Giving up.");
}

int32_t CFtpClient::StepWaitingForLogin()
{
    stateText = "Connected: Waiting for login.";
    bool timedOut;
    int32_t r = Timeout("Timeout while waiting for login (%lu seconds) [FTPWAITINGFORLOGIN].",
                        FTP_LOGIN_TIMEOUT, timedOut);
    if (timedOut)
        return r;
    int32_t code;
    char* text;
    if (!TakeReply(code, text))
        return TRUE;
    FreeText(text);
    if (code == 220) {
        LogString("Ready to login received.");
        state = FTPSENDLOGIN;
        return TRUE;
    }
    return FailReply(code, kLoginErrors, Count(kLoginErrors), nullptr);
}

namespace
{

// A text handed out by a login callback: copied (the callback keeps its
// own), refused when it could end the command line early.
int32_t TakeCallbackText(CFtpClient& c, char*& field, const char* text, const char* noneText)
{
    if (text == nullptr)
        return c.Fail(noneText);
    if (!tvftp::SafeCommandText(text))
        return c.Fail("Text is missing or holds a line break.");
    char* copy = CopyText(text);
    if (copy == nullptr)
        return c.Fail("Out of memory.");
    FreeText(field);
    field = copy;
    return TRUE;
}

} // namespace

// The user name and the password go out by one step: take the text (asking
// the program's callback when none is set), then queue the command. The
// texts, the field and the callback differ per credential.
struct CFtpClient::SCredentialStep {
    const char* stateText;
    const char* timeoutText;
    const char* askLog;
    const char* askApp;
    const char* noCallbackLog;
    const char* noCallbackFail;
    const char* refusedFail;
    const char* noneText;
    const char* debugLog;
    const char* command;
    int32_t nextState;
    char* CFtpClient::*field;
    FtpLoginCallback CFtpClient::*callback;
    void* CFtpClient::*user;
    int32_t CFtpClient::*debugStop;
};

int32_t CFtpClient::StepSendCredential(const SCredentialStep& step)
{
    stateText = step.stateText;
    bool timedOut;
    int32_t r = Timeout(step.timeoutText, FTP_STATE_TIMEOUT, timedOut);
    if (timedOut)
        return r;
    if (this->*step.field == nullptr) {
        LogString("%s", step.askLog);
        LogApp("%s", step.askApp);
        if (this->*step.callback == nullptr) {
            LogString("%s", step.noCallbackLog);
            return Fail(step.noCallbackFail);
        }
        char* text = nullptr;
        if (!(this->*step.callback)(text, this->*step.user))
            return Fail(step.refusedFail);
        if (!TakeCallbackText(*this, this->*step.field, text, step.noneText))
            return FALSE;
    }
    if (this->*step.debugStop > 0) {
        --(this->*step.debugStop);
        LogString("%s", step.debugLog);
        xCloseSocket(command.sock);
        command.connected = 0;
        return TRUE;
    }
    if (!QueueCommand(step.command, this->*step.field, "Error sending command."))
        return FALSE;
    state = step.nextState;
    return TRUE;
}

int32_t CFtpClient::StepSendLogin()
{
    static const SCredentialStep kLogin = {
        "Going to send login name...",
        "Timeout while trying to send login (%lu) [FTPSENDLOGIN].",
        "User must specify a loginname, calling callback.",
        "User name must be specified.",
        "Unable to login: Username must be specified.",
        "User haven't specified a username.",
        "User don't want to login.",
        "No username is specified.",
        "Debugging: StopLogin: closing the command socket.",
        "USER",
        FTPWAITLOGINANSWER,
        &CFtpClient::loginName,
        &CFtpClient::loginNameCallback,
        &CFtpClient::loginNameUser,
        &CFtpClient::debugStopLogin,
    };
    return StepSendCredential(kLogin);
}

int32_t CFtpClient::StepWaitLoginAnswer()
{
    bool timedOut;
    int32_t r = Timeout("Timeout while waiting for login answer (%lu) [FTPWAITLOGINANSWER].",
                        FTP_STATE_TIMEOUT, timedOut);
    if (timedOut)
        return r;
    int32_t code;
    char* text;
    if (!TakeReply(code, text))
        return TRUE;
    FreeText(text);
    switch (code) {
    case 230:
        LogString("User logged in, proceed.");
        state = FTPSTARTUPINIT;
        return TRUE;
    case 331:
        LogString("User logged in, needs password.");
        state = FTPSENDPASSWORD;
        return TRUE;
    case 530: {
        if (loginNameErrorCallback == nullptr) {
            LogString("Unable to login.");
            return Fail("Not able to login.");
        }
        LogString("User must specify a correct loginname, calling callback.");
        LogApp("Username is incorrect.");
        char* given = nullptr;
        if (!loginNameErrorCallback(given, loginNameErrorUser))
            return Fail("User don't want to login.");
        if (!TakeCallbackText(*this, loginName, given, "No username is specified."))
            return FALSE;
        state = FTPSENDLOGIN;
        return TRUE;
    }
    default:
        return FailReply(code, kUserErrors, Count(kUserErrors), nullptr);
    }
}

int32_t CFtpClient::StepSendPassword()
{
    static const SCredentialStep kPassword = {
        "Going to send password...",
        "Timeout while trying to send password (%lu) [FTPSENDPASSWORD].",
        "User must specify a password, calling callback.",
        "User must specify password.",
        "Unable to login: Password must be specified.",
        "You haven't specified a password.",
        "User don't want to specify password.",
        "No password is specified.",
        "Debugging: StopPassword: closing the command socket.",
        "PASS",
        FTPWAITPASSWORDANSWER,
        &CFtpClient::password,
        &CFtpClient::loginPasswordCallback,
        &CFtpClient::loginPasswordUser,
        &CFtpClient::debugStopPassword,
    };
    return StepSendCredential(kPassword);
}

int32_t CFtpClient::StepWaitPasswordAnswer()
{
    bool timedOut;
    int32_t r = Timeout("Timeout while waiting for password answer (%lu) [FTPWAITPASSWORDANSWER].",
                        FTP_STATE_TIMEOUT, timedOut);
    if (timedOut)
        return r;
    int32_t code;
    char* text;
    if (!TakeReply(code, text))
        return TRUE;
    FreeText(text);
    switch (code) {
    case 230:
        LogString("User logged in, proceed.");
        state = FTPSTARTUPINIT;
        return TRUE;
    case 202:
        LogString("Password is unimplemented in this server so we just skip it.");
        state = FTPSTARTUPINIT;
        return TRUE;
    case 530: {
        if (loginPasswordErrorCallback == nullptr) {
            LogString("Unable to login.");
            return Fail("Not able to login.");
        }
        LogString("User must specify a correct password, calling callback.");
        char* given = nullptr;
        if (!loginPasswordErrorCallback(given, loginPasswordErrorUser))
            return Fail("User don't want to specify password.");
        if (!TakeCallbackText(*this, password, given, "No password is specified."))
            return FALSE;
        state = FTPSENDLOGIN; // the whole login again
        return TRUE;
    }
    default:
        return FailReply(code, kPassErrors, Count(kPassErrors), nullptr);
    }
}

int32_t CFtpClient::StepStartupInit()
{
    stateText = "Going to send type binary.";
    bool timedOut;
    int32_t r =
        Timeout("Timeout while trying to send type I (%lu) [FTPSTARTUPINIT].", FTP_STATE_TIMEOUT, timedOut);
    if (timedOut)
        return r;
    if (!QueueCommand("TYPE I", nullptr, "Unable to add message."))
        return FALSE;
    state = FTPWAITFORTYPEANSWER;
    return TRUE;
}

int32_t CFtpClient::StepWaitTypeAnswer()
{
    bool timedOut;
    int32_t r = Timeout("Timeout while waiting for type I answer (%lu) [FTPWAITFORTYPEANSWER].",
                        FTP_STATE_TIMEOUT, timedOut);
    if (timedOut)
        return r;
    int32_t code;
    char* text;
    if (!TakeReply(code, text))
        return TRUE;
    FreeText(text);
    if (code == 200) {
        LogString("Type command ok, proceed.");
        stateText = "Idle. Waiting for user commands.";
        state = FTPWAITFORUSERCOMMANDS;
        return TRUE;
    }
    return FailReply(code, kTypeErrors, Count(kTypeErrors), nullptr);
}

int32_t CFtpClient::StepIdle()
{
    stateText = "Idle. Waiting for user commands.";
    int32_t type = UserCommandQueue_MessageType();
    if (type == 0)
        return TRUE;
    if (type == FTPUSERCMD_DOWNLOAD) {
        LogString("User command download.");
        SFtpFile* f = nullptr;
        if (!UserCommandQueue_GetMessageFile(f))
            return FALSE;
        currentFile = f;
        state = FTPDOWNLOADINIT;
        return TRUE;
    }
    if (type == FTPUSERCMD_RAW) {
        int32_t id = 0;
        char* string = nullptr;
        if (!UserCommandQueue_GetMessage(id, string))
            return FALSE;
        static constexpr const char* kLogs[] = {"User command 'cwd'.", "User command 'quit'.",
                                                "User command 'list'."};
        int32_t r = TRUE;
        if (id >= 1 && id <= 3 && tvftp::SafeCommandText(string)) {
            LogString("%s", kLogs[id - 1]);
            r = QueueCommand(string, nullptr, "Error sending command.");
            if (r)
                state = FTPUSERCOMMANDCWD + id - 1;
        }
        FreeText(string);
        return r;
    }
    LogString("Invalid user command.");
    return Fail("Invalid user command!");
}

// ---------------------------------------------------------------- the data connection

int32_t CFtpClient::StepDownloadInit()
{
    if (currentFile == nullptr)
        return Fail("Invalid user command!");
    if (passiveMode) {
        LogString("Passive mode, want port from server.");
        if (!QueueCommand("PASV", nullptr, "AddMessage failed."))
            return FALSE;
        state = FTPPASVDOWNLOADWAITPASVANSWER;
        return TRUE;
    }

    if (listening.sock != INVALID_SOCKET && listening.cd.initialised)
        xStopListenSocket(listening.sock, listening.connected, &listening.cd);
    if (!RestartSocketLayer(listening))
        return Fail("Unable to listen");
    LogString("Normal mode, start listening.");
    if (!xStartListenSocket(0, listening.sock, &listening.addr, &listening.cd))
        return Fail("Unable to listen");
    // The address to announce is the one the server already reaches us on.
    sockaddr_in local{};
    if (!tvp::GetSockName(command.sock, local) || local.sin_addr.s_addr == 0)
        return Fail("Unable to get local IP");
    uint32_t none = INVALID_SOCKET;
    if (!xNonBlockedStartListenHandler(listening.sock, none, listening.connected, &listening.cd))
        return Fail("Unable to start the listen data connection");
    wrongDataPort = debugAlwaysStopNormal;
    if (!wrongDataPort && debugStopFileConnect > 0) {
        --debugStopFileConnect;
        wrongDataPort = TRUE;
    }
    CloseData();

    // A short pause before PORT; the rest of the library keeps running.
    const uint32_t start = xGetTime();
    for (int32_t i = 0; i < 1000 && xTimeDiff(start, xGetTime()) < FTP_COMMAND_SPACING; ++i) {
        xHandler();
        xSleep(1);
    }

    uint32_t listenPort = ntohs(listening.addr.sin_port) + (wrongDataPort ? 1u : 0u);
    const auto* a = reinterpret_cast<const uint8_t*>(&local.sin_addr.s_addr);
    char arg[64];
    std::snprintf(arg, sizeof arg, "%d,%d,%d,%d,%d,%d", a[0], a[1], a[2], a[3],
                  static_cast<int>((listenPort >> 8) & 255), static_cast<int>(listenPort & 255));
    if (!QueueCommand("PORT", arg, "Unable to send command."))
        return FALSE;
    LogString("Norm mode: Trying to download %s (port: %ld).", ShortName(currentFile->localName),
              static_cast<long>(listenPort));
    state = FTPNORMDOWNLOADWAITPORTANSWER;
    return TRUE;
}

bool CFtpClient::DriveAccept(const char* connectedText, const char* failText, int32_t& result)
{
    result = TRUE;
    if (data.connected || listening.sock == INVALID_SOCKET)
        return false;
    uint32_t incoming = INVALID_SOCKET;
    sockaddr_in peer{};
    int32_t accepted = 0;
    if (!xNonBlockedListenHandler(listening.sock, incoming, &peer, listening.connected, accepted,
                                  &listening.cd)) {
        result = DataRetry(failText, nullptr, nullptr, nullptr, nullptr);
        return true;
    }
    if (incoming == INVALID_SOCKET)
        return false;
    if (peer.sin_addr.s_addr != command.addr.sin_addr.s_addr) {
        char who[32];
        Dotted(who, sizeof who, peer);
        LogString("Data connection from %s refused: it is not the server.", who);
        xCloseSocket(incoming);
        return false;
    }
    LogString("%s", connectedText);
    xStopListenSocket(listening.sock, listening.connected, &listening.cd);
    dataTries = 0;
    if (!RestartSocketLayer(data)) {
        xCloseSocket(incoming);
        result = Fail("xStartupSockets failed.");
        return true;
    }
    data.sock = incoming;
    data.connected = 1;
    data.addr = peer;
    return false;
}

int32_t CFtpClient::StepPasvAnswer()
{
    stateText = "Download: Sent pasv...Waiting for answer (passive mode).";
    bool timedOut;
    int32_t r = Timeout("Timeout while waiting for pasv answer (%lu) [FTPPASVDOWNLOADWAITPASVANSWER].",
                        FTP_STATE_TIMEOUT, timedOut);
    if (timedOut)
        return r;
    int32_t code;
    char* text;
    if (!TakeReply(code, text))
        return TRUE;
    if (code == 502) {
        FreeText(text);
        LogString("Pasv: Command not implemented. Changing to normal mode.");
        LogApp("Passive mode not implemented on this server. Changing to normal mode.");
        SetNormalMode();
        if (!Reconnect())
            return FailSoftly("Pasv, unable to do Reconnect.");
        return TRUE;
    }
    if (code != 227) {
        if (code == 500 || code == 501 || code == 421 || code == 530) {
            FreeText(text);
            return FailReply(code, kTransferErrors, Count(kTransferErrors), nullptr);
        }
        LogString("Invalid ftp reply(%ld): %s", static_cast<long>(code), text != nullptr ? text : "");
        FreeText(text);
        return Fail("Invalid ftp reply.");
    }
    LogString("Pasv command ok. Parsing out serverport.");
    uint8_t host[4] = {};
    uint16_t serverPort = 0;
    bool parsed = xFtpParsePasvReply(text, host, serverPort) != 0;
    FreeText(text);
    if (!parsed)
        LogString("Pasv mode: Unable to parse server port.");
    if (!parsed || host[0] == 0) {
        LogString("Pasv mode: Unable to get server ip/port.");
        LogString("Passive mode: Unable to get serverport, changing to normal mode.");
        SetNormalMode();
        if (!Reconnect())
            return FailSoftly("Pasv, unable to do Reconnect.");
        return TRUE;
    }
    // The data connection goes to the server we already talk to, whatever
    // address the reply names.
    char server[32];
    Dotted(server, sizeof server, command.addr);
    uint32_t target = serverPort;
    wrongDataPort = debugAlwaysStopPassive;
    if (!wrongDataPort && debugStopFileConnect > 0) {
        --debugStopFileConnect;
        wrongDataPort = TRUE;
    }
    if (wrongDataPort)
        target = (target + 24) & 0xFFFF;
    LogString("Pasv mode: Trying to connect to server ip=%s port=%lu.", server,
              static_cast<unsigned long>(target));
    LogString("Pasv mode: Trying to download %s (serverport: %ld).", ShortName(currentFile->localName),
              static_cast<long>(target));
    if (!RestartSocketLayer(data))
        return Fail("xStartupSockets failed.");
    CloseData();
    if (target == 0 ||
        !xConnectSocket(server, static_cast<uint16_t>(target), nullptr, 0, data.sock, &data.addr, &data.cd))
        return DataRetry("Pasv mode: Unable to connect dataport. Retrying the operation.",
                         "Having problems connecting to server, changing to normal mode.",
                         "Unable to connect to server. Maxumim number of retries reached. Giving up.",
                         "Unable to open data connection. Maximum number of retries has been reached",
                         "Pasv, unable to do Reconnect.");
    state = FTPPASVDOWNLOADCONNECTING;
    return TRUE;
}

int32_t CFtpClient::StepPasvConnecting()
{
    stateText = "Download: Connecting data connection to server (passive mode)";
    const char* retry = "Unable to connect dataport (connecting). Retrying the operation.";
    if (xTimeDiff(stateTime, xGetTime()) > FTP_STATE_TIMEOUT) {
        LogString("Timeout while trying to connect to server (%lu) [FTPPASVDOWNLOADCONNECTING].",
                  static_cast<unsigned long>(xTimeDiff(stateTime, xGetTime()) / 1000));
        return DataRetry(retry, "Having problems connecting to server. Changing to normal mode.", nullptr,
                         nullptr, "Timeout: Pasv, unable to do Reconnect.");
    }
    if (!xNonBlockedConnectHandler(hostName, port, nullptr, 0, data.sock, data.connected, &data.cd))
        return DataRetry(retry, "Having problems connecting to server. Changing to normal mode.", nullptr,
                         nullptr, "Pasv, unable to do Reconnect.");
    if (!data.connected)
        return TRUE;
    LogString("Data port connected (connecting).");
    dataTries = 0;
    if (!QueueCommand("RETR", currentFile->remoteName, "Unable to send command."))
        return FALSE;
    state = FTPPASVDOWNLOADWAITRECVFILE;
    return TRUE;
}

int32_t CFtpClient::StepPortAnswer()
{
    stateText = "Download: Sent port...Waiting for answer (normal mode).";
    bool timedOut;
    int32_t r = Timeout("Timeout while waiting for port answer (%lu) [FTPNORMDOWNLOADWAITPORTANSWER].",
                        FTP_STATE_TIMEOUT, timedOut);
    if (timedOut)
        return r;
    if (debugStopPort > 0) {
        --debugStopPort;
        LogString("Debugging: StopPort: closing the command socket.");
        xCloseSocket(command.sock);
        command.connected = 0;
        return TRUE;
    }
    if (DriveAccept("Data port connected (listening).",
                    "Unable to connect dataport (listening). Retrying the operation.", r))
        return r;
    int32_t code;
    char* text;
    if (!TakeReply(code, text))
        return TRUE;
    FreeText(text);
    if (code == 200) {
        LogString("Port command ok. Going to send 'recv' command.");
        state = FTPNORMDOWNLOADSENDRECVFILE;
        return TRUE;
    }
    return FailReply(code, kTransferErrors, Count(kTransferErrors), nullptr);
}

int32_t CFtpClient::StepNormSendRecv()
{
    bool timedOut;
    int32_t r = Timeout("Timeout while trying to send 'retr' command (%lu) [FTPNORMDOWNLOADSENDRECVFILE].",
                        FTP_STATE_TIMEOUT, timedOut);
    if (timedOut)
        return r;
    if (!QueueCommand("RETR", currentFile->remoteName, "Unable to send command."))
        return FALSE;
    state = FTPNORMDOWNLOADWAITRECVFILE;
    return TRUE;
}

int32_t CFtpClient::StepWaitRecvFile(bool passive)
{
    stateText = passive ? "Sent receive file request... Waiting for answer (passive mode)."
                        : "Sent receive file request... Waiting for answer (normal mode).";
    bool timedOut;
    int32_t r = Timeout(
        passive ? "Timeout while waiting for 'retr' command answer (%lu) [FTPPASVDOWNLOADWAITRECVFILE]."
                : "Timeout while waiting for 'retr' command answer (%lu) [FTPNORMDOWNLOADWAITRECVFILE].",
        FTP_STATE_TIMEOUT, timedOut);
    if (timedOut)
        return r;
    if (debugStopRecv > 0) {
        --debugStopRecv;
        LogString("Debugging: StopRecv: closing the command socket.");
        xCloseSocket(command.sock);
        command.connected = 0;
        return TRUE;
    }
    if (!passive &&
        DriveAccept("Data port connected.", "Unable to connect dataport. Retrying the operation.", r))
        return r;
    int32_t code;
    char* text;
    if (!TakeReply(code, text))
        return TRUE;
    if (code == 125 || code == 150) {
        TryGetFileSizeFromString(text);
        FreeText(text);
        if (passive) {
            LogString("Ready to transfered received and the we have connected to the server so we start to "
                      "download.");
            state = FTPDOWNLOADSTART;
        } else if (data.connected) {
            LogString("Ready to transfered received and the server has connected so we start to download.");
            state = FTPDOWNLOADSTART;
        } else if (listening.sock != INVALID_SOCKET) {
            LogString("Ready to transfered received but the server hasn't connected yet so we are waiting.");
            state = FTPNORMDOWNLOADWAITINCOMINGCONNECT;
        } else {
            return DataRetry(
                "Ready to transfered received but the listening socket is down. Restarting the operation.",
                nullptr, "Disconnected and we have reached maximum number of reconnects", nullptr, nullptr);
        }
        return TRUE;
    }
    FreeText(text);
    if (code == 425) // the server could not open the data connection
        return DataRetry(passive ? "Unable to connect dataport (connecting). Retrying the operation."
                                 : "Unable to connect dataport. Retrying the operation.",
                         nullptr, nullptr, nullptr, nullptr);
    return FailReply(code, kRetrErrors, Count(kRetrErrors), nullptr);
}

int32_t CFtpClient::StepWaitIncoming()
{
    stateText = "Waiting for server to connect (normal mode).";
    const char* retry = "The server failed to connect to us (normal mode). Retrying the operation "
                        "(FTPNORMDOWNLOADWAITINCOMINGCONNECT).";
    if (xTimeDiff(stateTime, xGetTime()) > FTP_STATE_TIMEOUT) {
        LogString("Timeout while waiting for servern to connect our dataport (%lu) "
                  "[FTPNORMDOWNLOADWAITINCOMINGCONNECT].",
                  static_cast<unsigned long>(xTimeDiff(stateTime, xGetTime()) / 1000));
        return DataRetry(retry, nullptr, nullptr, nullptr, nullptr);
    }
    int32_t r;
    if (DriveAccept("Data socket connected. Starting to download.", retry, r))
        return r;
    if (data.connected) {
        state = FTPDOWNLOADSTART;
        return TRUE;
    }
    // A server that gave up connecting says so.
    if (recvQueue.first != nullptr) {
        int32_t code = static_cast<SFtpRecvCommand*>(recvQueue.first->data)->code;
        if (code == 425 || code == 426) {
            char* text;
            TakeReply(code, text);
            FreeText(text);
            return DataRetry(retry, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return TRUE;
}

// ---------------------------------------------------------------- the download

int32_t CFtpClient::StepDownloadStart()
{
    dataTries = 0;
    downloadStart = xGetTime();
    bytesTransfered = 0;
    downloadSpeed = 0;
    transferDone = 0;
    endTimerSet = 0;
    endTimer = 0;
    xRemoveReadOnly(currentFile->localName);
    if (!file.Open(currentFile->localName, XFILE_WRITE | XFILE_CREATE_DIRS))
        return Fail("Unable to open local file.");
    state = FTPDOWNLOADDOWNLOADING;
    return TRUE;
}

int32_t CFtpClient::ReceiveData(uint32_t& got, bool& receiveError)
{
    got = 0;
    receiveError = false;
    // One buffer serves every client: the library runs on one thread.
    static char buf[64 * 1024];
    while (data.connected && got < updateBudget) {
        uint32_t want = updateBudget - got;
        if (want > sizeof buf)
            want = sizeof buf;
        uint32_t n = 0, none = 0;
        // The socket is made non-blocking once per Update, not per read.
        int32_t ok =
            got == 0 ? xNonBlockedHandler(data.sock, data.connected, buf, n, want, nullptr, none, 0, &data.cd)
                     : xSocketHandler(data.sock, data.connected, buf, n, want, nullptr, none, 0, &data.cd);
        if (!ok) {
            receiveError = true;
            return TRUE;
        }
        if (n == 0)
            return TRUE;
        got += n;
        // Bytes beyond the announced size are dropped.
        uint32_t keep = n;
        if (hasFileSize) {
            uint64_t room = bytesTransfered < fileSize ? fileSize - bytesTransfered : 0;
            if (keep > room)
                keep = static_cast<uint32_t>(room);
            if (bytesTransfered == 0 && keep > 0) {
                LogString("Downloading: 0%% (got initial file data)");
                const char* name = ShortName(currentFile->localName);
                if (std::isalnum(static_cast<unsigned char>(*name)))
                    LogApp("Downloading file %s (%lu bytes).", name, static_cast<unsigned long>(fileSize));
                else
                    LogApp("downloading file.");
            }
            if (fileSize > 512) {
                uint64_t before = static_cast<uint64_t>(bytesTransfered) * 100 / fileSize;
                uint64_t after = (static_cast<uint64_t>(bytesTransfered) + keep) * 100 / fileSize;
                for (uint64_t mark : {25u, 50u, 75u})
                    if (before < mark && after >= mark)
                        LogString("Downloading: %lu%%", static_cast<unsigned long>(mark));
            }
        }
        if (keep > 0 && !file.Write(buf, keep)) {
            LogString("Error downloading file %s. Unable to write to disk.", currentFile->localName);
            return Fail("Unable to write to file.");
        }
        bytesTransfered += keep;
        if (hasFileSize && bytesTransfered >= fileSize) {
            LogString("Downloading: 100%% (finished downloading)");
            LogString("Stop downloading.");
            CloseData();
            return TRUE;
        }
    }
    return TRUE;
}

int32_t CFtpClient::DownloadRetry(const char* text)
{
    LogString("%s", text);
    LogApp("Unable to download file %s.", currentFile->remoteName);
    AbandonLocalFile();
    if (!Reconnect())
        return FailSoftly("Unable to reconnect.");
    return TRUE;
}

int32_t CFtpClient::CompleteDownload()
{
    LogString("Downloading: Completed.");
    LogApp("Downloading: Completed.");
    file.Close();
    state = FTPDOWNLOADEND;
    return TRUE;
}

int32_t CFtpClient::StepDownloading()
{
    stateText = "Downloading...";
    const uint32_t now = xGetTime();
    // The end timer governs once the server has said the transfer is done.
    if (!endTimerSet) {
        bool timedOut;
        int32_t r =
            Timeout("Timeout while downloading (%lu) [FTPDOWNLOADDOWNLOADING].", FTP_STATE_TIMEOUT, timedOut);
        if (timedOut)
            return r;
    }
    uint32_t got = 0;
    bool receiveError = false;
    if (!ReceiveData(got, receiveError))
        return FALSE;
    if (got > 0) {
        // Only arriving bytes keep a download alive: a stalled data
        // connection runs into the time-out.
        stateTime = now;
        uint32_t t = xTimeDiff(downloadStart, now);
        if (t > 0) {
            uint64_t speed = static_cast<uint64_t>(bytesTransfered / t) * 1000;
            downloadSpeed = speed > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(speed);
        }
    }
    const bool complete = hasFileSize && bytesTransfered >= fileSize;
    if (receiveError && !complete && !transferDone)
        return DownloadRetry(
            "Downloading: Handler returned error and we are not done yet. Retrying the operation.");
    if (!data.connected && hasFileSize && !complete && !transferDone)
        return DownloadRetry(
            "Downloading: Data connection closed but we don't have the whole file. Retrying the operation.");

    int32_t code;
    char* text;
    if (TakeReply(code, text)) {
        FreeText(text);
        const char* name = currentFile->remoteName;
        switch (code) {
        case 226:
        case 250:
            transferDone = TRUE;
            stateTime = now;
            LogString(data.connected
                          ? "Downloading: Requested file action successful received but data connection "
                            "is still open so we are waiting."
                          : "Downloading: Requested file action successful received and data connection "
                            "has been closed so we are done.");
            break;
        case 425:
            LogString("Ftp error(425): Can't open data connection (file: %s).", name);
            return DownloadRetry("Downloading: Retrying the operation.");
        case 426:
            LogString("Ftp error(426): Connection closed; transfer aborted (file: %s).", name);
            return DownloadRetry("Downloading: Retrying the operation.");
        case 451:
            LogString("Ftp error(451): Requested action aborted: local error (file: %s).", name);
            return DownloadRetry("Downloading: Retrying the operation.");
        case 450:
            LogString(
                "Ftp error(450): Requested file action not taken. File unavailable (file busy) (file: %s).",
                name);
            return Fail("Requested file action not taken. File unavailable.");
        case 550:
            LogString("Ftp error(550): Requested action not taken. File unavailable (not found or access "
                      "error) (file: "
                      "%s).",
                      name);
            return Fail("Requested action not taken. File unavailable.");
        case 500:
            LogString("Ftp error(500): Syntax error, command unrecoqnized (file: %s).", name);
            return Fail("Syntax error, command unrecoqnized.");
        case 501:
            LogString("Ftp error(501): Syntax error in parameters or arguments (file: %s).", name);
            return Fail("Syntax error in parameters or arguments.");
        case 421:
            LogString("Ftp error(421): Service not available, closing control connection (file: %s).", name);
            return Fail("Service not available, closing control connection.");
        case 530:
            LogString("Ftp error(530): Not logged in (file: %s).", name);
            return Fail("Not logged in.");
        default:
            LogString("Invalid ftp reply(%ld).", static_cast<long>(code));
            return Fail("Invalid ftp reply.");
        }
    }

    if (!transferDone)
        return TRUE;
    if (data.connected) {
        if (!endTimerSet) {
            endTimerSet = TRUE;
            endTimer = now;
            LogString(
                "Downloading: 'Requested file action successful' received but data connection is still open "
                "so we set the timeout timer.");
            return TRUE;
        }
        if (xTimeDiff(endTimer, now) <= FTP_STATE_TIMEOUT)
            return TRUE;
        if (!hasFileSize || complete)
            return CompleteDownload();
        return DownloadRetry(
            "Downloading: 'Requested file action successful' received but data connection is still "
            "open when we got the timeout. Retrying the operation.");
    }
    if (!hasFileSize || complete)
        return CompleteDownload();
    return DownloadRetry(
        "Downloading: 'Requested file action successful' received and data connection closed but "
        "we don't have the whole file. Retrying the operation.");
}

int32_t CFtpClient::StepDownloadEnd()
{
    uint32_t took = xTimeDiff(downloadStart, xGetTime());
    if (!AddDownloadedNote(took, hasFileSize, fileSize, currentFile->localName, currentFile->remoteName))
        return FailSoftly("Function failed.");
    CloseData();
    ++downloads;
    bytesTransfered = 0;
    downloadStart = 0;
    downloadSpeed = 0;
    transferDone = 0;
    endTimerSet = 0;
    endTimer = 0;
    hasFileSize = 0;
    fileSize = 0;
    reconnects = 0;
    tvftp::FreeFile(currentFile);
    currentFile = nullptr;
    LogString("Downloading: Completed. Waiting for new user commands.");
    stateText = "Downloading...Wait...";
    state = FTPDOWNLOADPAUSE;
    return TRUE;
}
