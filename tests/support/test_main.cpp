// Test entry point: every test process works in a scratch folder of its own,
// so tests that write files can run in parallel and leave nothing behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec)
        return 2;
    // A fresh name: create_directory fails on one that exists already.
    std::random_device random;
    fs::path dir;
    for (int attempt = 0; attempt < 100 && dir.empty(); ++attempt) {
        const fs::path candidate = base / ("tarvex-test-" + std::to_string(random()));
        if (fs::create_directory(candidate, ec))
            dir = candidate;
    }
    if (dir.empty())
        return 2;
    fs::current_path(dir, ec);
    if (ec)
        return 2;
    int rc = RUN_ALL_TESTS();
    fs::current_path(base, ec);
    if (!ec)
        fs::remove_all(dir, ec);
    return rc;
}
