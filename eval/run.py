#!/usr/bin/python3
"""Runs `kvd detect` (or the WebRTC peer) over the corpus and writes its JSON lines.

usage: eval/run.py MANIFEST --mode online|offline|multi|peer --out RESULTS.jsonl
                   [--config config/kvd.cfg] [--set KEY=VALUE ...] [--split tune|heldout|all]
                   [--bin build/bin] [--jobs 2] [--likelihood 0..3]
                   [--detector specified|enhanced]

The configuration is copied to a temporary folder with `SampleRate` set to
each recording rate of the corpus, `IsOnline`/`IsOneSeg` set to the mode and
every --set applied (to kvd.cfg or kvd_offline.cfg, whichever holds the key);
the engine runs in that folder, so its log files stay there. Standard library
only.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

import corpus_manifest as cm

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MODE_KEYS = {"online": {"IsOnline": "1", "IsOneSeg": "1"},
             "offline": {"IsOnline": "0", "IsOneSeg": "1"},
             "multi": {"IsOnline": "0", "IsOneSeg": "0"}}


def companion(path):
    """kvd_offline.cfg beside kvd.cfg: the main file's ".cfg" replaced by "_offline.cfg"."""
    return path[:-4] + "_offline.cfg" if path.endswith(".cfg") else path + "_offline.cfg"


def read_config(path):
    """Ordered (key, value) pairs of a key = value file."""
    pairs = []
    with open(path) as f:
        for line in f:
            if "=" in line and not line.lstrip().startswith("#"):
                key, value = line.rsplit("=", 1)
                pairs.append([key.strip(), value.strip()])
    return pairs


def apply(pairs_by_file, overrides):
    """Sets each override in the file that holds its key (keys match without regard to case)."""
    for key, value in overrides.items():
        hits = [p for pairs in pairs_by_file for p in pairs if p[0].lower() == key.lower()]
        if not hits:
            raise ValueError(f"unknown configuration key {key}")
        for p in hits:
            p[1] = value


def write_configs(folder, base, overrides, detector=None):
    main, offline = read_config(base), read_config(companion(base))
    apply([main, offline], overrides)
    if detector is not None:
        main = [p for p in main if p[0].lower() != "decisionmode"] + [["DecisionMode", detector]]
    target = os.path.join(folder, "kvd.cfg")
    for path, pairs in ((target, main), (companion(target), offline)):
        with open(path, "w") as f:
            f.write("".join(f"{k} = {v}\n" for k, v in pairs))
    return target


def json_lines(text):
    """The JSON objects of a program's output; anything else (log lines) is skipped."""
    found = []
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("{"):
            try:
                found.append(json.loads(line))
            except json.JSONDecodeError:
                pass
    return found


def run_group(files, command, workdir):
    done = subprocess.run(command + files, cwd=workdir, capture_output=True, text=True)
    found = json_lines(done.stdout)
    if not found:
        raise RuntimeError(f"{' '.join(command)} gave no result (status {done.returncode}): "
                           f"{done.stderr.strip()[:400]}")
    return found


PEER_RATES = (8000, 16000, 32000, 48000)   # the rates WebRTC's detector accepts
PEER_RESAMPLE_RATE = 16000


def resampled_for_peer(files, folder):
    """Copies of the files at PEER_RESAMPLE_RATE (sox, no dither), under the same base names.

    The peer's flags are per 10 ms whatever the rate, so they map back onto
    the original recording frame by frame.
    """
    os.makedirs(folder, exist_ok=True)
    copies = []
    for path in files:
        copy = os.path.join(folder, os.path.basename(path))
        subprocess.run(["sox", "-R", "-D", path, "-r", str(PEER_RESAMPLE_RATE), copy],
                       check=True, capture_output=True)
        copies.append(copy)
    return copies


def run(entries, mode, base_config, overrides, bin_dir, jobs, likelihood=None, detector=None):
    """JSON results of every entry, in manifest order per rate."""
    results = []
    rates = sorted({e["rate"] for e in entries})
    with tempfile.TemporaryDirectory(prefix="kvd-eval-") as work:
        for rate in rates:
            files = [e["path"] for e in entries if e["rate"] == rate]
            if mode == "peer":
                command = [os.path.join(bin_dir, "kvd-webrtc-vad")]
                if likelihood is not None:
                    command += ["--likelihood", likelihood]
                if rate not in PEER_RATES:
                    files = resampled_for_peer(files, os.path.join(work, f"peer-{rate}"))
            else:
                folder = os.path.join(work, str(rate))
                os.mkdir(folder)
                settings = dict(MODE_KEYS[mode], SampleRate=str(rate), **overrides)
                config = write_configs(folder, base_config, settings, detector)
                command = [os.path.join(bin_dir, "kvd"), "detect", "--mode", mode, "--config", config,
                           "--jobs", str(jobs), "--format", "json"]
            # an error line names no mode; the scorer needs it to know the truth
            results += [dict(r, mode=mode) if "error" in r and mode != "peer" else r
                        for r in run_group(files, command, work)]
    return results


def parse_overrides(items):
    overrides = {}
    for item in items:
        if "=" not in item:
            raise ValueError(f"--set wants KEY=VALUE, got {item}")
        key, value = item.split("=", 1)
        overrides[key.strip()] = value.strip()
    return overrides


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("manifest")
    parser.add_argument("--mode", required=True, choices=("online", "offline", "multi", "peer"))
    parser.add_argument("--out", required=True)
    parser.add_argument("--config", default=os.path.join(REPO, "config", "kvd.cfg"))
    parser.add_argument("--set", action="append", default=[], metavar="KEY=VALUE")
    parser.add_argument("--split", default="all", choices=("tune", "heldout", "all"))
    parser.add_argument("--rates", help="comma-separated sample rates to run (default: all); "
                        "the peer takes 8000 and 16000 Hz only")
    parser.add_argument("--bin", default=os.path.join(REPO, "build", "bin"))
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--likelihood", choices=("0", "1", "2", "3"),
                        help="the peer's likelihood setting (default: its own, 1)")
    parser.add_argument("--detector", choices=("specified", "enhanced"),
                        help="DecisionMode written into the configuration copy (default: as configured)")
    args = parser.parse_args()
    try:
        entries = cm.select(cm.read_manifest(args.manifest), args.split)
        if args.rates:
            wanted = {int(r) for r in args.rates.split(",")}
            entries = [e for e in entries if e["rate"] in wanted]
        results = run(entries, args.mode, os.path.abspath(args.config), parse_overrides(args.set),
                      os.path.abspath(args.bin), args.jobs, args.likelihood, args.detector)
    except (OSError, ValueError, RuntimeError) as e:
        sys.exit(f"run: {e}")
    with open(args.out, "w") as f:
        f.write("".join(json.dumps(r) + "\n" for r in results))
    errors = [r for r in results if "error" in r]
    print(f"run: {len(results)} results ({len(errors)} errors) in {args.out}")


if __name__ == "__main__":
    main()
