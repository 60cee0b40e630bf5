// A bad link for the network tests: a network namespace joined to this one
// by a veth pair, impaired with tc on both ends (so both directions), made
// and removed by the test itself. Impairments come from the netem queueing
// discipline where the kernel has it; without it, loss comes from a classic
// BPF filter in direct-action mode on the clsact hook (it needs no action
// module), and a rate cap or a cut from a token bucket. Delay and
// reordering have no such fallback: a direct-action filter can only pass or
// drop a packet (it cannot hold one back), so those rows are skipped where
// netem is missing.
#pragma once

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <unistd.h>

namespace tvtest
{

inline int Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

// What a row does to the link. netem is tried first; where the kernel lacks
// it, lossPercent (when set) is dropped by the BPF filter instead; qdisc is
// a discipline that needs no netem (a token bucket for a rate cap).
struct Impairment {
    std::string netem;
    uint32_t lossPercent = 0;
    std::string qdisc;
};

struct NetLink {
    std::string ns, host, peer, hostIp, peerIp;
    bool made = false;

    NetLink()
    {
        std::string id = std::to_string(getpid() % 100000);
        ns = "tvx" + id;
        host = "tvx" + id + "a";
        peer = "tvx" + id + "b";
        // Two processes testing at once get different subnets.
        std::string net = "10." + std::to_string(100 + getpid() / 250 % 100) + "." +
                          std::to_string(getpid() % 250 + 1) + ".";
        hostIp = net + "1";
        peerIp = net + "2";
        made = Shell("ip netns add " + ns) == 0;
        if (!made)
            return;
        made = Shell("ip link add " + host + " type veth peer name " + peer) == 0 &&
               Shell("ip link set " + peer + " netns " + ns) == 0 &&
               Shell("ip addr add " + hostIp + "/24 dev " + host) == 0 &&
               Shell("ip link set " + host + " up") == 0 &&
               InNs("ip addr add " + peerIp + "/24 dev " + peer) == 0 &&
               InNs("ip link set " + peer + " up") == 0 && InNs("ip link set lo up") == 0;
    }
    ~NetLink()
    {
        Shell("ip link del " + host);
        Shell("ip netns del " + ns);
    }
    NetLink(const NetLink&) = delete;
    NetLink& operator=(const NetLink&) = delete;

    int InNs(const std::string& cmd) const { return Shell("ip netns exec " + ns + " " + cmd); }
    // A command on both ends; dev stands for the end's interface.
    bool BothEnds(const std::string& before, const std::string& after) const
    {
        return Shell(before + host + after) == 0 && InNs(before + peer + after) == 0;
    }

    // Moves the calling process into the namespace (for a forked peer).
    bool Enter() const
    {
        int fd = open(("/var/run/netns/" + ns).c_str(), O_RDONLY);
        bool ok = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0)
            close(fd);
        return ok;
    }

    // Sets the impairment on both ends (an empty one clears). What was used
    // goes to how ("netem", "bpf", "tbf", ...); false when the kernel has
    // nothing that makes it.
    bool Impair(const Impairment& im, std::string* how = nullptr)
    {
        Clear();
        std::string used;
        if (!im.netem.empty()) {
            if (BothEnds("tc qdisc add dev ", " root " + im.netem))
                used = "netem";
            else if (im.lossPercent == 0)
                return false; // delay or reordering: netem only
        }
        if (used.empty()) {
            if (!im.qdisc.empty()) {
                if (!BothEnds("tc qdisc add dev ", " root " + im.qdisc))
                    return false;
                used = im.qdisc.substr(0, im.qdisc.find(' '));
            }
            if (im.lossPercent != 0) {
                if (!DropAtRandom(im.lossPercent))
                    return false;
                used += used.empty() ? "bpf" : "+bpf";
            }
        }
        if (how != nullptr)
            *how = used.empty() ? "none" : used;
        return true;
    }
    void Clear()
    {
        BothEnds("tc qdisc del dev ", " root");
        BothEnds("tc qdisc del dev ", " clsact");
    }

    // A cut drops every packet both ways while the interfaces, addresses and
    // routes stay (a link taken down would answer with "unreachable" errors
    // rather than silence): a token bucket smaller than any packet. Lifting
    // it puts back the impairment given.
    bool Cut() { return Impair({"", 0, "tbf rate 8bit burst 10 latency 1ms"}); }
    bool Restore(const Impairment& im) { return Impair(im); }

  private:
    // Drops percent of the packets leaving each end: ld rand; mod #100;
    // jge #percent -> pass (TC_ACT_OK) else drop (TC_ACT_SHOT).
    bool DropAtRandom(uint32_t percent)
    {
        std::string code =
            "'5,32 0 0 4294963256,148 0 0 100,53 1 0 " + std::to_string(percent) + ",6 0 0 2,6 0 0 0'";
        return BothEnds("tc qdisc add dev ", " clsact") &&
               BothEnds("tc filter add dev ", " egress bpf da bytecode " + code);
    }
};

// Cuts the link when told and lifts the cut 5 s later, putting the given
// impairment back (at the latest on destruction).
struct LinkCut {
    LinkCut(NetLink& link, const Impairment& impairment) : link(link), impairment(impairment) {}
    ~LinkCut()
    {
        if (cut && !restored)
            link.Restore(impairment);
    }
    LinkCut(const LinkCut&) = delete;
    LinkCut& operator=(const LinkCut&) = delete;

    bool Start()
    {
        if (cut)
            return true;
        cut = true;
        at = std::chrono::steady_clock::now();
        return link.Cut();
    }
    // Lifts the cut once its 5 s are over; true while the link is down.
    // failed tells whether the impairment could not be put back.
    bool Down()
    {
        if (cut && !restored && std::chrono::steady_clock::now() - at >= std::chrono::seconds(5)) {
            failed = !link.Restore(impairment);
            restored = true;
        }
        return cut && !restored;
    }

    NetLink& link;
    const Impairment& impairment;
    bool cut = false, restored = false, failed = false;
    std::chrono::steady_clock::time_point at{};
};

} // namespace tvtest
