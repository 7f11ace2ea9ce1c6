#!/usr/bin/env python3
"""The phone example's sounds, spoken by espeak-ng and kept as small files in this folder.

greeting.wav  what Callwatch plays to a caller before it records the message
caller.wav    what the caller of the demo says after the greeting

Both are 8000 Hz, 16-bit, mono RIFF WAVE, the format of Callwatch's messages. Run once after
changing a text; the files are in the repository, so building needs neither espeak-ng nor this.
Standard library only, apart from the espeak-ng program.
"""
import io
import os
import subprocess
import sys
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
RATE = 8000
SOUNDS = {
    "greeting.wav": ("en-us", "Please leave a message after the tone."),
    "caller.wav": ("en", "Hello, this is Vud Verod. Please call me back."),
}


def speak(voice, text):
    """espeak-ng's samples (16-bit mono at its own rate) and that rate."""
    out = subprocess.run(["espeak-ng", "-v", voice, "-s", "150", "--stdout", text],
                         check=True, capture_output=True).stdout
    with wave.open(io.BytesIO(out)) as w:
        if w.getsampwidth() != 2 or w.getnchannels() != 1:
            sys.exit("espeak-ng gave an unexpected format")
        rate = w.getframerate()
        frames = w.readframes(w.getnframes())
    samples = [int.from_bytes(frames[i:i + 2], "little", signed=True)
               for i in range(0, len(frames) - 1, 2)]
    return samples, rate


def resample(samples, rate):
    """To 8000 Hz by averaging each output sample's span of input (a plain low-pass)."""
    out = []
    step = rate / RATE
    n = int(len(samples) / step)
    for k in range(n):
        a, b = int(k * step), max(int((k + 1) * step), int(k * step) + 1)
        span = samples[a:b]
        out.append(int(sum(span) / len(span)))
    return out


def tone(ms, hz=1000, level=6000):
    """The beep after the greeting."""
    import math
    return [int(level * math.sin(2 * math.pi * hz * i / RATE)) for i in range(RATE * ms // 1000)]


def write(name, samples):
    with wave.open(os.path.join(HERE, name), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(max(-32768, min(32767, s)).to_bytes(2, "little", signed=True)
                               for s in samples))


def main():
    for name, (voice, text) in SOUNDS.items():
        samples = resample(*speak(voice, text))
        if name == "greeting.wav":
            samples += [0] * (RATE // 5) + tone(250)
        write(name, samples)
        print(f"{name}: {len(samples) / RATE:.2f} s")


if __name__ == "__main__":
    main()
