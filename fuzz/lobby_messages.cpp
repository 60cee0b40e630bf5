// Fuzz target: what the lobby example reads from outside. The input is taken
// as KCBL text three ways: as a message from a client handed to the server,
// as a message from the server handed to the client, and as the server's
// settings file.
#include "fuzz_globals.h"

#include "../examples/lobby/client.cpp"
#include "../examples/lobby/protocol.cpp"
#include "../examples/lobby/server.cpp"

#include <string>
#include <unistd.h>

namespace
{

// Counts what the client reports and reads its state, as a front end would.
class Reader : public lobby::Listener
{
  public:
    lobby::Client* client = nullptr;
    size_t seen = 0;
    void RoomsChanged() override
    {
        for (const auto& r : client->Rooms())
            seen += r.name.size();
    }
    void PlayersChanged() override
    {
        for (const auto& p : client->Players())
            seen += p.name.size() + static_cast<size_t>(p.colour);
    }
    void Chat(const lobby::ChatLine& l) override { seen += l.from.size() + l.text.size(); }
};

void Check(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    if (!CommBaseStartup())
        fuzzglb::Stop("lobby_messages", "CommBaseStartup failed");
    {
        lobby::ServerSettings settings;
        auto* server = XNEW(lobby::Server, settings);
        auto* reader = XNEW(Reader);
        auto* client = XNEW(lobby::Client, *reader);
        reader->client = client;
        CKCBL* k = XNEW(CKCBL);
        if (k->Import(text.c_str())) {
            server->Handle(*k);
            // A client in a room hears more; the token of an unconnected
            // client is 0.
            client->Handle(*k);
            k->MainChunk();
            client->Handle(*k);
        }
        XDELETE(k);
        XDELETE(client);
        XDELETE(reader);
        XDELETE(server);
        char file[] = "/tmp/lobby-settings-XXXXXX";
        int fd = mkstemp(file);
        if (fd >= 0) {
            bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
            close(fd);
            std::string error;
            if (written)
                settings.Load(file, error);
            unlink(file);
        }
    }
    CommBaseExit();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzzglb::RunWithGlobals("lobby_messages", false, Check, data, size);
}
