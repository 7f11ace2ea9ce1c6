#!/usr/bin/env python3
"""Records commands.wav, the spoken input of speech.lwd: "three", "lights on" and "lights off",
spoken by JVoiceOutObj itself in its female voice (espeak-ng into numbered WAVE files), joined with 0.6 s of low noise
between them. Run from the repository root after a build: python3 examples/speech/make_data.py"""
import json
import os
import random
import subprocess
import sys
import tempfile
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
LOOMWORK = os.path.join(HERE, "..", "..", "build", "bin", "loomwork")
WORDS = ["three", "lights on", "lights off"]


def main():
    loomwork = sys.argv[1] if len(sys.argv) > 1 else LOOMWORK
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, "say.csv"), "w") as f:
            for i in range(len(WORDS)):
                f.write(f"{200 + 300 * i},0,{i}\n")
        diagram = {
            "loomwork": 1,
            "modules": [
                {"id": "on", "class": "Value", "rect": [0, 0, 80, 50], "content": {"value": 1, "type": "i"}},
                {"id": "player", "class": "Player", "rect": [0, 60, 80, 50],
                 "content": {"file": "say.csv", "outputs": "i"}},
                {"id": "tts", "class": "JVoiceOutObj", "rect": [100, 0, 80, 50],
                 "content": dict({f"phrase-{i}": w for i, w in enumerate(WORDS)}, isMale=0)},
            ],
            "links": [{"from": "on:0", "to": "tts:1"}, {"from": "player:0", "to": "tts:0"}],
        }
        with open(os.path.join(tmp, "say.lwd"), "w") as f:
            json.dump(diagram, f)
        out = os.path.join(tmp, "out")
        os.mkdir(out)
        env = dict(os.environ, LOOMWORK_SPEECH_OUTPUT=out)
        subprocess.run([loomwork, "run", os.path.join(tmp, "say.lwd"), "--seconds", "3"], env=env, check=True)
        rng = random.Random(11)
        gap = b"".join(rng.randint(-3, 3).to_bytes(2, "little", signed=True) for _ in range(16000 * 6 // 10))
        frames = gap  # a moment of noise first, as a microphone would give
        for i in range(len(WORDS)):
            with wave.open(os.path.join(out, f"{i + 1:04d}.wav")) as w:
                frames += gap + w.readframes(w.getnframes())
        frames += gap + gap
    with wave.open(os.path.join(HERE, "commands.wav"), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(16000)
        w.writeframes(frames)


if __name__ == "__main__":
    main()
