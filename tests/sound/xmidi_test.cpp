// XMIDI files: a table of small files written by hand after the format's
// description (interval counts, notes with durations, tempo, loops, the
// sequencer's own controllers, several sequences, damaged chunks), the
// conversion of standard MIDI files, and what they sound like through SDL's
// disk driver: a MIDI file and its conversion play the same notes at the
// same times, loops repeat their section, overlapping notes on one key keep
// the key sounding.
#include "sound_fixture.h"

#include <cmath>
#include <initializer_list>

using namespace sndtest;

namespace
{

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes v;
    for (const Bytes& p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

// An IFF chunk: tag, big-endian length, body, pad byte.
Bytes Chunk(const char* tag, const Bytes& body)
{
    Bytes v;
    PutTag(v, tag);
    PutBe(v, static_cast<uint32_t>(body.size()), 4);
    v.insert(v.end(), body.begin(), body.end());
    if (body.size() & 1)
        v.push_back(0);
    return v;
}

Bytes TagBytes(const char* tag) { return Bytes(tag, tag + 4); }

// n intervals of 1/120 s as a run of delay bytes.
Bytes Wait(uint32_t n)
{
    Bytes v;
    for (; n > 127; n -= 127)
        v.push_back(127);
    if (n != 0)
        v.push_back(static_cast<uint8_t>(n));
    return v;
}

// A note-on with its duration in intervals (a variable-length number).
Bytes Note(int key, uint32_t duration, int velocity = 100, int channel = 0)
{
    Bytes v{static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key), static_cast<uint8_t>(velocity)};
    tvsnd::PutVlq(v, duration);
    return v;
}

Bytes Cc(int controller, int value, int channel = 0)
{
    return {static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(controller), static_cast<uint8_t>(value)};
}

Bytes End() { return {0xFF, 0x2F, 0x00}; }

// One sequence: "FORM" "XMID" with optional chunks before its "EVNT".
Bytes Form(const Bytes& events, const Bytes& before = {})
{
    return Chunk("FORM", Cat({TagBytes("XMID"), before, Chunk("EVNT", events)}));
}

// A file of sequences with its directory (count -1: the true count).
Bytes XmiFile(std::initializer_list<Bytes> forms, int count = -1)
{
    Bytes info;
    PutLe(info, static_cast<uint32_t>(count < 0 ? static_cast<int>(forms.size()) : count), 2);
    Bytes cat = TagBytes("XMID");
    for (const Bytes& f : forms)
        cat.insert(cat.end(), f.begin(), f.end());
    return Cat({Chunk("FORM", Cat({TagBytes("XDIR"), Chunk("INFO", info)})), Chunk("CAT ", cat)});
}

Bytes One(const Bytes& events) { return XmiFile({Form(events)}); }

struct Ev {
    double seconds;
    uint8_t status, data1;
    double duration;
};

void ExpectEvents(const tvsnd::MidiPiece& piece, const std::vector<Ev>& want, double tolerance = 1e-9)
{
    ASSERT_EQ(piece.events.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(piece.events[i].seconds, want[i].seconds, tolerance);
        EXPECT_EQ(piece.events[i].status, want[i].status);
        EXPECT_EQ(piece.events[i].data1, want[i].data1);
        EXPECT_NEAR(piece.events[i].duration, want[i].duration, tolerance);
    }
}

TEST(XmidiReader, HandWrittenFiles)
{
    const Bytes tempo{0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40}; // 1 s a beat, which changes nothing
    const uint8_t on = 0x90, start = tvsnd::kLoopStart, end = tvsnd::kLoopEnd;
    struct Case {
        const char* what;
        Bytes file;
        int32_t index;
        std::vector<Ev> events;
        double length;
    } cases[] = {
        {"a note's duration is a variable-length number of intervals",
         One(Cat({Note(60, 200), Wait(240), End()})),
         0,
         {{0, on, 60, 200 / 120.0}},
         2.0},
        {"delay bytes add up, in runs of any length",
         One(Cat({Bytes{0x10, 0x20}, Note(62, 6), Wait(127 + 127 + 6), Note(64, 6), End()})),
         0,
         {{0.4, on, 62, 0.05}, {0.4 + 260 / 120.0, on, 64, 0.05}},
         0.45 + 260 / 120.0},
        {"overlapping notes on one key keep their own durations",
         One(Cat({Note(60, 120), Wait(60), Note(60, 120), End()})),
         0,
         {{0, on, 60, 1.0}, {0.5, on, 60, 1.0}},
         1.5},
        {"a tempo event leaves the pace to the interval counts",
         One(Cat({tempo, Wait(120), Note(64, 60), Wait(60), End()})),
         0,
         {{1.0, on, 64, 0.5}},
         1.5},
        {"loop controllers become markers; branch, callback and lock controllers are dropped",
         One(Cat({Cc(116, 3), Note(60, 30), Wait(60), Cc(119, 5), Cc(120, 1), Cc(110, 127), Cc(117, 127),
                  Cc(7, 90), End()})),
         0,
         {{0, start, 3, -1}, {0, on, 60, 0.25}, {0.5, end, 127, -1}, {0.5, 0xB0, 7, -1}},
         0.5},
        {"a silent note and a system-exclusive event are skipped",
         One(Cat({Note(60, 30, 0), Bytes{0xF0, 0x03, 1, 2, 3}, Note(61, 30), End()})),
         0,
         {{0, on, 61, 0.25}},
         0.25},
        {"events after the end marker do not count",
         One(Cat({Note(60, 30), End(), Wait(120), Note(61, 30)})),
         0,
         {{0, on, 60, 0.25}},
         0.25},
        {"one sequence without a directory", Form(Cat({Wait(12), Note(65, 12), End()})), 0, {{0.1, on, 65, 0.1}},
         0.2},
        {"the second of three sequences",
         XmiFile({Form(Cat({Note(60, 12), End()})), Form(Cat({Note(61, 24), End()})),
                  Form(Cat({Note(62, 36), End()}))}),
         1,
         {{0, on, 61, 0.2}},
         0.2},
        {"timbre and branch chunks before the events",
         XmiFile({Form(Cat({Note(67, 12), End()}),
                       Cat({Chunk("TIMB", {2, 0, 0, 0, 40, 0}), Chunk("RBRN", {1, 0, 7, 0, 0, 0, 0, 0})}))}),
         0,
         {{0, on, 67, 0.1}},
         0.1},
        {"a standard MIDI file inside, as this back end wrote them before",
         XmiFile({Form(Midi({{60, 0.5}}))}),
         0,
         {{0, 0xC0, 0, -1}, {0, on, 60, -1}, {0.25, 0x80, 60, -1}},
         0.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tvsnd::MidiPiece piece;
        std::string why;
        ASSERT_TRUE(tvsnd::ReadXmi(c.file.data(), c.file.size(), c.index, piece, why)) << why;
        ExpectEvents(piece, c.events);
        EXPECT_NEAR(piece.length, c.length, 1e-9);
        EXPECT_EQ(tvsnd::SniffFileType(c.file.data(), c.file.size()), AILFILETYPE_XMIDI);
    }
}

Bytes Cut(Bytes v, size_t n)
{
    v.resize(v.size() - n);
    return v;
}

TEST(XmidiReader, DamagedFilesFailWithTheirReason)
{
    const Bytes good = One(Cat({Note(60, 12), End()}));
    const Bytes dir = Chunk("FORM", Cat({TagBytes("XDIR"), Chunk("INFO", {1, 0})}));
    Bytes longEvnt = Cat({TagBytes("XMID"), TagBytes("EVNT"), {0, 0, 0, 100}, Note(60, 12)});
    struct Case {
        const char* what;
        Bytes file;
        int32_t index;
        const char* error;
    } cases[] = {
        {"another file", Wav({0.0, 0.0}, 8000, 1), 0, "not an XMIDI file"},
        {"cut short", Cut(good, 6), 0, "XMIDI CAT chunk runs past the end of the file"},
        {"one sequence cut short", Cut(Form(Note(60, 12)), 2), 0,
         "XMIDI FORM chunk runs past the end of the file"},
        {"no such sequence", good, 1, "XMIDI file of 1 sequences has no sequence 1"},
        {"a directory without INFO",
         Cat({Chunk("FORM", TagBytes("XDIR")), Chunk("CAT ", Cat({TagBytes("XMID"), Form(Note(60, 1))}))}), 0,
         "XMIDI directory without its INFO chunk"},
        {"a directory of no sequences", XmiFile({Form(Note(60, 1))}, 0), 0, "XMIDI directory of no sequences"},
        {"fewer sequences than the directory says", XmiFile({Form(Note(60, 1))}, 2), 0,
         "XMIDI CAT chunk holds 1 of its 2 sequences"},
        {"no CAT chunk", dir, 0, "XMIDI file without its CAT chunk"},
        {"a TIMB chunk that claims too much", XmiFile({Form(End(), Chunk("TIMB", {5, 0, 1, 0}))}), 0,
         "XMIDI TIMB chunk lists more timbres than it holds"},
        {"an RBRN chunk that claims too much", XmiFile({Form(End(), Chunk("RBRN", {2, 0, 0, 0, 0, 0, 0, 0}))}), 0,
         "XMIDI RBRN chunk lists more branch points than it holds"},
        {"an EVNT chunk longer than its sequence", Cat({dir, Chunk("CAT ", Cat({TagBytes("XMID"),
                                                                               Chunk("FORM", longEvnt)}))}),
         0, "XMIDI chunk \"EVNT\" runs past its sequence"},
        {"a sequence without events", XmiFile({Chunk("FORM", Cat({TagBytes("XMID"), Chunk("TIMB", {0, 0})}))}), 0,
         "XMIDI sequence without an EVNT chunk"},
        {"a note without its duration", One({0x90, 60, 100}), 0, "XMIDI note without a complete duration"},
        {"a duration of five bytes", One({0x90, 60, 100, 0x81, 0x81, 0x81, 0x81, 0x01}), 0,
         "XMIDI note without a complete duration"},
        {"an event cut short", One({0xB0, 7}), 0, "XMIDI EVNT chunk ends inside an event"},
        {"a real-time message", One({0xF8}), 0, "XMIDI event with a system message that files may not hold"},
        {"a meta event longer than the chunk", One({0xFF, 0x01, 0x10, 'a'}), 0,
         "XMIDI meta or system-exclusive event runs past its EVNT chunk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tvsnd::MidiPiece piece;
        std::string why;
        EXPECT_FALSE(tvsnd::ReadXmi(c.file.data(), c.file.size(), c.index, piece, why));
        EXPECT_EQ(why, c.error);
    }
}

// A standard MIDI file of format 0 or 1 from tracks of (delta ticks, bytes).
Bytes Smf(int format, uint16_t division, const std::vector<Bytes>& tracks)
{
    Bytes v;
    PutTag(v, "MThd");
    PutBe(v, 6, 4);
    PutBe(v, static_cast<uint32_t>(format), 2);
    PutBe(v, static_cast<uint32_t>(tracks.size()), 2);
    PutBe(v, division, 2);
    for (const Bytes& t : tracks) {
        PutTag(v, "MTrk");
        PutBe(v, static_cast<uint32_t>(t.size()), 4);
        v.insert(v.end(), t.begin(), t.end());
    }
    return v;
}

Bytes Delta(uint32_t ticks)
{
    Bytes v;
    tvsnd::PutVlq(v, ticks);
    return v;
}

// The pieces of the comparison below; each holds four notes of the sine
// bank, apart by silences: (start, seconds, key).
struct Expected {
    double start, seconds;
    int key;
};
struct Piece {
    const char* what;
    Bytes smf;
    std::vector<Expected> notes;
};
std::vector<Piece> Pieces()
{
    // Format 1, 96 ticks a beat: half a second a beat, a quarter from beat 2.
    Bytes conductor = Cat({Delta(0), {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}, Delta(192),
                           {0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}, Delta(0), End()});
    Bytes melody = Cat({Delta(0), {0xC0, 0},           Delta(0),  {0x90, 57, 100}, Delta(48), {0x80, 57, 0},
                        Delta(48), {0x90, 64, 100},    Delta(48), {0x90, 64, 0},   Delta(48), {0x90, 69, 100},
                        Delta(48), {0x80, 69, 0},      Delta(48), {0x90, 62, 90},  Delta(96), {0x80, 62, 0},
                        Delta(0),  End()});
    // Format 0 at 25 frames a second of 40 ticks: 1000 ticks a second.
    Bytes smpte = Cat({Delta(0), {0x90, 69, 100}, Delta(300), {0x80, 69, 0}, Delta(200), {0x90, 57, 100},
                       Delta(250), {0x80, 57, 0}, Delta(250), {0x90, 62, 100}, Delta(200), {0x80, 62, 0},
                       Delta(150), {0x90, 64, 100}, Delta(300), {0x80, 64, 0}, Delta(0), End()});
    return {
        {"format 1, tempo change", Smf(1, 96, {conductor, melody}),
         {{0, 0.25, 57}, {0.5, 0.25, 64}, {1.0, 0.125, 69}, {1.25, 0.25, 62}}},
        {"format 0, SMPTE time", Smf(0, static_cast<uint16_t>((0x100 - 25) << 8 | 40), {smpte}),
         {{0, 0.3, 69}, {0.5, 0.25, 57}, {1.0, 0.2, 62}, {1.35, 0.3, 64}}},
    };
}

TEST(XmidiConverter, KeepsEveryNoteAtItsTimeWithItsDuration)
{
    const double interval = 1 / 120.0;
    for (const Piece& p : Pieces()) {
        SCOPED_TRACE(p.what);
        Bytes xmi;
        std::string why;
        ASSERT_TRUE(tvsnd::MidiToXmi(p.smf.data(), p.smf.size(), xmi, why)) << why;
        // A directory of one sequence, then the catalogue.
        ASSERT_GT(xmi.size(), 34u);
        EXPECT_EQ(Bytes(xmi.begin(), xmi.begin() + 4), TagBytes("FORM"));
        EXPECT_EQ(Bytes(xmi.begin() + 8, xmi.begin() + 12), TagBytes("XDIR"));
        EXPECT_EQ(Bytes(xmi.begin() + 12, xmi.begin() + 16), TagBytes("INFO"));
        EXPECT_EQ(xmi[20] | xmi[21] << 8, 1);
        EXPECT_EQ(Bytes(xmi.begin() + 22, xmi.begin() + 26), TagBytes("CAT "));
        EXPECT_EQ(Bytes(xmi.begin() + 30, xmi.begin() + 34), TagBytes("XMID"));
        tvsnd::MidiPiece piece;
        ASSERT_TRUE(tvsnd::ReadXmi(xmi.data(), xmi.size(), 0, piece, why)) << why;
        std::vector<Ev> want;
        for (const Expected& n : p.notes)
            want.push_back(Ev{n.start, 0x90, static_cast<uint8_t>(n.key), n.seconds});
        std::erase_if(piece.events, [](const tvsnd::MidiEvent& e) { return (e.status & 0xF0) != 0x90; });
        ExpectEvents(piece, want, interval / 2 + 1e-9);
    }
}

TEST(XmidiConverter, PairsNotesInOrderAndEndsOpenOnesWithTheTrack)
{
    // 120 ticks a beat at the default half second a beat: 1 tick = 1/240 s.
    Bytes track = Cat({Delta(0), {0x90, 60, 100}, Delta(60), {0x90, 60, 100}, Delta(60), {0x80, 60, 0},
                       Delta(60), {0x80, 60, 0}, Delta(0), {0x91, 50, 80}, Delta(120), {0x81, 70, 0},
                       Delta(0), End()});
    Bytes smf = Smf(0, 120, {track});
    Bytes xmi;
    std::string why;
    ASSERT_TRUE(tvsnd::MidiToXmi(smf.data(), smf.size(), xmi, why)) << why;
    tvsnd::MidiPiece piece;
    ASSERT_TRUE(tvsnd::ReadXmi(xmi.data(), xmi.size(), 0, piece, why)) << why;
    // The first off ends the first note; the note never ended lasts to the
    // track's end; the off of a key never struck is dropped.
    ExpectEvents(piece, {{0, 0x90, 60, 0.5}, {0.25, 0x90, 60, 0.5}, {0.75, 0x91, 50, 0.5}});
    EXPECT_NEAR(piece.length, 1.25, 1e-9);

    Bytes format2 = Smf(2, 96, {track});
    EXPECT_FALSE(tvsnd::MidiToXmi(format2.data(), format2.size(), xmi, why));
    EXPECT_EQ(why, "MIDI file format 2 is not supported");
}

// Playing through the disk driver with the sine bank as every instrument:
// key k sounds at 440 * 2^((k - 57) / 12) Hz, a pure tone whose pitch and
// onsets the output shows plainly.
class XmidiPlayTest : public SoundTest
{
  protected:
    void SetUp() override
    {
        SoundTest::SetUp();
        WriteFile("sine.dls", SineBank());
        WriteFile("std.mls", SineBank());
        setenv("TVSND_SOUNDFONT", "sine.dls", 1);
    }
    void TearDown() override
    {
        unsetenv("TVSND_SOUNDFONT");
        SoundTest::TearDown();
    }
    static double Pitch(int key) { return 440 * std::pow(2.0, (key - 57) / 12.0); }
    // Plays a file to its end; the sounding stretches of the output.
    static std::vector<Output::Burst> Play(const std::string& file, int32_t loops)
    {
        std::remove("out.raw");
        {
            auto* m = XNEW(CMilesMusic);
            EXPECT_TRUE(m->Load(const_cast<char*>(file.c_str()))) << tvtest::LastError();
            m->SetLoopCount(loops);
            m->Start(FALSE, FALSE);
            EXPECT_TRUE(WaitWhile([&] { return !m->GetAtEnd(); }, 10000));
            XDELETE(m);
        }
        return Written().BurstList();
    }
    static void ExpectKeys(const std::vector<Output::Burst>& bursts, const std::vector<int>& keys)
    {
        ASSERT_EQ(bursts.size(), keys.size());
        for (size_t i = 0; i < keys.size(); ++i)
            EXPECT_NEAR(bursts[i].pitch, Pitch(keys[i]), Pitch(keys[i]) * 0.02) << "note " << i;
    }
};

TEST_F(XmidiPlayTest, MidiFileAndItsConversionSoundTheSameNotesAtTheSameTimes)
{
    // Onsets and pitches are measured from the disk driver's output, relative
    // to the first onset (the device starts before the music).
    for (const Piece& p : Pieces()) {
        SCOPED_TRACE(p.what);
        Bytes xmi;
        std::string why;
        ASSERT_TRUE(tvsnd::MidiToXmi(p.smf.data(), p.smf.size(), xmi, why)) << why;
        WriteFile("piece.mid", p.smf);
        WriteFile("piece.xmi", xmi);
        std::vector<Output::Burst> midi = Play("piece.mid", 1), converted = Play("piece.xmi", 1);
        std::vector<int> keys;
        for (const Expected& n : p.notes)
            keys.push_back(n.key);
        ExpectKeys(midi, keys);
        ExpectKeys(converted, keys);
        if (midi.size() != keys.size() || converted.size() != keys.size())
            continue;
        for (size_t i = 0; i < keys.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_NEAR(midi[i].start - midi[0].start, p.notes[i].start, 0.02);
            EXPECT_NEAR(converted[i].start - converted[0].start, midi[i].start - midi[0].start, 0.02);
            EXPECT_NEAR(converted[i].end - converted[i].start, midi[i].end - midi[i].start, 0.03);
        }
    }
}

TEST_F(XmidiPlayTest, LoopsRepeatTheirSection)
{
    // A note before the loop, one in it, one after; 0.4 s a note.
    auto piece = [](int passes, int next) {
        return One(Cat({Note(57, 24), Wait(48), Cc(116, passes), Note(64, 24), Wait(48), Cc(117, next),
                        Note(69, 24), Wait(48), End()}));
    };
    struct Case {
        const char* what;
        Bytes file;
        int32_t loops;
        std::vector<int> keys;
    } cases[] = {
        {"two passes", piece(2, 127), 1, {57, 64, 64, 69}},
        {"a break leaves the loop", piece(3, 0), 1, {57, 64, 69}},
        {"endless, once for the jukebox's loop count", piece(0, 127), 1, {57, 64, 69}},
        {"endless, three passes for a loop count of 3", piece(0, 127), 3, {57, 64, 64, 64, 69}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile("loop.xmi", c.file);
        ExpectKeys(Play("loop.xmi", c.loops), c.keys);
    }
}

TEST_F(XmidiPlayTest, OverlappingNotesOnOneKeyKeepItSounding)
{
    // Half a second alone; then two notes of half a second a quarter apart on
    // the same key: the first one's end must not cut the second.
    WriteFile("overlap.xmi", One(Cat({Note(69, 60), Wait(120), Note(69, 60), Wait(30), Note(69, 60), Wait(90),
                                      End()})));
    std::vector<Output::Burst> b = Play("overlap.xmi", 1);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_NEAR(b[1].start - b[0].start, 1.0, 0.02);
    EXPECT_NEAR((b[1].end - b[1].start) - (b[0].end - b[0].start), 0.25, 0.03);
}

} // namespace
