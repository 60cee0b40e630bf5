// Test entry point: every test process works in a scratch folder of its own,
// so tests that write files can run in parallel and leave nothing behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvex-test-XXXXXX").string();
    char* dir = mkdtemp(tmpl.data());
    if (dir == nullptr || chdir(dir) != 0)
        return 2;
    int rc = RUN_ALL_TESTS();
    if (chdir("/") == 0) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    return rc;
}
