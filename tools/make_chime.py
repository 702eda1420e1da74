#!/usr/bin/env python3
"""Writes res/mailnotify.wav, the plug-in's built-in notification sound.

A short two-note chime (a soft bell on E6, then one on B6 starting 0.18 s
later), each note a sine with a quieter octave partial and an exponential
decay. RIFF WAVE, PCM, 2 channels, 22050 samples per second, 16 bits, 0.9 s.
The first note leans a little to the left, the second to the right.

    tools/make_chime.py [OUTPUT]     (default: res/mailnotify.wav)
"""
import math
import struct
import sys
import wave
from pathlib import Path

RATE = 22050
SECONDS = 0.9
# (start in seconds, frequency in Hz, left gain, right gain)
NOTES = [(0.00, 1318.51, 1.0, 0.75), (0.18, 1975.53, 0.75, 1.0)]
DECAY = 5.5     # per second
ATTACK = 0.004  # seconds of fade-in, so the note starts without a click
PEAK = 0.42     # of full scale, per note


def sample(note_start, freq, t):
    dt = t - note_start
    if dt < 0:
        return 0.0
    envelope = math.exp(-DECAY * dt) * min(1.0, dt / ATTACK)
    tone = math.sin(2 * math.pi * freq * dt) + 0.3 * math.sin(4 * math.pi * freq * dt)
    return PEAK * envelope * tone / 1.3


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "res" / "mailnotify.wav"
    frames = int(RATE * SECONDS)
    fade_out = int(RATE * 0.05)
    data = bytearray()
    for i in range(frames):
        t = i / RATE
        left = right = 0.0
        for start, freq, gl, gr in NOTES:
            s = sample(start, freq, t)
            left += gl * s
            right += gr * s
        # The last 50 ms fade to silence so the sound ends without a click.
        tail = min(1.0, (frames - 1 - i) / fade_out)
        for v in (left * tail, right * tail):
            data += struct.pack("<h", max(-32767, min(32767, round(v * 32767))))
    with wave.open(str(out), "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(data))


if __name__ == "__main__":
    main()
