// The FTP client's reading side: the reply parser that turns command
// connection bytes into queued replies (RFC 959 multi-line replies under the
// code of their first line), and the readers of the two reply texts the
// client acts on: the 227 address group and the announced file size. All of
// it reads text from the network, so every length is bounded: a line holds
// at most 1023 characters, a reply at most 256 lines and 64 KiB of text, and
// at most 64 replies wait in the queue.
#include <tarvex/ftp.h>

#include <tarvex/error.h>

#include "ftp/ftpinternal.h"

#include <cstring>

using tvftp::FreeReply;

namespace
{

constexpr const char* kOutOfBounds = "Out of bounds when trying to receive data on command socket.";
constexpr const char* kParserFunction = "RecvCommandHandler";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

bool ReadCode(const char* line, int32_t& code)
{
    if (!IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]))
        return false;
    code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    return true;
}

// Appends the line held in the reply (and a "\n") to its text and lines.
bool AppendLine(SFtpRecvCommand* reply)
{
    uint32_t n = reply->lineLength;
    if (static_cast<uint32_t>(reply->lines.count) >= FTP_MAX_REPLY_LINES ||
        reply->textLength + n + 1 > FTP_MAX_REPLY_TEXT)
        return false;
    auto* line = static_cast<char*>(XALLOC(n + 2));
    auto* text = static_cast<char*>(XALLOC(reply->textLength + n + 2));
    if (line == nullptr || text == nullptr || !reply->lines.InsertLast(line)) {
        if (line != nullptr)
            XFREE(line);
        if (text != nullptr)
            XFREE(text);
        return false;
    }
    std::memcpy(line, reply->line, n);
    line[n] = '\n';
    line[n + 1] = 0;
    if (reply->text != nullptr)
        std::memcpy(text, reply->text, reply->textLength);
    std::memcpy(text + reply->textLength, line, n + 2);
    tvftp::FreeText(reply->text);
    reply->text = text;
    reply->textLength += n + 1;
    reply->lineLength = 0;
    return true;
}

} // namespace

namespace tvftp
{

void FreeReply(SFtpRecvCommand* reply)
{
    if (reply == nullptr)
        return;
    for (reply->lines.First(); reply->lines.Exists(); reply->lines.Next())
        XFREE(reply->lines.Get());
    reply->lines.KillAll();
    FreeText(reply->text);
    XDELETE(reply);
}

} // namespace tvftp

int32_t CFtpClient::AddRecvCommand(SFtpRecvCommand* reply)
{
    if (reply == nullptr)
        return FALSE;
    if (static_cast<uint32_t>(recvQueue.count) >= FTP_MAX_QUEUED_REPLIES)
        return FtpErrorTxt(kOutOfBounds, "AddRecvCommand");
    if (!recvQueue.InsertLast(reply))
        return FtpErrorTxt("Out of memory.", "AddRecvCommand");
    return TRUE;
}

int32_t CFtpClient::RecvCommandQueue_GetMessage(int32_t& code, char*& text, int32_t wantText)
{
    text = nullptr;
    if (recvQueue.count == 0 || !recvQueue.First())
        return FtpErrorTxt("No messages are available.", "RecvCommandQueue_GetMessage");
    auto* reply = static_cast<SFtpRecvCommand*>(recvQueue.Get());
    recvQueue.Delete();
    code = reply->code;
    if (wantText == 1) {
        text = tvftp::CopyText(reply->text != nullptr ? reply->text : "");
        if (text == nullptr) {
            FreeReply(reply);
            return FtpErrorTxt("Out of memory.", "RecvCommandQueue_GetMessage");
        }
    }
    FreeReply(reply);
    return TRUE;
}

int32_t CFtpClient::ParseReplyBytes(const char* bytes, uint32_t size, int32_t& reconnect)
{
    reconnect = 0;
    for (uint32_t i = 0; i < size; ++i) {
        char c = bytes[i];
        if (parserState == 1) {
            if (currentReply == nullptr) {
                currentReply = XNEW(SFtpRecvCommand);
                if (currentReply == nullptr)
                    return FtpErrorTxt("Out of memory.", kParserFunction);
            }
            parserState = 2;
        }
        SFtpRecvCommand* r = currentReply;
        bool lineEnded = false;
        switch (parserState) {
        case 2:
            // A line break here ends the previous line.
            if (IsLineEnd(c))
                continue;
            r->line[0] = c;
            r->lineLength = 1;
            parserState = 3;
            continue;
        case 3:
            if (IsLineEnd(c)) {
                lineEnded = true;
                break;
            }
            r->line[r->lineLength++] = c;
            if (r->lineLength < 4)
                continue;
            if (r->lines.count == 0) {
                if (!ReadCode(r->line, r->code)) {
                    LogString("Reply does not start with a code. Reconnecting.");
                    FreeReply(r);
                    currentReply = nullptr;
                    parserState = 1;
                    reconnect = 1;
                    return TRUE;
                }
                r->multiLine = r->line[3] == '-' ? TRUE : FALSE;
            } else {
                int32_t code = 0;
                if (ReadCode(r->line, code) && code == r->code && r->line[3] == ' ')
                    r->lastLine = TRUE;
            }
            parserState = 4;
            continue;
        default: // 4
            if (IsLineEnd(c)) {
                lineEnded = true;
                break;
            }
            // The line and its terminator must fit: at most 1023 characters.
            if (r->lineLength >= FTP_LINE_SIZE - 1) {
                FreeReply(r);
                currentReply = nullptr;
                parserState = 1;
                return FtpErrorTxt(kOutOfBounds, kParserFunction);
            }
            r->line[r->lineLength++] = c;
            continue;
        }
        if (!lineEnded)
            continue;

        if (r->lines.count == 0 && parserState == 3) {
            // A short first line: a bare three-digit code is a reply without
            // text; anything else is not a reply.
            if (r->lineLength != 3 || !ReadCode(r->line, r->code)) {
                LogString("Reply does not start with a code. Reconnecting.");
                FreeReply(r);
                currentReply = nullptr;
                parserState = 1;
                reconnect = 1;
                return TRUE;
            }
        }
        if (!AppendLine(r)) {
            FreeReply(r);
            currentReply = nullptr;
            parserState = 1;
            return FtpErrorTxt(kOutOfBounds, kParserFunction);
        }
        if (!r->multiLine || r->lastLine) {
            currentReply = nullptr;
            parserState = 1;
            LogString("\n<<%s<<", r->text);
            if (!AddRecvCommand(r)) {
                FreeReply(r);
                return FALSE;
            }
        } else {
            std::memset(r->line, 0, sizeof r->line);
            parserState = 2;
        }
    }
    return TRUE;
}

int32_t xFtpParsePasvReply(const char* text, uint8_t host[4], uint16_t& port)
{
    if (text == nullptr)
        return FALSE;
    const char* open = std::strchr(text, '(');
    if (open == nullptr)
        return FALSE;
    const char* close = std::strchr(open + 1, ')');
    if (close == nullptr || close == open + 1 || close - open - 1 > 254)
        return FALSE;
    uint32_t values[6];
    const char* p = open + 1;
    for (int32_t i = 0; i < 6; ++i) {
        while (p < close && *p == ' ')
            ++p;
        if (p >= close || !IsDigit(*p))
            return FALSE;
        uint32_t v = 0;
        while (p < close && IsDigit(*p)) {
            v = v * 10 + static_cast<uint32_t>(*p - '0');
            if (v > 255)
                return FALSE;
            ++p;
        }
        values[i] = v;
        while (p < close && *p == ' ')
            ++p;
        if (i < 5) {
            if (p >= close || *p != ',')
                return FALSE;
            ++p;
        } else if (p != close) {
            return FALSE;
        }
    }
    uint32_t number = values[4] * 256 + values[5];
    if (number == 0)
        return FALSE;
    for (int32_t i = 0; i < 4; ++i)
        host[i] = static_cast<uint8_t>(values[i]);
    port = static_cast<uint16_t>(number);
    return TRUE;
}

int32_t xFtpParseFileSize(const char* text, uint32_t& size)
{
    size = 0;
    if (text == nullptr)
        return FALSE;
    const char* p = text;
    while ((p = std::strchr(p, '(')) != nullptr) {
        const char* close = std::strchr(p + 1, ')');
        if (close == nullptr)
            return FALSE;
        size_t inner = static_cast<size_t>(close - p - 1);
        if (inner >= 1 && inner <= 62) {
            char group[64];
            std::memcpy(group, p + 1, inner);
            group[inner] = 0;
            if (std::strstr(group, "bytes") != nullptr || std::strstr(group, "Bytes") != nullptr) {
                // An unsigned count of 1 to 4294967295; a sign, no digits or
                // a value beyond 32 bits is no size at all.
                const char* d = group;
                while (*d == ' ' || *d == '\t')
                    ++d;
                uint64_t v = 0;
                bool digits = false;
                while (IsDigit(*d) && v <= 0xFFFFFFFFull) {
                    v = v * 10 + static_cast<uint64_t>(*d - '0');
                    digits = true;
                    ++d;
                }
                if (digits && !IsDigit(*d) && v > 0 && v <= 0xFFFFFFFFull) {
                    size = static_cast<uint32_t>(v);
                    return TRUE;
                }
            }
        }
        p = close + 1;
    }
    return FALSE;
}

int32_t CFtpClient::TryGetFileSizeFromString(const char* text)
{
    hasFileSize = FALSE;
    fileSize = 0;
    bool ignore = debugAlwaysStopFileSize != 0;
    if (!ignore && debugStopFileSize > 0) {
        --debugStopFileSize;
        ignore = true;
    }
    uint32_t size = 0;
    if (!ignore && xFtpParseFileSize(text, size)) {
        hasFileSize = TRUE;
        fileSize = size;
        LogString("Going to receive file: Got filesize %lu", static_cast<unsigned long>(size));
        return TRUE;
    }
    LogString("Going to receive file: Didn't find any filesize, trying without it");
    return FALSE;
}
