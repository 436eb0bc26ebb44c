"""Stand-in for `kvd detect --format json` built on kvd-stream and kvd-offline (text output)."""
import os
import re
import subprocess
from concurrent.futures import ThreadPoolExecutor

FINAL = re.compile(r"final: (\w+), start (-?\d+) ms, end (-?\d+) ms, (\d+) ms streamed")
SEGMENT = re.compile(r"segment \d+: (-?\d+) ms \.\. (-?\d+) ms")
STATES = {"before_speech": 1, "in_speech": 2, "speech_end": 3, "no_speech": 4,
          "speech_too_long": 5, "speech_too_short": 6}


def detect_one(path, mode, config, bin_dir, workdir):
    if mode == "online":
        command = [os.path.join(bin_dir, "kvd-stream"), "--config", config, path]
    else:
        command = [os.path.join(bin_dir, "kvd-offline"), path, "--config", config]
    done = subprocess.run(command, cwd=workdir, capture_output=True, text=True)
    if done.returncode != 0:
        return {"file": path, "error": done.stderr.strip()}
    if mode == "online":
        m = FINAL.search(done.stdout)
        if not m:
            return {"file": path, "error": "no final line"}
        outcome, start, end, total = m.group(1), int(m.group(2)), int(m.group(3)), int(m.group(4))
        segments = [[start, end if end >= 0 else total]] if start >= 0 else []
        return {"file": path, "mode": mode, "state": STATES[outcome], "outcome": outcome,
                "start_ms": start, "end_ms": end, "segments": segments}
    segments = [[int(a), int(b)] for a, b in SEGMENT.findall(done.stdout)]
    return {"file": path, "mode": mode, "state": 3 if segments else 1, "segments": segments}


def detect(files, mode, config, bin_dir, workdir, jobs):
    with ThreadPoolExecutor(max_workers=jobs) as pool:
        return list(pool.map(lambda f: detect_one(f, mode, config, bin_dir, workdir), files))
