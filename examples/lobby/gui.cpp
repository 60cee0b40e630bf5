// The lobby's windowed front end (see gui.h). The windows come from the
// resource file; this file only fills them and answers their controls.
// Every event is also printed as the console front end prints it, with the
// chat line read back from the chat box, so a test can follow what the
// window shows. Standard input takes the console's commands too, and
// "shot <file.bmp>" saves what the screen shows.
#include "gui.h"

#include "console.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace lobby
{

namespace
{

// Chat rows kept in the box; older ones are dropped from the top.
constexpr int32_t kChatRows = 500;
const TRGBA kBackground(30, 70, 110);

// The resource ids the program uses, looked up by name once loaded.
struct Ids {
    int32_t login, user, password, server, remember, ok, cancel, loginStatus;
    int32_t lobby, rooms, join, leave, players, chat, entry, send, news, newsProgress, fullScreen, status;
};

class App : public Listener
{
  public:
    explicit App(GuiOptions& o) : options(o) {}
    ~App() override;
    bool Start();
    void Frame();
    bool Quit() const { return quit; }
    void Command(const std::string& line);

    // Listener.
    void Connected() override;
    void Disconnected() override;
    void Welcome() override;
    void Refused(const std::string& reason) override;
    void RoomsChanged() override;
    void Joined() override;
    void Left() override;
    void PlayersChanged() override;
    void Chat(const ChatLine& line) override;
    void ClockMeasured() override { UpdateStatus(); }

  private:
    static void OnGui(int32_t msg, int32_t windowId, int32_t ctrlId, int32_t, void* user);
    void OnControl(int32_t msg, int32_t ctrlId);
    void LoadSettings();
    void SaveSettings(bool remember);
    void LogIn();
    void OpenLobby();
    void UpdateStatus();
    void StartNews();
    void NewsFrame();
    void Play(CMilesSample* s);
    void Draw();
    bool SaveShot(const std::string& file);
    std::string DataFile(const char* rel) const;

    GuiOptions& options;
    Ids id{};
    CScreenBase* screen = nullptr;
    CResData* res = nullptr;
    CDialog* login = nullptr;
    CDialog* lobby = nullptr;
    Client* client = nullptr;
    bool quit = false, wantLobby = false, fullScreen = false, wantFullScreen = false;
    std::string status;
    // Static texts borrow what they show: these buffers outlive the windows.
    char statusText[320] = "";
    char loginStatusText[160] = "";
    // News.
    CFtpClient* ftp = nullptr;
    std::string newsFile;
    bool newsDone = false;
    // Sound.
    CMilesMusic* music = nullptr;
    CMilesSample* joinSound = nullptr;
    CMilesSample* leaveSound = nullptr;
    CMilesSample* messageSound = nullptr;
    std::vector<Player> lastPlayers;
};

App::~App()
{
    if (client != nullptr)
        client->Logout();
    for (int i = 0; client != nullptr && i < 10; ++i)
        xHandler();
    XDELETE(client);
    client = nullptr;
    if (ftp != nullptr) {
        ftp->Closedown();
        XDELETE(ftp);
        ftp = nullptr;
    }
    if (!newsFile.empty())
        std::remove(newsFile.c_str());
    for (CDialog* d : {login, lobby})
        if (d != nullptr) {
            d->Destroy();
            XDELETE(d);
        }
    XDELETE(joinSound);
    XDELETE(leaveSound);
    XDELETE(messageSound);
    XDELETE(music);
    XDELETE(res); // ends the root's loan of the look
}

std::string App::DataFile(const char* rel) const { return (std::filesystem::path(options.dataRoot) / rel).string(); }

bool App::Start()
{
    screen = sglb->dibScreen;
    if (screen == nullptr || !screen->InitModeRez(640, 480, 16, XVMODE_WINDOW)) {
        std::fprintf(stderr, "lobby: no 640x480 window: %s\n", glb->error.GetError());
        return false;
    }
    // The resources name their font and pictures from the data folder.
    std::error_code ec;
    const std::filesystem::path before = std::filesystem::current_path(ec);
    std::filesystem::current_path(options.dataRoot, ec);
    res = XNEW(CResData);
    bool loaded = res->Load(options.resFile.c_str()) && res->GetNumErrors() == 0;
    std::filesystem::current_path(before, ec);
    if (!loaded) {
        std::fprintf(stderr, "lobby: cannot load %s: %s\n", options.resFile.c_str(), glb->error.GetError());
        return false;
    }
    struct {
        const char* name;
        int32_t* out;
    } names[] = {{"IDW_LOGIN", &id.login},         {"IDC_USER", &id.user},
                 {"IDC_PASSWORD", &id.password},   {"IDC_SERVER", &id.server},
                 {"IDC_REMEMBER", &id.remember},   {"IDC_OK", &id.ok},
                 {"IDC_CANCEL", &id.cancel},       {"IDC_LOGIN_STATUS", &id.loginStatus},
                 {"IDW_LOBBY", &id.lobby},         {"IDC_ROOMS", &id.rooms},
                 {"IDC_JOIN", &id.join},           {"IDC_LEAVE", &id.leave},
                 {"IDC_PLAYERS", &id.players},     {"IDC_CHAT", &id.chat},
                 {"IDC_ENTRY", &id.entry},         {"IDC_SEND", &id.send},
                 {"IDC_NEWS", &id.news},           {"IDC_NEWS_PROGRESS", &id.newsProgress},
                 {"IDC_FULLSCREEN", &id.fullScreen}, {"IDC_STATUS", &id.status}};
    for (auto& n : names)
        if (!res->GetResId(n.name, n.out)) {
            std::fprintf(stderr, "lobby: %s has no %s\n", options.resFile.c_str(), n.name);
            return false;
        }
    login = XNEW(CDialog);
    if (!login->Create(res, id.login, OnGui, 0, this)) {
        std::fprintf(stderr, "lobby: cannot build the log-in form: %s\n", glb->error.GetError());
        return false;
    }
    LoadSettings();
    // Sound: effects from the data folder, music from the jukebox folder.
    if (CMiles::m_bWaveDeviceOK) {
        joinSound = XNEW(CMilesSample, DataFile("data/lobby/sounds/join.wav").c_str());
        leaveSound = XNEW(CMilesSample, DataFile("data/lobby/sounds/leave.wav").c_str());
        messageSound = XNEW(CMilesSample, DataFile("data/lobby/sounds/message.wav").c_str());
        if (!options.musicDir.empty()) {
            music = XNEW(CMilesMusic);
            if (music->SetExtraMusicPath(options.musicDir.c_str()) && music->SetJukebox(TRUE)) {
                music->SetVolume(60);
                music->Start(FALSE, FALSE);
            }
        }
    }
    StartNews();
    PrintEvent("login form");
    if (options.autoLogin)
        LogIn();
    return true;
}

// ------------------------------------------------------------ settings

void App::LoadSettings()
{
    std::string user = options.user, password = options.password;
    std::string server = options.client.host + ":" + std::to_string(options.client.port);
    int32_t remember = 0;
    CKCBL* k = XNEW(CKCBL);
    if (!options.settingsFile.empty() && xFileExists(options.settingsFile.c_str()) &&
        k->Load(options.settingsFile.c_str())) {
        if (k->FindItem("remember"))
            remember = static_cast<int32_t>(Number(*k, 0));
        if (remember && user.empty() && k->FindItem("user"))
            user = Text(*k, 0);
        if (remember && password.empty() && k->FindItem("password"))
            password = Text(*k, 0);
        if (!options.serverGiven && k->FindItem("server"))
            server = Text(*k, 0);
    }
    XDELETE(k);
    login->SetText(id.user, user.c_str());
    login->SetText(id.password, password.c_str());
    login->SetText(id.server, server.c_str());
    if (remember)
        login->GetCtrl(id.remember)->SetSelected(1);
}

void App::SaveSettings(bool remember)
{
    if (options.settingsFile.empty())
        return;
    CKCBL* k = XNEW(CKCBL);
    const char* user = login->GetTextBuffer(id.user, 0);
    const char* password = login->GetTextBuffer(id.password, 0);
    const char* server = login->GetTextBuffer(id.server, 0);
    k->NewItem("remember", KLONG, remember ? 1 : 0, KEND);
    k->NewItem("server", KSTRING, server != nullptr ? server : "", KEND);
    if (remember) {
        k->NewItem("user", KSTRING, user != nullptr ? user : "", KEND);
        k->NewItem("password", KSTRING, password != nullptr ? password : "", KEND);
    }
    if (!k->Save(options.settingsFile.c_str()))
        std::fprintf(stderr, "lobby: cannot save %s: %s\n", options.settingsFile.c_str(), glb->error.GetError());
    XDELETE(k);
}

// ------------------------------------------------------------ controls

// The last argument is the window's user pointer only for notifications
// that carry no data of their own (a key, for one, brings its key record):
// the one application object is found here instead.
App* g_app = nullptr;

void App::OnGui(int32_t msg, int32_t, int32_t ctrlId, int32_t, void*)
{
    if (g_app != nullptr)
        g_app->OnControl(msg, ctrlId);
}

void App::OnControl(int32_t msg, int32_t ctrl)
{
    if (msg != 2) // only presses of buttons (clicks and hotkeys) matter here
        return;
    if (login != nullptr && ctrl == id.ok) {
        LogIn();
    } else if (login != nullptr && ctrl == id.cancel) {
        quit = true;
    } else if (lobby != nullptr && ctrl == id.join) {
        CControlBase* room = static_cast<CListbox*>(lobby->GetCtrl(id.rooms))->GetSelectedControl();
        if (room != nullptr && room->text != nullptr) {
            std::string name = room->text;
            client->Join(name.substr(0, name.find(" (")));
        }
    } else if (lobby != nullptr && ctrl == id.leave) {
        client->Leave();
    } else if (lobby != nullptr && ctrl == id.send) {
        const char* text = lobby->GetTextBuffer(id.entry, 0);
        if (text != nullptr && *text != 0) {
            client->Say(text);
            lobby->SetText(id.entry, "");
        }
    } else if (lobby != nullptr && ctrl == id.fullScreen) {
        wantFullScreen = true; // switched between frames, not inside the window's dispatch
    }
}

void App::LogIn()
{
    const char* user = login->GetTextBuffer(id.user, 0);
    const char* password = login->GetTextBuffer(id.password, 0);
    const char* server = login->GetTextBuffer(id.server, 0);
    SaveSettings(login->GetCtrl(id.remember)->GetSelected() == 1);
    if (client == nullptr) {
        std::string text = server != nullptr ? server : "";
        size_t colon = text.rfind(':');
        if (colon != std::string::npos) {
            options.client.host = text.substr(0, colon);
            options.client.port = std::atoi(text.c_str() + colon + 1);
        } else if (!text.empty()) {
            options.client.host = text;
        }
        client = XNEW(Client, *this);
        std::string error;
        if (!client->Connect(options.client, error)) {
            login->SetText(id.loginStatus, res->GetResString(2, "The server cannot be reached."));
            PrintEvent("disconnected");
            XDELETE(client);
            client = nullptr;
            return;
        }
    }
    login->SetText(id.loginStatus, res->GetResString(1, "Connecting..."));
    client->Login(user != nullptr ? user : "", password != nullptr ? password : "");
}

void App::OpenLobby()
{
    wantLobby = false;
    if (login != nullptr) {
        login->Destroy();
        XDELETE(login);
        login = nullptr;
    }
    lobby = XNEW(CDialog);
    if (!lobby->Create(res, id.lobby, OnGui, 0, this)) {
        std::fprintf(stderr, "lobby: cannot build the lobby window: %s\n", glb->error.GetError());
        quit = true;
        return;
    }
    lobby->SetFocus(lobby->GetCtrl(id.entry));
    auto* progress = static_cast<CProgress*>(lobby->GetCtrl(id.newsProgress));
    progress->SetRange(0, 100);
    RoomsChanged();
    UpdateStatus();
    NewsFrame();
    PrintEvent("lobby window");
}

// ------------------------------------------------------------ client events

void App::Connected() { PrintEvent("connected"); }

void App::Disconnected()
{
    PrintEvent("disconnected");
    status = "Disconnected from the server.";
    if (login != nullptr)
        login->SetText(id.loginStatus, res->GetResString(2, "The server cannot be reached."));
    UpdateStatus();
}

void App::Welcome()
{
    PrintEvent("welcome %s colour %d", client->UserName().c_str(), client->Colour());
    wantLobby = true;
}

void App::Refused(const std::string& reason)
{
    PrintEvent("refused %s", reason.c_str());
    if (login != nullptr) {
        std::snprintf(loginStatusText, sizeof loginStatusText, "%s", reason.c_str());
        login->SetText(id.loginStatus, loginStatusText);
    }
}

void App::RoomsChanged()
{
    PrintEvent("rooms %s", RoomList(client->Rooms()).c_str());
    if (lobby == nullptr)
        return;
    auto* list = static_cast<CListbox*>(lobby->GetCtrl(id.rooms));
    int32_t selected = list->GetSelected();
    list->RemoveAll();
    for (const RoomInfo& r : client->Rooms())
        list->Add((r.name + " (" + std::to_string(r.players) + ")").c_str());
    if (selected > 0 && selected <= list->GetNumEntries())
        list->SetSelected(selected);
}

void App::Joined()
{
    PrintEvent("joined %s", client->Room().c_str());
    auto* chat = static_cast<CMultiEdit*>(lobby->GetCtrl(id.chat));
    chat->KillText();
    lastPlayers.clear();
    UpdateStatus();
}

void App::Left()
{
    PrintEvent("left");
    static_cast<CListbox*>(lobby->GetCtrl(id.players))->RemoveAll();
    lastPlayers.clear();
    Play(leaveSound);
    UpdateStatus();
}

void App::PlayersChanged()
{
    const std::vector<Player>& now = client->Players();
    PrintEvent("players %s %s", client->Room().c_str(), PlayerList(now).c_str());
    if (lobby == nullptr)
        return;
    auto* list = static_cast<CListbox*>(lobby->GetCtrl(id.players));
    list->RemoveAll();
    for (const Player& p : now) {
        list->Add(p.name.c_str());
        TRGBA c;
        if (res->GetCol("PLAYERS", &c, p.colour % kNumColours))
            list->GetEntry(list->GetNumEntries())->SetTextColor(c);
    }
    // A sound when somebody came or went (not for the first list of a room).
    if (!lastPlayers.empty())
        Play(now.size() > lastPlayers.size() ? joinSound : now.size() < lastPlayers.size() ? leaveSound : nullptr);
    else if (!now.empty())
        Play(joinSound);
    lastPlayers = now;
}

void App::Chat(const ChatLine& line)
{
    if (lobby == nullptr)
        return;
    auto* chat = static_cast<CMultiEdit*>(lobby->GetCtrl(id.chat));
    // A read-only box starts with one empty row: the first line takes it.
    std::string text = line.from + ": " + line.text;
    int32_t row;
    if (chat->GetNumRows() == 1 && chat->GetTextOnLine(0) != nullptr && *chat->GetTextOnLine(0) == 0) {
        chat->SetTextOnLine(0, text.c_str());
        row = 0;
    } else {
        chat->AddNewLine(text.c_str());
        row = chat->GetNumRows() - 1;
    }
    TRGBA c;
    if (res->GetCol("PLAYERS", &c, line.colour % kNumColours))
        chat->SetTextColorOnLine(row, &c);
    while (chat->GetNumRows() > kChatRows)
        chat->DeleteFirstLine();
    // Follow the newest line unless the reader scrolled up.
    int32_t last = chat->GetNumRows() - 1;
    if (last - chat->GetUpperLineNr() <= chat->GetVisibleLines())
        chat->SetUpperLineNr(std::max(0, last - chat->GetVisibleLines() + 1));
    const char* shown = chat->GetTextOnLine(last);
    PrintEvent("chat %s %u %s", client->Room().c_str(), line.seq, shown != nullptr ? shown : "");
    if (line.from != client->UserName())
        Play(messageSound);
}

void App::UpdateStatus()
{
    if (lobby == nullptr || client == nullptr)
        return;
    std::string s = client->IsConnected() ? client->UserName() : status;
    if (client->IsConnected())
        s += client->Room().empty() ? ", in no room" : ", in " + client->Room();
    if (client->ClockMeasured())
        s += " | clock offset " + std::to_string(client->ClockOffset()) + " ms";
    if (client->RoundTripMeasured())
        s += " | round trip " + std::to_string(client->RoundTrip()) + " ms";
    if (s != statusText) {
        std::snprintf(statusText, sizeof statusText, "%s", s.c_str());
        lobby->SetText(id.status, statusText);
    }
}

// ------------------------------------------------------------ news

void App::StartNews()
{
    // ftp://host:port/path
    const std::string& url = options.news;
    if (url.rfind("ftp://", 0) != 0)
        return;
    std::string rest = url.substr(6);
    size_t slash = rest.find('/');
    std::string hostPort = rest.substr(0, slash), path = slash == std::string::npos ? "news.txt" : rest.substr(slash + 1);
    size_t colon = hostPort.rfind(':');
    std::string host = hostPort.substr(0, colon);
    int port = colon == std::string::npos ? 21 : std::atoi(hostPort.c_str() + colon + 1);
    const char* tmp = std::getenv("TMPDIR");
    newsFile = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/tarvex-lobby-news-" +
               std::to_string(xGetProcessId()) + ".txt";
    ftp = XNEW(CFtpClient, 0);
    ftp->SetPassiveMode();
    ftp->SetUpdateByteBudget(16 * 1024);
    if (!ftp->Startup() || !ftp->Connect(host.c_str(), static_cast<uint16_t>(port)) ||
        !ftp->SetLoginName("anonymous") || !ftp->SetLoginPassword("lobby@") ||
        !ftp->RetrieveFile(newsFile.c_str(), path.c_str())) {
        PrintEvent("news failed");
        ftp->Closedown();
        XDELETE(ftp);
        ftp = nullptr;
        newsDone = true;
    }
}

void App::NewsFrame()
{
    if (ftp != nullptr) {
        if (!ftp->Update()) {
            char *text = nullptr, *function = nullptr;
            ftp->FtpGetErrorTxt(text, function);
            PrintEvent("news failed: %s", text != nullptr ? text : "?");
            ftp->Closedown();
            XDELETE(ftp);
            ftp = nullptr;
            newsDone = true;
        } else if (ftp->IsDownloadedNote()) {
            char *local = nullptr, *remote = nullptr;
            ftp->GetDownloadedNote(0, 0, 0, local, remote);
            if (local != nullptr)
                XFREE(local);
            if (remote != nullptr)
                XFREE(remote);
            ftp->Closedown();
            XDELETE(ftp);
            ftp = nullptr;
            newsDone = true;
            PrintEvent("news downloaded");
        }
    }
    if (lobby == nullptr)
        return;
    auto* progress = static_cast<CProgress*>(lobby->GetCtrl(id.newsProgress));
    if (ftp != nullptr && ftp->IsDownloading() && ftp->GetDownloadHasFileSize() && ftp->GetDownloadFileSize() > 0)
        progress->SetValue(static_cast<int32_t>(static_cast<uint64_t>(ftp->GetDownloadBytesTransfered()) * 100 /
                                                ftp->GetDownloadFileSize()));
    if (newsDone) {
        newsDone = false;
        progress->SetValue(100);
        auto* news = static_cast<CMultiEdit*>(lobby->GetCtrl(id.news));
        uint32_t size = 0;
        char* text = nullptr;
        if (!newsFile.empty() && xFileSize(newsFile.c_str(), &size) && size > 0 && size < 64 * 1024 &&
            (text = static_cast<char*>(XALLOC(size + 1))) != nullptr && xReadFile(newsFile.c_str(), text, size)) {
            text[size] = 0;
            news->SetTextBuffer(text, static_cast<int32_t>(size));
        } else {
            news->SetTextBuffer(res->GetResString(3, "No news today."), -1);
        }
        if (text != nullptr)
            XFREE(text);
        news->SetUpperLineNr(0);
    }
}

// ------------------------------------------------------------ frame

void App::Play(CMilesSample* s)
{
    if (s != nullptr && s->SampleOK())
        s->Start(FALSE, FALSE);
}

void App::Frame()
{
    if (client != nullptr)
        client->Frame();
    if (wantLobby)
        OpenLobby();
    if (wantFullScreen) {
        wantFullScreen = false;
        fullScreen = !fullScreen;
        if (!screen->InitModeRez(640, 480, 16, fullScreen ? XVMODE_FULLSCREEN : XVMODE_WINDOW))
            fullScreen = !fullScreen;
        PrintEvent("full screen %s", fullScreen ? "on" : "off");
    }
    static uint32_t lastStatus = 0;
    if (xTimeDiff(lastStatus, xGetTime()) > 1000) {
        lastStatus = xGetTime();
        UpdateStatus();
    }
    NewsFrame();
    Draw();
}

void App::Draw()
{
    screen->FillRect(0, 0, 640, 480, kBackground);
    glb->rootWindow->Validate();
    glb->rootWindow->MsgHandler(XMSG_DRAW, 0, 0);
}

bool App::SaveShot(const std::string& file)
{
    Draw();
    CBitmap* shot = XNEW(CBitmap);
    CBitmap* picture = screen->GetScreenBitmap();
    bool saved = picture != nullptr && shot->CreateRGB(picture->width, picture->height, 24, 8, 8, 8, 0, 8, 16, 0) &&
                 shot->Blt(picture, 0, 0, 0, 0, -1, -1, 0, 0, 0) &&
                 shot->Save(file.c_str(), nullptr, nullptr, nullptr, 0);
    XDELETE(shot);
    return saved;
}

void App::Command(const std::string& line)
{
    size_t space = line.find(' ');
    std::string verb = line.substr(0, space), rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (verb == "shot") {
        PrintEvent("shot %s %s", rest.c_str(), SaveShot(rest) ? "saved" : "failed");
    } else if (verb == "quit") {
        quit = true;
    } else if (verb == "login" && login != nullptr) {
        size_t s = rest.find(' ');
        login->SetText(id.user, rest.substr(0, s).c_str());
        login->SetText(id.password, s == std::string::npos ? "" : rest.substr(s + 1).c_str());
        LogIn();
    } else if (client != nullptr) {
        if (verb == "join")
            client->Join(rest);
        else if (verb == "leave")
            client->Leave();
        else if (verb == "say")
            client->Say(rest);
    }
}

} // namespace

int RunGui(GuiOptions& options)
{
    CatchStopSignals();
    InputLines input;
    auto* app = XNEW(App, options);
    g_app = app;
    int rc = app->Start() ? 0 : 1;
    uint32_t start = xGetTime();
    while (rc == 0 && !StopRequested() && !app->Quit() && !xDoUserWantToQuit() &&
           (options.seconds <= 0 || xTimeDiff(start, xGetTime()) < options.seconds * 1000u)) {
        if (xHandler() != 0)
            break;
        app->Frame();
        for (std::string line; input.Next(line);)
            app->Command(line);
    }
    XDELETE(app);
    g_app = nullptr;
    return rc;
}

} // namespace lobby
