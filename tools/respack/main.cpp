// tarvex_respack: the resource packer.
//   pack <script> <file.res>    packs a resource script into a "PRES" file
//   unpack <file.res> <script>  writes the script text back out, byte for byte
//   check <file>                loads a script or packed file the way an
//                               application does, without a screen, and
//                               prints every problem with its section
// Packing keeps the whole text (its "; script" line included), so unpack
// gives back exactly the file that was packed.
#include "../toolutil.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <strings.h>
#include <string>
#include <vector>

namespace
{

void Usage()
{
    std::fprintf(stderr, "usage: tarvex_respack pack <script> <file.res>\n"
                         "       tarvex_respack unpack <file.res> <script>\n"
                         "       tarvex_respack check <script or file.res>\n");
}

bool WriteAll(const char* name, const char* data, size_t size)
{
    std::FILE* f = std::fopen(name, "wb");
    if (f == nullptr)
        return false;
    bool ok = std::fwrite(data, 1, size, f) == size;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

int Fail(const char* what, const char* name)
{
    std::fprintf(stderr, "tarvex_respack: %s %s: %s\n", what, name, glb->error.GetError());
    return 1;
}

int Pack(const char* in, const char* out)
{
    std::vector<char> text;
    if (!tvtool::ReadAll(in, text))
        return std::fprintf(stderr, "tarvex_respack: cannot read %s\n", in), 1;
    if (text.size() < 9 || strncasecmp(text.data(), "; script", 8) != 0)
        return std::fprintf(stderr, "tarvex_respack: %s does not begin with \"; script\"\n", in), 1;
    text.push_back(0);
    {
        CKCBL probe; // a text the loader could not read is refused here
        if (std::memchr(text.data(), 0, text.size() - 1) != nullptr || !probe.Import(text.data()))
            return Fail("not a readable script:", in);
    }
    uint32_t size = 0;
    char* file = xPackRes(text.data(), static_cast<uint32_t>(text.size() - 1), &size);
    if (file == nullptr)
        return Fail("cannot pack", in);
    bool ok = WriteAll(out, file, size);
    XFREE(file);
    if (!ok)
        return std::fprintf(stderr, "tarvex_respack: cannot write %s\n", out), 1;
    std::printf("%s: %zu bytes -> %s: %u bytes\n", in, text.size() - 1, out, size);
    return 0;
}

int Unpack(const char* in, const char* out)
{
    std::vector<char> file;
    if (!tvtool::ReadAll(in, file))
        return std::fprintf(stderr, "tarvex_respack: cannot read %s\n", in), 1;
    if (file.size() <= 12 || std::memcmp(file.data(), "PRES", 4) != 0)
        return std::fprintf(stderr, "tarvex_respack: %s is not a packed resource file\n", in), 1;
    const auto* h = reinterpret_cast<const uint8_t*>(file.data());
    uint32_t n = h[4] | h[5] << 8 | h[6] << 16 | static_cast<uint32_t>(h[7]) << 24;
    if (static_cast<uint64_t>(n) + 12 != file.size())
        return std::fprintf(stderr, "tarvex_respack: %s: the packed size in the header is wrong\n", in), 1;
    uint32_t length = 0;
    char* text = xUnpackRes(file.data() + 12, n, &length, nullptr);
    if (text == nullptr)
        return Fail("cannot unpack", in);
    bool ok = WriteAll(out, text, length);
    XFREE(text);
    if (!ok)
        return std::fprintf(stderr, "tarvex_respack: cannot write %s\n", out), 1;
    return 0;
}

int Check(const char* in)
{
    CResData* res = XNEW(CResData);
    if (res == nullptr)
        return 1;
    int32_t loaded = res->Load(in);
    int32_t problems = 0;
    for (res->errors.First(); res->errors.Exists(); res->errors.Next()) {
        auto* e = static_cast<TResError*>(res->errors.Get());
        std::string text = e->text;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        std::printf("%s: %s: %s\n", in, e->section, text.c_str());
        ++problems;
    }
    if (loaded)
        std::printf("%s: %d defines, %d strings, %d values, %d fonts, %d bitmaps, %d animations, %d colour "
                    "lists; %d problem(s)\n",
                    in, res->defines.GetNumNodes(), res->strings.GetNumNodes(), res->values.GetNumNodes(),
                    res->fonts.GetNumNodes(), res->bitmaps.GetNumNodes(), res->anims.GetNumNodes(),
                    res->colors.GetNumNodes(), problems);
    XDELETE(res);
    return loaded && problems == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 ||
        ((std::strcmp(argv[1], "pack") == 0 || std::strcmp(argv[1], "unpack") == 0) && argc != 4) ||
        (std::strcmp(argv[1], "check") == 0 && argc != 3)) {
        Usage();
        return 2;
    }
    tvtool::Globals globals;
    if (!globals.ok)
        return 1;
    // Pictures are read through the picture types; no screen is opened.
    CBMPPic* bmp = XNEW(CBMPPic);
    CJPGPic* jpg = XNEW(CJPGPic);
    int rc = 2;
    if (std::strcmp(argv[1], "pack") == 0)
        rc = Pack(argv[2], argv[3]);
    else if (std::strcmp(argv[1], "unpack") == 0)
        rc = Unpack(argv[2], argv[3]);
    else if (std::strcmp(argv[1], "check") == 0)
        rc = Check(argv[2]);
    else
        Usage();
    XDELETE(jpg);
    XDELETE(bmp);
    return rc;
}
