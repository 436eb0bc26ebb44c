"""The Python module on the bundled sample, on silence, and its refusals."""
import os
import threading
import unittest

import numpy

import kvd

SAMPLE = os.environ.get("KVD_SAMPLE", os.path.join(os.path.dirname(__file__), "..", "samples", "kvd_sample.pcm"))


def sample():
    return numpy.fromfile(SAMPLE, dtype="<i2").astype(numpy.int16)


class StreamTest(unittest.TestCase):
    def test_the_sample_starts_and_ends_once_whatever_the_chunk_size(self):
        pcm = sample()
        results = []
        for chunk in (160, 1000, len(pcm)):
            stream = kvd.Stream(8000)
            events = []
            for at in range(0, len(pcm), chunk):
                events += stream.feed(pcm[at:at + chunk])
            results.append(events)
            self.assertEqual(stream.state, 3)
        self.assertEqual(results[0], results[1])
        self.assertEqual(results[0], results[2])
        (start_kind, start), (end_kind, end) = results[0]
        self.assertEqual((start_kind, end_kind), ("speech_start", "speech_end"))
        # The sample speaks from 1.55 s to 6.62 s.
        self.assertLess(abs(start / 8000 - 1.55), 0.3)
        self.assertLess(abs(end / 8000 - 6.62), 0.5)

    def test_the_enhanced_decision_mode_finds_the_sample_too(self):
        stream = kvd.Stream(8000, config={"DecisionMode": "enhanced"})
        (start_kind, start), (end_kind, end) = stream.feed(sample())
        self.assertEqual((start_kind, end_kind), ("speech_start", "speech_end"))
        # 1.55 s and 6.62 s, with the shipped 100 ms relax on either side.
        self.assertLess(abs(start / 8000 - 1.45), 0.1)
        self.assertLess(abs(end / 8000 - 6.72), 0.2)

    def test_bytes_give_what_the_array_gives(self):
        pcm = sample()
        self.assertEqual(kvd.Stream(8000).feed(pcm.tobytes()), kvd.Stream(8000).feed(pcm))

    def test_silence_gives_no_input_where_the_wait_runs_out(self):
        stream = kvd.Stream(8000, config={"MaxWaitFrame": 50})
        self.assertEqual(stream.feed(numpy.zeros(8000, numpy.int16)), [("no_speech", 51 * 80)])
        self.assertEqual(stream.state, 4)
        stream.reset()
        self.assertEqual(stream.state, 1)

    def test_streams_in_threads_agree_with_one_alone(self):
        pcm = sample()
        alone = kvd.Stream(8000).feed(pcm)
        results = [None] * 4

        def run(i):
            results[i] = kvd.Stream(8000).feed(pcm)
        threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(results, [alone] * 4)

    def test_segments_of_the_sample(self):
        pcm = sample()
        single = kvd.segments(pcm, 8000, mode="single")
        self.assertEqual(len(single), 1)
        self.assertLess(abs(single[0][0] / 8000 - 1.55), 0.3)
        multi = kvd.segments(pcm, 8000)
        self.assertGreaterEqual(len(multi), 1)
        self.assertTrue(all(a < b for a, b in multi))
        self.assertEqual(kvd.segments(numpy.zeros(40000, numpy.int16), 8000, mode="single"), [])

    def test_refusals_raise_with_the_c_text(self):
        with self.assertRaises(kvd.Error) as caught:
            kvd.Stream(4000)
        self.assertEqual(caught.exception.args, (-4, "sample rate below 8000 Hz"))
        with self.assertRaises(kvd.Error) as caught:
            kvd.Stream(8000, config={"NoSuchKey": 1})
        self.assertEqual(caught.exception.args[0], -7)
        with self.assertRaises(kvd.Error):
            kvd.Stream(8000, config="/nonexistent/kvd.cfg")
        with self.assertRaises(TypeError):
            kvd.Stream(8000).feed(numpy.zeros(10, numpy.float32))
        with self.assertRaises(ValueError):
            kvd.Stream(8000).feed(b"\x00\x00\x00")
        with self.assertRaises(ValueError):
            kvd.segments(sample(), 8000, mode="all")
        self.assertTrue(kvd.__version__)


if __name__ == "__main__":
    unittest.main()
