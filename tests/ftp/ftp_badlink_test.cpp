// Downloads from vsftpd over a bad link (tests/support/netns_util.h): the
// server runs inside a network namespace joined to this one by a veth pair,
// impaired with tc on both ends; the client here downloads in passive mode
// under loss, a bandwidth cap, both, and a 5 s cut in the middle of the
// transfer. Each download ends with the file identical to the server's copy,
// or with one of the give-up errors after the client's bounded retries;
// nothing else. Prints seconds and bytes per second per row next to the
// clean link. Needs root (CAP_NET_ADMIN): skipped otherwise.
#include "ftp_test_util.h"
#include "netns_util.h"

#include <set>

using namespace tvtest;

namespace
{

constexpr const char* kVsftpd = "/usr/sbin/vsftpd";
constexpr size_t kFileSize = 192 * 1024;

class FtpBadLinkTest : public TarvexTest
{
  protected:
    void SetUp() override
    {
        TarvexTest::SetUp();
        if (geteuid() != 0)
            GTEST_SKIP() << "not root: network namespaces cannot be made";
        if (!HaveProgram(kVsftpd))
            GTEST_SKIP() << "vsftpd is not installed";
        link = std::make_unique<NetLink>();
        if (!link->made)
            GTEST_SKIP() << "network namespaces or veth pairs cannot be made here (CAP_NET_ADMIN?)";
        root = Here() + "/served_badlink";
        std::filesystem::create_directories(root);
        std::filesystem::permissions(
            Here(), std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                        std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                        std::filesystem::perms::others_exec);
        ASSERT_TRUE(WriteWhole(root + "/file.bin", Content(kFileSize)));
    }
    void TearDown() override
    {
        server.Stop();
        link.reset();
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
        std::filesystem::remove_all(Here() + "/got_badlink", ec);
        TarvexTest::TearDown();
    }

    // vsftpd inside the namespace on peerIp:21 (nothing else listens there).
    bool StartVsftpd()
    {
        std::string conf = Here() + "/vsftpd_badlink.conf";
        std::string text = "listen=YES\nlisten_ipv6=NO\nbackground=NO\nlisten_port=21\n"
                           "anonymous_enable=YES\nlocal_enable=NO\nwrite_enable=NO\n"
                           "seccomp_sandbox=NO\nrun_as_launching_user=YES\n"
                           "secure_chroot_dir=/var/run/vsftpd/empty\npasv_enable=YES\nport_enable=YES\n"
                           "connect_from_port_20=NO\nxferlog_enable=NO\nuse_localtime=NO\n"
                           "dirmessage_enable=NO\n";
        text += "listen_address=" + link->peerIp + "\nanon_root=" + root + "\n";
        std::filesystem::create_directories("/var/run/vsftpd/empty");
        if (!WriteWhole(conf, text) ||
            !server.Start({"/usr/sbin/ip", "netns", "exec", link->ns, kVsftpd, conf}, false))
            return false;
        // Up once it answers across the (still clean) link.
        return WaitForPort(21, 10000, link->peerIp.c_str());
    }

    std::unique_ptr<NetLink> link;
    std::string root;
    Child server;
};

} // namespace

TEST_F(FtpBadLinkTest, VsftpdDownloadIsWholeOrGivesUp)
{
    ASSERT_TRUE(StartVsftpd());
    const std::string tbf = "tbf rate 1mbit burst 16kbit latency 200ms";
    struct Row {
        const char* name;
        Impairment impairment;
        uint32_t cutAfterMs; // 0: no cut; else the link is cut for 5 s from then
    };
    const Row rows[] = {
        {"clean", {}, 0},
        {"loss 3%", {"netem loss 3%", 3, ""}, 0},
        {"rate 1mbit", {"", 0, tbf}, 0},
        {"rate 1mbit + loss 3%", {"", 3, tbf}, 0},
        // The cap keeps the transfer under way when the cut comes.
        {"rate 1mbit, cut 5 s", {"", 0, tbf}, 500},
    };
    // What a download may end with instead of the file, once its retries are
    // spent.
    const std::set<std::string> giveUps = {
        "Maximum reconnects without a successful download reached. Giving up.",
        "Unable to open data connection.",
        "Unable to connect.",
    };
    struct Line {
        std::string row, how, result;
        double seconds;
        int32_t reconnects;
    };
    std::vector<Line> lines;
    std::filesystem::create_directories("got_badlink");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::string how;
        if (!link->Impair(r.impairment, &how)) {
            std::printf("skipped: %s (needs netem: '%s')\n", r.name, r.impairment.netem.c_str());
            continue;
        }
        LinkCut cutter(*link, r.impairment);
        CFtpClient c;
        ASSERT_EQ(c.Startup(), TRUE);
        c.SetPassiveMode();
        ASSERT_EQ(c.Connect(link->peerIp.c_str(), 21), TRUE) << ErrorText(c);
        ASSERT_EQ(c.SetLoginName("anonymous"), TRUE);
        ASSERT_EQ(c.SetLoginPassword("guest@"), TRUE);
        ASSERT_EQ(c.RetrieveFile("got_badlink/file.bin", "file.bin"), TRUE);
        auto start = std::chrono::steady_clock::now();
        int32_t reconnects = 0;
        bool done = Drive(
            c,
            [&] {
                reconnects = std::max(reconnects, c.reconnects);
                if (r.cutAfterMs != 0 && c.state == FTPDOWNLOADDOWNLOADING &&
                    std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(r.cutAfterMs))
                    cutter.Start();
                cutter.Down();
                return c.downloads == 1;
            },
            4000000, 0, 120);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_FALSE(cutter.failed);
        EXPECT_TRUE(r.cutAfterMs == 0 || cutter.cut) << "the transfer ended before the cut";
        std::string result;
        if (done) {
            std::string got;
            EXPECT_TRUE(ReadWhole("got_badlink/file.bin", got));
            EXPECT_TRUE(got == Content(kFileSize)) << got.size() << " bytes";
            char *local = nullptr, *remote = nullptr;
            ASSERT_EQ(c.GetDownloadedNote(0, 0, 0, local, remote), TRUE);
            XFREE(local);
            XFREE(remote);
            result = "identical";
        } else {
            // Not finished: only a give-up after the retries is allowed.
            result = ErrorText(c);
            EXPECT_EQ(c.state, FTPNOSTATE) << "neither finished nor given up";
            EXPECT_EQ(giveUps.count(result), 1u) << result;
        }
        lines.push_back({r.name, how, result, seconds, reconnects});
        c.Closedown();
        std::error_code ec;
        std::filesystem::remove("got_badlink/file.bin", ec);
    }
    link->Clear();
    std::printf("\n%-24s %-8s %9s %10s %10s  %s\n", "link (192 KiB, passive)", "made by", "seconds",
                "bytes/s", "reconnects", "result");
    for (const Line& x : lines)
        std::printf("%-24s %-8s %9.2f %10.0f %10d  %s\n", x.row.c_str(), x.how.c_str(), x.seconds,
                    kFileSize / (x.seconds > 0 ? x.seconds : 0.001), x.reconnects, x.result.c_str());
}
