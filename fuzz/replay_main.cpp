// Replays every file of the given folders (or single files) through a fuzz
// target's entry point, so the seed corpora run as ordinary tests.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int RunFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    if (!in)
        return 1;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Copy into an exact-size heap block so the sanitizers see any overrun.
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    return 0;
}

int main(int argc, char** argv)
{
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (auto& e : std::filesystem::recursive_directory_iterator(p))
                if (e.is_regular_file() && RunFile(e.path()) == 0)
                    ++files;
        } else if (RunFile(p) == 0) {
            ++files;
        }
    }
    // An empty input must be survivable too.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("replayed %d file(s)\n", files);
    return 0;
}
