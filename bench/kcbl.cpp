// KCBL text import and export beside RapidJSON parsing and writing the same
// data as JSON. The container is a realistic settings/scene file of about
// 1 MB: nested chunks, strings that need quotes, numbers and arrays.
#include <tarvex/tarvex.h>

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "interleave.h"

#include <malloc.h>

#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>

namespace
{

struct Data {
    std::string kcbl; // export text
    std::string json;
    int64_t items = 0;
};

void JsonString(std::string& j, const std::string& s)
{
    j += '"';
    for (char c : s) {
        if (c == '"' || c == '\\')
            j += '\\';
        j += c;
    }
    j += '"';
}

// Builds the container through the building calls and the same tree as
// JSON: a chunk is {"chunk":[values],"items":[...]}, an item is
// ["keyword", values...].
Data Make()
{
    std::mt19937 rng(12345);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    const char* words[] = {"forest", "river", "stone", "castle", "dragon",
                           "silver", "ember", "north", "gate",   "tower"};
    auto phrase = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += std::string(i ? (pick(5) == 0 ? ", " : " ") : "") + words[pick(10)];
        return s;
    };
    Data d;
    CKCBL k;
    std::string& j = d.json;
    j = "[";
    bool firstTop = true;
    for (int obj = 0; d.json.size() < 1000000; ++obj) {
        std::string name = "Object" + std::to_string(obj);
        k.NewChunk(KSTRING, "Entity", KSTRING, name.c_str(), KLONG, obj, KEND);
        j += firstTop ? "" : ",";
        firstTop = false;
        j += "{\"chunk\":[\"Entity\",\"" + name + "\"," + std::to_string(obj) + "],\"items\":[";
        std::string title = phrase(2 + pick(6));
        k.NewItem("Title", KSTRING, title.c_str(), KEND);
        j += "[\"Title\",";
        JsonString(j, title);
        j += "]";
        float pos[3] = {static_cast<float>(pick(20000)) / 8.0f, static_cast<float>(pick(20000)) / 8.0f,
                        static_cast<float>(pick(400)) / 4.0f};
        k.NewItem("Position", KFLOATARRAY, 3, pos, KEND);
        char tmp[128];
        std::string fa = "[\"Position\",[";
        for (int i = 0; i < 3; ++i) {
            std::snprintf(tmp, sizeof tmp, "%s%g", i ? "," : "", static_cast<double>(pos[i]));
            fa += tmp;
        }
        j += "," + fa + "]]";
        int32_t health = pick(1000), level = pick(60);
        k.NewItem("Stats", KLONG, health, KLONG, level, KULONG, static_cast<uint32_t>(rng()), KEND);
        j += ",[\"Stats\"," + std::to_string(health) + "," + std::to_string(level) + ",";
        j.pop_back();
        j += "," + std::to_string(static_cast<uint32_t>(rng())) + "]";
        int32_t flags[4] = {pick(2), pick(2), pick(2), pick(2)};
        k.NewItem("Flags", KBOOLARRAY, 4, flags, KEND);
        j += ",[\"Flags\",[";
        for (int i = 0; i < 4; ++i)
            j += std::string(i ? "," : "") + (flags[i] ? "true" : "false");
        j += "]]";
        k.NewItem("Speed", KFLOAT, static_cast<float>(pick(1000)) / 16.0f, KEND);
        j +=
            ",[\"Speed\"," + std::to_string(k.GetString(0)[0] == '0' ? 0.0 : std::stod(k.GetString(0))) + "]";
        int32_t inv[12];
        int ninv = 4 + pick(8);
        for (int i = 0; i < ninv; ++i)
            inv[i] = pick(100000);
        k.NewItem("Inventory", KLONGARRAY, ninv, inv, KEND);
        j += ",[\"Inventory\",[";
        for (int i = 0; i < ninv; ++i)
            j += std::string(i ? "," : "") + std::to_string(inv[i]);
        j += "]]";
        d.items += 7;
        // A nested chunk of dialogue lines.
        k.NewChunk(KSTRING, "Dialogue", KEND);
        j += ",{\"chunk\":[\"Dialogue\"],\"items\":[";
        int lines = 1 + pick(4);
        for (int i = 0; i < lines; ++i) {
            std::string text = phrase(4 + pick(10));
            if (pick(3) == 0)
                text += " \"quoted\"";
            k.NewItem("Line", KLONG, i, KSTRING, text.c_str(), KEND);
            j += std::string(i ? "," : "") + "[\"Line\"," + std::to_string(i) + ",";
            JsonString(j, text);
            j += "]";
        }
        k.ExitChunk();
        j += "]}";
        k.NewItem("Script", KSTRING, "on_use", KSTRING, "scripts/entity.lua", KEND);
        j += ",[\"Script\",\"on_use\",\"scripts/entity.lua\"]]}";
        k.ExitChunk();
        d.items += lines + 3;
    }
    j += "]";
    int32_t len = 0;
    k.ExportSize(&len);
    d.kcbl.resize(static_cast<size_t>(len) + 1);
    k.Export(d.kcbl.data(), len + 1, &len);
    d.kcbl.resize(static_cast<size_t>(len));
    return d;
}

// Argument 1 runs with the C heap keeping freed memory (no trimming back
// to the system after each container is released), argument 0 with the
// heap's defaults. Both sides run under the same setting.
class HeapMode
{
  public:
    explicit HeapMode(int64_t keep)
    {
        if (keep != 0)
            mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
        m_keep = keep != 0;
    }
    ~HeapMode()
    {
        if (m_keep)
            mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    }

  private:
    bool m_keep;
};

const Data& TheData()
{
    static Data d = Make();
    return d;
}

void BM_KcblImport(benchmark::State& st)
{
    const Data& d = TheData();
    HeapMode heap(st.range(0));
    CKCBL k;
    for (auto _ : st) {
        if (!k.Import(d.kcbl.c_str()))
            st.SkipWithError("import failed");
        benchmark::DoNotOptimize(k.mainChunk.list.count);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(d.kcbl.size()));
}

void BM_KcblExport(benchmark::State& st)
{
    const Data& d = TheData();
    HeapMode heap(st.range(0));
    CKCBL k;
    k.Import(d.kcbl.c_str());
    std::string out(d.kcbl.size() + 1, 0);
    for (auto _ : st) {
        int32_t len = 0;
        if (!k.Export(out.data(), static_cast<int32_t>(out.size()), &len) ||
            len != static_cast<int32_t>(d.kcbl.size()))
            st.SkipWithError("export failed");
        benchmark::DoNotOptimize(out.data());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(d.kcbl.size()));
}

void BM_RapidJsonParse(benchmark::State& st)
{
    const Data& d = TheData();
    HeapMode heap(st.range(0));
    for (auto _ : st) {
        rapidjson::Document doc;
        doc.Parse(d.json.c_str(), d.json.size());
        if (doc.HasParseError())
            st.SkipWithError("parse failed");
        benchmark::DoNotOptimize(doc.Size());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(d.json.size()));
}

void BM_RapidJsonWrite(benchmark::State& st)
{
    const Data& d = TheData();
    HeapMode heap(st.range(0));
    rapidjson::Document doc;
    doc.Parse(d.json.c_str(), d.json.size());
    for (auto _ : st) {
        rapidjson::StringBuffer sb;
        rapidjson::Writer<rapidjson::StringBuffer> w(sb);
        doc.Accept(w);
        benchmark::DoNotOptimize(sb.GetString());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(d.json.size()));
}

// A small message as a comm node sends it: one item with about 1000
// characters of text built, exported and imported again (and the same
// as a JSON array built, written and parsed). Argument 0 is text without
// blanks (written as it stands), 1 words with blanks (written quoted).
std::string MessageText(int64_t words)
{
    std::string t;
    while (t.size() < 1000)
        t += words != 0 ? "some words " : "plaintextkk";
    t.resize(1000);
    return t;
}

void BM_KcblMessage(benchmark::State& st)
{
    const std::string text = MessageText(st.range(0));
    CKCBL send, recv;
    std::string out(4096, 0);
    int32_t len = 0;
    for (auto _ : st) {
        send.Free();
        if (!send.NewItem("data", KSTRING, text.c_str(), KEND) || !send.ExportSize(&len) ||
            !send.Export(out.data(), len + 1, &len) || !recv.Import(out.data()))
            st.SkipWithError("message failed");
        benchmark::DoNotOptimize(recv.mainChunk.list.count);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * len);
}

void BM_RapidJsonMessage(benchmark::State& st)
{
    const std::string text = MessageText(st.range(0));
    size_t len = 0;
    for (auto _ : st) {
        rapidjson::Document doc;
        doc.SetArray();
        doc.PushBack("data", doc.GetAllocator());
        doc.PushBack(rapidjson::StringRef(text.c_str(), text.size()), doc.GetAllocator());
        rapidjson::StringBuffer sb;
        rapidjson::Writer<rapidjson::StringBuffer> w(sb);
        doc.Accept(w);
        len = sb.GetSize();
        rapidjson::Document in;
        in.Parse(sb.GetString(), len);
        if (in.HasParseError())
            st.SkipWithError("parse failed");
        benchmark::DoNotOptimize(in.Size());
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(len));
}

BENCHMARK(BM_KcblMessage)->Arg(0)->Arg(1);
BENCHMARK(BM_RapidJsonMessage)->Arg(0)->Arg(1);
BENCHMARK(BM_KcblImport)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidJsonParse)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KcblExport)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidJsonWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Keeps each run's throughput for the ratio lines.
class Reporter : public benchmark::ConsoleReporter
{
  public:
    std::map<std::string, double> mbps;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            std::string name;
            auto it = r.counters.find("bytes_per_second");
            if (KeptRun(r, &name) && it != r.counters.end())
                mbps[name] = it->second.value / 1e6;
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    auto g = std::make_unique<SGlobals>();
    auto s = std::make_unique<SSysGlobals>();
    glb = g.get();
    sglb = s.get();
    xCreateGlobals();
    const Data& d = TheData();
    std::printf("container: %zu bytes of KCBL text, %zu bytes of JSON, %lld items\n", d.kcbl.size(),
                d.json.size(), static_cast<long long>(d.items));
    std::vector<char*> args = InterleavedArgs(argc, argv);
    int n = static_cast<int>(args.size()) - 1;
    benchmark::Initialize(&n, args.data());
    Reporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    auto get = [&](const std::string& n) { return rep.mbps.count(n) ? rep.mbps[n] : 0.0; };
    std::printf("\n");
    for (const char* mode : {"0", "1"}) {
        const char* label = mode[0] == '0' ? "heap defaults" : "heap keeps freed memory";
        double ki = get(std::string("BM_KcblImport/") + mode),
               jp = get(std::string("BM_RapidJsonParse/") + mode);
        double ke = get(std::string("BM_KcblExport/") + mode),
               jw = get(std::string("BM_RapidJsonWrite/") + mode);
        if (ki > 0 && jp > 0)
            std::printf("import (%s): KCBL %.1f MB/s, RapidJSON parse %.1f MB/s, ratio %.2f\n", label, ki, jp,
                        ki / jp);
        if (ke > 0 && jw > 0)
            std::printf("export (%s): KCBL %.1f MB/s, RapidJSON write %.1f MB/s, ratio %.2f\n", label, ke, jw,
                        ke / jw);
    }
    for (const char* mode : {"0", "1"}) {
        const char* label = mode[0] == '0' ? "plain text" : "quoted text";
        double km = get(std::string("BM_KcblMessage/") + mode), jm = get(std::string("BM_RapidJsonMessage/") + mode);
        if (km > 0 && jm > 0)
            std::printf("1 KB message built, written, read (%s): KCBL %.1f MB/s, RapidJSON %.1f MB/s, ratio %.2f\n",
                        label, km, jm, km / jm);
    }
    benchmark::Shutdown();
    xFreeGlobals();
    return 0;
}
