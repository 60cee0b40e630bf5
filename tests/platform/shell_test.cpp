// Handing files to the desktop opener: arguments arrive without any shell
// interpretation, and the classic result codes come back.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <unistd.h>

namespace {

class PlatformShell : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A fresh folder per test, so repeated runs start clean.
        static int serial = 0;
        ASSERT_NE(getcwd(home, sizeof home), nullptr);
        dir = std::string(home) + "/shell-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        ASSERT_EQ(chdir(dir.c_str()), 0);
        // Records each argument on a line of its own; exits with $OPENER_EXIT.
        WriteScript("opener.sh", "out=\"$(dirname \"$0\")/args.txt\"\n"
                                 ": > \"$out\"\n"
                                 "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$out\"; done\n"
                                 "exit 0\n");
        WriteScript("failing.sh", "exit 4\n");
    }
    void TearDown() override
    {
        tvp::TestSetShellOpener(nullptr);
        ASSERT_EQ(chdir(home), 0);
    }

    void WriteScript(const std::string& name, const std::string& body)
    {
        std::ofstream(name) << "#!/bin/sh\n" << body;
        ASSERT_EQ(chmod(name.c_str(), 0755), 0);
    }
    std::vector<std::string> RecordedArgs()
    {
        std::ifstream in("args.txt");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    char home[4096] = {};
    std::string dir;
};

TEST_F(PlatformShell, ArgumentsArriveIntact)
{
    const std::string file = "my \"quoted\" file's $HOME;name.txt";
    std::ofstream(file) << "x";
    tvp::TestSetShellOpener((dir + "/opener.sh").c_str());

    struct Case {
        std::string file;
        const char* params;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {file, nullptr, {file}},
        {file, "", {file}},
        {file, "--flag \"two words\" `id` | cat", {file, "--flag \"two words\" `id` | cat"}},
        {"https://example.invalid/a b?q='1'", nullptr, {"https://example.invalid/a b?q='1'"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::remove("args.txt");
        EXPECT_EQ(tvp::ShellOpen(c.file.c_str(), c.params), 33);
        EXPECT_EQ(RecordedArgs(), c.args);
    }
}

TEST_F(PlatformShell, FailuresGiveClassicCodes)
{
    std::ofstream("exists.txt") << "x";
    ASSERT_EQ(mkdir("folder", 0755), 0);
    struct Case {
        std::string opener;
        const char* file;
        int32_t expected;
    };
    const Case cases[] = {
        {dir + "/opener.sh", nullptr, 2},
        {dir + "/opener.sh", "", 2},
        {dir + "/opener.sh", "missing.txt", 2},
        {dir + "/opener.sh", "folder/missing.txt", 2},
        {dir + "/opener.sh", "nofolder/missing.txt", 3},
        {dir + "/failing.sh", "exists.txt", 31},
        {dir + "/no-such-opener", "exists.txt", 31},
        {"tarvex-no-such-opener-on-path", "exists.txt", 31},
        {dir + "/opener.sh", "folder", 33},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.opener + " " + (c.file ? c.file : "(null)"));
        tvp::TestSetShellOpener(c.opener.c_str());
        EXPECT_EQ(tvp::ShellOpen(c.file, nullptr), c.expected);
    }
}

} // namespace
