#!/usr/bin/python3
"""Builds the development corpus of kvd: labelled speech and non-speech recordings.

usage: eval/make_corpus.py [OUT_DIR] [--jobs N] [--voices synthetic|human]
                          (OUT_DIR defaults to eval/corpus)

--voices human builds the real-voice corpus of eval/human_corpus.py instead.

Writes OUT_DIR/audio/*.wav (16-bit PCM, 44-byte header, 8000 or 16000 Hz),
OUT_DIR/labels/*.lab (one line of 0/1 characters, one per 10 ms frame) and
OUT_DIR/manifest.tsv. Every recording draws from its own random generator
seeded with its number, and espeak-ng and sox (-R, no dither) are
deterministic, so a rebuild gives the same files. docs/evaluation.md
describes the design.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time
from multiprocessing import Pool

import numpy as np

import corpus_signals as sig
import corpus_text as text
import human_corpus as hc

SEED = 20261206
LEVELS = (-45, -36, -26, -16, -10)
NOISY = [f"{kind}{snr}" for kind in ("white", "pink", "brown", "babble") for snr in (20, 10, 5, 0)]
SPEECH_CONDITIONS = ["clean"] + NOISY + ["hum", "musicbed", "tel", "mulaw", "alaw", "gsm"]
CODECS = {"mulaw": "mu-law", "alaw": "a-law", "gsm": "gsm-full-rate"}
HUMAN_PER_COMBINATION = 2         # real-voice recordings per half, speech condition and level
PER_COMBINATION = 4               # recordings per speech condition and level
HUM_BELOW_SPEECH_DB = 6           # hum power relative to the speech's active level
MUSIC_BELOW_SPEECH_DB = 10        # music-bed power relative to the speech's active level
TONE_SPEECH_NOISE_SNR = 30        # pink background of the tone-before-speech recordings
BABBLE_TALKERS = 6
BABBLE_SECONDS = 90
NOISE_FLOOR_DBFS = -65            # background of the keypad-tone recordings
SPLITS = ("tune", "heldout")      # by recording number: even numbers tune, odd are held out


# ---------------------------------------------------------------- sources

_cache = {}


def sox_to_work_rate(args, stdin=None):
    """Runs sox with the given input side and returns mono float samples at WORK_RATE."""
    cmd = ["sox", "-R", "-D"] + args + ["-t", "raw", "-e", "float", "-b", "32", "-c", "1",
                                          "-r", str(sig.WORK_RATE), "-"]
    out = subprocess.run(cmd, input=stdin, capture_output=True, check=True).stdout
    return np.frombuffer(out, dtype=np.float32).astype(np.float64)


def espeak(voice, variant, pitch, speed, words):
    key = ("espeak", voice, variant, pitch, speed, words)
    if key not in _cache:
        wav = subprocess.run(["espeak-ng", "-v", f"{voice}+{variant}", "-p", str(pitch),
                              "-s", str(speed), "--stdout", words],
                             capture_output=True, check=True).stdout
        _cache[key] = sig.trim_to_speech(sox_to_work_rate(["-t", "wav", "-"], stdin=wav))
    return _cache[key]


def human_prompt(name, cents):
    key = ("human", name, cents)
    if key not in _cache:
        path = os.path.join(text.HUMAN_PROMPT_DIR, name + ".wav")
        effects = ["pitch", str(cents)] if cents else []
        cmd = ["sox", "-R", "-D", path, "-t", "raw", "-e", "float", "-b", "32", "-c", "1",
               "-r", str(sig.WORK_RATE), "-"] + effects
        out = subprocess.run(cmd, capture_output=True, check=True).stdout
        _cache[key] = sig.trim_to_speech(np.frombuffer(out, dtype=np.float32).astype(np.float64))
    return _cache[key]


_prompt_lists = {}


def prompt_names(lang):
    """The sorted prompt files of one language's speaker (top folder only)."""
    if lang not in _prompt_lists:
        folder = os.path.join(text.PROMPT_ROOT, text.PROMPT_SPEAKERS[lang])
        _prompt_lists[lang] = sorted(f[:-4] for f in os.listdir(folder) if f.endswith(".wav"))
    return _prompt_lists[lang]


def recorded_prompt(lang, name):
    key = ("prompt", lang, name)
    if key not in _cache:
        path = os.path.join(text.PROMPT_ROOT, text.PROMPT_SPEAKERS[lang], name + ".wav")
        _cache[key] = sig.trim_to_speech(sox_to_work_rate([path]))
    return _cache[key]


def pick(rng, items):
    return items[int(rng.integers(0, len(items)))]


def draw_talker(rng, split="tune"):
    """A talker of the given half: the held-out half has its own speakers and language."""
    r = rng.random()
    if r < 0.1:
        return {"kind": "human", "cents": int(pick(rng, [-300, 0, 0, 300]))}
    if r < 0.5:
        langs = text.HELDOUT_PROMPT_LANGUAGES if split == "heldout" else text.TUNE_PROMPT_LANGUAGES
        return {"kind": "prompt", "lang": pick(rng, list(langs))}
    voices = [v for v in text.VOICES if (v[0] in text.HELDOUT_VOICES) == (split == "heldout")]
    if split == "heldout":
        voices += [v for v in text.VOICES if v[1] == "fr"]   # espeak French in both halves
    voice, lang = pick(rng, voices)
    return {"kind": "espeak", "voice": voice, "lang": lang, "variant": pick(rng, text.VARIANTS),
            "pitch": int(rng.integers(20, 81)), "speed": int(rng.integers(130, 191))}


def talker_name(t):
    if t["kind"] == "human":
        return f"alsa{t['cents']:+d}c"
    if t["kind"] == "prompt":
        return text.PROMPT_SPEAKERS[t["lang"]]
    return f"{t['voice']}+{t['variant']}/p{t['pitch']}/s{t['speed']}"


def say(talker, rng, kind):
    """Chunks (arrays) of one utterance of the given kind: word, phrase, sentence, long or longtalk."""
    if talker["kind"] == "human":
        count = {"word": 1, "phrase": 1, "sentence": 2, "long": int(rng.integers(9, 16))}[kind]
        return [human_prompt(pick(rng, text.HUMAN_PROMPTS), talker["cents"]) for _ in range(count)]
    if talker["kind"] == "prompt":
        count = {"word": 1, "phrase": 1, "sentence": 2, "long": int(rng.integers(6, 12)),
                 "longtalk": 40}[kind]
        names = prompt_names(talker["lang"])
        return [recorded_prompt(talker["lang"], pick(rng, names)) for _ in range(count)]
    lang = talker["lang"]
    if kind == "word":
        lines = [pick(rng, text.WORDS[lang])]
    elif kind == "phrase":
        lines = [pick(rng, text.PHRASES[lang])]
    elif kind == "sentence":
        lines = [pick(rng, text.SENTENCES[lang]) for _ in range(int(rng.integers(1, 3)))]
    elif kind == "long":
        lines = [pick(rng, text.SENTENCES[lang]) for _ in range(int(rng.integers(4, 9)))]
    else:
        lines = [pick(rng, text.SENTENCES[lang]) for _ in range(16)]
    return [espeak(talker["voice"], talker["variant"], talker["pitch"], talker["speed"], line)
            for line in lines]


LONG_LIMIT_S = 28.0       # a "long" utterance stays below the 30 s an answer may last
LONGTALK_LIMIT_S = 36.0   # a "longtalk" utterance goes past them


def utterance(talker, rng, kind):
    """One utterance: its chunks joined by pauses of 0.2 to 0.7 s."""
    parts = []
    total = 0
    for chunk in say(talker, rng, kind):
        if parts:
            if kind == "long" and total + chunk.size > LONG_LIMIT_S * sig.WORK_RATE:
                break
            if kind == "longtalk" and total > LONGTALK_LIMIT_S * sig.WORK_RATE:
                break
            gap = np.zeros(int(rng.uniform(0.2, 0.7) * sig.WORK_RATE))
            parts.append(gap)
            total += gap.size
        parts.append(chunk)
        total += chunk.size
    return np.concatenate(parts)


def leading_silence(rng):
    r = rng.random()
    if r < 0.7:
        return rng.uniform(0.5, 3.0)
    return rng.uniform(3.0, 8.0) if r < 0.9 else rng.uniform(8.0, 15.0)


def speech_track(rng, talker, lead_s=None, kinds=None):
    """Clean speech: leading silence, 1 to 3 utterances with pauses of 1.2 to 3 s, 2 to 4 s of silence."""
    if kinds is None:
        count = int(pick(rng, [1, 1, 1, 1, 2, 2, 2, 3, 3, 3]))
        kinds = [pick(rng, ["word", "word", "phrase", "phrase", "sentence", "sentence",
                            "sentence", "sentence", "long", "long"]) for _ in range(count)]
    lead = leading_silence(rng) if lead_s is None else lead_s
    parts = [np.zeros(int(lead * sig.WORK_RATE))]
    for i, kind in enumerate(kinds):
        if i:
            parts.append(np.zeros(int(rng.uniform(1.2, 3.0) * sig.WORK_RATE)))
        parts.append(utterance(talker, rng, kind))
    parts.append(np.zeros(int(rng.uniform(2.0, 4.0) * sig.WORK_RATE)))
    return np.concatenate(parts)


# ---------------------------------------------------------------- babble

_babble = None


def babble_bed():
    """BABBLE_TALKERS espeak talkers reading at once, BABBLE_SECONDS long, unit power."""
    global _babble
    if _babble is None:
        rng = np.random.default_rng([SEED, 999999])
        n = BABBLE_SECONDS * sig.WORK_RATE
        bed = np.zeros(n)
        for _ in range(BABBLE_TALKERS):
            talker = draw_talker(rng)
            while talker["kind"] not in ("espeak", "prompt"):
                talker = draw_talker(rng)
            stream = []
            length = 0
            while length < n:
                chunk = say(talker, rng, "sentence")[0]
                stream += [chunk, np.zeros(int(rng.uniform(0.1, 0.4) * sig.WORK_RATE))]
                length += chunk.size + stream[-1].size
            voice = np.concatenate(stream)[:n]
            bed += voice / np.sqrt(sig.active_power(voice))
        _babble = bed / np.sqrt(np.mean(bed ** 2))
    return _babble


def babble(rng, n):
    bed = babble_bed()
    start = int(rng.integers(0, bed.size))
    return np.resize(np.roll(bed, -start), n)


# ---------------------------------------------------------------- recordings

def plan():
    """The list of recordings: (number, condition, level or None, rate)."""
    items = []
    combination = 0
    for condition in SPEECH_CONDITIONS:
        for level in LEVELS:
            for r in range(PER_COMBINATION):
                wide = r >= 2 and condition not in CODECS
                rate = (16000 if combination % 2 == 0 else 11025) if wide else 8000
                items.append((condition, level, rate))
            combination += 1
    for i in range(8):
        items.append(("tone_speech", LEVELS[1 + i % 3], 8000))
    for i in range(4):
        items.append(("longtalk", -26, 8000))
    for i in range(8):
        items.append(("dtmf", None, 16000 if i >= 6 else 8000))
    for i in range(4):
        items.append(("silence", None, 8000))
    for i in range(4):
        items.append(("nearsilence", None, 16000 if i == 3 else 8000))
    for i in range(8):
        items.append(("music", None, 16000 if i >= 6 else 8000))
    for i in range(12):
        items.append(("noise", None, (8000, 11025, 16000)[i % 3]))
    return [(n,) + item for n, item in enumerate(items)]


def noise_for(condition, rng, n):
    if condition.startswith("white"):
        return sig.white(rng, n), int(condition[5:])
    if condition.startswith("pink"):
        return sig.pink(rng, n), int(condition[4:])
    if condition.startswith("brown"):
        return sig.brown(rng, n), int(condition[5:])
    if condition.startswith("babble"):
        return babble(rng, n), int(condition[6:])
    return None, None


def render_speech(condition, level, rng, split):
    """(mix, clean-speech flags, talker) of a speech recording."""
    talker = draw_talker(rng, split)
    if condition == "longtalk":
        talker = {"kind": "espeak", "voice": "en-us", "lang": "en", "variant": pick(rng, text.VARIANTS),
                  "pitch": int(rng.integers(20, 81)), "speed": int(rng.integers(130, 191))}
        clean = speech_track(rng, talker, kinds=["longtalk"])
    elif condition == "tone_speech":
        clean = speech_track(rng, talker, lead_s=rng.uniform(2.0, 5.0))
    else:
        clean = speech_track(rng, talker)
    floor = sig.recorded_floor(clean) if talker["kind"] == "prompt" else 0.0
    flags = sig.speech_labels(clean, floor)
    clean = sig.scale_to_level(clean, level)
    power = sig.db_to_power(level)
    mix = clean.copy()
    noise, snr = noise_for(condition, rng, clean.size)
    if noise is not None:
        mix += noise * np.sqrt(power / sig.db_to_power(snr) / np.mean(noise ** 2))
    elif condition == "hum":
        h = sig.hum(clean.size, rng)
        mix += h * np.sqrt(power / sig.db_to_power(HUM_BELOW_SPEECH_DB) / np.mean(h ** 2))
    elif condition == "musicbed":
        m = np.resize(sig.chords(rng, clean.size / sig.WORK_RATE + 1.0), clean.size)
        mix += m * np.sqrt(power / sig.db_to_power(MUSIC_BELOW_SPEECH_DB) / np.mean(m ** 2))
    elif condition == "tone_speech":
        first = int(np.flatnonzero(flags)[0]) * sig.FRAME
        if rng.random() < 0.5:
            cue = sig.tone((1000,), rng.uniform(0.3, 0.6), np.sqrt(2 * power))
        else:
            keys = "".join(pick(rng, list(sig.DTMF_LOW)) for _ in range(int(rng.integers(3, 7))))
            cue = sig.dtmf_sequence(rng, keys)
        end = first - int(rng.uniform(0.3, 1.0) * sig.WORK_RATE)
        mix[max(0, end - cue.size):end] += cue[-min(cue.size, end):]
        p = sig.pink(rng, clean.size)
        mix += p * np.sqrt(power / sig.db_to_power(TONE_SPEECH_NOISE_SNR))
    return mix, flags, talker


def render_other(condition, rng):
    """Mix of a recording without speech."""
    seconds = rng.uniform(5.0, 20.0)
    n = int(seconds * sig.WORK_RATE)
    floor = np.sqrt(sig.db_to_power(NOISE_FLOOR_DBFS))
    if condition == "silence":
        return np.zeros(n)
    if condition == "nearsilence":
        level = np.sqrt(sig.db_to_power(rng.uniform(-70, -55)))
        return level * (sig.white(rng, n) if rng.random() < 0.5 else sig.pink(rng, n))
    if condition == "noise":
        kind = ("white", "pink", "brown", "babble")[int(rng.integers(0, 4))]
        y = babble(rng, n) if kind == "babble" else getattr(sig, kind)(rng, n)
        return y * np.sqrt(sig.db_to_power(rng.uniform(-40, -20)) / np.mean(y ** 2))
    if condition == "dtmf":
        parts = [np.zeros(int(rng.uniform(0.5, 3.0) * sig.WORK_RATE))]
        for _ in range(int(rng.integers(1, 4))):
            keys = "".join(pick(rng, list(sig.DTMF_LOW)) for _ in range(int(rng.integers(3, 13))))
            parts += [sig.dtmf_sequence(rng, keys), np.zeros(int(rng.uniform(1.0, 3.0) * sig.WORK_RATE))]
        y = np.concatenate(parts)
        return y + floor * sig.white(rng, y.size)
    if condition == "music":
        lead = np.zeros(int(rng.uniform(0.5, 2.0) * sig.WORK_RATE))
        music = sig.scale_to_level(sig.chords(rng, rng.uniform(8.0, 20.0)), rng.uniform(-30, -16))
        y = np.concatenate([lead, music, np.zeros(sig.WORK_RATE)])
        return y + floor * sig.white(rng, y.size)
    raise ValueError(condition)


def write_wav(mix, condition, rate, path, tmp):
    """Band limits, resamples and encodes the mix with sox into a 16-bit PCM wave file."""
    mix = np.clip(mix, -32767 / 32768, 32767 / 32768).astype(np.float32)
    src = ["-t", "raw", "-e", "float", "-b", "32", "-c", "1", "-r", str(sig.WORK_RATE), "-"]
    band = ["sinc", "300-3400"] if condition in ("tel",) + tuple(CODECS) else []
    pcm = ["-e", "signed", "-b", "16"]
    if condition in CODECS:
        subprocess.run(["sox", "-R", "-D"] + src + ["-t", "wav", "-e", CODECS[condition], "-r", str(rate), tmp]
                       + band, input=mix.tobytes(), check=True, capture_output=True)
        subprocess.run(["sox", "-R", "-D", tmp] + pcm + [path], check=True, capture_output=True)
        os.remove(tmp)
    else:
        subprocess.run(["sox", "-R", "-D"] + src + pcm + ["-r", str(rate), path] + band,
                       input=mix.tobytes(), check=True, capture_output=True)


def build_one(job):
    (number, condition, level, rate), out_dir, voices = job
    rng = np.random.default_rng([SEED, number])
    name = f"{number:04d}_{condition}_{'na' if level is None else f'm{-level}'}_{rate // 1000}k"
    split = SPLITS[number % 2]
    speaker = []
    if voices == "human":
        split = SPLITS[(number // 2) % 2] if level is None else SPLITS[number % 2]
    if level is None:
        mix = hc.render_other(condition, rng, split) if voices == "human" else render_other(condition, rng)
        flags = np.zeros(mix.size // sig.FRAME, dtype=bool)
        talker, language, source = "-", "-", "-"
        speaker = ["-"] if voices == "human" else []
    elif voices == "human":
        mix, flags, t = hc.render_speech(condition, level, rng, split)
        talker, language, source = hc.speaker_name(t), t["lang"], t["kind"]
        speaker = [talker]
    else:
        mix, flags, t = render_speech(condition, level, rng, split)
        talker, language, source = talker_name(t), t.get("lang", "en"), t["kind"]
    wav = os.path.join("audio", name + ".wav")
    lab = os.path.join("labels", name + ".lab")
    write_wav(mix, condition, rate, os.path.join(out_dir, wav), os.path.join(out_dir, "tmp", name + ".wav"))
    with open(os.path.join(out_dir, lab), "w") as f:
        f.write("".join("1" if v else "0" for v in flags) + "\n")
    return "\t".join([wav, str(rate), condition, split, "-" if level is None else str(level), lab, talker,
                      language, source] + speaker)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out_dir", nargs="?", default=os.path.join(os.path.dirname(__file__), "corpus"))
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--voices", choices=("synthetic", "human"), default="synthetic",
                        help="human: recorded speakers only, split by speaker and language")
    args = parser.parse_args()
    for tool in ("sox", "espeak-ng"):
        if shutil.which(tool) is None:
            sys.exit(f"make_corpus: {tool} is not installed")
    if not os.path.isdir(text.HUMAN_PROMPT_DIR):
        sys.exit(f"make_corpus: {text.HUMAN_PROMPT_DIR} is missing (Debian package alsa-utils)")
    began = time.time()
    for sub in ("audio", "labels", "tmp"):
        os.makedirs(os.path.join(args.out_dir, sub), exist_ok=True)
    if args.voices == "human":
        if not os.path.isdir(text.PROMPT_ROOT):
            sys.exit(f"make_corpus: {text.PROMPT_ROOT} is missing (Debian packages asterisk-core-sounds-*-wav)")
        for split in SPLITS:   # built once before the workers start, so each inherits them
            hc.babble(np.random.default_rng(0), 1, split)
        items = hc.plan(HUMAN_PER_COMBINATION)
    else:
        babble_bed()   # built once before the workers start, so each inherits it
        items = plan()
    jobs = [(item, args.out_dir, args.voices) for item in items]
    with Pool(args.jobs) as pool:
        lines = pool.map(build_one, jobs, chunksize=1)
    os.rmdir(os.path.join(args.out_dir, "tmp"))
    with open(os.path.join(args.out_dir, "manifest.tsv"), "w") as f:
        f.write("# path\trate\tcondition\tsplit\tlevel_dbfs\tlabels\ttalker\tlanguage\tsource"
                + ("\tspeaker\n" if args.voices == "human" else "\n"))
        f.write("\n".join(lines) + "\n")
    print(f"make_corpus: {len(lines)} recordings in {args.out_dir} ({time.time() - began:.0f} s)")


if __name__ == "__main__":
    main()
