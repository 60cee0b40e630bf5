// Shared by the benchmarks that time ours and a peer by hand (no benchmark
// library): both sides run the same number of repetitions per round, the
// rounds interleaved so a busy moment on a shared machine hits both alike,
// and the figures kept are medians over the rounds.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

// Seconds that reps repetitions of work take.
inline double SecondsFor(const std::function<void()>& work, int reps)
{
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < reps; ++i)
        work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

inline double MedianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Seconds per round of each side, and the per-round ratios peer / ours
// (above 1 means ours is faster).
struct RoundTimes {
    std::vector<double> ours, peer, ratios;
};

// One warm-up call of each side, then rounds rounds of reps repetitions,
// ours and the peer in turn.
inline RoundTimes TimeInterleaved(int rounds, int reps, const std::function<void()>& ours,
                                  const std::function<void()>& peer)
{
    ours();
    peer(); // warm up
    RoundTimes t;
    for (int r = 0; r < rounds; ++r) {
        const double to = SecondsFor(ours, reps), tp = SecondsFor(peer, reps);
        t.ours.push_back(to);
        t.peer.push_back(tp);
        t.ratios.push_back(tp / to);
    }
    return t;
}

// The median of per-round seconds given as f(seconds) (a rate or a time per
// operation).
template <class F> double MedianAs(std::vector<double> seconds, F f)
{
    for (double& s : seconds)
        s = f(s);
    return MedianOf(std::move(seconds));
}
