#!/usr/bin/python3
"""Self-test of eval/score.py on hand-made labels and results with hand-computed scores."""
import json
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import score  # noqa: E402


def labels(text):
    return [c == "1" for c in text]


class FrameMapping(unittest.TestCase):
    def test_frame_counts_when_its_centre_lies_in_the_segment(self):
        # centres 5, 15, ... ms: 25, 35, 45 and 55 lie in [20, 60)
        self.assertEqual(score.segment_flags([(20, 60)], 8),
                         labels("00111100"))
        self.assertEqual(score.segment_flags([(0, 5), (75, 1000)], 9), labels("000000011"))

    def test_pauses_shorter_than_a_second_stay_inside_one_utterance(self):
        flags = labels("1" + "0" * 99 + "1" + "0" * 100 + "11")
        self.assertEqual(score.utterances(flags), [(0, 101), (201, 203)])


class PerFile(unittest.TestCase):
    def test_multi_segment_frames_and_edges(self):
        got = score.evaluate(labels("0011110000"), {"mode": "multi", "segments": [[30, 80]]})
        self.assertEqual((got["tp"], got["fp"], got["fn"], got["tn"]), (3, 2, 1, 4))
        self.assertEqual((got["start_err"], got["end_err"]), (10, 20))
        self.assertEqual((got["truth"], got["outcome"]), ("found", "found"))

    def test_online_scores_the_first_utterance_up_to_the_next(self):
        lab = labels("0" * 10 + "1" * 10 + "0" * 130 + "1" * 10 + "0" * 140)
        got = score.evaluate(lab, {"mode": "online", "outcome": "speech_end", "segments": [[100, 250]]})
        # frames 10..24 detected, 10..19 true, frames 0..149 scored
        self.assertEqual((got["tp"], got["fp"], got["fn"], got["tn"]), (10, 5, 0, 135))
        self.assertEqual((got["start_err"], got["end_err"]), (0, 50))

    def test_offline_single_segment_truth_spans_first_to_last_speech(self):
        lab = labels("0" * 10 + "1" * 10 + "0" * 130 + "1" * 10 + "0" * 140)
        got = score.evaluate(lab, {"mode": "offline", "segments": [[100, 1600]]})
        self.assertEqual((got["tp"], got["fp"], got["fn"], got["tn"]), (150, 0, 0, 150))
        self.assertEqual((got["start_err"], got["end_err"]), (0, 0))

    def test_peer_flags_and_their_first_and_last_voiced_frame(self):
        got = score.evaluate(labels("0110"), {"flags": "0011"})
        self.assertEqual((got["tp"], got["fp"], got["fn"], got["tn"]), (1, 1, 1, 1))
        self.assertEqual((got["start_err"], got["end_err"]), (10, 10))

    def test_a_failed_file_found_nothing(self):
        got = score.evaluate(labels("0110"), {"mode": "multi", "error": "too many segments"})
        self.assertEqual((got["tp"], got["fn"], got["outcome"]), (0, 2, "error"))

    def test_outcomes_against_the_truth(self):
        silent = labels("0" * 50)
        online = score.evaluate(silent, {"mode": "online", "outcome": "no_speech", "segments": []})
        self.assertEqual((online["truth"], online["outcome"]), ("none", "none"))
        self.assertNotIn("start_err", online)
        offline = score.evaluate(silent, {"mode": "offline", "segments": [[0, 100]]})
        self.assertEqual((offline["truth"], offline["outcome"], offline["fp"]), ("none", "found", 10))
        long_talk = labels("1" * 3001 + "0" * 10)
        got = score.evaluate(long_talk, {"mode": "online", "outcome": "speech_too_long",
                                         "segments": [[0, 30000]]})
        self.assertEqual((got["truth"], got["outcome"]), ("too long", "too long"))
        self.assertEqual(got["start_err"], 0)
        self.assertNotIn("end_err", got)   # the end is the cut at 30 s


class Pooled(unittest.TestCase):
    def test_rates_and_percentiles(self):
        rows = [{"tp": 3, "fp": 1, "fn": 2, "tn": 4, "truth": "found", "outcome": "found",
                 "start_err": v, "end_err": -v} for v in (10, 20, 30, 40)]
        rows[3]["end_err"] = -501
        s = score.summarise(rows)
        self.assertAlmostEqual(s["precision"], 12 / 16)
        self.assertAlmostEqual(s["recall"], 12 / 20)
        self.assertAlmostEqual(s["f1"], 24 / 36)
        self.assertAlmostEqual(s["accuracy"], 28 / 40)
        self.assertAlmostEqual(s["false_alarm"], 4 / 20)
        self.assertEqual((s["start_median_ms"], s["start_p90_abs_ms"]), (25, 37))
        self.assertEqual(s["end_median_ms"], -25)
        self.assertAlmostEqual(s["end_p90_abs_ms"], 30 + 0.7 * (501 - 30))   # 90 % of 3 ranks up
        self.assertEqual(s["outcome_correct"], 1.0)
        self.assertEqual(s["good"], 0.75)   # the last file's end is 501 ms off
        self.assertEqual((s["false_starts"], s["no_speech_files"]), (0, 0))

    def test_false_starts_count_no_speech_files_with_anything_reported(self):
        base = {"tp": 0, "fp": 0, "fn": 0, "tn": 10}
        rows = [dict(base, truth="none", outcome=o) for o in ("none", "found", "too short", "error")]
        rows.append(dict(base, truth="found", outcome="none"))
        s = score.summarise(rows)
        self.assertEqual((s["false_starts"], s["no_speech_files"]), (2, 4))


class CommandLine(unittest.TestCase):
    def test_scores_a_manifest_split_from_json_lines(self):
        with tempfile.TemporaryDirectory() as d:
            os.mkdir(os.path.join(d, "labels"))
            rows = [("a.wav", "0011110000", "tune", {"mode": "multi", "segments": [[30, 80]]}),
                    ("b.wav", "0000000000", "tune", {"mode": "multi", "segments": []}),
                    ("c.wav", "1111111111", "heldout", {"mode": "multi", "segments": [[0, 100]]})]
            with open(os.path.join(d, "manifest.tsv"), "w") as m, \
                    open(os.path.join(d, "results.jsonl"), "w") as r:
                m.write("# header\n")
                for name, lab, split, result in rows:
                    with open(os.path.join(d, "labels", name + ".lab"), "w") as f:
                        f.write(lab + "\n")
                    m.write(f"audio/{name}\t8000\tclean\t{split}\t-26\tlabels/{name}.lab\tx\n")
                    r.write(json.dumps(dict(result, file="/elsewhere/audio/" + name)) + "\n")
            out = subprocess.run([sys.executable, score.__file__, os.path.join(d, "manifest.tsv"),
                                  os.path.join(d, "results.jsonl"), "--split", "tune", "--json"],
                                 capture_output=True, text=True, check=True).stdout
            pooled = json.loads(out)["pooled"]
            self.assertEqual(pooled["files"], 2)
            self.assertAlmostEqual(pooled["precision"], 3 / 5)
            self.assertAlmostEqual(pooled["recall"], 3 / 4)
            self.assertAlmostEqual(pooled["accuracy"], 17 / 20)   # 7 of a, 10 of b

    def test_a_broken_results_line_is_an_error(self):
        with tempfile.TemporaryDirectory() as d:
            with open(os.path.join(d, "manifest.tsv"), "w") as m:
                m.write("audio/a.wav\t8000\tclean\ttune\t-26\tlabels/a.lab\tx\n")
            with open(os.path.join(d, "results.jsonl"), "w") as r:
                r.write("{not json\n")
            run = subprocess.run([sys.executable, score.__file__, os.path.join(d, "manifest.tsv"),
                                  os.path.join(d, "results.jsonl")], capture_output=True, text=True)
            self.assertNotEqual(run.returncode, 0)
            self.assertIn("not JSON", run.stderr)


if __name__ == "__main__":
    unittest.main()
