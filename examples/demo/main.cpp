// The main tarvex demonstration: starts the library as an application does,
// runs paced frames for about two seconds and reports what the frame did,
// then takes a short tour of the modules: settings through KCBL and LZSS, a
// picture saved as BMP and loaded again, messages between a server and a
// client over loopback, comm nodes and the clock service between two
// processes, messages relayed through a proxy, a file downloaded from a
// local FTP server, text drawn with a bitmap font, keys and clicks read back
// from the keyboard and the mouse, a window showing a moving picture drawn
// with the screen's primitives, sprites moved by keys and the mouse with
// text drawn on the screen, a slide show that goes full screen and
// back, a melody and an effect played through the
// sound back end, resources packed and looked up, and an empty leak list at
// the end.
#include <tarvex/tarvex.h>

#include "commnode_tour.h"
#include "controls_tour.h"
#include "dialog_tour.h"
#include "entry_tour.h"
#include "font_tour.h"
#include "ftp_tour.h"
#include "gui_tour.h"
#include "input_tour.h"
#include "proxy_tour.h"
#include "screen_tour.h"
#include "sprite_tour.h"
#include "slideshow_tour.h"
#include "sound_tour.h"
#include "resdata_tour.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{

// The tracker writes its leak list through the trace channel when it is
// released; collect it.
std::string g_trace;
void CollectTrace(char* text) { g_trace += text; }

// Counts timer calls to show the frame's timers at work.
class Heartbeat : public CTimer
{
  public:
    uint32_t beats = 0;
    void TimerHandler(uint32_t) override { ++beats; }
};

// Settings as a KCBL container, packed with LZSS and read back.
bool SettingsTour()
{
    CKCBL* settings = XNEW(CKCBL);
    CKCBL* copy = XNEW(CKCBL);
    int32_t scores[3] = {120, 95, 230};
    settings->NewItem("player", KSTRING, "Ada \"the first\"", KLONG, 3, KFLOAT, 1.5f, KEND);
    settings->NewItem("scores", KLONGARRAY, 3, scores, KEND);
    for (int32_t i = 1; i <= 20; ++i) {
        char key[16], map[32];
        std::snprintf(key, sizeof key, "level%d", i);
        std::snprintf(map, sizeof map, "maps/level%02d.xiff", i);
        settings->NewItem(key, KSTRING, map, KLONG, i * 100, KBOOL, i % 2, KEND);
    }

    int32_t length = 0;
    settings->ExportSize(&length);
    auto* text = static_cast<char*>(XALLOC(length + 1));
    settings->Export(text, length + 1, &length);

    CLzss* lzss = XNEW(CLzss);
    uint32_t packedSize = static_cast<uint32_t>(length);
    char* packed = lzss->CompressBuffer(text, &packedSize);
    auto* unpacked = static_cast<char*>(XALLOC(length + 1));
    uint32_t unpackedSize = static_cast<uint32_t>(length);
    bool ok = packed != nullptr && lzss->ExpandBuffer(packed, packedSize, unpacked, &unpackedSize) &&
              unpackedSize == static_cast<uint32_t>(length);
    if (ok) {
        unpacked[length] = 0;
        ok = copy->Import(unpacked) && copy->FindItem("player");
    }
    char* name = ok ? copy->GetString(0) : nullptr;
    std::printf("settings: %d bytes of KCBL text, %u packed; read back player %s\n", length, packedSize,
                name != nullptr ? name : "(missing)");
    if (packed != nullptr)
        XFREE(packed);
    XFREE(unpacked);
    XFREE(text);
    XDELETE(lzss);
    XDELETE(copy);
    XDELETE(settings);
    return ok && name != nullptr;
}

// A picture drawn into a bitmap, saved as a BMP file and loaded again.
bool PictureTour(const std::string& folder)
{
    CBitmap* picture = XNEW(CBitmap);
    CBitmap* loaded = XNEW(CBitmap);
    bool ok = picture->CreateRGB(64, 48, 24, 8, 8, 8, 16, 8, 0, 0) != 0;
    for (int32_t y = 0; ok && y < 48; ++y)
        for (int32_t x = 0; x < 64; ++x) {
            TRGBA c{static_cast<uint8_t>(x * 4), static_cast<uint8_t>(y * 5), 128, 255};
            picture->PutPixel(x, y, &c);
        }
    std::string file = folder + "/gradient.bmp";
    ok = ok && picture->Save(file.c_str(), nullptr, nullptr, nullptr, 0) && loaded->Load(file.c_str(), 0);
    TRGBA a{}, b{};
    ok = ok && picture->GetPixel(63, 47, &a) && loaded->GetPixel(63, 47, &b) && a.r == b.r && a.g == b.g &&
         a.b == b.b;
    std::printf("picture: %s, %dx%d, saved and loaded back %s\n", file.c_str(), loaded->width, loaded->height,
                ok ? "unchanged" : "DIFFERENT");
    XDELETE(loaded);
    XDELETE(picture);
    return ok;
}

// A server and a client in this process exchange messages over loopback,
// carried by the frame's client rounds while it waits on the sockets.
struct Messaging {
    CCommRemoteServer server;
    CCommRemoteClient accepted; // takes over each connection the server accepts
    CCommRemoteClient client;

    static int32_t Take(CCommRemoteServerBase* s, void* user, int32_t)
    {
        return static_cast<Messaging*>(user)->accepted.SetConnectFromServer(s);
    }

    // Runs frames until done() holds, for at most about two seconds.
    template <class F> bool Frames(F done)
    {
        for (int i = 0; i < 120; ++i) {
            if (!client.IsConnected())
                client.NonBlockedConnectHandler();
            server.NonBlockedHandler();
            xHandler();
            if (done())
                return true;
        }
        return false;
    }

    static bool Take(CCommBase& c, std::string& text)
    {
        char* data = nullptr;
        uint32_t size = 0;
        if (!c.RecvRawData(data, size))
            return false;
        text.assign(data, size);
        XFREE(data);
        return true;
    }

    bool Run()
    {
        server.SetPort(0); // any free port
        if (!server.Startup() || !server.StartListen() || !server.NonBlockedStartListenHandler())
            return false;
        server.SetCallbackFunction(Take, this, 0);
        accepted.SetPacketTypes(1, 1);
        client.SetPacketTypes(1, 1);
        if (!accepted.Startup() || !client.Startup() ||
            !client.SetRemoteLocation("127.0.0.1", server.GetBoundPort()) || !client.Connect())
            return false;
        if (!Frames([&] { return client.IsConnected() && accepted.IsConnected(); }))
            return false;
        const uint32_t start = xGetTime();
        const char hello[] = "hello from the client";
        std::string got, reply;
        bool ok = client.SendRawData(hello, sizeof hello - 1) &&
                  Frames([&] { return Take(accepted, got); }) && accepted.SendRawData("welcome", 7) &&
                  Frames([&] { return Take(client, reply); });
        std::printf("messaging: port %u, server got \"%s\", client got \"%s\" (%u ms)\n",
                    server.GetBoundPort(), got.c_str(), reply.c_str(), xTimeDiff(start, xGetTime()));
        client.Disconnect();
        accepted.Disconnect();
        server.StopListen();
        return ok && got == hello && reply == "welcome";
    }
};

bool MessagingTour()
{
    if (!CommBaseStartup())
        return false;
    xSetXHandlerWaitMode(1);
    bool ok;
    {
        Messaging* m = XNEW(Messaging);
        ok = m != nullptr && m->Run();
        XDELETE(m);
    }
    xSetXHandlerWaitMode(0);
    CommBaseExit();
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    static SGlobals globals;
    static SSysGlobals sysGlobals;
    glb = &globals;
    sglb = &sysGlobals;
    ThisInstance = nullptr;

    SetApplicationName("tarvex demo");
    if (!xCreateGlobals() || !xInit(argc, argv)) {
        char text[2048];
        glb->error.CreateErrorString(text, sizeof text);
        std::fprintf(stderr, "start-up failed: %s\n", text);
        return 1;
    }

    SetMinimumFrameTime(16); // about 60 frames a second
    SetUpdateTime(10);       // logic runs at 100 ticks a second

    int32_t frames = 0, ticks = 0, minTicks = 1 << 30, maxTicks = 0;
    uint32_t beats = 0;
    {
        Heartbeat heartbeat;
        heartbeat.AddTimer(100);
        const uint32_t start = xGetTime();
        while (xTimeDiff(start, xGetTime()) < 2000 && !xDoUserWantToQuit()) {
            if (xHandler() != 0)
                break;
            ++frames;
            ticks += glb->updateTicks;
            if (glb->updateTicks < minTicks)
                minTicks = glb->updateTicks;
            if (glb->updateTicks > maxTicks)
                maxTicks = glb->updateTicks;
        }
        beats = heartbeat.beats;
    }

    std::printf("tarvex demo: %d frames, %d update ticks (%.2f per frame, min %d, max %d), %u timer calls\n",
                frames, ticks, frames ? static_cast<double>(ticks) / frames : 0.0, minTicks, maxTicks, beats);

    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/tarvex-demo";
    xCreateDirsForFile((folder + "/x").c_str());
    bool toured = SettingsTour() && PictureTour(folder) && MessagingTour();
    toured = toured && CommNodeTour();
    toured = toured && FtpTour(folder);
    toured = toured && FontTour(folder);
    toured = toured && InputTour();
    toured = toured && ProxyTour();
    toured = toured && GuiTour(folder);
    toured = toured && ControlsTour(folder);
    toured = toured && EntryTour(folder);
    toured = toured && DialogTour(folder);
    toured = toured && ScreenTour(folder);
    toured = toured && SpriteTour(folder);
    toured = toured && SlideShowTour(folder);
    toured = toured && SoundTour(folder);
    toured = toured && ResDataTour(folder);
    if (!toured)
        std::printf("tour failed: %s\n", glb->error.GetError());

    xExit();
    xSetDprintfOutput(CollectTrace);
    xFreeGlobals();
    xSetDprintfOutput(nullptr);
    if (!g_trace.empty()) {
        std::printf("leak list:%s", g_trace.c_str());
        return 1;
    }
    std::printf("leak list: empty\n");
    return toured ? 0 : 1;
}
