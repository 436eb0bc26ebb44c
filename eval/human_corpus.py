"""The real-voice corpus: only recorded human speakers, split by speaker and language.

The tuning half speaks with the English, Spanish and French telephone
prompts of asterisk-core-sounds; the held-out half with the Italian speaker
(a language no tuning sees) and the alsa-utils speaker (English, another
voice). Babble is mixed from other prompts of the same half. Noises, music,
tones and the writing of the files are those of the development corpus.
"""
import numpy as np

import corpus_signals as sig
import corpus_text as text
import make_corpus as mc

LEVELS = (-45, -36, -26, -16, -10)
SPEECH_CONDITIONS = (["clean", "tel", "mulaw", "gsm"] + mc.NOISY
                     + ["musicbed", "tone_speech", "tone_between"])
RATES = (8000, 11025, 16000)
TUNE_SPEAKERS = ("en", "es", "fr")
HELDOUT_SPEAKERS = ("it", "alsa")
# the alsa speaker has eight short prompts only: one held-out talker in four
HELDOUT_DRAW = ("it", "it", "it", "alsa")
NO_SPEECH = (("silence", 4), ("noise", 8), ("music", 6), ("dtmf", 6))
TONE_GAP_S = 1.4          # the shortest pause between utterances that takes a keypad sequence


def plan(per_combination):
    """(number, condition, level or None, rate) of every recording."""
    items = []
    for condition in SPEECH_CONDITIONS:
        for level in LEVELS:
            for r in range(per_combination * 2):
                rate = 8000 if condition in mc.CODECS else RATES[(len(items) // 2) % 3]
                items.append((condition, level, rate))
    for condition, count in NO_SPEECH:
        for i in range(count * 2):
            items.append((condition, None, RATES[(i // 2) % 3]))
    return [(n,) + item for n, item in enumerate(items)]


def speaker_of(rng, split):
    """A talker of make_corpus' kinds: a prompt speaker or the alsa speaker."""
    lang = mc.pick(rng, list(HELDOUT_DRAW if split == "heldout" else TUNE_SPEAKERS))
    if lang == "alsa":
        return {"kind": "human", "cents": 0, "lang": "en"}
    return {"kind": "prompt", "lang": lang}


_babble = {}


def babble(rng, n, split):
    """Six prompt streams of the half's own speakers at once, unit power."""
    if split not in _babble:
        brng = np.random.default_rng([mc.SEED, 777777, mc.SPLITS.index(split)])
        size = mc.BABBLE_SECONDS * sig.WORK_RATE
        bed = np.zeros(size)
        langs = [s for s in (HELDOUT_SPEAKERS if split == "heldout" else TUNE_SPEAKERS) if s != "alsa"]
        for k in range(mc.BABBLE_TALKERS):
            talker = {"kind": "prompt", "lang": langs[k % len(langs)]}
            stream, length = [], 0
            while length < size:
                chunk = mc.say(talker, brng, "sentence")[0]
                stream += [chunk, np.zeros(int(brng.uniform(0.1, 0.4) * sig.WORK_RATE))]
                length += chunk.size + stream[-1].size
            voice = np.concatenate(stream)[:size]
            bed += voice / np.sqrt(sig.active_power(voice))
        _babble[split] = bed / np.sqrt(np.mean(bed ** 2))
    bed = _babble[split]
    return np.resize(np.roll(bed, -int(rng.integers(0, bed.size))), n)


def keypad_cue(rng):
    keys = "".join(mc.pick(rng, list(sig.DTMF_LOW)) for _ in range(int(rng.integers(3, 7))))
    return sig.dtmf_sequence(rng, keys)


def render_speech(condition, level, rng, split):
    """(mix, clean-speech flags, talker) of a speech recording."""
    talker = speaker_of(rng, split)
    kinds = None
    if condition == "tone_between":
        kinds = ["phrase", "sentence"]
    lead = rng.uniform(2.0, 5.0) if condition.startswith("tone_") else None
    clean = mc.speech_track(rng, talker, lead_s=lead, kinds=kinds)
    floor = sig.recorded_floor(clean) if talker["kind"] == "prompt" else 0.0
    flags = sig.speech_labels(clean, floor)
    clean = sig.scale_to_level(clean, level)
    power = sig.db_to_power(level)
    mix = clean.copy()
    kind = next((k for k in ("white", "pink", "brown", "babble") if condition.startswith(k)), None)
    if kind is not None:
        snr = int(condition[len(kind):])
        noise = babble(rng, clean.size, split) if kind == "babble" else getattr(sig, kind)(rng, clean.size)
        mix += noise * np.sqrt(power / sig.db_to_power(snr) / np.mean(noise ** 2))
    elif condition == "musicbed":
        m = np.resize(sig.chords(rng, clean.size / sig.WORK_RATE + 1.0), clean.size)
        mix += m * np.sqrt(power / sig.db_to_power(mc.MUSIC_BELOW_SPEECH_DB) / np.mean(m ** 2))
    elif condition.startswith("tone_"):
        found = sig.runs(flags)
        places = [found[0][0] * sig.FRAME - int(rng.uniform(0.3, 1.0) * sig.WORK_RATE)]
        if condition == "tone_between":
            # into the longest pause between labelled runs, ending 0.3 s before the next
            gaps = [(s1 - e0, s1) for (_, e0), (s1, _) in zip(found, found[1:])]
            if gaps and max(gaps)[0] * sig.FRAME >= TONE_GAP_S * sig.WORK_RATE:
                places.append(max(gaps)[1] * sig.FRAME - int(0.3 * sig.WORK_RATE))
        for end in places:
            cue = keypad_cue(rng)
            mix[max(0, end - cue.size):end] += cue[-min(cue.size, end):]
        p = sig.pink(rng, clean.size)
        mix += p * np.sqrt(power / sig.db_to_power(mc.TONE_SPEECH_NOISE_SNR))
    return mix, flags, talker


def render_other(condition, rng, split):
    """Mix of a recording without speech; its babble comes from the half's prompts."""
    if condition != "noise":
        return mc.render_other(condition, rng)
    n = int(rng.uniform(5.0, 20.0) * sig.WORK_RATE)
    kind = ("white", "pink", "brown", "babble")[int(rng.integers(0, 4))]
    y = babble(rng, n, split) if kind == "babble" else getattr(sig, kind)(rng, n)
    return y * np.sqrt(sig.db_to_power(rng.uniform(-40, -20)) / np.mean(y ** 2))


def speaker_name(talker):
    return "alsa" if talker["kind"] == "human" else text.PROMPT_SPEAKERS[talker["lang"]]
