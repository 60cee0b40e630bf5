// FTP download benchmark: a 100 MB file from a local vsftpd (started here on
// a free loopback port), downloaded in passive mode by our client with a
// raised per-Update byte budget, by our client at the default budget (1024
// bytes per Update) with a 0 ms frame, and by curl, in interleaved rounds.
// Prints MB/s of each and the median ratios against curl, twice: over the
// data transfer alone (our note's transfer time; curl's total minus its
// time to the first byte) and over the whole session (connect, login,
// commands and transfer; our commands are spaced 250 ms apart by design).
#include <tarvex/tarvex.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

constexpr uint32_t kFileSize = 100u << 20;
constexpr int kRounds = 5;
constexpr uint32_t kRaisedBudget = 8u << 20;

using Clock = std::chrono::steady_clock;

uint16_t FreePort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

bool Accepting(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

struct Result {
    double transferSeconds = 0;
    double totalSeconds = 0;
    bool ok = false;
};

Result Ours(uint16_t port, uint32_t budget, const std::string& target)
{
    Result r;
    std::filesystem::remove(target);
    CFtpClient* c = XNEW(CFtpClient, 0);
    auto t0 = Clock::now();
    bool ok = c->Startup() && c->SetUpdateByteBudget(budget);
    c->SetPassiveMode();
    ok = ok && c->Connect("127.0.0.1", port) && c->SetLoginName("anonymous") &&
         c->SetLoginPassword("bench@") && c->RetrieveFile(target.c_str(), "big.bin");
    while (ok && !c->IsDownloadedNote()) {
        xHandler();
        ok = c->Update() && c->state != FTPNOSTATE;
    }
    r.totalSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    if (ok) {
        auto* note = static_cast<CDownloadedNote*>(c->notes.first->data);
        r.transferSeconds = note->GetDownloadTime() / 1000.0;
        uint32_t size = 0;
        r.ok = xFileSize(target.c_str(), &size) && size == kFileSize;
    }
    c->Closedown();
    XDELETE(c);
    return r;
}

Result Curl(uint16_t port, const std::string& target)
{
    Result r;
    std::filesystem::remove(target);
    std::string cmd = "curl -s -o '" + target +
                      "' -w '%{time_starttransfer} %{time_total}' ftp://127.0.0.1:" + std::to_string(port) +
                      "/big.bin";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return r;
    double start = 0, total = 0;
    int n = std::fscanf(p, "%lf %lf", &start, &total);
    r.ok = pclose(p) == 0 && n == 2 && std::filesystem::file_size(target) == kFileSize;
    r.totalSeconds = total;
    r.transferSeconds = total - start;
    return r;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double MBps(double seconds) { return seconds > 0 ? kFileSize / seconds / 1e6 : 0; }

} // namespace

int main()
{
    if (access("/usr/sbin/vsftpd", X_OK) != 0 || std::system("curl --version >/dev/null 2>&1") != 0) {
        std::printf("ftp benchmark: vsftpd or curl missing, skipped\n");
        return 0;
    }
    signal(SIGPIPE, SIG_IGN);
    std::string dir = std::filesystem::temp_directory_path().string() + "/tarvex-ftp-bench";
    std::filesystem::create_directories(dir + "/root");
    std::filesystem::create_directories("/var/run/vsftpd/empty");
    {
        std::vector<char> bytes(kFileSize);
        for (uint32_t i = 0; i < kFileSize; ++i)
            bytes[i] = static_cast<char>((i * 131 + 7) % 251);
        FILE* f = std::fopen((dir + "/root/big.bin").c_str(), "wb");
        if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
            return 1;
        std::fclose(f);
    }
    uint16_t port = FreePort();
    std::string conf = dir + "/vsftpd.conf";
    {
        FILE* f = std::fopen(conf.c_str(), "w");
        std::fprintf(
            f,
            "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%u\nbackground=NO\n"
            "anonymous_enable=YES\nlocal_enable=NO\nwrite_enable=NO\nanon_root=%s/root\n"
            "seccomp_sandbox=NO\nrun_as_launching_user=YES\nsecure_chroot_dir=/var/run/vsftpd/empty\n"
            "pasv_enable=YES\nconnect_from_port_20=NO\nxferlog_enable=NO\n",
            port, dir.c_str());
        std::fclose(f);
    }
    pid_t server = fork();
    if (server == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        execl("/usr/sbin/vsftpd", "/usr/sbin/vsftpd", conf.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 250 && !Accepting(port); ++i)
        usleep(20000);

    SGlobals g;
    SSysGlobals s;
    glb = &g;
    sglb = &s;
    if (!xCreateGlobals())
        return 1;
    SetMinimumFrameTime(0);

    std::vector<double> tRaised, tDefault, tCurl, wRaised, wDefault, wCurl;
    bool allOk = true;
    const std::string target = dir + "/got.bin";
    for (int round = 0; round < kRounds; ++round) {
        Result c = Curl(port, target);
        Result raised = Ours(port, kRaisedBudget, target);
        Result plain = Ours(port, FTP_DEFAULT_UPDATE_BUDGET, target);
        allOk = allOk && c.ok && raised.ok && plain.ok;
        tCurl.push_back(c.transferSeconds);
        wCurl.push_back(c.totalSeconds);
        tRaised.push_back(raised.transferSeconds);
        wRaised.push_back(raised.totalSeconds);
        tDefault.push_back(plain.transferSeconds);
        wDefault.push_back(plain.totalSeconds);
        std::printf("round %d: curl %.0f MB/s, ours (budget %u) %.0f MB/s, ours (budget 1024) %.0f MB/s "
                    "(transfer)\n",
                    round + 1, MBps(c.transferSeconds), kRaisedBudget, MBps(raised.transferSeconds),
                    MBps(plain.transferSeconds));
    }
    double mc = Median(tCurl), mr = Median(tRaised), md = Median(tDefault);
    std::printf("100 MB from vsftpd, passive, medians of %d interleaved rounds%s:\n", kRounds,
                allOk ? "" : " (SOME DOWNLOADS FAILED)");
    std::printf("  transfer   curl %7.0f MB/s | ours, budget %u: %7.0f MB/s, ratio %.2f | ours, budget 1024, "
                "0 ms frame: %7.0f MB/s, ratio %.2f\n",
                MBps(mc), kRaisedBudget, MBps(mr), mc / mr, MBps(md), mc / md);
    double wc = Median(wCurl), wr = Median(wRaised), wd = Median(wDefault);
    std::printf("  session    curl %7.0f MB/s | ours, budget %u: %7.0f MB/s, ratio %.2f | ours, budget 1024, "
                "0 ms frame: %7.0f MB/s, ratio %.2f\n",
                MBps(wc), kRaisedBudget, MBps(wr), wc / wr, MBps(wd), wc / wd);
    // What the session spends outside the transfer: the five commands of a
    // passive download (USER, PASS, TYPE I, PASV, RETR) go out at least
    // FTP_COMMAND_SPACING apart, so four spacings are a floor of the session.
    std::vector<double> outsideRaised, outsideCurl;
    for (size_t i = 0; i < wRaised.size(); ++i) {
        outsideRaised.push_back(wRaised[i] - tRaised[i]);
        outsideCurl.push_back(wCurl[i] - tCurl[i]);
    }
    std::printf("  outside the transfer: curl %.0f ms | ours, budget %u: %.0f ms, of which %u ms are the four "
                "command spacings\n",
                Median(outsideCurl) * 1000, kRaisedBudget, Median(outsideRaised) * 1000,
                4u * static_cast<uint32_t>(FTP_COMMAND_SPACING));
    std::printf("  (ratio = ours / curl in speed; the machine is shared, figures as measured)\n");

    xFreeGlobals();
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    std::filesystem::remove_all(dir);
    return allOk ? 0 : 1;
}
