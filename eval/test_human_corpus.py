#!/usr/bin/python3
"""Checks of the real-voice corpus plan: who speaks in which half, and its balance."""
import collections
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
try:
    import numpy as np
    import human_corpus as hc
    import make_corpus as mc
except ImportError:      # an interpreter without numpy: nothing to check
    hc = None


@unittest.skipIf(hc is None, "numpy is missing")
class Halves(unittest.TestCase):
    def test_no_speaker_and_no_italian_cross_from_one_half_to_the_other(self):
        for split, allowed in (("tune", {"en_US_f_Allison", "es_MX_f_Allison", "fr_CA_f_June"}),
                               ("heldout", {"it_IT_m_Carlo", "alsa"})):
            rng = np.random.default_rng(5)
            seen = {hc.speaker_name(hc.speaker_of(rng, split)) for _ in range(200)}
            self.assertEqual(seen, allowed, split)

    def test_every_condition_and_level_is_split_evenly_and_codecs_stay_at_8000_hz(self):
        per_half = collections.Counter()
        rates = collections.Counter()
        for number, condition, level, rate in hc.plan(2):
            split = mc.SPLITS[number % 2] if level is not None else mc.SPLITS[(number // 2) % 2]
            per_half[(condition, level, split)] += 1
            rates[rate] += 1
            if condition in mc.CODECS:
                self.assertEqual(rate, 8000)
        for (condition, level, split), count in per_half.items():
            other = "heldout" if split == "tune" else "tune"
            self.assertEqual(count, per_half[(condition, level, other)], (condition, level))
        self.assertEqual(set(rates), {8000, 11025, 16000})
        self.assertEqual(sum(per_half[(c, None, "heldout")] for c, _ in hc.NO_SPEECH),
                         sum(n for _, n in hc.NO_SPEECH))


if __name__ == "__main__":
    unittest.main()
