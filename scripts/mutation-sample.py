#!/usr/bin/env python3
"""Sampled mutation testing: applies one plausible fault at a time to the product's C++ code,
rebuilds and runs the whole CTest suite, and reports which faults no test noticed.

The same seed over the same product code picks the same faults, so two runs on trees that differ
only in their tests compare the tests' fault-catching power directly.

    scripts/mutation-sample.py --seed 7 --n 40 [--build build/mutation] [--files src/config]

Run it in a checkout with no uncommitted product changes: each mutant is written in place and the
file is restored afterwards, also on Ctrl+C or SIGTERM. Mutants that do not compile are skipped and replaced
by the next candidate of the same shuffled order.
"""
import argparse
import random
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PRODUCT_FOLDERS = ["src", "quorvane-agent"]

# (name, pattern, replacement). Spaces around the binary operators keep template brackets,
# stream operators and pointer arrows out of the sample.
OPERATORS = [
    ("== to !=", re.compile(r" == "), " != "),
    ("!= to ==", re.compile(r" != "), " == "),
    ("< to <=", re.compile(r" < "), " <= "),
    ("<= to <", re.compile(r" <= "), " < "),
    ("> to >=", re.compile(r" > "), " >= "),
    (">= to >", re.compile(r" >= "), " > "),
    ("&& to ||", re.compile(r" && "), " || "),
    ("|| to &&", re.compile(r" \|\| "), " && "),
    ("true to false", re.compile(r"\btrue\b"), "false"),
    ("false to true", re.compile(r"\bfalse\b"), "true"),
    ("drop negation", re.compile(r"(?<=[(\s])!(?=[A-Za-z_(])"), ""),
    ("+ 1 to - 1", re.compile(r" \+ 1\b"), " - 1"),
    ("- 1 to + 1", re.compile(r" - 1\b"), " + 1"),
]
# A whole statement that is a call (not a declaration, not a return) is deleted.
CALL_STATEMENT = re.compile(r"^\s*(?:[A-Za-z_][\w:]*(?:\.|->))*[A-Za-z_][\w:]*\(.*\);\s*$")
NOT_A_CALL = re.compile(r"^\s*(return|if|while|for|switch|case|Q_[A-Z_]+|[A-Z_]+\()\b")


def product_files(narrowed):
    listed = subprocess.run(["git", "ls-files", *PRODUCT_FOLDERS], cwd=ROOT, check=True,
                            capture_output=True, text=True).stdout.split()
    files = [f for f in listed if f.endswith(".cpp")]
    if narrowed:
        files = [f for f in files if any(f.startswith(n.rstrip("/")) for n in narrowed)]
    return sorted(files)


def is_code(line):
    stripped = line.strip()
    return stripped and not stripped.startswith(("//", "#", "*", "/*"))


def candidates(files):
    found = []
    for path in files:
        for number, line in enumerate((ROOT / path).read_text().splitlines(), start=1):
            if not is_code(line):
                continue
            code = line.split("//")[0]
            for name, pattern, replacement in OPERATORS:
                for match in pattern.finditer(code):
                    found.append((path, number, name, match.start(), match.end(), replacement))
            if CALL_STATEMENT.match(code) and not NOT_A_CALL.match(code):
                found.append((path, number, "delete call", 0, len(line), ";"))
    return found


def run(command, timeout):
    try:
        return subprocess.run(command, cwd=ROOT, capture_output=True, text=True,
                              timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def run_suite(options):
    # The keyring providers' session tests can time out on a loaded machine; a second try keeps
    # such a hiccup from counting as a caught fault, while a real catch fails both times.
    return run(["ctest", "--test-dir", options.build, "-j", str(options.jobs), "--stop-on-failure",
                "--repeat", "until-pass:2"], 1800)


def failing_tests(output):
    return sorted(set(re.findall(r"\d+ - (\S+) \((?:Failed|Timeout|SEGFAULT|Subprocess)", output)))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--n", type=int, default=40)
    parser.add_argument("--build", default="build/ci")
    parser.add_argument("--files", nargs="*", default=[])
    parser.add_argument("--jobs", type=int, default=2)
    options = parser.parse_args()
    # A stop by SIGTERM unwinds like Ctrl+C, so the mutated file is restored.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))

    pool = candidates(product_files(options.files))
    random.Random(options.seed).shuffle(pool)
    print(f"{len(pool)} candidate mutants; sampling {options.n} that compile", flush=True)

    baseline = run(["cmake", "--build", options.build], 1800)
    if baseline is None or baseline.returncode != 0:
        sys.exit("the unmutated tree does not build")
    # A suite that fails unmutated would count every mutant as killed.
    baseline = run_suite(options)
    if baseline is None or baseline.returncode != 0:
        sys.exit("the unmutated tree fails its tests: " +
                 ("timeout" if baseline is None else ", ".join(failing_tests(baseline.stdout))))

    killed, survivors, tried = 0, [], 0
    for path, number, name, start, end, replacement in pool:
        if killed + len(survivors) == options.n:
            break
        tried += 1
        source = ROOT / path
        original = source.read_text()
        lines = original.splitlines(keepends=True)
        line = lines[number - 1]
        lines[number - 1] = line[:start] + replacement + line[end:]
        label = f"{path}:{number} {name}: {line.strip()}"
        try:
            source.write_text("".join(lines))
            built = run(["cmake", "--build", options.build], 1800)
            if built is None or built.returncode != 0:
                continue
            started = time.monotonic()
            tested = run_suite(options)
            seconds = time.monotonic() - started
            if tested is None or tested.returncode != 0:
                killed += 1
                caught_by = "timeout" if tested is None else ", ".join(
                    failing_tests(tested.stdout)) or "failed"
                print(f"killed   {label}  [{caught_by}; {seconds:.0f} s]", flush=True)
            else:
                survivors.append(label)
                print(f"SURVIVED {label}  [{seconds:.0f} s]", flush=True)
        finally:
            source.write_text(original)
    run(["cmake", "--build", options.build], 1800)

    total = killed + len(survivors)
    print(f"\nscore: {killed}/{total} killed ({tried} tried, {tried - total} did not compile)")
    for survivor in survivors:
        print(f"  survivor: {survivor}")


if __name__ == "__main__":
    main()
