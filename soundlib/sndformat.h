// The back end's readers of outside input: file-type sniffing, WAV images
// (through SDL's WAV loader, which also expands IMA ADPCM), standard MIDI
// files, and extended MIDI (XMIDI) files with their instrument bank parts. They
// take a pointer and a size and never read past them; the fuzz target drives
// them directly.
#pragma once

#include <tarvex/soundapi.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tvsnd
{

// The AILFILETYPE_* of an image.
int32_t SniffFileType(const uint8_t* data, size_t size);

// Header facts of a WAV image; false with a reason when it is no WAV.
bool ReadWavInfo(const uint8_t* data, size_t size, SAilSoundInfo& info, std::string& why);

// Decoded PCM: interleaved signed 16-bit frames.
struct Pcm {
    int32_t rate = 0;
    int32_t channels = 0;
    std::vector<int16_t> samples; // frames * channels
    size_t Frames() const { return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0; }
};

// Decodes a WAV image (PCM of any width, float, IMA or MS ADPCM) to 16-bit
// PCM with at most two channels. False with a reason for damaged files.
bool DecodeWav(const uint8_t* data, size_t size, Pcm& out, std::string& why);
// Converts PCM to another rate (and to at most 'channels' channels).
bool ConvertPcm(const Pcm& in, int32_t rate, int32_t channels, Pcm& out, std::string& why);
// A 16-bit PCM WAV file image of pcm.
std::vector<uint8_t> WriteWav(const Pcm& pcm);

// Byte readers and writers shared by the file readers.
inline uint32_t Le32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Be32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
inline uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
bool Tag(const uint8_t* p, const char* tag);
void PutTag(std::vector<uint8_t>& v, const char* tag);
void PutBe32(std::vector<uint8_t>& v, uint32_t x);
void PutLe16(std::vector<uint8_t>& v, uint16_t x);
// A MIDI variable-length number (at most four bytes) from [at, end); false
// when it runs past the end or is longer.
bool ReadVlq(const uint8_t* d, size_t end, size_t& at, uint32_t& value);
void PutVlq(std::vector<uint8_t>& v, uint32_t x);

// Markers of an extended MIDI piece's loops, carried in MidiEvent::status
// (below 0x80, so never a channel message): the loop start with its pass
// count in data1 (0 = endless), and the loop end with its controller value
// in data1 (64 and above: go back to the start; below: leave the loop).
constexpr uint8_t kLoopStart = 0x01;
constexpr uint8_t kLoopEnd = 0x02;

// One event of a MIDI piece at its time from the start: a channel message
// or a loop marker. A note-on with a duration (extended MIDI) carries its
// own end; one without ends at a note-off of its key.
struct MidiEvent {
    double seconds;
    uint8_t status; // 0x80..0xEF, or a loop marker
    uint8_t data1;
    uint8_t data2;
    double duration = -1; // seconds a note-on of extended MIDI lasts; -1: until its note-off
};
// The most events a piece may hold (a bound on what a file can claim).
constexpr size_t kMaxMidiEvents = 1u << 21;
struct MidiPiece {
    std::vector<MidiEvent> events; // in time order
    double length = 0;             // seconds to the last track end
};
// Reads a standard MIDI file (formats 0 and 1; format 2 plays its tracks one
// after another is not supported and is refused). A note-on of velocity 0
// comes out as a note-off.
bool ReadMidi(const uint8_t* data, size_t size, MidiPiece& out, std::string& why);

// Extended MIDI (XMIDI) files: IFF chunks with big-endian lengths, padded to
// even sizes. "FORM" <len> "XDIR" with an "INFO" chunk (the number of
// sequences, 16-bit little-endian), then "CAT " <len> "XMID" holding one
// "FORM" <len> "XMID" per sequence, each with optional "TIMB" and "RBRN"
// chunks and its "EVNT" chunk; a file of one sequence may also be a bare
// "FORM" <len> "XMID". An instrument bank may follow: a DLS bank ("RIFF"
// <len> "DLS ") or a compressed bank ("MLS " chunk, which this back end
// cannot read).
struct XmiParts {
    std::vector<std::pair<size_t, size_t>> events; // offset and size of each sequence's EVNT data
    size_t xmiSize = 0;                            // the XMIDI part without the bank
    size_t bankOffset = 0, bankSize = 0;           // 0 size when there is no bank
    bool compressedBank = false;
};
bool SplitXmi(const uint8_t* data, size_t size, XmiParts& out, std::string& why);
// Reads sequence index of an extended MIDI file. An EVNT chunk that holds a
// standard MIDI file (the form this back end wrote before) is read as one.
bool ReadXmi(const uint8_t* data, size_t size, int32_t index, MidiPiece& out, std::string& why);
// Converts a standard MIDI file to a one-sequence extended MIDI file.
bool MidiToXmi(const uint8_t* midi, size_t size, std::vector<uint8_t>& out, std::string& why);

} // namespace tvsnd
