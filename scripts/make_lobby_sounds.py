#!/usr/bin/python3
"""Writes the lobby client's three short sound effects (data/lobby/sounds/):
a rising pair of notes for a player joining, a falling pair for one leaving,
and a soft click for a chat line. 22050 Hz, 16-bit mono WAV."""
import math
import os
import struct
import wave

RATE = 22050


def tone(freqs, note_s, volume):
    out = []
    for f in freqs:
        n = int(RATE * note_s)
        for i in range(n):
            env = min(1.0, i / 200.0) * (1.0 - i / n) ** 2
            out.append(volume * env * math.sin(2 * math.pi * f * i / RATE))
    return out


def write(name, samples):
    folder = os.path.join(os.path.dirname(__file__), "..", "data", "lobby", "sounds")
    os.makedirs(folder, exist_ok=True)
    with wave.open(os.path.join(folder, name), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", int(s * 32767)) for s in samples))


write("join.wav", tone([660, 880], 0.09, 0.5))
write("leave.wav", tone([880, 587], 0.09, 0.5))
write("message.wav", tone([1320], 0.05, 0.35))
