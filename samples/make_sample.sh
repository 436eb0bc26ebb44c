#!/usr/bin/env bash
# Regenerates the bundled sample recording kvd_sample.wav / kvd_sample.pcm:
# 8000 Hz, 16-bit mono, 1.5 s of leading silence, a spoken sentence, 2.5 s of
# trailing silence, with light white background noise (about -55 dBFS) over
# the whole recording. Needs espeak-ng and sox (Debian packages of the same
# names); the committed result lets everything else run without them.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sentence="Please leave your message after the tone, and we will call you back as soon as possible."
espeak-ng -v en-us -s 150 -p 45 -w "$work/speech_raw.wav" "$sentence"

# Telephone rate and band, 1.5 s before and 2.5 s after the speech.
sox -R -D "$work/speech_raw.wav" -r 8000 -c 1 -b 16 "$work/speech.wav" \
    highpass 300 lowpass 3400 norm -6 pad 1.5 2.5
seconds=$(soxi -D "$work/speech.wav")
# -R: sox's default seed, so the noise is the same on every run.
sox -R -n -r 8000 -c 1 -b 16 "$work/noise.wav" synth "$seconds" whitenoise vol 0.003
sox -R -D -m "$work/speech.wav" "$work/noise.wav" -b 16 -e signed-integer kvd_sample.wav
# sox writes a canonical 44-byte header for plain 16-bit PCM; the raw file is
# the same samples without it.
sox -R -D kvd_sample.wav -t raw -e signed-integer -b 16 -L kvd_sample.pcm
echo "kvd_sample.wav: ${seconds} s"
