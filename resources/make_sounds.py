#!/usr/bin/python3
"""Writes the two alarm sounds, 44.1 kHz stereo 16-bit PCM WAV.

warning.wav: a slow 660/520 Hz two-tone chime, 0.8 s. crash.wav: a fast 880/1320 Hz
siren, 0.5 s. Clearly different by ear and by frequency (warning below 700 Hz, emergency
above 850 Hz), and no silence inside either, so a loop plays without gaps.
Run: /usr/bin/python3 resources/make_sounds.py
"""
import math
import os
import struct
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
RATE = 44100


def tone(freq, seconds, volume):
    n = int(RATE * seconds)
    fade = int(RATE * 0.005)  # 5 ms ramps: no clicks at the edges
    out = []
    for i in range(n):
        env = min(1.0, i / fade, (n - 1 - i) / fade)
        out.append(volume * env * math.sin(2 * math.pi * freq * i / RATE))
    return out


def write(name, samples):
    with wave.open(os.path.join(HERE, name), "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        frames = bytearray()
        for s in samples:
            v = int(max(-1.0, min(1.0, s)) * 32767)
            frames += struct.pack("<hh", v, v)
        w.writeframes(bytes(frames))


if __name__ == "__main__":
    write("warning.wav", tone(660, 0.4, 0.5) + tone(520, 0.4, 0.5))
    write("crash.wav", tone(880, 0.125, 0.7) + tone(1320, 0.125, 0.7) + tone(880, 0.125, 0.7)
          + tone(1320, 0.125, 0.7))
