"""Signal pieces of the development corpus: labels, levels, noises, tones.

All signals are float arrays at WORK_RATE with full scale 1.0. Levels are in
dB relative to full scale (dBFS) as mean power: a full-scale square wave is
0 dBFS, a full-scale sine -3 dBFS.
"""
import numpy as np

WORK_RATE = 16000
FRAME = WORK_RATE // 100          # one 10 ms label frame
ACTIVE_RANGE_DB = 40.0            # frames this far below the loudest count for the active level
LABEL_THRESHOLD_DB = -30.0        # a frame is speech above active level + this
LABEL_GAP_FRAMES = 15             # gaps shorter than 150 ms inside speech are closed
LABEL_MIN_RUN_FRAMES = 2          # speech runs shorter than 20 ms are dropped

DTMF_LOW = {"1": 697, "2": 697, "3": 697, "A": 697, "4": 770, "5": 770, "6": 770,
            "B": 770, "7": 852, "8": 852, "9": 852, "C": 852, "*": 941, "0": 941,
            "#": 941, "D": 941}
DTMF_HIGH = {"1": 1209, "4": 1209, "7": 1209, "*": 1209, "2": 1336, "5": 1336,
             "8": 1336, "0": 1336, "3": 1477, "6": 1477, "9": 1477, "#": 1477,
             "A": 1633, "B": 1633, "C": 1633, "D": 1633}


LABEL_FLOOR_MARGIN_DB = 12   # speech lies this far above a recording's own noise floor


def db_to_power(db):
    return 10.0 ** (db / 10.0)


def frame_power(x):
    """Mean power of each whole 10 ms frame."""
    n = len(x) // FRAME
    return (x[:n * FRAME].astype(np.float64).reshape(n, FRAME) ** 2).mean(axis=1)


def active_power(x):
    """Mean power of the frames within ACTIVE_RANGE_DB of the loudest frame."""
    p = frame_power(x)
    if p.size == 0 or p.max() <= 0:
        return 0.0
    return float(p[p > p.max() * db_to_power(-ACTIVE_RANGE_DB)].mean())


def runs(flags):
    """(start, end) index pairs of the runs of True in a boolean array."""
    padded = np.concatenate(([False], flags, [False]))
    edges = np.flatnonzero(padded[1:] != padded[:-1])
    return list(zip(edges[0::2], edges[1::2]))


def recorded_floor(clean):
    """Noise-floor power of recorded speech: the 10th percentile of its non-zero frame powers."""
    p = frame_power(clean)
    p = p[p > 0]
    return float(np.percentile(p, 10)) if p.size else 0.0


def speech_labels(clean, floor_power=0.0):
    """10 ms speech flags of a clean speech track (digital zero between talk).

    A frame is speech when its power is above the track's active level plus
    LABEL_THRESHOLD_DB; gaps shorter than LABEL_GAP_FRAMES between speech
    frames are closed (stop closures and short breaks inside a word or
    phrase) and runs shorter than LABEL_MIN_RUN_FRAMES dropped. Recorded
    speech carries its own noise floor (floor_power): a frame must besides
    lie LABEL_FLOOR_MARGIN_DB above it.
    """
    p = frame_power(clean)
    level = active_power(clean)
    flags = p > level * db_to_power(LABEL_THRESHOLD_DB) if level > 0 else p > 1.0
    flags &= p > floor_power * db_to_power(LABEL_FLOOR_MARGIN_DB)
    found = runs(flags)
    for (s0, e0), (s1, _) in zip(found, found[1:]):
        if s1 - e0 < LABEL_GAP_FRAMES:
            flags[e0:s1] = True
    for s, e in runs(flags):
        if e - s < LABEL_MIN_RUN_FRAMES:
            flags[s:e] = False
    return flags


def trim_to_speech(x, margin_frames=5):
    """The labelled part of a clip with a margin, faded in and out over 10 ms."""
    flags = speech_labels(x)
    idx = np.flatnonzero(flags)
    if idx.size == 0:
        return x
    a = max(0, (idx[0] - margin_frames) * FRAME)
    b = min(len(x), (idx[-1] + 1 + margin_frames) * FRAME)
    y = x[a:b].copy()
    ramp = np.linspace(0.0, 1.0, FRAME)
    y[:FRAME] *= ramp
    y[-FRAME:] *= ramp[::-1]
    return y


def brown(rng, n):
    """Gaussian noise with a 1/f^2 power spectrum (leaky integral of white noise)."""
    y = np.cumsum(rng.standard_normal(n))
    y -= np.convolve(y, np.ones(801) / 801, mode="same")   # removes the drift below ~20 Hz
    return y / np.sqrt(np.mean(y ** 2))


def white(rng, n):
    return rng.standard_normal(n)


def pink(rng, n):
    """Gaussian noise with a 1/f power spectrum (shaped in the frequency domain)."""
    spec = np.fft.rfft(rng.standard_normal(n))
    f = np.arange(spec.size, dtype=np.float64)
    f[0] = 1.0
    spec /= np.sqrt(f)
    y = np.fft.irfft(spec, n)
    return y / np.sqrt(np.mean(y ** 2))


def hum(n, rng):
    """Mains hum: 50 Hz with its odd harmonics, random phases."""
    t = np.arange(n) / WORK_RATE
    y = np.zeros(n)
    for harmonic, gain in ((1, 1.0), (3, 0.5), (5, 0.25)):
        y += gain * np.sin(2 * np.pi * 50 * harmonic * t + rng.uniform(0, 2 * np.pi))
    return y


def tone(freqs, seconds, amplitude):
    """Sum of sines with 5 ms ramps; amplitude is each sine's peak."""
    n = int(seconds * WORK_RATE)
    t = np.arange(n) / WORK_RATE
    y = sum(amplitude * np.sin(2 * np.pi * f * t) for f in freqs)
    ramp = np.minimum(1.0, np.minimum(np.arange(n), np.arange(n)[::-1]) / (0.005 * WORK_RATE))
    return y * ramp


def dtmf_sequence(rng, keys):
    """Keypad tones (70 to 200 ms) with gaps of 50 to 300 ms, each tone at -20 to -8 dBFS."""
    parts = []
    for key in keys:
        amplitude = np.sqrt(db_to_power(rng.uniform(-20, -8)))   # two sines, each at half the power
        parts.append(tone((DTMF_LOW[key], DTMF_HIGH[key]), rng.uniform(0.07, 0.2), amplitude))
        parts.append(np.zeros(int(rng.uniform(0.05, 0.3) * WORK_RATE)))
    return np.concatenate(parts)


def chords(rng, seconds):
    """Music-like chords: three or four harmonic notes (six partials each) that change every 0.3 to 1.2 s."""
    out = np.zeros(int(seconds * WORK_RATE))
    pos = 0
    while pos < out.size:
        dur = int(rng.uniform(0.3, 1.2) * WORK_RATE)
        root = 110.0 * 2 ** (rng.integers(0, 24) / 12)
        steps = [0, 4, 7, 12] if rng.random() < 0.5 else [0, 3, 7]
        t = np.arange(dur) / WORK_RATE
        note = np.zeros(dur)
        for step in steps:
            f0 = root * 2 ** (step / 12)
            for k in range(1, 7):
                if f0 * k < WORK_RATE / 2:
                    note += np.sin(2 * np.pi * f0 * k * t) / k
        envelope = np.exp(-t * rng.uniform(0.5, 3.0)) * np.minimum(1.0, t / 0.01)
        end = min(out.size, pos + dur)
        out[pos:end] += (note * envelope)[:end - pos]
        pos += int(dur * rng.uniform(0.8, 1.0))
    return out


def scale_to_level(x, level_dbfs, power=None):
    """x scaled so that its active level (or the given power) becomes level_dbfs."""
    p = active_power(x) if power is None else power
    return x if p <= 0 else x * np.sqrt(db_to_power(level_dbfs) / p)
