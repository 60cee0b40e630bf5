// The back end's readers of outside input: file-type sniffing, WAV images
// (through SDL's WAV loader, which also expands IMA ADPCM), standard MIDI
// files, and the extended MIDI container with its instrument bank parts. They
// take a pointer and a size and never read past them; the fuzz target drives
// them directly.
#pragma once

#include <tarvex/soundapi.h>

#include <cstddef>
#include <cstdint>
#include <string>
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

// One channel message of a MIDI piece at its time from the start.
struct MidiEvent {
    double seconds;
    uint8_t status; // 0x80..0xEF
    uint8_t data1;
    uint8_t data2;
};
struct MidiPiece {
    std::vector<MidiEvent> events; // in time order
    double length = 0;             // seconds to the last track end
};
// Reads a standard MIDI file (formats 0 and 1; format 2 plays its tracks one
// after another is not supported and is refused).
bool ReadMidi(const uint8_t* data, size_t size, MidiPiece& out, std::string& why);

// The extended MIDI container: "FORM" <len> "XDIR" with an "INFO" chunk,
// then "CAT " <len> "XMID" holding "FORM" <len> "XMID" with the piece's
// standard MIDI data in its "EVNT" chunk. An instrument bank may follow the
// CAT chunk: a DLS bank ("RIFF" <len> "DLS ") or a compressed bank ("MLS "
// chunk, which this back end cannot read).
std::vector<uint8_t> WrapMidi(const uint8_t* midi, size_t size);
struct XmiParts {
    size_t evntOffset = 0, evntSize = 0; // the standard MIDI data
    size_t xmiSize = 0;                  // the container without the bank
    size_t bankOffset = 0, bankSize = 0; // 0 size when there is no bank
    bool compressedBank = false;
};
bool SplitXmi(const uint8_t* data, size_t size, XmiParts& out, std::string& why);

} // namespace tvsnd
