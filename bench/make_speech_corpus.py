#!/usr/bin/env python3
"""Labelled speech recordings for bench_speech_rooms, made from the synthesizer libraries that are
on the machine: espeak-ng (several variants, speeds and pitches) and, when present, Flite's US
voices (another engine's voices, of another kind: diphone and statistical).

  bench/make_speech_corpus.py OUT

writes, for each voice, one recording of the 13 commands (the three example phrases and the ten
digits) with pauses between them:
  OUT/clean/VOICE.wav    as spoken
  OUT/snr20/VOICE.wav    steady noise over the whole recording, 20 dB below the speech
  OUT/snr10/VOICE.wav    the same at 10 dB
  OUT/oog/VOICE.wav      12 phrases that are not commands
  OUT/oog20/VOICE.wav    the same under the voice's steady noise, 20 dB below the speech
  OUT/nonspeech/*.wav    tones, noise bursts, rumble, chirps, clicks (quiet and over a fan)
and OUT/labels.txt: one line per utterance, "FILE END_S WORDS", END_S the end of its speech in
seconds, WORDS the command, or "-" for an utterance that must be rejected.

Only the standard library: the synthesizers are reached through ctypes, noise is made here.
"""
import ctypes
import math
import os
import random
import struct
import sys
import wave

RATE = 16000
COMMANDS = ["lights on", "lights off", "open the door", "zero", "one", "two", "three", "four", "five",
            "six", "seven", "eight", "nine"]
NOT_COMMANDS = ["close the door", "lights out", "turn the music up", "what time is it", "good morning",
                "open the window", "call my mother", "thank you very much", "where are my keys",
                "the weather is nice today", "play some jazz", "hello there"]
LEAD_S, PAUSE_S = 1.0, 0.8

# --- synthesizers -------------------------------------------------------------------------------

LIB = "/usr/lib/x86_64-linux-gnu/"


class Espeak:
    CB = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ctypes.c_short), ctypes.c_int, ctypes.c_void_p)

    def __init__(self):
        self.lib = ctypes.CDLL(LIB + "libespeak-ng.so.1")
        self.rate = self.lib.espeak_Initialize(2, 0, None, 0x8000)  # synchronous, don't exit
        if self.rate <= 0:
            raise RuntimeError("espeak-ng did not start")
        self.out = []

        def collect(wav, n, _events):
            if wav and n > 0:
                self.out.extend(wav[:n])
            return 0

        self.cb = Espeak.CB(collect)
        self.lib.espeak_SetSynthCallback(self.cb)

    def say(self, voice, text, speed, pitch):
        if self.lib.espeak_SetVoiceByName(voice.encode()) != 0:
            raise RuntimeError("espeak-ng has no voice " + voice)
        self.lib.espeak_SetParameter(1, speed, 0)  # rate, words per minute
        self.lib.espeak_SetParameter(3, pitch, 0)  # pitch 0..100
        self.out = []
        t = text.encode()
        self.lib.espeak_Synth(t, len(t) + 1, 0, 1, 0, 0, None, None)
        return resample(self.out, self.rate, RATE)


class CstWave(ctypes.Structure):
    _fields_ = [("type", ctypes.c_char_p), ("sample_rate", ctypes.c_int), ("num_samples", ctypes.c_int),
                ("num_channels", ctypes.c_int), ("samples", ctypes.POINTER(ctypes.c_short))]


class Flite:
    def __init__(self):
        for dep in ("libflite.so.1", "libflite_usenglish.so.1", "libflite_cmulex.so.1"):
            ctypes.CDLL(LIB + dep, mode=ctypes.RTLD_GLOBAL)
        self.lib = ctypes.CDLL(LIB + "libflite.so.1")
        self.lib.flite_init()
        self.lib.flite_text_to_wave.restype = ctypes.POINTER(CstWave)
        self.voices = {}

    def say(self, voice, text):
        if voice not in self.voices:
            v = ctypes.CDLL(LIB + "libflite_cmu_us_%s.so.1" % voice)
            reg = getattr(v, "register_cmu_us_" + voice)
            reg.restype = ctypes.c_void_p
            self.voices[voice] = reg(None)
        w = self.lib.flite_text_to_wave(text.encode(), ctypes.c_void_p(self.voices[voice])).contents
        return resample(w.samples[:w.num_samples], w.sample_rate, RATE)


def resample(s, rate, to):
    if rate == to or not s:
        return list(s)
    n = int(len(s) * to / rate)
    out = []
    for i in range(n):
        x = i * rate / to
        j = int(x)
        f = x - j
        a = s[j]
        b = s[j + 1] if j + 1 < len(s) else a
        out.append(int(a + (b - a) * f))
    return out


# --- noise --------------------------------------------------------------------------------------

def fan(n, rng):
    """Broadband steady noise, falling with frequency (a fan, a computer)."""
    out, y = [], 0.0
    for _ in range(n):
        y = 0.7 * y + rng.gauss(0, 1)
        out.append(y)
    return out


def hum(n, rng):
    """Mains hum with its harmonics under a hiss (a computer, a fridge)."""
    return [0.6 * math.sin(2 * math.pi * 50 * i / RATE) + 0.3 * math.sin(2 * math.pi * 150 * i / RATE)
            + 0.25 * rng.gauss(0, 1) for i in range(n)]


def street(n, rng):
    """Low rumble with slow swells (traffic)."""
    out, y, z = [], 0.0, 0.0
    for i in range(n):
        y = 0.98 * y + rng.gauss(0, 1)
        z = 0.5 * z + rng.gauss(0, 1)
        out.append(y * (1 + 0.3 * math.sin(2 * math.pi * 0.3 * i / RATE)) + 0.5 * z)
    return out


NOISES = [fan, hum, street]


def power(s):
    return sum(v * v for v in s) / max(1, len(s))


def mix(speech, spans, noise, snr_db):
    """speech with noise at snr_db below the speech's power (measured over its utterances)."""
    sp = sum(power(speech[a:b]) * (b - a) for a, b in spans) / sum(b - a for a, b in spans)
    gain = math.sqrt(sp / (power(noise) * 10 ** (snr_db / 10)))
    return [max(-32768, min(32767, int(s + gain * v))) for s, v in zip(speech, noise)]


def write(path, samples):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(struct.pack("<%dh" % len(samples), *[max(-32768, min(32767, int(v))) for v in samples]))


def trimmed(s):
    loud = [i for i, v in enumerate(s) if abs(v) > 300]
    return s[max(0, loud[0] - 160):loud[-1] + 160] if loud else s


def recording(clips, rng):
    """The clips one after another with pauses; the clips' spans (start, end of speech)."""
    out = [rng.randint(-2, 2) for _ in range(int(LEAD_S * RATE))]
    spans = []
    for c in clips:
        c = trimmed(c)
        spans.append((len(out), len(out) + len(c)))
        out.extend(c)
        out.extend(rng.randint(-2, 2) for _ in range(int(PAUSE_S * RATE)))
    out.extend(rng.randint(-2, 2) for _ in range(int(PAUSE_S * RATE)))
    return out, spans


# --- non-speech ---------------------------------------------------------------------------------

def sounds(rng):
    def tone(f, s, a=8000):
        return [a * math.sin(2 * math.pi * f * i / RATE) for i in range(int(s * RATE))]

    def burst(s, a=6000):
        return [rng.gauss(0, a) for _ in range(int(s * RATE))]

    def rumble(s, a=9000):
        out, y = [], 0.0
        for _ in range(int(s * RATE)):
            y = 0.995 * y + rng.gauss(0, 1)
            out.append(y)
        g = a / math.sqrt(power(out))
        return [g * v for v in out]

    def chirp(f0, f1, s, a=8000):
        n = int(s * RATE)
        return [a * math.sin(2 * math.pi * (f0 * i / RATE + (f1 - f0) * i * i / (2 * n * RATE))) for i in range(n)]

    def clicks(k, a=20000):
        out = []
        for _ in range(k):
            out.extend([a * math.exp(-i / 30) * (1 if i % 2 else -1) for i in range(200)])
            out.extend([0] * 2400)
        return out

    def bell():
        return [v + w for v, w in zip(tone(660, 0.5, 5000) + tone(550, 0.6, 5000), tone(1320, 1.1, 1500))]

    return [("beep", tone(1000, 0.5)), ("burst", burst(0.4)), ("rumble", rumble(1.0)),
            ("chirp-up", chirp(200, 3000, 0.7)), ("chirp-down", chirp(2500, 300, 0.5)), ("clicks", clicks(4)),
            ("bell", bell()), ("long-burst", burst(1.2, 3000))]


# --- voices -------------------------------------------------------------------------------------

def voices(espeak, flite):
    v = [("espeak-us-m3", lambda t: espeak.say("en-us+m3", t, 175, 50)),
         ("espeak-us-f3", lambda t: espeak.say("en-us+f3", t, 175, 50)),
         ("espeak-m1-slow", lambda t: espeak.say("en+m1", t, 135, 40)),
         ("espeak-f2-fast", lambda t: espeak.say("en-us+f2", t, 210, 65)),
         ("espeak-klatt-low", lambda t: espeak.say("en-us+klatt", t, 160, 25)),
         ("espeak-Andy-high", lambda t: espeak.say("en-us+Andy", t, 180, 75))]
    if flite:
        for name in ("slt", "rms", "awb", "kal16"):
            v.append(("flite-" + name, lambda t, name=name: flite.say(name, t)))
    return v


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_speech_corpus.py OUT")
    out = sys.argv[1]
    rng = random.Random(25)
    espeak = Espeak()
    try:
        flite = Flite()
    except OSError as e:
        print("Flite's voices left out:", e, file=sys.stderr)
        flite = None
    labels = []

    def label(path, samples, spans, words):
        write(os.path.join(out, path), samples)
        for (a, b), w in zip(spans, words):
            labels.append("%s %.3f %s" % (path, b / RATE, w))

    for k, (name, say) in enumerate(voices(espeak, flite)):
        speech, spans = recording([say(t) for t in COMMANDS], rng)
        label("clean/%s.wav" % name, speech, spans, COMMANDS)
        noise = NOISES[k % len(NOISES)](len(speech), rng)
        label("snr20/%s.wav" % name, mix(speech, spans, noise, 20), spans, COMMANDS)
        label("snr10/%s.wav" % name, mix(speech, spans, noise, 10), spans, COMMANDS)
        other, ospans = recording([say(t) for t in NOT_COMMANDS], rng)
        label("oog/%s.wav" % name, other, ospans, ["-"] * len(NOT_COMMANDS))
        # A generator of its own, so that the recordings above stay as they were.
        extra = random.Random(2500 + k)
        onoise = NOISES[k % len(NOISES)](len(other), extra)
        label("oog20/%s.wav" % name, mix(other, ospans, onoise, 20), ospans, ["-"] * len(NOT_COMMANDS))
        print(name, file=sys.stderr)

    made = sounds(rng)
    quiet, spans = recording([s for _, s in made], rng)
    label("nonspeech/sounds.wav", quiet, spans, ["-"] * len(made))
    noisy = mix(quiet, spans, fan(len(quiet), rng), 20)
    label("nonspeech/sounds-fan.wav", noisy, spans, ["-"] * len(made))

    with open(os.path.join(out, "labels.txt"), "w") as f:
        f.write("\n".join(labels) + "\n")


if __name__ == "__main__":
    main()
