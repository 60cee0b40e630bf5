// Downloads from real FTP servers started by the test on 127.0.0.1: vsftpd
// in the foreground with its own configuration file, and pyftpdlib under the
// system Python. Files of 0 bytes, 1 byte, 1 MB and 20 MB, passive and
// active, anonymous and with a login; every file is compared byte for byte
// with the server's copy, and every download leaves one note.
#include "ftp_test_util.h"

#include <memory>
#include <string>
#include <vector>

using namespace tvtest;

namespace
{

constexpr const char* kVsftpd = "/usr/sbin/vsftpd";
constexpr const char* kPython = "/usr/bin/python3";

struct ServedFile {
    const char* name;
    size_t size;
};
constexpr ServedFile kFiles[] = {
    {"empty.bin", 0},
    {"one.bin", 1},
    {"mega.bin", 1u << 20},
    {"big.bin", 20u << 20},
};

class FtpServerTest : public TarvexTest
{
  protected:
    void SetUp() override
    {
        TarvexTest::SetUp();
        root = Here() + "/served";
        std::filesystem::create_directories(root);
        std::filesystem::permissions(
            Here(), std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                        std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                        std::filesystem::perms::others_exec);
        for (const auto& f : kFiles)
            ASSERT_TRUE(WriteWhole(root + "/" + f.name, Content(f.size)));
    }
    void TearDown() override
    {
        server.Stop();
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
        std::filesystem::remove_all(Here() + "/got", ec);
        TarvexTest::TearDown();
    }

    bool StartVsftpd()
    {
        port = FreePort();
        std::string conf = Here() + "/vsftpd.conf";
        std::string text = "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nbackground=NO\n"
                           "anonymous_enable=YES\nlocal_enable=NO\nwrite_enable=NO\n"
                           "seccomp_sandbox=NO\nrun_as_launching_user=YES\n"
                           "secure_chroot_dir=/var/run/vsftpd/empty\npasv_enable=YES\nport_enable=YES\n"
                           "connect_from_port_20=NO\nxferlog_enable=NO\nuse_localtime=NO\n"
                           "dirmessage_enable=NO\n";
        text += "listen_port=" + std::to_string(port) + "\nanon_root=" + root + "\n";
        std::filesystem::create_directories("/var/run/vsftpd/empty");
        return WriteWhole(conf, text) && server.Start({kVsftpd, conf}, false) && WaitForPort(port);
    }

    bool StartPyftpdlib(const char* user, const char* pass)
    {
        port = FreePort();
        std::vector<std::string> args = {
            kPython, "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(port), "-d", root};
        if (user != nullptr)
            args.insert(args.end(), {"-u", user, "-P", pass});
        return server.Start(args, false) && WaitForPort(port);
    }

    // Downloads the files in one session and checks each against its source.
    void DownloadAll(bool passive, const char* user, const char* pass, uint32_t budget,
                     const std::vector<ServedFile>& files)
    {
        CFtpClient c;
        ASSERT_EQ(c.Startup(), TRUE);
        if (passive)
            c.SetPassiveMode();
        ASSERT_EQ(c.SetUpdateByteBudget(budget), TRUE);
        ASSERT_EQ(c.Connect("127.0.0.1", port), TRUE) << ErrorText(c);
        ASSERT_EQ(c.SetLoginName(user), TRUE);
        ASSERT_EQ(c.SetLoginPassword(pass), TRUE);
        for (const auto& f : files)
            ASSERT_EQ(c.RetrieveFile(("got/" + std::string(f.name)).c_str(), f.name), TRUE);
        ASSERT_TRUE(Drive(c, [&] { return c.downloads == static_cast<int32_t>(files.size()); }))
            << "state " << c.state << " error " << ErrorText(c);
        EXPECT_EQ(c.reconnects, 0);
        EXPECT_EQ(c.passiveMode, passive ? TRUE : FALSE);
        for (const auto& f : files) {
            ASSERT_EQ(c.IsDownloadedNote(), TRUE);
            char *local = nullptr, *remote = nullptr;
            ASSERT_EQ(c.GetDownloadedNote(0, 0, 0, local, remote), TRUE);
            EXPECT_EQ(std::string(remote), f.name);
            std::string got;
            EXPECT_TRUE(ReadWhole(local, got)) << local;
            EXPECT_TRUE(got == Content(f.size)) << f.name << ": " << got.size() << " bytes";
            XFREE(local);
            XFREE(remote);
        }
        EXPECT_EQ(c.IsDownloadedNote(), FALSE);
        c.Closedown();
    }

    std::string root;
    uint16_t port = 0;
    Child server;
};

const std::vector<ServedFile> kAll(std::begin(kFiles), std::end(kFiles));
const std::vector<ServedFile> kSmall(std::begin(kFiles), std::begin(kFiles) + 3);

} // namespace

TEST_F(FtpServerTest, VsftpdAnonymousPassiveAndActive)
{
    if (!HaveProgram(kVsftpd))
        GTEST_SKIP() << "vsftpd is not installed";
    ASSERT_TRUE(StartVsftpd());
    {
        SCOPED_TRACE("passive, raised budget");
        DownloadAll(true, "anonymous", "guest@", 256 * 1024, kAll);
    }
    {
        SCOPED_TRACE("active, default budget");
        DownloadAll(false, "anonymous", "guest@", FTP_DEFAULT_UPDATE_BUDGET, kSmall);
    }
}

TEST_F(FtpServerTest, PyftpdlibWithLoginPassiveAndActive)
{
    if (!HaveProgram(kPython) || system("/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null") != 0)
        GTEST_SKIP() << "pyftpdlib is not installed";
    ASSERT_TRUE(StartPyftpdlib("tester", "s3cret"));
    {
        SCOPED_TRACE("active, raised budget");
        DownloadAll(false, "tester", "s3cret", 256 * 1024, kAll);
    }
    {
        SCOPED_TRACE("passive, default budget");
        DownloadAll(true, "tester", "s3cret", FTP_DEFAULT_UPDATE_BUDGET, kSmall);
    }
}

TEST_F(FtpServerTest, PyftpdlibAnonymousAndAWrongPassword)
{
    if (!HaveProgram(kPython) || system("/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null") != 0)
        GTEST_SKIP() << "pyftpdlib is not installed";
    ASSERT_TRUE(StartPyftpdlib(nullptr, nullptr));
    DownloadAll(true, "anonymous", "guest@", FTP_DEFAULT_UPDATE_BUDGET, {kFiles[1]});
    server.Stop();

    // A wrong password: the error callback hands the right one (the client
    // copies it; the callback keeps its own buffer).
    ASSERT_TRUE(StartPyftpdlib("tester", "s3cret"));
    CFtpClient c(TRUE);
    c.LogDelete();
    ASSERT_EQ(c.Startup(), TRUE);
    c.SetPassiveMode();
    ASSERT_EQ(c.Connect("127.0.0.1", port), TRUE);
    ASSERT_EQ(c.SetLoginName("tester"), TRUE);
    ASSERT_EQ(c.SetLoginPassword("wrong"), TRUE);
    static char right[] = "s3cret";
    int calls = 0;
    c.SetLoginPasswordErrorCallback(
        [](char*& text, void* user) -> int32_t {
            ++*static_cast<int*>(user);
            text = right;
            return TRUE;
        },
        &calls);
    ASSERT_EQ(c.RetrieveFile("got/one.bin", "one.bin"), TRUE);
    ASSERT_TRUE(Drive(c, [&] { return c.downloads == 1; })) << ErrorText(c);
    EXPECT_EQ(calls, 1);
    EXPECT_STREQ(right, "s3cret");
    EXPECT_NE(c.password, right);
    // The password went out only masked in the send log.
    std::string sent, full;
    ASSERT_TRUE(ReadWhole("ftpsendlow.log", sent));
    ASSERT_TRUE(ReadWhole("ftpfull.log", full));
    EXPECT_NE(sent.find("USER tester\r\nPASS ****\r\n"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("s3cret"), std::string::npos);
    EXPECT_EQ(sent.find("wrong"), std::string::npos);
    EXPECT_EQ(full.find("s3cret"), std::string::npos);
    char *local = nullptr, *remote = nullptr;
    ASSERT_EQ(c.GetDownloadedNote(0, 0, 0, local, remote), TRUE);
    XFREE(local);
    XFREE(remote);
    c.Closedown();
    c.LogDelete();
}

TEST_F(FtpServerTest, VsftpdMissingFileFailsForGood)
{
    if (!HaveProgram(kVsftpd))
        GTEST_SKIP() << "vsftpd is not installed";
    ASSERT_TRUE(StartVsftpd());
    CFtpClient c;
    ASSERT_EQ(c.Startup(), TRUE);
    c.SetPassiveMode();
    ASSERT_EQ(c.Connect("127.0.0.1", port), TRUE);
    ASSERT_EQ(c.SetLoginName("anonymous"), TRUE);
    ASSERT_EQ(c.SetLoginPassword("guest@"), TRUE);
    ASSERT_EQ(c.RetrieveFile("got/none.bin", "none.bin"), TRUE);
    ASSERT_TRUE(DriveToError(c));
    EXPECT_EQ(ErrorText(c), "File unavailable (file not found).");
    // In the error state Update does nothing: no reconnect, no retry.
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(c.Update(), TRUE);
    EXPECT_EQ(c.state, FTPNOSTATE);
    EXPECT_EQ(c.reconnects, 0);
    EXPECT_FALSE(std::filesystem::exists("got/none.bin"));
    c.Closedown();
}
