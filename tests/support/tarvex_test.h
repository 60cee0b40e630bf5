// Test fixture: creates the global records the way an application does and
// checks, at the end of every test, that the tracker's leak list is empty.
#pragma once

#include <gtest/gtest.h>
#include <tarvex/tarvex.h>

#include <memory>
#include <string>

#ifdef _WIN32
#include <cstdlib>
// The environment calls the tests use, on Windows' C run time (an empty
// value removes a variable there).
inline int setenv(const char* name, const char* value, int)
{
    return _putenv_s(name, value);
}
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif

namespace tvtest
{

// Collects what the library writes through its trace channel.
inline std::string& Trace()
{
    static std::string text;
    return text;
}
inline void CollectTrace(char* text) { Trace() += text; }

// Fresh SGlobals / SSysGlobals for one test; xCreateGlobals done, xInit on request.
class Globals
{
  public:
    explicit Globals(bool init = false)
    {
        m_glb = std::make_unique<SGlobals>();
        m_sglb = std::make_unique<SSysGlobals>();
        glb = m_glb.get();
        sglb = m_sglb.get();
        ok = xCreateGlobals() == TRUE;
        if (ok && init)
            ok = m_inited = xInit(0, nullptr) == TRUE;
    }
    // Shuts down and returns the leak list text ("" when nothing leaked).
    std::string Finish()
    {
        if (glb == nullptr)
            return "";
        if (m_inited)
            xExit();
        m_inited = false;
        Trace().clear();
        xSetDprintfOutput(CollectTrace);
        xFreeGlobals();
        xSetDprintfOutput(nullptr);
        glb = nullptr;
        sglb = nullptr;
        return Trace();
    }
    ~Globals() { Finish(); }
    bool ok = false;

  private:
    std::unique_ptr<SGlobals> m_glb;
    std::unique_ptr<SSysGlobals> m_sglb;
    bool m_inited = false;
};

// Fixture: globals without a window; subclasses may pass true for xInit.
class TarvexTest : public ::testing::Test
{
  protected:
    explicit TarvexTest(bool init = false) : m_init(init) {}
    void SetUp() override
    {
        globals = std::make_unique<Globals>(m_init);
        ASSERT_TRUE(globals->ok) << glb->error.GetError();
    }
    void TearDown() override
    {
        std::string leaks = globals->Finish();
        EXPECT_EQ(leaks, "") << "leak list not empty";
        globals.reset();
    }
    std::unique_ptr<Globals> globals;

  private:
    bool m_init;
};

// The text of the library-wide last error.
inline std::string LastError() { return glb != nullptr ? glb->error.GetError() : ""; }

} // namespace tvtest
