// Shared by the benchmarks: ours and the peer run side by side in one
// process, each several times in a random interleaved order (so a busy
// moment on a shared machine hits both alike), and the figures kept are the
// medians of those repetitions. Flags given on the command line come after
// the defaults and win (--benchmark_repetitions=1 for a quick single run).
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

// argv with the interleaving defaults in front of the caller's own flags.
inline std::vector<char*> InterleavedArgs(int argc, char** argv)
{
    static std::string defaults[] = {"--benchmark_repetitions=5", "--benchmark_enable_random_interleaving=true",
                                     "--benchmark_report_aggregates_only=true"};
    std::vector<char*> out{argv[0]};
    for (std::string& d : defaults)
        out.push_back(d.data());
    for (int i = 1; i < argc; ++i)
        out.push_back(argv[i]);
    out.push_back(nullptr);
    return out;
}

// Whether a reported run is one to keep (a single run, or the median of the
// repetitions) and its name without the aggregate's suffix.
inline bool KeptRun(const benchmark::BenchmarkReporter::Run& r, std::string* name)
{
    if (r.run_type == benchmark::BenchmarkReporter::Run::RT_Aggregate && r.aggregate_name != "median")
        return false;
    *name = r.run_name.str();
    return true;
}
