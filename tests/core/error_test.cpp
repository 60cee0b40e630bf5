// Error objects, the reporting functions, error strings and the debug options file.
#include "tarvex_test.h"

#include <cstring>
#include <fstream>
#include <map>

using tvtest::LastError;

class ErrorTest : public tvtest::TarvexTest
{
};

TEST_F(ErrorTest, TableAndCodes)
{
    CError e;
    struct {
        int32_t code;
        const char* text;
    } cases[] = {{0, "No error"},
                 {1, "Function not implemented yet!"},
                 {14, "Out of memory"},
                 {24, "Unknown/unsupported picture format"},
                 {25, "Unknown error code!"},
                 {-7, "Unknown error code!"}};
    for (const auto& c : cases) {
        e.SetError(c.code, 0, 0, nullptr, 0);
        int32_t got = 99;
        EXPECT_STREQ(e.GetError(&got), c.text) << c.code;
        EXPECT_EQ(got, c.code);
    }
    EXPECT_EQ(e.SetError(4, 0, 77, nullptr, 3), 77);
    const char* file = nullptr;
    int32_t line = 0;
    e.GetFileAndLine(&file, &line);
    EXPECT_STREQ(file, "Unknown file");
    EXPECT_EQ(line, 3);

    EXPECT_EQ(e.SetErrorTxt(nullptr, 5, nullptr, 1), 5);
    EXPECT_STREQ(e.GetError(), "Undefined error");
    EXPECT_EQ(e.GetErrCode(), -1);
}

TEST_F(ErrorTest, SetErrorfLengthRule)
{
    std::string ok(1948, 'x');
    glb->error.SetErrorf("%s", ok.c_str());
    EXPECT_EQ(LastError(), ok);
    std::string big(1949, 'x');
    EXPECT_EQ(glb->error.SetErrorf("%s", big.c_str()), 0);
    EXPECT_EQ(LastError(), "CRITICAL ERROR: The real error msg is to big. Please notify the development team "
                           "about this as soon as possible");
    std::string huge(10000, 'y'); // far beyond the buffer: still safe
    glb->error.SetErrorf("%s", huge.c_str());
    EXPECT_EQ(glb->error.GetErrCode(), -1);
}

TEST_F(ErrorTest, FreeFunctionsRecordInTheGlobals)
{
    EXPECT_EQ(xError_Func(12, "x.cpp", 9), FALSE);
    EXPECT_EQ(LastError(), "File or path not found");
    EXPECT_EQ(xErrorTxt_Func("boom", nullptr, 0), FALSE);
    EXPECT_EQ(LastError(), "boom");

    char* m = xErrorMerge("a", "b");
    EXPECT_STREQ(m, "[a] b");
    XFREE(m);
    m = xErrorMerge(nullptr, "b");
    EXPECT_STREQ(m, "[] b");
    XFREE(m);
}

TEST_F(ErrorTest, CreateErrorStringForms)
{
    char buf[256];
    CError e;
    e.Clear();
    std::strcpy(buf, "untouched");
    EXPECT_EQ(e.CreateErrorString(buf, sizeof buf), FALSE);
    EXPECT_STREQ(buf, "untouched");

    e.SetError(5, 0, 0, "f.cpp", 12);
    e.CreateErrorString(buf, sizeof buf);
    EXPECT_STREQ(buf, "Error code 0x5 :\nEnd of file reached");
    glb->debugFlag = 1;
    e.CreateErrorString(buf, sizeof buf);
    EXPECT_STREQ(buf, "Error in : f.cpp\nOn line : 12\n\nError code 0x5 :\nEnd of file reached");
    e.SetErrorTxt("plain", 0, "g.cpp", 3);
    e.CreateErrorString(buf, sizeof buf);
    EXPECT_STREQ(buf, "Error in : g.cpp\nOn line : 3\n\nplain");
    glb->debugFlag = 0;
    e.CreateErrorString(buf, sizeof buf);
    EXPECT_STREQ(buf, "plain");

    e.SetError(3, static_cast<int32_t>(0x88760096u), 0, "h.cpp", 1);
    e.CreateErrorString(buf, sizeof buf);
    EXPECT_STREQ(buf, "Error code 0x3 :\nSystem specific error\n\nSystem specific error (-2005532522):\n"
                      "The provided rectangle was invalid.");
    e.SetError(3, 1234, 0, "h.cpp", 1);
    e.CreateErrorString(buf, 20); // truncated to the buffer
    EXPECT_EQ(std::strlen(buf), 19u);
}

namespace
{
std::map<std::string, std::string> g_options;
void Collect(char* key, char* value) { g_options[key] = value; }
} // namespace

TEST_F(ErrorTest, DebugOptionsFile)
{
    std::ofstream("opts.txt") << "debuglevel = DBGL_KCBL\n"
                                 "x\n"
                                 "no equals here\n"
                                 "  Debug Level = on \n"
                                 "DEBUGSCREEN=on\n"
                                 "validate = off\n"
                                 "speed = 12.5;\n"
                                 "a=b=c\n"
                                 "empty =   \n";
    g_options.clear();
    xGetDebugOptions("opts.txt", Collect);
    EXPECT_EQ(glb->debugLevel, DBGL_KCBL);
    EXPECT_EQ(xGetDebugLevel(DBGL_KCBL), TRUE);
    EXPECT_EQ(xGetDebugLevel(DBGL_MEMORY), FALSE);
    EXPECT_EQ(glb->debugScreen, 1);
    EXPECT_EQ(glb->validate, 1);
    std::map<std::string, std::string> want = {{"Debug Level", "on"}, {"speed", "12.5"}, {"a=b", "c"}};
    EXPECT_EQ(g_options, want);
    xGetDebugOptions("missing.txt", Collect); // ignored
}

TEST_F(ErrorTest, DebugFiles)
{
    std::ofstream("DbgStd.txt") << "old";
    xStartStdDebug(1);
    EXPECT_EQ(glb->debugFlag, 1);
    EXPECT_FALSE(xFileExists("DbgStd.txt"));
    xDefaultDbgStdOut(const_cast<char*>("one "));
    xDefaultDbgStdOut(const_cast<char*>("two"));
    std::ifstream in("DbgStd.txt");
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(s, "one two");
}
