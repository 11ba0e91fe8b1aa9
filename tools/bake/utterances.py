"""Speech for the tests and the demo: a few sentences spoken by espeak-ng (fixed voice, speed,
pitch and amplitude; its output is the same bytes for a given espeak-ng version), resampled from
its 22050 Hz to 16 kHz mono and written three ways: NAME.wav (16-bit PCM), NAME.f32 (float32 in
-1..1) and NAME.s16 (raw int16), with the text in NAME.txt."""

import os
import subprocess
import wave

import numpy as np

RATE = 16000
VOICE = ("-v", "en-us", "-s", "150", "-p", "50", "-a", "100", "-g", "2")
SENTENCES = {
    "hello": "Hello there.",
    "fox": "The quick brown fox jumps over the lazy dog.",
    "long": ("Speech comes in, and the face answers it: every word opens the mouth, every pause "
             "closes it again. We count the frames, one every forty milliseconds, and the lips "
             "follow the voice from the first word to the last."),
}


def speak(text):
    """espeak-ng's waveform of text at 16 kHz, float64 in -1..1."""
    try:
        wav = subprocess.run(["espeak-ng", *VOICE, "--stdout", text], check=True,
                             capture_output=True).stdout
    except FileNotFoundError as e:
        raise RuntimeError("le-bake: espeak-ng is needed for the speech samples (scripts/setup "
                           "installs it)") from e
    # Written to a pipe, the WAV header carries placeholder lengths: the samples are whatever
    # follows the 44-byte header (16-bit mono), the rate is at byte 24.
    if wav[:4] != b"RIFF" or wav[36:40] != b"data":
        raise RuntimeError("le-bake: espeak-ng wrote no plain 16-bit WAV")
    rate = int.from_bytes(wav[24:28], "little")
    samples = np.frombuffer(wav[44:44 + (len(wav) - 44) // 2 * 2], dtype="<i2")
    return resample(samples / 32768.0, rate, RATE)


def resample(x, rate_in, rate_out):
    """Band-limited resampling through the spectrum (the signal is padded with silence so that the
    circular spectrum does not wrap its end onto its start)."""
    pad = rate_in // 10
    x = np.concatenate([x, np.zeros(pad)])
    n_out = int(round(len(x) * rate_out / rate_in))
    spectrum = np.fft.rfft(x)[:n_out // 2 + 1]
    y = np.fft.irfft(spectrum, n_out) * (n_out / len(x))
    return y[:int(round((len(x) - pad) * rate_out / rate_in))]


def write(out):
    """Writes every sentence into out (created if needed). Returns {name: samples (float32)}."""
    os.makedirs(out, exist_ok=True)
    spoken = {}
    for name, text in SENTENCES.items():
        y = np.clip(speak(text), -1.0, 1.0 - 1.0 / 32768).astype(np.float32)
        pcm = np.round(y * 32768.0).astype("<i2")
        y.astype("<f4").tofile(os.path.join(out, name + ".f32"))
        pcm.tofile(os.path.join(out, name + ".s16"))
        with wave.open(os.path.join(out, name + ".wav"), "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(RATE)
            w.writeframes(pcm.tobytes())
        with open(os.path.join(out, name + ".txt"), "w") as f:
            f.write(text + "\n")
        spoken[name] = y
    return spoken
