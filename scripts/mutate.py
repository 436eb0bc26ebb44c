#!/usr/bin/env python3
"""Mutation score of the classifiers and the offline scans.

Lists every mutant of classifiers/*.cpp and pipeline/offline_*.cpp that four
simple operators can make, draws a deterministic sample (--seed), and for each
one rebuilds the static core and the test programs of the folders below,
runs their tests with ctest (a time-out per test) and records whether a test
failed (killed), all passed (survived) or the mutant did not build (invalid).

  comparison  <  <=  >  >=  ==  !=  flipped to their neighbour or negation,
              && and || swapped
  bound       a loop condition's limit moved by one (+ 1 / - 1)
  index       a subscript moved by one ([i] -> [i + 1] / [i - 1])

Each operator gets an equal share of the sample.
  statement   an expression statement (assignment, call, ++/--) dropped

The tree is taken from git (--rev, default HEAD) into build-mutation/src, so
the working tree stays untouched and may change while the run goes on. The
score is killed / (killed + survived); build-mutation/mutants.tsv lists each
mutant with its verdict.

  scripts/mutate.py --rev main --count 60      # the figures of docs/testing.md
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import time

MUTATED_GLOBS = [("classifiers", re.compile(r"^[a-z_]+\.cpp$")),
                 ("pipeline", re.compile(r"^offline_[a-z_]+\.cpp$"))]
# The test folders whose programs link the core and drive the classifiers and
# the offline scans; the folder of the mutated file runs first.
TEST_DIRS = ["tests/classifiers", "tests/pipeline", "tests/engine", "tests/golden",
             "tests/enhanced", "tests/api", "tests/fuzz"]
FIRST_TEST_DIR = {"classifiers": "tests/classifiers", "pipeline": "tests/pipeline"}

COMPARISON_FLIPS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==",
                    "&&": "||", "||": "&&"}
COMPARISON = re.compile(r"(?<=[\w)\]]) (<=|>=|==|!=|<|>|&&|\|\|) (?=[\w(!-])")
FOR_CONDITION = re.compile(r"\bfor \(([^;]*); ([^;]+); ")
BOUND_LIMIT = re.compile(r"(<=|>=|<|>) (.+)$")
INDEX = re.compile(r"(?<=[\w\]])\[([^\[\]]+)\]")
DECLARATION_START = re.compile(
    r"^(const|constexpr|static|auto|bool|int|float|double|char|u?int(8|16|32|64)_t|size_t|"
    r"return|break|continue|goto|case|default|using|typedef|struct|class|enum|namespace|"
    r"std::(array|vector|unique_ptr|string|lock_guard|pair)|[A-Z]\w*\s+[\w*&])\b")
EXPRESSION_STATEMENT = re.compile(r"^[\w:.\->\[\]()*]+.*(=|\+\+|--|\().*;$")


def code_part(line):
    """The line up to a trailing // comment, or '' for comment and preprocessor lines."""
    stripped = line.strip()
    if not stripped or stripped.startswith(("//", "/*", "*", "#")):
        return ""
    cut = line.find("//")
    return line if cut < 0 else line[:cut]


def list_mutants(root):
    mutants = []
    for folder, pattern in MUTATED_GLOBS:
        for name in sorted(os.listdir(os.path.join(root, folder))):
            if not pattern.match(name):
                continue
            path = f"{folder}/{name}"
            with open(os.path.join(root, path)) as f:
                lines = f.read().split("\n")
            previous = ";"
            for number, line in enumerate(lines, 1):
                code = code_part(line)
                if not code:
                    continue
                for m in COMPARISON.finditer(code):
                    op = m.group(1)
                    mutants.append((path, number, "comparison",
                                    code[:m.start(1)] + COMPARISON_FLIPS[op] + code[m.end(1):]))
                f_match = FOR_CONDITION.search(code)
                if f_match:
                    condition = f_match.group(2)
                    b = BOUND_LIMIT.search(condition)
                    if b:
                        for delta in (" + 1", " - 1"):
                            new_condition = condition[:b.end()] + delta
                            mutants.append((path, number, "bound",
                                            code[:f_match.start(2)] + new_condition +
                                            code[f_match.end(2):]))
                for m in INDEX.finditer(code):
                    inner = m.group(1)
                    if inner.strip().isdigit() and DECLARATION_START.match(code.strip()):
                        continue  # an array size, not a subscript
                    if code.rfind("sizeof(", 0, m.start()) > code.rfind(")", 0, m.start()):
                        continue  # under sizeof: the same size whatever the index
                    for delta in (" + 1", " - 1"):
                        mutants.append((path, number, "index",
                                        code[:m.start(1)] + f"({inner}){delta}" + code[m.end(1):]))
                stripped = code.strip()
                if (previous.endswith((";", "{", "}", ":")) and EXPRESSION_STATEMENT.match(stripped)
                        and not DECLARATION_START.match(stripped)
                        and stripped.count("(") == stripped.count(")")):
                    indent = code[:len(code) - len(code.lstrip())]
                    mutants.append((path, number, "statement", indent + ";"))
                previous = stripped
    return mutants


def run(cmd, cwd, timeout, log):
    try:
        done = subprocess.run(cmd, cwd=cwd, stdout=log, stderr=subprocess.STDOUT, timeout=timeout)
        return done.returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def build_and_test(build, test_dirs, args, log):
    """Builds and runs one folder after the other, stopping at the first failure."""
    for n, d in enumerate(test_dirs):
        if run(["ninja", "-j", str(args.jobs), f"{d}/all"], build, args.build_timeout, log) != 0:
            return "invalid" if n == 0 else "killed"
        rc = run(["ctest", "-j", str(args.jobs), "--timeout", str(args.test_timeout),
                  "--stop-on-failure", "-Q"], os.path.join(build, d), args.mutant_timeout, log)
        if rc != 0:
            return "killed"
    return "survived"


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rev", default="HEAD", help="git revision whose tree is mutated")
    parser.add_argument("--count", type=int, default=60, help="mutants drawn")
    parser.add_argument("--seed", type=int, default=19)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--work", default="build-mutation", help="scratch folder")
    parser.add_argument("--test-timeout", type=int, default=60, help="seconds per test")
    parser.add_argument("--mutant-timeout", type=int, default=600, help="seconds per folder")
    parser.add_argument("--build-timeout", type=int, default=900)
    parser.add_argument("--list", action="store_true", help="print the sample and stop")
    args = parser.parse_args()

    top = subprocess.check_output(["git", "rev-parse", "--show-toplevel"], text=True).strip()
    work = os.path.join(top, args.work)
    src = os.path.join(work, "src")
    build = os.path.join(work, "build")
    os.makedirs(work, exist_ok=True)
    log = open(os.path.join(work, "mutate.log"), "w")

    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(src)
    archive = subprocess.Popen(["git", "archive", args.rev], cwd=top, stdout=subprocess.PIPE)
    subprocess.check_call(["tar", "-x", "-C", src], stdin=archive.stdout)
    if archive.wait() != 0:
        sys.exit(f"git archive {args.rev} failed")

    every = list_mutants(src)
    # An equal share of each operator: subscripts alone would be half the list.
    draw = random.Random(args.seed)
    operators = sorted({m[2] for m in every})
    sample = []
    for n, operator in enumerate(operators):
        share = args.count // len(operators) + (n < args.count % len(operators))
        of_operator = [m for m in every if m[2] == operator]
        sample += draw.sample(of_operator, min(share, len(of_operator)))
    sample.sort(key=lambda m: (m[0], m[1], m[2], m[3]))
    print(f"{len(every)} mutants, {len(sample)} drawn with seed {args.seed} from {args.rev}")
    if args.list:
        for m in sample:
            print(f"{m[0]}:{m[1]} {m[2]}: {m[3].strip()}")
        return

    if not os.path.exists(os.path.join(build, "build.ninja")):
        subprocess.check_call(["cmake", "-S", src, "-B", build, "-G", "Ninja",
                               "-DKVD_BUILD_BENCH=OFF", "-DKVD_PYTHON=OFF",
                               "-DKVD_WEBRTC_PEER=OFF"], stdout=log)
    start = time.time()
    if build_and_test(build, TEST_DIRS, args, log) != "survived":
        sys.exit(f"the unmutated tree does not build or pass: {work}/mutate.log")
    print(f"unmutated: built and passed in {time.time() - start:.0f} s")

    originals = {}
    verdicts = []
    with open(os.path.join(work, "mutants.tsv"), "w") as table:
        table.write("file\tline\toperator\tverdict\tmutated line\n")
        for index, (path, number, operator, new_line) in enumerate(sample, 1):
            full = os.path.join(src, path)
            if path not in originals:
                with open(full) as f:
                    originals[path] = f.read()
            lines = originals[path].split("\n")
            old_line = lines[number - 1]
            cut = old_line.find("//")
            lines[number - 1] = new_line + ("" if cut < 0 or operator == "statement"
                                            else old_line[cut:])
            with open(full, "w") as f:
                f.write("\n".join(lines))
            folder = path.split("/")[0]
            dirs = [FIRST_TEST_DIR[folder]] + [d for d in TEST_DIRS if d != FIRST_TEST_DIR[folder]]
            began = time.time()
            print(f"--- mutant {index}: {path}:{number} {operator}", file=log, flush=True)
            verdict = build_and_test(build, dirs, args, log)
            with open(full, "w") as f:
                f.write(originals[path])
            verdicts.append(verdict)
            table.write(f"{path}\t{number}\t{operator}\t{verdict}\t{new_line.strip()}\n")
            table.flush()
            print(f"[{index}/{len(sample)}] {verdict:8} {path}:{number} {operator} "
                  f"({time.time() - began:.0f} s)", flush=True)
    # Leave the scratch build matching the unmutated tree.
    run(["ninja", "-j", str(args.jobs)], build, args.build_timeout, log)
    killed = verdicts.count("killed")
    survived = verdicts.count("survived")
    invalid = verdicts.count("invalid")
    score = 100.0 * killed / max(1, killed + survived)
    print(f"killed {killed}, survived {survived}, invalid {invalid}: "
          f"mutation score {score:.1f} % ({args.rev}, seed {args.seed})")


if __name__ == "__main__":
    main()
