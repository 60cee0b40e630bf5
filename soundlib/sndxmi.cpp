// Extended MIDI (XMIDI) files: their IFF structure, the event data of one
// sequence, and the conversion of standard MIDI files into them.
//
// Event data ("EVNT"): time passes in intervals of 1/120 s, written as runs
// of bytes below 0x80 whose values add up; every other event starts with its
// own status byte (there is no running status). A note-on is followed by its
// key, its velocity and its duration in intervals (a MIDI variable-length
// number) instead of a later note-off. Controllers 116 and 117 mark loops;
// controllers 110 to 120 belong to the sequencer (channel locks, timbre
// protection, bank selection, callbacks, branch indices) and never reach the
// synthesiser. Meta events (0xFF type, length, data) and system-exclusive
// events (0xF0 / 0xF7, length, data) are as in standard MIDI files; tempo
// meta events do not change the pace, which the interval counts fix.
#include "sndformat.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace tvsnd
{

namespace
{

constexpr double kIntervalsPerSecond = 120;
// A converted piece may last a day at most (its delays are written out as
// runs of bytes, a hostile file must not claim unbounded memory).
constexpr uint64_t kMaxIntervals = 120ull * 60 * 60 * 24;
constexpr uint32_t kMaxDuration = 0x0FFFFFFF; // four bytes of variable-length number

std::string TagText(const uint8_t* p)
{
    std::string t;
    for (int i = 0; i < 4; ++i)
        t += p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i]) : '?';
    return t;
}

// Walks the chunks of [at, end), calling visit(tag, body offset, body size)
// for each until it returns false. False with a reason when a chunk's length
// runs past end.
template <class Visit>
bool Chunks(const uint8_t* d, size_t at, size_t end, const char* parent, std::string& why, Visit visit)
{
    while (at + 8 <= end) {
        size_t n = Be32(d + at + 4);
        if (n > end - at - 8) {
            why = "XMIDI chunk \"" + TagText(d + at) + "\" runs past " + parent;
            return false;
        }
        if (!visit(d + at, at + 8, n))
            return true;
        at += 8 + n + (n & 1);
    }
    return true;
}

// One sequence's chunks in [b, e): checks TIMB and RBRN, finds EVNT.
bool ReadSequenceForm(const uint8_t* d, size_t b, size_t e, XmiParts& out, std::string& why)
{
    bool bad = false, found = false;
    bool walked = Chunks(d, b, e, "its sequence", why, [&](const uint8_t* tag, size_t body, size_t n) {
        if (Tag(tag, "TIMB") && (n < 2 || static_cast<size_t>(Le16(d + body)) * 2 > n - 2)) {
            why = "XMIDI TIMB chunk lists more timbres than it holds";
            bad = true;
        } else if (Tag(tag, "RBRN") && (n < 2 || static_cast<size_t>(Le16(d + body)) * 6 > n - 2)) {
            why = "XMIDI RBRN chunk lists more branch points than it holds";
            bad = true;
        } else if (Tag(tag, "EVNT") && !found) {
            out.events.emplace_back(body, n);
            found = true;
        }
        return !bad;
    });
    if (!walked || bad)
        return false;
    if (!found) {
        why = "XMIDI sequence without an EVNT chunk";
        return false;
    }
    return true;
}

// The sequences of "CAT " <len> "XMID" at at; returns its end or 0.
size_t ReadCatalogue(const uint8_t* d, size_t size, size_t at, size_t count, XmiParts& out, std::string& why)
{
    if (at + 12 > size || !Tag(d + at, "CAT ") || !Tag(d + at + 8, "XMID")) {
        why = "XMIDI file without its CAT chunk";
        return 0;
    }
    size_t len = Be32(d + at + 4);
    if (len < 4 || len > size - at - 8) {
        why = "XMIDI CAT chunk runs past the end of the file";
        return 0;
    }
    size_t end = at + 8 + len;
    bool bad = false;
    bool walked = Chunks(d, at + 12, end, "its CAT chunk", why, [&](const uint8_t* tag, size_t body, size_t n) {
        if (Tag(tag, "FORM") && n >= 4 && Tag(d + body, "XMID"))
            bad = !ReadSequenceForm(d, body + 4, body + n, out, why);
        return !bad && out.events.size() < count;
    });
    if (!walked || bad)
        return 0;
    if (out.events.size() < count) {
        why = "XMIDI CAT chunk holds " + std::to_string(out.events.size()) + " of its " + std::to_string(count) +
              " sequences";
        return 0;
    }
    return end;
}

// The events of one EVNT chunk.
bool ReadEvents(const uint8_t* d, size_t n, MidiPiece& out, std::string& why)
{
    out = MidiPiece{};
    uint64_t tick = 0, end = 0;
    size_t p = 0;
    while (p < n) {
        uint8_t status = d[p];
        if (status < 0x80) {
            tick += status;
            ++p;
            continue;
        }
        ++p;
        if (status >= 0xF0) {
            uint8_t type = 0;
            if (status == 0xFF) {
                if (p >= n) {
                    why = "XMIDI EVNT chunk ends inside an event";
                    return false;
                }
                type = d[p++];
            } else if (status != 0xF0 && status != 0xF7) {
                why = "XMIDI event with a system message that files may not hold";
                return false;
            }
            uint32_t len;
            if (!ReadVlq(d, n, p, len) || len > n - p) {
                why = "XMIDI meta or system-exclusive event runs past its EVNT chunk";
                return false;
            }
            p += len;
            if (status == 0xFF && type == 0x2F)
                break;
            continue;
        }
        size_t need = (status & 0xE0) == 0xC0 ? 1 : 2;
        if (n - p < need) {
            why = "XMIDI EVNT chunk ends inside an event";
            return false;
        }
        MidiEvent e{static_cast<double>(tick) / kIntervalsPerSecond, status, static_cast<uint8_t>(d[p] & 0x7F),
                    static_cast<uint8_t>(need == 2 ? d[p + 1] & 0x7F : 0), -1};
        p += need;
        if ((status & 0xF0) == 0x90) {
            uint32_t duration;
            if (!ReadVlq(d, n, p, duration)) {
                why = "XMIDI note without a complete duration";
                return false;
            }
            if (e.data2 == 0)
                continue; // a silent note: nothing to play
            e.duration = duration / kIntervalsPerSecond;
            end = std::max(end, tick + duration);
        } else if ((status & 0xF0) == 0xB0 && e.data1 >= 110 && e.data1 <= 120) {
            if (e.data1 != 116 && e.data1 != 117)
                continue;
            e.status = e.data1 == 116 ? kLoopStart : kLoopEnd;
            e.data1 = e.data2;
            e.data2 = 0;
        }
        if (out.events.size() >= kMaxMidiEvents) {
            why = "XMIDI sequence with too many events";
            return false;
        }
        out.events.push_back(e);
    }
    out.length = static_cast<double>(std::max(end, tick)) / kIntervalsPerSecond;
    return true;
}

void PutDelay(std::vector<uint8_t>& v, uint64_t intervals)
{
    for (; intervals > 0x7F; intervals -= 0x7F)
        v.push_back(0x7F);
    if (intervals != 0)
        v.push_back(static_cast<uint8_t>(intervals));
}

void PutChunk(std::vector<uint8_t>& v, const char* tag, const std::vector<uint8_t>& body)
{
    PutTag(v, tag);
    PutBe32(v, static_cast<uint32_t>(body.size()));
    v.insert(v.end(), body.begin(), body.end());
    if (body.size() & 1)
        v.push_back(0);
}

} // namespace

bool SplitXmi(const uint8_t* d, size_t size, XmiParts& out, std::string& why)
{
    out = XmiParts{};
    if (d == nullptr || size < 12 || !Tag(d, "FORM") || (!Tag(d + 8, "XDIR") && !Tag(d + 8, "XMID"))) {
        why = "not an XMIDI file";
        return false;
    }
    size_t len = Be32(d + 4);
    if (len < 4 || len > size - 8) {
        why = "XMIDI FORM chunk runs past the end of the file";
        return false;
    }
    size_t end = 8 + len;
    if (Tag(d + 8, "XMID")) { // one sequence without a directory
        if (!ReadSequenceForm(d, 12, end, out, why))
            return false;
    } else {
        size_t count = 0;
        bool info = false;
        if (!Chunks(d, 12, end, "its directory", why, [&](const uint8_t* tag, size_t body, size_t n) {
                if (Tag(tag, "INFO") && n >= 2) {
                    count = Le16(d + body);
                    info = true;
                }
                return !info;
            }))
            return false;
        if (!info || count == 0) {
            why = info ? "XMIDI directory of no sequences" : "XMIDI directory without its INFO chunk";
            return false;
        }
        size_t at = end + (len & 1);
        end = ReadCatalogue(d, size, at, count, out, why);
        if (end == 0)
            return false;
        len = end - at - 8;
    }
    out.xmiSize = end;
    size_t b = end + (len & 1);
    if (b + 8 <= size) {
        if (b + 12 <= size && Tag(d + b, "RIFF") && Tag(d + b + 8, "DLS ")) {
            size_t n = Le32(d + b + 4);
            if (n > size - b - 8) {
                why = "instrument bank runs past the end of the file";
                return false;
            }
            out.bankOffset = b;
            out.bankSize = 8 + n;
        } else if (Tag(d + b, "MLS ")) {
            size_t n = Be32(d + b + 4);
            out.bankOffset = b;
            out.bankSize = 8 + std::min(n, size - b - 8);
            out.compressedBank = true;
        }
    }
    return true;
}

bool ReadXmi(const uint8_t* d, size_t size, int32_t index, MidiPiece& out, std::string& why)
{
    XmiParts parts;
    if (!SplitXmi(d, size, parts, why))
        return false;
    if (index < 0 || static_cast<size_t>(index) >= parts.events.size()) {
        why = "XMIDI file of " + std::to_string(parts.events.size()) + " sequences has no sequence " +
              std::to_string(index);
        return false;
    }
    auto [at, n] = parts.events[static_cast<size_t>(index)];
    if (n >= 4 && Tag(d + at, "MThd"))
        return ReadMidi(d + at, n, out, why);
    return ReadEvents(d + at, n, out, why);
}

bool MidiToXmi(const uint8_t* midi, size_t size, std::vector<uint8_t>& out, std::string& why)
{
    MidiPiece piece;
    if (!ReadMidi(midi, size, piece, why))
        return false;
    auto intervals = [](double seconds) { return static_cast<uint64_t>(std::llround(seconds * kIntervalsPerSecond)); };
    uint64_t end = intervals(piece.length);
    if (end > kMaxIntervals) {
        why = "MIDI piece longer than a day";
        return false;
    }
    struct Out {
        uint64_t tick;
        MidiEvent e;
        uint32_t duration;
    };
    std::vector<Out> events;
    events.reserve(piece.events.size());
    // Note-offs end the earliest note of their key still sounding.
    std::vector<std::deque<size_t>> open(16 * 128);
    std::vector<uint8_t> timbres;
    uint8_t bank[16] = {};
    for (const MidiEvent& e : piece.events) {
        uint64_t tick = intervals(e.seconds);
        size_t key = static_cast<size_t>((e.status & 0x0F) * 128 + e.data1);
        switch (e.status & 0xF0) {
        case 0x80:
            if (!open[key].empty()) {
                Out& on = events[open[key].front()];
                on.duration = static_cast<uint32_t>(std::min<uint64_t>(tick - on.tick, kMaxDuration));
                open[key].pop_front();
            }
            continue;
        case 0x90:
            open[key].push_back(events.size());
            break;
        case 0xB0:
            if (e.data1 == 0)
                bank[e.status & 0x0F] = e.data2;
            break;
        case 0xC0: {
            uint8_t b = bank[e.status & 0x0F];
            bool known = false;
            for (size_t i = 0; i < timbres.size() && !known; i += 2)
                known = timbres[i] == e.data1 && timbres[i + 1] == b;
            if (!known)
                timbres.insert(timbres.end(), {e.data1, b});
            break;
        }
        default:
            break;
        }
        events.push_back(Out{tick, e, 0});
    }
    for (const auto& keys : open)
        for (size_t i : keys)
            events[i].duration = static_cast<uint32_t>(std::min<uint64_t>(end - events[i].tick, kMaxDuration));

    std::vector<uint8_t> evnt;
    uint64_t now = 0;
    for (const Out& o : events) {
        PutDelay(evnt, o.tick - now);
        now = o.tick;
        evnt.push_back(o.e.status);
        evnt.push_back(o.e.data1);
        if ((o.e.status & 0xE0) != 0xC0)
            evnt.push_back(o.e.data2);
        if ((o.e.status & 0xF0) == 0x90)
            PutVlq(evnt, o.duration);
    }
    PutDelay(evnt, end - now);
    evnt.insert(evnt.end(), {0xFF, 0x2F, 0x00});

    std::vector<uint8_t> form;
    PutTag(form, "XMID");
    if (!timbres.empty()) {
        std::vector<uint8_t> timb;
        PutLe16(timb, static_cast<uint16_t>(timbres.size() / 2));
        timb.insert(timb.end(), timbres.begin(), timbres.end());
        PutChunk(form, "TIMB", timb);
    }
    PutChunk(form, "EVNT", evnt);
    std::vector<uint8_t> cat, info, dir;
    PutTag(cat, "XMID");
    PutChunk(cat, "FORM", form);
    PutTag(dir, "XDIR");
    PutLe16(info, 1);
    PutChunk(dir, "INFO", info);
    out.clear();
    PutChunk(out, "FORM", dir);
    PutChunk(out, "CAT ", cat);
    return true;
}

} // namespace tvsnd
