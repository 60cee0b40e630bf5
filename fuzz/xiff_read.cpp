// Fuzz target: XIFF reading of arbitrary files. The bytes become a file that
// is opened in both byte orders and walked: every chunk of every level is
// found, entered, read and left again; then a chunk is appended to it.
#include <tarvex/tarvex.h>

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

int g_budget; // bounds the work one input may cause

void Walk(CXIFF& x, int level)
{
    if (!x.FirstChunk())
        return;
    for (int i = 0; i < 64 && --g_budget > 0; ++i) {
        uint32_t here = 0;
        if (!x.GetPos(&here, 0))
            return;
        if (x.EnterChunk()) {
            char buf[16];
            uint32_t size = 0;
            x.GetSize(&size);
            x.Read(buf, size < sizeof buf ? size : sizeof buf);
            if (level < 20)
                Walk(x, level + 1);
            x.ExitChunk();
            if (!x.Seek(static_cast<int32_t>(here), XSEEK_SET))
                return;
        }
        if (!x.NextChunk())
            return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto g = std::make_unique<SGlobals>();
    auto s = std::make_unique<SSysGlobals>();
    glb = g.get();
    sglb = s.get();
    xCreateGlobals();

    std::string name = "/tmp/tarvex_fuzz_xiff_" + std::to_string(getpid()) + ".bin";
    if (xWriteFile(name.c_str(), data, static_cast<uint32_t>(size))) {
        for (int32_t order : {XFILE_LITTLE_ENDIAN, XFILE_BIG_ENDIAN}) {
            CXIFF* x = XNEW(CXIFF);
            if (x->Open(name.c_str(), XFILE_READ | order)) {
                g_budget = 2000;
                Walk(*x, 0);
                uint32_t length = 0;
                x->FindChunk("A", &length, FALSE);
                x->FindChunk("", nullptr, TRUE);
                x->ExitChunk();
                x->FindChunk("XIFF", &length, FALSE);
            }
            XDELETE(x);
        }
        CXIFF* x = XNEW(CXIFF);
        if (x->Open(name.c_str(), XFILE_APPEND)) {
            x->AddChunk("Z", 0);
            x->Write("z", 1);
        }
        XDELETE(x);
        std::remove(name.c_str());
    }

    xFreeGlobals();
    glb = nullptr;
    sglb = nullptr;
    return 0;
}
