"""Reading the corpus manifest and its 10 ms labels (standard library only)."""
import os

FIELDS = ("path", "rate", "condition", "split", "level", "labels", "talker")
# Columns a newer corpus appends; an older manifest without them reads as "-".
EXTRA_FIELDS = ("language", "source", "speaker")
FRAME_MS = 10


def read_manifest(path):
    """Entries of a manifest.tsv; paths are made absolute (relative to the manifest's folder)."""
    base = os.path.dirname(os.path.abspath(path))
    entries = []
    with open(path) as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            values = line.split("\t")
            if not len(FIELDS) <= len(values) <= len(FIELDS) + len(EXTRA_FIELDS):
                raise ValueError(f"{path}:{number}: expected {len(FIELDS)} to "
                                 f"{len(FIELDS) + len(EXTRA_FIELDS)} tab-separated fields")
            values += ["-"] * (len(FIELDS) + len(EXTRA_FIELDS) - len(values))
            entry = dict(zip(FIELDS + EXTRA_FIELDS, values))
            entry["rate"] = int(entry["rate"])
            entry["path"] = os.path.join(base, entry["path"])
            entry["labels"] = os.path.join(base, entry["labels"])
            entries.append(entry)
    return entries


def read_labels(path):
    """The 0/1 speech flags of a labels file, one per 10 ms frame."""
    with open(path) as f:
        line = f.read().strip()
    if line.strip("01"):
        raise ValueError(f"{path}: labels hold characters other than 0 and 1")
    return [c == "1" for c in line]


def select(entries, split):
    return [e for e in entries if split == "all" or e["split"] == split]
