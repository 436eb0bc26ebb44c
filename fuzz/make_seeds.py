#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are small, hand-picked inputs: the shipped configuration files and
broken variants of them, slices of the bundled sample, short wave files,
keypad tones, voiced and flat spectra, log configurations. Run it from the
repository's top folder after changing an input layout.
"""
import math
import os
import struct
import wave

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def read(path):
    with open(os.path.join(ROOT, path), "rb") as source:
        return source.read()


def sample_pcm(first_second, seconds):
    with wave.open(os.path.join(ROOT, "samples", "kvd_sample.wav")) as w:
        w.setpos(int(first_second * 8000))
        return w.readframes(int(seconds * 8000))


def pcm(values):
    return b"".join(struct.pack("<h", max(-32768, min(32767, int(v)))) for v in values)


def tone_pair(low, high, count, rate=8000):
    return pcm(6000 * (math.sin(2 * math.pi * low * i / rate) + math.sin(2 * math.pi * high * i / rate))
               for i in range(count))


def config_init_seeds():
    main = read("config/kvd.cfg").decode()
    offline = read("config/kvd_offline.cfg").decode()
    write("config_init", "shipped", main + "\0" + offline)
    write("config_init", "online", main.replace("IsOnline = 0", "IsOnline = 1") + "\0" + offline)
    write("config_init", "multi", main.replace("IsOneSeg = 1", "IsOneSeg = 0") + "\0" + offline)
    write("config_init", "online_fast", main.replace("IsOnline = 0", "IsOnline = 1")
          .replace("FastMode = 0", "FastMode = 1") + "\0" + offline)
    write("config_init", "missing_key", main.replace("MaxSilence = 80\n", "") + "\0" + offline)
    write("config_init", "out_of_range", main.replace("MaxWaitFrame = 1000", "MaxWaitFrame = 360001")
          + "\0" + offline)
    write("config_init", "nan", main.replace("Sensitivity = 0.5", "Sensitivity = nan") + "\0" + offline)
    write("config_init", "crlf_case", main.replace("\n", "\r\n").lower() + "\0" + offline)
    write("config_init", "long_line", "#" + "x" * 300 + "=1\n" + main + "\0" + offline)
    write("config_init", "no_offline", main)
    write("config_init", "band_reversed", main + "\0" +
          offline.replace("DetectSpecHighBorder_Hz = 3400", "DetectSpecHighBorder_Hz = 100"))
    write("config_init", "rate_16k", main.replace("SampleRate = 8000", "SampleRate = 16000")
          + "\0" + offline)


def in_range(value, lowest, highest):
    """Bytes that InputReader::InRange turns into value."""
    span = highest - lowest + 1
    raw = value - lowest
    return struct.pack("<H", raw) if span > 256 else struct.pack("<B", raw)


def detect_header(mode, rate_index=0, fast=False, dtmf=True, max_wait=100, max_silence=60,
                  chunks=(160, 80, 4095, 1), repeats=1):
    header = in_range(mode, 0, 3) + in_range(rate_index, 0, 7)
    header += in_range(1600, -1, 20000) + in_range(300, -1, 400) + in_range(max_silence, -1, 600)
    header += in_range(max_wait, -1, 400) + in_range(50, -10, 110) + in_range(20, -1, 100)
    header += in_range(20, -1, 100) + in_range(0, -101, 101) + in_range(80, -1, 600)
    header += bytes([(1 if fast else 0) | (2 if dtmf else 0)])
    nyquist = 4000
    header += in_range(10, -5, 120) + in_range(10, -1, 100) + in_range(200, -100, nyquist + 100)
    header += in_range(3400, -100, nyquist + 100) + in_range(30, -1, 100) + in_range(10, -1, 100)
    header += in_range(100, -10, 1000) + in_range(10, -1, 100) + in_range(10, -1, 100)
    header += in_range(20, -10, 110) + in_range(20, -1, 30) + in_range(0, 0, 1)
    header += in_range(50, -1, 200) + in_range(1, -1, 100) + in_range(10, -1, 100)
    header += in_range(30, -1, 100)
    header += b"".join(struct.pack("<H", c) for c in chunks)
    header += in_range(repeats, 1, 40)
    return header


def detect_speech_seeds():
    speech = sample_pcm(1.0, 1.9)
    write("detect_speech", "online_sample", detect_header(0) + speech)
    write("detect_speech", "offline_sample", detect_header(1) + sample_pcm(0.5, 1.9))
    short = sample_pcm(1.4, 1.0)
    write("detect_speech", "multi_sample", detect_header(2) + short)
    write("detect_speech", "online_fast", detect_header(0, fast=True, chunks=(1, 30, 8000 % 4096, 7))
          + short)
    write("detect_speech", "online_dtmf", detect_header(0, repeats=8) + tone_pair(697, 1209, 1600))
    write("detect_speech", "online_silence_wait", detect_header(0, max_wait=0, repeats=20) + pcm([0] * 800))
    write("detect_speech", "online_16k", detect_header(0, rate_index=3) + short)
    write("detect_speech", "multi_online", detect_header(3) + short)


def riff_header(data_bytes, rate=8000):
    return (b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16) +
            b"data" + struct.pack("<I", data_bytes))


def wave_reader_seeds():
    data = sample_pcm(1.5, 0.2)
    write("wave_reader", "short_wav", riff_header(len(data)) + data)
    write("wave_reader", "header_only", riff_header(0))
    write("wave_reader", "truncated_header", riff_header(0)[:20])
    write("wave_reader", "odd_length", riff_header(3) + b"\x01\x02\x03")
    write("wave_reader", "empty", b"")


def spectrum(pitch_bin, bins=256, level=1.0e5):
    values = [0.01] * bins
    for k in range(pitch_bin, bins, pitch_bin):
        values[k] = level / k
    return struct.pack("<%df" % bins, *values)


def voice_header(rate, fft_index, low, high, harmonic, frames, control, pitch_bin):
    header = in_range(rate, -1, 48000) + in_range(fft_index, 0, 11) + in_range(low, -1, 600)
    header += in_range(high, -1, 1000) + in_range(harmonic, -1, 24100) + in_range(2, 0, 255)
    header += in_range(frames, 1, 120)
    return header + bytes([control, pitch_bin] * frames)


def detect_voice_seeds():
    usable_detect = 1 | 4
    comb = 2 << 3
    write("detect_voice", "voiced_comb", voice_header(8000, 0, 65, 480, 2000, 40, usable_detect | comb, 10)
          + spectrum(10)[:64])
    write("detect_voice", "voiced_pool", voice_header(8000, 0, 65, 480, 2000, 35, usable_detect, 1)
          + spectrum(10) * 2)
    write("detect_voice", "reverse", voice_header(8000, 0, 65, 480, 2000, 35, usable_detect | 2 | comb, 12))
    write("detect_voice", "flat", voice_header(8000, 0, 65, 480, 2000, 30, usable_detect | (3 << 3), 1))
    write("detect_voice", "rate_16k", voice_header(16000, 3, 65, 480, 2000, 31, usable_detect | comb, 20))
    write("detect_voice", "narrow_bins", voice_header(100, 5, 1, 600, 50, 2, usable_detect, 1))
    write("detect_voice", "nan_pool", voice_header(8000, 0, 65, 480, 2000, 31, usable_detect, 1)
          + struct.pack("<4f", float("nan"), float("inf"), -1.0, 1e30))


def log_config_seeds():
    write("log_config", "default", read("logging/default_config.cpp").decode()
          .split("kDefaultConfigText[] =\n", 1)[1].split(";", 1)[0]
          .replace('"\n    "', "").replace('\\n', "\n").strip().strip('"'))
    write("log_config", "digit_rolling",
          "Kestrin.rootCategory = ALL, R\n"
          "Kestrin.category.tprintf_logger = DETAIL, R, C\n"
          "Kestrin.appender.R = Kestrin.RollingFileAppender\n"
          "Kestrin.appender.R.FileName = small.log\n"
          "Kestrin.appender.R.MaxFileSize = 100\n"
          "Kestrin.appender.R.MaxBackupIndex = 3\n"
          "Kestrin.appender.R.RenameType = Digit\n"
          "Kestrin.appender.R.Threshold = FLOW\n"
          "Kestrin.appender.R.layout = Kestrin.SimpleLayout\n"
          "Kestrin.appender.C = Kestrin.ConsoleAppender\n"
          "Kestrin.appender.C.layout = PatternLayout\n"
          "Kestrin.appender.C.layout.ConversionPattern = %d %p %m%n\n")
    write("log_config", "file_buffered",
          "Kestrin.category.tprintf_logger = USER_ERROR, F\n"
          "Kestrin.debug = true\n"
          "Kestrin.appender.F = FileAppender\n"
          "Kestrin.appender.F.File =  spaced name.log \n"
          "Kestrin.appender.F.BufferedIO = maybe\n"
          "Kestrin.appender.F.BufferSize = 1kb\n"
          "Kestrin.appender.F.Append = false\n")
    write("log_config", "broken", "Kestrin.rootCategory = NOSUCH, X\nKestrin.appender.X\n=\n\\\n")


if __name__ == "__main__":
    config_init_seeds()
    detect_speech_seeds()
    wave_reader_seeds()
    detect_voice_seeds()
    log_config_seeds()
