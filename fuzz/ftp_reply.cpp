// Fuzz target: any bytes as what an FTP server sends on the command
// connection, fed to the client's reply parser in pieces whose sizes come
// from the first byte (not itself fed); every queued reply is then read back and its text
// given to the 227 address reader and the announced-size reader.
#include <tarvex/tarvex.h>

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto g = std::make_unique<SGlobals>();
    auto s = std::make_unique<SSysGlobals>();
    glb = g.get();
    sglb = s.get();
    xCreateGlobals();
    {
        CFtpClient client;
        size_t piece = size > 0 ? (data[0] % 64) + 1 : 1;
        const char* bytes = size > 0 ? reinterpret_cast<const char*>(data) + 1 : "";
        size = size > 0 ? size - 1 : 0;
        int32_t ok = TRUE, reconnect = 0;
        for (size_t i = 0; i < size && ok && !reconnect; i += piece) {
            size_t n = size - i < piece ? size - i : piece;
            ok = client.ParseReplyBytes(bytes + i, static_cast<uint32_t>(n), reconnect);
        }
        if (client.recvQueue.count > static_cast<int32_t>(FTP_MAX_QUEUED_REPLIES))
            __builtin_trap();
        while (client.RecvCommandQueue_IsMessage()) {
            int32_t code = -1;
            char* text = nullptr;
            if (!client.RecvCommandQueue_GetMessage(code, text, 1) || text == nullptr)
                __builtin_trap();
            if (code < 0 || code > 999 || std::strlen(text) > FTP_MAX_REPLY_TEXT)
                __builtin_trap();
            uint8_t host[4];
            uint16_t port = 0;
            if (xFtpParsePasvReply(text, host, port) && port == 0)
                __builtin_trap();
            uint32_t fileSize = 0;
            if (xFtpParseFileSize(text, fileSize) && fileSize == 0)
                __builtin_trap();
            client.TryGetFileSizeFromString(text);
            XFREE(text);
        }
    }
    xFreeGlobals();
    glb = nullptr;
    sglb = nullptr;
    return 0;
}
