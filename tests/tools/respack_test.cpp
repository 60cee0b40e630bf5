// The resource packer: pack and unpack give back the script byte for byte,
// the packed file loads like the script, check prints every problem with
// its section (and fails), and damaged or wrong input is refused.
#include "tarvex_test.h"
#include "tool_run.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace
{

#ifdef TARVEX_RESPACK
const char* const kPacker = TARVEX_RESPACK;
#else
const char* const kPacker = nullptr;
#endif

const std::string kSource = TARVEX_SOURCE_DIR;

// Runs the packer in the source folder (the sample's paths start there);
// returns the exit code and the standard output.
int RunPacker(const std::string& args, std::string* out = nullptr)
{
    tvtest::ToolRun r = tvtest::RunTool("cd '" + kSource + "' && " + kPacker + " " + args + " 2>/dev/null");
    if (out != nullptr)
        *out = r.out;
    return r.rc;
}

std::string Bytes(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const std::string& name, const std::string& bytes)
{
    std::ofstream(name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class RespackTest : public tvtest::TarvexTest
{
  protected:
    void SetUp() override
    {
        if (kPacker == nullptr)
            GTEST_SKIP() << "the packer is not built (TARVEX_TOOLS=OFF)";
        TarvexTest::SetUp();
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        here = cwd;
    }
    std::string here; // the test's scratch folder
};

TEST_F(RespackTest, PackUnpackRoundTripAndThePackedFileLoads)
{
    const std::string res = here + "/sample.res", back = here + "/back.script";
    ASSERT_EQ(RunPacker("pack data/gui/sample.script '" + res + "'"), 0);
    EXPECT_EQ(Bytes(res).substr(0, 4), "PRES");
    ASSERT_EQ(RunPacker("unpack '" + res + "' '" + back + "'"), 0);
    EXPECT_EQ(Bytes(back), Bytes(kSource + "/data/gui/sample.script"));
    std::string out;
    EXPECT_EQ(RunPacker("check '" + res + "'", &out), 0) << out;
    EXPECT_NE(out.find("0 problem(s)"), std::string::npos) << out;
}

TEST_F(RespackTest, CheckPrintsEveryProblemWithItsSection)
{
    const std::string bad = here + "/bad.script";
    Write(bad, "; script\n"
               "{ = Defines\n    A = one\n}\n"
               "{ = Bitmaps\n    B = data/gui/look.bmp, 0, 0, 500, 12\n}\n"
               "{ = Animations\n    C = data/gui/look.bmp, 0, 0, 0, 12, 12, 2, 1, 0\n}\n"
               "{ = Colors\n    D = \"1 2 300 0\"\n}\n");
    std::string out;
    EXPECT_EQ(RunPacker("check '" + bad + "'", &out), 1);
    const std::string expected[] = {
        bad + ": Defines: Unable to get define id for \"A\"\n",
        bad + ": Bitmaps: The rectangle of bitmap \"B\" lies outside its 216x12 picture\n",
        bad + ": Animations: The frame delay of animation \"C\" is below 1 ms\n",
        bad + ": Colors: Unable to read the color \"1 2 300 0\": four numbers 0-255 are needed\n",
        "4 problem(s)",
    };
    size_t at = 0;
    for (const auto& line : expected) {
        size_t pos = out.find(line, at);
        EXPECT_NE(pos, std::string::npos) << "missing or out of order: " << line << "\nin:\n" << out;
        if (pos != std::string::npos)
            at = pos + line.size();
    }
}

TEST_F(RespackTest, WrongInputIsRefused)
{
    Write(here + "/plain.txt", "A = 1\n");
    Write(here + "/broken.script", "; script\nA = \"no end\n");
    using namespace std::string_literals;
    Write(here + "/cut.res", "PRES\x05\x00\x00\x00\x00\x00\x00\x00\xff\xff\xff\xff\xff"s);
    Write(here + "/long.res", "PRES\x01\x00\x00\x00\x00\x00\x00\x00\xff\xff"s);
    struct {
        std::string args;
        int rc;
    } cases[] = {
        {"pack '" + here + "/plain.txt' '" + here + "/o.res'", 1},
        {"pack '" + here + "/broken.script' '" + here + "/o.res'", 1},
        {"pack '" + here + "/missing.script' '" + here + "/o.res'", 1},
        {"unpack '" + here + "/cut.res' '" + here + "/o.script'", 1},
        {"unpack '" + here + "/long.res' '" + here + "/o.script'", 1},
        {"unpack '" + here + "/plain.txt' '" + here + "/o.script'", 1},
        {"check '" + here + "/cut.res'", 1},
        {"check '" + here + "/missing.res'", 1},
        {"pack onlyone", 2},
        {"frobnicate a b", 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RunPacker(c.args), c.rc) << c.args;
}

} // namespace
