// Tests of the FTP client's parts that need no server: downloaded notes, the
// reply parser (multi-line replies, short and over-long lines, the caps on a
// reply and on the queue), the 227 and size readers, the queues, the error
// texts and the refusal of texts that could inject commands.
#include "ftp_test_util.h"

#include <string>
#include <vector>

using tvtest::TarvexTest;

namespace
{

class FtpClientTest : public TarvexTest
{
};

struct Reply {
    int32_t code;
    std::string text;
};

// Feeds the bytes in pieces of `piece` and collects the queued replies.
std::vector<Reply> Parse(CFtpClient& c, const std::string& bytes, size_t piece, int32_t& ok,
                         int32_t& reconnect)
{
    ok = TRUE;
    reconnect = 0;
    for (size_t i = 0; i < bytes.size() && ok && !reconnect; i += piece) {
        size_t n = std::min(piece, bytes.size() - i);
        ok = c.ParseReplyBytes(bytes.data() + i, static_cast<uint32_t>(n), reconnect);
    }
    std::vector<Reply> out;
    while (c.RecvCommandQueue_IsMessage()) {
        int32_t code = 0;
        char* text = nullptr;
        c.RecvCommandQueue_GetMessage(code, text, 1);
        out.push_back({code, text != nullptr ? text : ""});
        if (text != nullptr)
            XFREE(text);
    }
    return out;
}

} // namespace

TEST_F(FtpClientTest, NoteKeepsCopiesAndHandsOutCopies)
{
    CDownloadedNote* note = XNEW(CDownloadedNote);
    EXPECT_EQ(note->GetLocalFileName(), nullptr);
    EXPECT_EQ(tvtest::LastError(), "GetLocalFileName::No localFileName exists.");
    EXPECT_EQ(note->SetRemoteFileName(nullptr), FALSE);
    EXPECT_EQ(tvtest::LastError(), "SetRemoteFileName::nameIn is invalid.");

    char name[] = "dir/local.bin";
    ASSERT_EQ(note->SetLocalFileName(name), TRUE);
    ASSERT_EQ(note->SetLocalFileName(name), TRUE); // the old copy is released
    name[0] = 'X';
    note->SetDownloadTime(1234);
    note->SetFileSizeExists(TRUE);
    note->SetFileSize(0xFFFFFFFFu);
    char* got = note->GetLocalFileName();
    ASSERT_NE(got, nullptr);
    EXPECT_STREQ(got, "dir/local.bin");
    EXPECT_NE(got, note->localFileName);
    XFREE(got);
    EXPECT_EQ(note->GetDownloadTime(), 1234u);
    EXPECT_EQ(note->GetFileSize(), 0xFFFFFFFFu);

    CDownloadedNote copy(*note);
    XDELETE(note);
    EXPECT_STREQ(copy.localFileName, "dir/local.bin");
}

TEST_F(FtpClientTest, NotesAreCollectedOldestFirstAndOutliveTheirNote)
{
    CFtpClient c;
    ASSERT_EQ(c.AddDownloadedNote(10, TRUE, 100, "a.bin", "ra.bin"), TRUE);
    ASSERT_EQ(c.AddDownloadedNote(20, FALSE, 0, "b.bin", "rb.bin"), TRUE);
    std::vector<std::string> got;
    while (c.IsDownloadedNote()) {
        char *local = nullptr, *remote = nullptr;
        ASSERT_EQ(c.GetDownloadedNote(0, 0, 0, local, remote), TRUE);
        got.push_back(std::string(local) + "<-" + remote);
        XFREE(local);
        XFREE(remote);
    }
    EXPECT_EQ(got, (std::vector<std::string>{"a.bin<-ra.bin", "b.bin<-rb.bin"}));

    c.state = FTPWAITFORUSERCOMMANDS;
    char *local = nullptr, *remote = nullptr;
    EXPECT_EQ(c.GetDownloadedNote(0, 0, 0, local, remote), FALSE);
    EXPECT_EQ(c.state, FTPNOSTATE);
    EXPECT_EQ(tvtest::ErrorText(c), "No downloaded notes exists");
}

TEST_F(FtpClientTest, ReplyParser)
{
    const std::string l1023 = "220 " + std::string(1019, 'x');
    const std::string l1024 = "220 " + std::string(1020, 'x');
    std::string endless;
    for (int i = 0; i < 300; ++i)
        endless += "220-more\r\n";
    std::string manyReplies;
    std::vector<Reply> sixtyFour;
    for (int i = 0; i < 65; ++i)
        manyReplies += "200 ok\r\n";
    for (int i = 0; i < 64; ++i)
        sixtyFour.push_back({200, "200 ok\n"});
    struct Case {
        const char* name;
        std::string bytes;
        int32_t ok;
        int32_t reconnect;
        std::vector<Reply> replies;
    };
    const Case cases[] = {
        {"single", "220 ready\r\n", TRUE, 0, {{220, "220 ready\n"}}},
        {"LF only and CR only", "200 a\n331 b\r", TRUE, 0, {{200, "200 a\n"}, {331, "331 b\n"}}},
        {"multi-line greeting",
         "220-Welcome\r\n220-second\r\nplain text\r\n220 ready\r\n",
         TRUE,
         0,
         {{220, "220-Welcome\n220-second\nplain text\n220 ready\n"}}},
        {"other code inside a multi-line reply",
         "150-a\r\n226 not the end\r\n150 end\r\n",
         TRUE,
         0,
         {{150, "150-a\n226 not the end\n150 end\n"}}},
        {"short line inside a multi-line reply",
         "211-a\r\nx\r\n211 b\r\n",
         TRUE,
         0,
         {{211, "211-a\nx\n211 b\n"}}},
        {"bare code", "200\r\n", TRUE, 0, {{200, "200\n"}}},
        {"blank lines between replies", "\r\n\r\n200 a\r\n\r\n", TRUE, 0, {{200, "200 a\n"}}},
        {"1023 characters fit", l1023 + "\r\n", TRUE, 0, {{220, l1023 + "\n"}}},
        {"1024 characters are refused", l1024 + "\r\n", FALSE, 0, {}},
        {"not a code", "hello there\r\n", TRUE, 1, {}},
        {"short non-code", "ab\r\n", TRUE, 1, {}},
        {"endless continuation lines", endless, FALSE, 0, {}},
        {"too many queued replies", manyReplies, FALSE, 0, sixtyFour},
    };
    for (const auto& k : cases)
        for (size_t piece : {size_t(1), size_t(7), size_t(4096)}) {
            CFtpClient c;
            int32_t ok = 0, reconnect = 0;
            auto got = Parse(c, k.bytes, piece, ok, reconnect);
            SCOPED_TRACE(std::string(k.name) + " piece " + std::to_string(piece));
            EXPECT_EQ(ok, k.ok);
            EXPECT_EQ(reconnect, k.reconnect);
            ASSERT_EQ(got.size(), k.replies.size());
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].code, k.replies[i].code);
                EXPECT_EQ(got[i].text, k.replies[i].text);
            }
            if (!k.ok) {
                EXPECT_EQ(tvtest::ErrorText(c),
                          "Out of bounds when trying to receive data on command socket.");
            }
        }
}

TEST_F(FtpClientTest, PasvReply)
{
    struct Case {
        const char* text;
        int32_t ok;
        uint8_t h0;
        uint16_t port;
    };
    const Case cases[] = {
        {"227 Entering Passive Mode (127,0,0,1,4,5).", TRUE, 127, 1029},
        {"227 =(10, 1, 2, 3, 255, 255)", TRUE, 10, 65535},
        {"227 (0,0,0,0,0,21)", TRUE, 0, 21},
        {"227 (300,0,0,1,4,5)", FALSE, 0, 0},
        {"227 (127,0,0,1,256,1)", FALSE, 0, 0},
        {"227 (127,0,0,1,0,0)", FALSE, 0, 0},
        {"227 (127,0,0,1,4)", FALSE, 0, 0},
        {"227 (127,0,0,1,4,5,6)", FALSE, 0, 0},
        {"227 (-1,0,0,1,4,5)", FALSE, 0, 0},
        {"227 127,0,0,1,4,5", FALSE, 0, 0},
        {"227 (127,0,0,1,4,5", FALSE, 0, 0},
        {"227 ()", FALSE, 0, 0},
        {"227 (99999999999999999999,0,0,1,4,5)", FALSE, 0, 0},
    };
    for (const auto& k : cases) {
        uint8_t host[4] = {};
        uint16_t port = 0;
        EXPECT_EQ(xFtpParsePasvReply(k.text, host, port), k.ok) << k.text;
        if (k.ok) {
            EXPECT_EQ(host[0], k.h0) << k.text;
            EXPECT_EQ(port, k.port) << k.text;
        }
    }
}

TEST_F(FtpClientTest, AnnouncedSize)
{
    struct Case {
        const char* text;
        int32_t ok;
        uint32_t size;
    };
    const Case cases[] = {
        {"150 Opening BINARY mode data connection for a.txt (1234 bytes).", TRUE, 1234},
        {"150 Opening (binary) data connection for x (77 Bytes)", TRUE, 77},
        {"150 (4294967295 bytes)", TRUE, 0xFFFFFFFFu},
        {"150 (4294967296 bytes)", FALSE, 0},
        {"150 (4294967396 bytes)", FALSE, 0},
        {"150 (99999999999999999999999 bytes)", FALSE, 0},
        {"150 (-5 bytes)", FALSE, 0},
        {"150 (0 bytes)", FALSE, 0},
        {"150 (bytes)", FALSE, 0},
        {"150 (12 bytes", FALSE, 0},
        {"150 Data connection already open. Transfer starting.", FALSE, 0},
        {"150 (-5 bytes) (40 bytes)", TRUE, 40},
        {"150 (a 123456789012345678901234567890123456789012345678901234567890123 bytes) (9 bytes)", TRUE, 9},
    };
    for (const auto& k : cases) {
        uint32_t size = 1;
        EXPECT_EQ(xFtpParseFileSize(k.text, size), k.ok) << k.text;
        EXPECT_EQ(size, k.size) << k.text;
    }
    CFtpClient c;
    c.DebugStopFileSize(1);
    EXPECT_EQ(c.TryGetFileSizeFromString("150 (12 bytes)"), FALSE);
    EXPECT_EQ(c.TryGetFileSizeFromString("150 (12 bytes)"), TRUE);
    EXPECT_EQ(c.fileSize, 12u);
}

TEST_F(FtpClientTest, CommandLinesAndQueues)
{
    CFtpClient c;
    ASSERT_EQ(c.SendCommandQueue_AddMessage("USER", "anonymous"), TRUE);
    ASSERT_EQ(c.SendCommandQueue_AddMessage("TYPE I", nullptr), TRUE);
    ASSERT_EQ(c.sendQueue.count, 2);
    EXPECT_STREQ(static_cast<SFtpSendCommand*>(c.sendQueue.first->data)->text, "USER anonymous\r\n");
    EXPECT_STREQ(static_cast<SFtpSendCommand*>(c.sendQueue.last->data)->text, "TYPE I\r\n");

    int32_t code = 0;
    char* text = reinterpret_cast<char*>(1);
    EXPECT_EQ(c.RecvCommandQueue_GetMessage(code, text, 1), FALSE);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(tvtest::ErrorText(c), "No messages are available.");

    EXPECT_EQ(c.UserCommandQueue_MessageType(), 0);
    ASSERT_EQ(c.RetrieveFile("local.bin", "remote.bin"), TRUE);
    EXPECT_EQ(c.UserCommandQueue_MessageType(), FTPUSERCMD_DOWNLOAD);
    EXPECT_EQ(c.IsUserCommands(), TRUE);
    SFtpFile* f = nullptr;
    ASSERT_EQ(c.UserCommandQueue_GetMessageFile(f), TRUE);
    EXPECT_STREQ(f->remoteName, "remote.bin");
    XFREE(f->localName);
    XFREE(f->remoteName);
    XDELETE(f);
    EXPECT_EQ(c.IsUserCommands(), FALSE);
}

TEST_F(FtpClientTest, TextsThatCouldInjectCommandsAreRefused)
{
    CFtpClient c;
    const char* bad[] = {"file\r\nDELE x", "a\nb", "a\rb"};
    for (const char* b : bad) {
        EXPECT_EQ(c.RetrieveFile("local", b), FALSE) << b;
    }
    EXPECT_EQ(c.RetrieveFile(nullptr, "remote"), FALSE);
    EXPECT_EQ(c.RetrieveFile("local", nullptr), FALSE);
    EXPECT_EQ(c.userQueue.count, 0);

    // Login texts need a connected client; the check on the text still holds.
    ASSERT_EQ(c.Startup(), TRUE);
    c.connected = TRUE;
    EXPECT_EQ(c.SetLoginName("anonymous\r\nDELE x"), FALSE);
    EXPECT_EQ(c.SetLoginPassword(nullptr), FALSE);
    EXPECT_EQ(c.SetLoginName("anonymous"), TRUE);
    EXPECT_EQ(c.SetLoginPassword("secret"), TRUE);
    EXPECT_STREQ(c.loginName, "anonymous");
    c.connected = FALSE;
    c.Closedown();
}

TEST_F(FtpClientTest, PreconditionsAndErrorState)
{
    CFtpClient c;
    EXPECT_EQ(c.Update(), FALSE);
    EXPECT_EQ(tvtest::ErrorText(c), "Startup has not been called.");
    EXPECT_EQ(c.Connect("127.0.0.1", 21), FALSE);
    EXPECT_EQ(tvtest::ErrorText(c), "Startup has not been called.");
    ASSERT_EQ(c.Startup(), TRUE);
    EXPECT_EQ(c.Startup(), FALSE);
    EXPECT_EQ(tvtest::ErrorText(c), "Startup is already called.");
    EXPECT_EQ(c.Update(), FALSE);
    EXPECT_EQ(tvtest::ErrorText(c), "Connect must be called before Login.");
    EXPECT_EQ(c.SetLoginName("x"), FALSE);
    EXPECT_EQ(tvtest::ErrorText(c), "Connect must be called before Login.");
    EXPECT_EQ(c.Connect(nullptr, 21), FALSE);
    EXPECT_EQ(tvtest::ErrorText(c), "Hostname is NULL (invalid).");

    // The first error stays when a soft one follows.
    c.FtpErrorTxt("first", "A");
    c.FtpErrorTxtIfNoError("second", "B");
    char *text = nullptr, *function = nullptr;
    c.FtpGetErrorTxt(text, function);
    EXPECT_STREQ(text, "first");
    EXPECT_STREQ(function, "A");
    EXPECT_EQ(c.FtpErrorTxt(nullptr, "C"), FALSE);
    c.FtpGetErrorTxt(text, function);
    EXPECT_STREQ(text, "first");
    c.Closedown();
}

TEST_F(FtpClientTest, LogsKeepThePasswordOut)
{
    CFtpClient c(TRUE);
    c.LogDelete();
    c.LogString("line %d", 1);
    std::string full;
    ASSERT_TRUE(tvtest::ReadWhole("ftpfull.log", full));
    EXPECT_NE(full.find("line 1\n"), std::string::npos);
    std::vector<std::string> lines;
    c.SetAppLogCallback(
        [](char* text, void* user) { static_cast<std::vector<std::string>*>(user)->push_back(text); },
        &lines);
    c.LogApp("Downloading file %s.", "x");
    EXPECT_EQ(lines, std::vector<std::string>{"Downloading file x."});
    c.LogDelete();
}
