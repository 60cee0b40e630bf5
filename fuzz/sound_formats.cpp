// Fuzz target: the sound back end's readers of outside input. The bytes are
// typed (file sniffing), read as a WAV header and decoded as WAV, read as a
// standard MIDI file and converted to XMIDI (whose result must read back),
// and split as an XMIDI file with each of its sequences read in turn, as the
// back end does with files the application names.
#include "sndformat.h"

#include <string>

namespace
{

void CheckOrder(const tvsnd::MidiPiece& piece)
{
    for (size_t i = 1; i < piece.events.size(); ++i)
        if (piece.events[i].seconds < piece.events[i - 1].seconds)
            __builtin_trap(); // events come in time order
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string why;
    tvsnd::SniffFileType(data, size);
    SAilSoundInfo info{};
    if (tvsnd::ReadWavInfo(data, size, info, why) && info.dataOffset + info.dataSize > size)
        __builtin_trap(); // the reported data must lie inside the image
    tvsnd::Pcm pcm;
    if (size < 16384 && tvsnd::DecodeWav(data, size, pcm, why) && pcm.Frames() < 100000) {
        tvsnd::Pcm converted;
        tvsnd::ConvertPcm(pcm, 22050, 2, converted, why);
    }
    tvsnd::MidiPiece piece;
    if (tvsnd::ReadMidi(data, size, piece, why)) {
        CheckOrder(piece);
        std::vector<uint8_t> xmi;
        if (tvsnd::MidiToXmi(data, size, xmi, why) && !tvsnd::ReadXmi(xmi.data(), xmi.size(), 0, piece, why))
            __builtin_trap(); // what the converter writes reads back
    }
    tvsnd::XmiParts parts;
    if (tvsnd::SplitXmi(data, size, parts, why)) {
        if (parts.xmiSize > size || parts.bankOffset + parts.bankSize > size)
            __builtin_trap();
        for (size_t i = 0; i < parts.events.size(); ++i) {
            if (parts.events[i].first + parts.events[i].second > size)
                __builtin_trap();
            if (tvsnd::ReadXmi(data, size, static_cast<int32_t>(i), piece, why))
                CheckOrder(piece);
        }
    }
    return 0;
}
