// The FTP client against a scripted server of our own (ftp_fault_server.py):
// odd greetings and replies, untrustworthy 227 replies and sizes, data
// connections that stall, close early or stay open, and the retry limits
// driven by the client's fault switches. Frames run on the test clock, so
// the 20-second time-outs pass in a fraction of a second.
#include "ftp_test_util.h"

#include <string>

using namespace tvtest;

namespace
{

constexpr const char* kPython = "/usr/bin/python3";
constexpr size_t kSize = 4000; // the fault server's file

class FtpFaultTest : public TarvexTest
{
  protected:
    void SetUp() override
    {
        TarvexTest::SetUp();
        tvp::TestSetManualClock(true, 100000);
    }
    void TearDown() override
    {
        server.Stop();
        tvp::TestSetManualClock(false);
        std::error_code ec;
        std::filesystem::remove_all(Here() + "/got", ec);
        TarvexTest::TearDown();
    }

    bool StartServer(const char* name)
    {
        if (!HaveProgram(kPython))
            return false;
        stats = Here() + "/stats-" + name;
        std::string script = std::string(TARVEX_SOURCE_DIR) + "/tests/ftp/ftp_fault_server.py";
        std::string line;
        if (!server.Start({kPython, script, name, stats}, true) || !server.ReadLine(line, 10000))
            return false;
        port = static_cast<uint16_t>(std::stoi(line));
        return port != 0;
    }

    // "connections=N retrs=M" as written by the server.
    int Stat(const char* key)
    {
        std::string text;
        ReadWhole(stats, text);
        size_t at = text.find(std::string(key) + "=");
        return at == std::string::npos ? -1 : std::stoi(text.substr(at + std::strlen(key) + 1));
    }

    void Begin(CFtpClient& c, bool passive, const char* user = "user")
    {
        ASSERT_EQ(c.Startup(), TRUE);
        if (passive)
            c.SetPassiveMode();
        ASSERT_EQ(c.Connect("127.0.0.1", port), TRUE) << ErrorText(c);
        ASSERT_EQ(c.SetLoginName(user), TRUE);
        ASSERT_EQ(c.SetLoginPassword("pw"), TRUE);
        ASSERT_EQ(c.RetrieveFile("got/file.bin", "file.bin"), TRUE);
    }

    // Runs the download to its note; the file must be the server's.
    void ExpectDownloaded(CFtpClient& c, uint32_t clockStep = 2)
    {
        ASSERT_TRUE(Drive(
            c, [&] { return c.downloads == 1; }, 200000, clockStep))
            << "state " << c.state << " error " << ErrorText(c);
        std::string got;
        ASSERT_TRUE(ReadWhole("got/file.bin", got));
        EXPECT_EQ(got.size(), kSize);
        EXPECT_TRUE(got == Content(kSize));
        ASSERT_EQ(c.IsDownloadedNote(), TRUE);
    }

    const CDownloadedNote* Note(CFtpClient& c)
    {
        return c.notes.first != nullptr ? static_cast<const CDownloadedNote*>(c.notes.first->data) : nullptr;
    }

    Child server;
    std::string stats;
    uint16_t port = 0;
};

} // namespace

TEST_F(FtpFaultTest, DownloadsThatSucceed)
{
    struct Case {
        const char* name;
        bool passive;
        bool endPassive; // the mode after the download
        bool sizeKnown;  // the note says the size was announced
        int retrs;       // RETR commands the server saw
        uint32_t step;   // test-clock ms per frame
    };
    const Case cases[] = {
        {"normal", true, true, true, 1, 2},
        {"normal", false, false, true, 1, 2},
        {"multi_greeting", true, true, true, 1, 2},
        {"line_1023", true, true, true, 1, 2},
        // 502 to PASV: active mode, after a reconnect.
        {"pasv_502", true, false, true, 1, 2},
        // 227 replies that are refused: active mode.
        {"pasv_bad_host", true, false, true, 1, 2},
        {"pasv_port_zero", true, false, true, 1, 2},
        {"pasv_no_parens", true, false, true, 1, 2},
        // The address in the reply is not used: the data goes to the peer.
        {"pasv_foreign", true, true, true, 1, 2},
        // Sizes that cannot be: the download runs until the data closes.
        {"size_negative", true, true, false, 1, 2},
        {"size_huge", true, true, false, 1, 2},
        {"size_none", false, false, false, 1, 2},
        // 100 bytes more than announced are dropped.
        {"extra_bytes", true, true, true, 1, 2},
        // 226 while the data connection stays open: done 20 s later.
        {"open_after_226", true, true, true, 1, 50},
        // ... but not when bytes are missing: the download starts again.
        {"short_open_after_226", true, true, true, 2, 50},
        // A stalled data connection times out and the download starts again.
        {"stall", true, true, true, 2, 50},
        {"close_mid_file", false, false, true, 2, 2},
        {"close_mid_file_426", true, true, false, 2, 2},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::string(k.name) + (k.passive ? " passive" : " active"));
        ASSERT_TRUE(StartServer(k.name));
        {
            CFtpClient c;
            Begin(c, k.passive);
            ExpectDownloaded(c, k.step);
            EXPECT_EQ(c.passiveMode, k.endPassive ? TRUE : FALSE);
            ASSERT_NE(Note(c), nullptr);
            EXPECT_EQ(Note(c)->fileSizeExists, k.sizeKnown ? TRUE : FALSE);
            EXPECT_EQ(Note(c)->fileSize, k.sizeKnown ? kSize : 0u);
            EXPECT_EQ(Stat("retrs"), k.retrs);
            c.Closedown();
        }
        server.Stop();
    }
}

TEST_F(FtpFaultTest, FailuresForGood)
{
    struct Case {
        const char* name;
        const char* error;
    };
    const Case cases[] = {
        {"line_1024", "Out of bounds when trying to receive data on command socket."},
        {"endless", "Out of bounds when trying to receive data on command socket."},
        {"greet_421", "Server is not available."},
        {"user_530", "Not able to login."},
        {"missing", "File unavailable (file not found)."},
        {"retr_421", "Service not available."},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        ASSERT_TRUE(StartServer(k.name));
        {
            CFtpClient c;
            Begin(c, true);
            ASSERT_TRUE(DriveToError(c, 100000, 2)) << "state " << c.state;
            EXPECT_EQ(ErrorText(c), k.error);
            // Nothing more happens: no reconnect, no new connection.
            for (int i = 0; i < 200; ++i) {
                xHandler();
                EXPECT_EQ(c.Update(), TRUE);
                tvp::TestAdvanceClock(100);
            }
            EXPECT_EQ(c.state, FTPNOSTATE);
            EXPECT_EQ(Stat("connections"), 1);
            EXPECT_FALSE(std::filesystem::exists("got/file.bin"));
            c.Closedown();
        }
        server.Stop();
    }
}

TEST_F(FtpFaultTest, LoginNameCallbacks)
{
    ASSERT_TRUE(StartServer("user_530"));
    CFtpClient c;
    ASSERT_EQ(c.Startup(), TRUE);
    c.SetPassiveMode();
    ASSERT_EQ(c.Connect("127.0.0.1", port), TRUE);
    // No name set: the name callback is asked, then the error callback.
    static char first[] = "bad";
    static char second[] = "good";
    c.SetLoginNameCallback(
        [](char*& text, void*) -> int32_t {
            text = first;
            return TRUE;
        },
        nullptr);
    int errors = 0;
    c.SetLoginNameErrorCallback(
        [](char*& text, void* user) -> int32_t {
            ++*static_cast<int*>(user);
            text = second;
            return TRUE;
        },
        &errors);
    ASSERT_EQ(c.SetLoginPassword("pw"), TRUE);
    ASSERT_EQ(c.RetrieveFile("got/file.bin", "file.bin"), TRUE);
    ExpectDownloaded(c);
    EXPECT_EQ(errors, 1);
    EXPECT_STREQ(c.loginName, "good");
    EXPECT_NE(c.loginName, second); // a copy: the callback's buffer stays its own
    c.Closedown();
}

TEST_F(FtpFaultTest, LoginCallbackTextWithLineBreakIsRefused)
{
    ASSERT_TRUE(StartServer("normal"));
    CFtpClient c;
    ASSERT_EQ(c.Startup(), TRUE);
    ASSERT_EQ(c.Connect("127.0.0.1", port), TRUE);
    static char evil[] = "anonymous\r\nDELE file.bin";
    c.SetLoginNameCallback(
        [](char*& text, void*) -> int32_t {
            text = evil;
            return TRUE;
        },
        nullptr);
    ASSERT_TRUE(DriveToError(c, 100000, 2));
    EXPECT_EQ(ErrorText(c), "Text is missing or holds a line break.");
    c.Closedown();
}

TEST_F(FtpFaultTest, FaultSwitchesThatARetryOvercomes)
{
    struct Case {
        const char* name;
        void (*arm)(CFtpClient&);
        bool passive;
        bool endPassive;
        uint32_t step;
    };
    const Case cases[] = {
        {"two wrong data ports", [](CFtpClient& c) { c.DebugStopFileConnect(2); }, true, true, 2},
        {"two wrong data ports, active", [](CFtpClient& c) { c.DebugStopFileConnect(2); }, false, false, 2},
        {"three wrong data ports switch the mode", [](CFtpClient& c) { c.DebugStopFileConnect(3); }, true,
         false, 2},
        {"lost before USER six times", [](CFtpClient& c) { c.DebugStopLogin(6); }, true, true, 2},
        {"lost before PASS", [](CFtpClient& c) { c.DebugStopPassword(1); }, true, true, 2},
        {"lost waiting for PORT answer", [](CFtpClient& c) { c.DebugStopPort(1); }, false, false, 2},
        {"lost waiting for RETR answer", [](CFtpClient& c) { c.DebugStopRecv(1); }, true, true, 2},
        {"size ignored", [](CFtpClient& c) { c.DebugAlwaysStopFileSize(); }, true, true, 2},
        {"two connects to nowhere", [](CFtpClient& c) { c.DebugStopConnect(2); }, true, true, 100},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        ASSERT_TRUE(StartServer("normal"));
        {
            CFtpClient c;
            k.arm(c);
            Begin(c, k.passive);
            ExpectDownloaded(c, k.step);
            EXPECT_EQ(c.passiveMode, k.endPassive ? TRUE : FALSE);
            EXPECT_EQ(c.reconnects, 0); // reset by the finished download
            c.Closedown();
        }
        server.Stop();
    }
}

TEST_F(FtpFaultTest, TheSeventhFailedDataConnectionGivesUp)
{
    ASSERT_TRUE(StartServer("normal"));
    CFtpClient c;
    c.DebugAlwaysStopPassive();
    c.DebugAlwaysStopNormal();
    Begin(c, true);
    ASSERT_TRUE(DriveToError(c, 200000, 2));
    EXPECT_EQ(ErrorText(c), "Unable to open data connection.");
    EXPECT_EQ(c.dataTries, 7);
    // Passive three times, active three times (each reaching RETR), then
    // passive once more: seven connections, six reconnects.
    EXPECT_EQ(Stat("connections"), 7);
    EXPECT_EQ(Stat("retrs"), 3);
    EXPECT_EQ(c.reconnects, 6);
    c.Closedown();
}

TEST_F(FtpFaultTest, TheSeventhReconnectGivesUp)
{
    ASSERT_TRUE(StartServer("normal"));
    CFtpClient c;
    c.DebugStopLogin(7);
    Begin(c, true);
    ASSERT_TRUE(DriveToError(c, 200000, 2));
    EXPECT_EQ(ErrorText(c), "Maximum reconnects without a successful download reached. Giving up.");
    EXPECT_EQ(Stat("connections"), 7);
    c.Closedown();
}

TEST_F(FtpFaultTest, ConnectFailures)
{
    // Nothing listens: the non-blocking connect gives up after its re-tries.
    uint16_t closed = FreePort();
    CFtpClient c;
    ASSERT_EQ(c.Startup(), TRUE);
    ASSERT_EQ(c.Connect("127.0.0.1", closed), TRUE);
    EXPECT_EQ(c.state, FTPCONNECTING);
    ASSERT_TRUE(DriveToError(c, 100000, 100));
    EXPECT_EQ(ErrorText(c), "Unable to contact server. Giving up.");
    EXPECT_EQ(c.Connect("127.0.0.1", closed), FALSE);
    EXPECT_EQ(ErrorText(c), "Connect must be the first function to call.");

    // Blocking connect: the greeting state at once.
    ASSERT_TRUE(StartServer("normal"));
    c.Disconnect();
    c.SetBlockingConnectOn();
    ASSERT_EQ(c.Connect("127.0.0.1", port), TRUE);
    EXPECT_EQ(c.state, FTPWAITINGFORLOGIN);
    ASSERT_EQ(c.SetLoginName("user"), TRUE);
    ASSERT_EQ(c.SetLoginPassword("pw"), TRUE);
    ASSERT_TRUE(Drive(
        c, [&] { return c.IsWaitingForUserCommands() == TRUE; }, 100000, 2));
    EXPECT_STREQ(c.GetStateString(), "Idle. Waiting for user commands.");
    c.Closedown();
}

TEST_F(FtpFaultTest, AFailureDuringADownloadLeavesNoFile)
{
    ASSERT_TRUE(StartServer("half_then_421"));
    CFtpClient c;
    Begin(c, true);
    ASSERT_TRUE(Drive(
        c, [&] { return c.IsDownloading() == TRUE; }, 100000, 2));
    ASSERT_TRUE(DriveToError(c, 100000, 2));
    EXPECT_EQ(ErrorText(c), "Service not available, closing control connection.");
    EXPECT_EQ(c.file.IsOpen(), FALSE);
    EXPECT_FALSE(std::filesystem::exists("got/file.bin"));
    EXPECT_EQ(c.IsDownloadedNote(), FALSE);
    c.Closedown();
}

TEST_F(FtpFaultTest, ActiveModeTakesDataOnlyFromTheServer)
{
    ASSERT_TRUE(StartServer("normal"));
    CFtpClient c;
    Begin(c, false);
    ASSERT_TRUE(Drive(
        c, [&] { return c.state == FTPNORMDOWNLOADWAITPORTANSWER; }, 100000, 2));
    // Another host (127.0.0.2 is loopback too) connects first.
    int intruder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = inet_addr("127.0.0.2");
    ASSERT_EQ(bind(intruder, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr("127.0.0.1");
    to.sin_port = c.listening.addr.sin_port;
    ASSERT_EQ(connect(intruder, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    ExpectDownloaded(c);
    EXPECT_EQ(c.reconnects, 0);
    // The client closed the intruder's connection without a byte.
    char byte;
    pollfd p{intruder, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_LE(recv(intruder, &byte, 1, 0), 0);
    close(intruder);
    c.Closedown();
}
