"""Speech for the audio engines' tests: espeak-ng sentences rendered to 16 kHz mono.

espeak-ng speaks with a fixed voice, speed, pitch and amplitude (its output carries no randomness),
ffmpeg resamples to 16 kHz on one thread, and a fixed stretch of digital silence is added before
and after, so the same text gives the same samples on every run. Each sentence is written twice,
holding the same samples: NAME.wav (16-bit PCM, 16 kHz, mono) and NAME.f32 (raw little-endian
float32, the 16-bit samples / 32768)."""

import os
import subprocess
import tempfile

import numpy as np

RATE = 16000
VOICE = ("-v", "en-us", "-s", "150", "-p", "50", "-a", "100")
SILENCE = 0.5   # seconds of digital silence before and after the speech

# Name -> text. Sentences with pauses, so that the mouth is seen to close between phrases; the
# story is long enough (about 10 s) for several motion chunks to run before the end of the audio.
SENTENCES = {
    "fox": "The quick brown fox jumps over the lazy dog. Then it rests.",
    "counting": "One. Two. Three.",
    "story": "Once upon a time, a small robot lived by the sea. Every morning it counted the "
             "waves, one, two, three, and wrote the numbers in the sand. Then the tide came in.",
}


def render(text):
    """The sentence's 16 kHz mono samples as int16 (silence added)."""
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, "speech.wav")
        subprocess.run(["espeak-ng", *VOICE, "-w", wav, text], check=True, capture_output=True)
        raw = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-threads", "1", "-i", wav,
                              "-ar", str(RATE), "-ac", "1", "-f", "s16le", "-"],
                             check=True, capture_output=True).stdout
    pad = np.zeros(int(SILENCE * RATE), np.int16)
    return np.concatenate([pad, np.frombuffer(raw, dtype="<i2"), pad])


def write_wav(path, pcm):
    """16-bit PCM mono WAV at RATE."""
    data = np.asarray(pcm, dtype="<i2").tobytes()
    header = b"".join([
        b"RIFF", (36 + len(data)).to_bytes(4, "little"), b"WAVE",
        b"fmt ", (16).to_bytes(4, "little"), (1).to_bytes(2, "little"), (1).to_bytes(2, "little"),
        RATE.to_bytes(4, "little"), (RATE * 2).to_bytes(4, "little"), (2).to_bytes(2, "little"),
        (16).to_bytes(2, "little"),
        b"data", len(data).to_bytes(4, "little")])
    with open(path, "wb") as f:
        f.write(header + data)


def as_float(pcm):
    return (np.asarray(pcm, dtype=np.float32) / 32768.0).astype("<f4")


def write_all(out):
    """Writes every sentence into out as NAME.wav and NAME.f32; returns name -> float samples."""
    os.makedirs(out, exist_ok=True)
    samples = {}
    for name, text in SENTENCES.items():
        pcm = render(text)
        write_wav(os.path.join(out, name + ".wav"), pcm)
        samples[name] = as_float(pcm)
        samples[name].tofile(os.path.join(out, name + ".f32"))
    return samples


def load(path):
    """Samples of a NAME.f32 or 16-bit mono NAME.wav file as float32."""
    if path.endswith(".f32"):
        return np.fromfile(path, dtype="<f4")
    with open(path, "rb") as f:
        blob = f.read()
    at = blob.find(b"data")
    if blob[:4] != b"RIFF" or at < 0:
        raise ValueError("%s: not a 16-bit PCM WAV file" % path)
    size = int.from_bytes(blob[at + 4:at + 8], "little")
    return as_float(np.frombuffer(blob[at + 8:at + 8 + size], dtype="<i2"))
