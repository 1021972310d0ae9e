#!/usr/bin/env python3
"""Measures how many small deliberate faults the test suite catches.

    tools/mutate.py sample [--seed N] [--count N] [--out FILE]   pick mutants, save them (JSON)
    tools/mutate.py run SAMPLE [--build DIR] [--timeout S]       try each, print the score

A mutant changes one line of protocol/, serial/, engine/ or diagnostics/ (not the windows): a
comparison flipped, a constant off by one, a call dropped, a condition joined the other way, a
returned code changed. `run` applies each in turn, rebuilds incrementally, runs the suite (ctest,
stopping at the first failure), and restores the line. A mutant that does not compile is left
out of the score; one that makes a test fail or time out is caught. Mutants are found again by
the text of their line, so a sample stays the same while other lines move.
"""
import argparse
import json
import os
import random
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ["protocol", "serial", "engine", "diagnostics"]

COMPARISONS = [("==", "!="), ("!=", "=="), ("<=", ">"), (">=", "<"), ("<", ">="), (">", "<=")]


def source_files():
    files = []
    for folder in FOLDERS:
        for base, _, names in os.walk(os.path.join(ROOT, folder)):
            if os.path.relpath(base, ROOT).startswith("diagnostics_ui"):
                continue
            files += [os.path.relpath(os.path.join(base, n), ROOT) for n in sorted(names) if n.endswith(".cpp")]
    return sorted(files)


def code_part(line):
    """The line without a trailing comment or string literals (where mutants would be noise)."""
    stripped = re.sub(r'"(\\.|[^"\\])*"', '""', line)
    return stripped.split("//")[0]


def mutants_of(line):
    code = code_part(line)
    text = code.strip()
    if not text or text.startswith(("#", "//", "*", "static_assert", "constexpr char", "case ")):
        return []
    found = []
    # Comparisons (not the arrows of templates, shifts or ->).
    for match in re.finditer(r"(?<![<>=!\-])(==|!=|<=|>=|<|>)(?![<>=])", code):
        op = match.group(1)
        if op in ("<", ">") and re.search(r"\w\s*<[\w:]+(\s*,\s*[\w:]+)*>", code):
            continue  # a template argument list
        for old, new in COMPARISONS:
            if op == old:
                found.append(("flip " + old, line[: match.start()] + new + line[match.end():]))
    # Integer constants off by one.
    for match in re.finditer(r"(?<![\w.])(\d+)(?![\w.])", code):
        value = int(match.group(1))
        if value > 100000:
            continue
        for delta in (1, -1):
            if value + delta >= 0:
                found.append(("constant %d->%d" % (value, value + delta),
                              line[: match.start()] + str(value + delta) + line[match.end():]))
    # && and || swapped.
    for match in re.finditer(r"&&|\|\|", code):
        new = "||" if match.group(0) == "&&" else "&&"
        found.append(("swap " + match.group(0), line[: match.start()] + new + line[match.end():]))
    # A statement that is only a call: dropped.
    if re.fullmatch(r"\s*[\w:>.\-]+\s*\(.*\)\s*;\s*", code) and not text.startswith("return"):
        found.append(("drop call", line[: len(line) - len(line.lstrip())] + ";  // dropped\n"))
    # true and false; returned codes.
    for match in re.finditer(r"\b(true|false)\b", code):
        new = "false" if match.group(1) == "true" else "true"
        found.append(("flip " + match.group(1), line[: match.start()] + new + line[match.end():]))
    match = re.search(r"\breturn (-?\d+);", code)
    if match:
        new = "-1" if match.group(1) != "-1" else "0"
        found.append(("return %s->%s" % (match.group(1), new), line[: match.start(1)] + new + line[match.end(1):]))
    return found


def sample(seed, count):
    candidates = []
    for path in source_files():
        with open(os.path.join(ROOT, path)) as f:
            for number, line in enumerate(f, 1):
                for kind, mutated in mutants_of(line):
                    candidates.append({"file": path, "line": number, "kind": kind, "original": line, "mutated": mutated})
    rng = random.Random(seed)
    rng.shuffle(candidates)
    picked, seen = [], set()
    for candidate in candidates:  # one mutant per line at most
        key = (candidate["file"], candidate["original"])
        if key in seen:
            continue
        seen.add(key)
        picked.append(candidate)
        if len(picked) == count:
            break
    return picked


def run(command, timeout, cwd=ROOT):
    try:
        done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
        return done.returncode, done.stdout.decode(errors="replace")
    except subprocess.TimeoutExpired:
        return None, "timed out"


def try_all(mutants, build, timeout):
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DKELVRA_BENCH=OFF", "-DKELVRA_DOCS=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    code, output = run(["cmake", "--build", build], 3600)
    if code != 0:
        sys.exit("the unmutated tree does not build:\n" + output[-2000:])
    env_ctest = ["ctest", "--test-dir", build, "-j", str(os.cpu_count() or 2), "--stop-on-failure",
                 "--timeout", "120"]
    results = []
    for index, mutant in enumerate(mutants, 1):
        path = os.path.join(ROOT, mutant["file"])
        with open(path) as f:
            lines = f.readlines()
        if mutant["original"] not in lines:
            results.append((mutant, "gone"))
            continue
        at = lines.index(mutant["original"])
        lines[at] = mutant["mutated"]
        with open(path, "w") as f:
            f.writelines(lines)
        try:
            started = time.time()
            code, _ = run(["cmake", "--build", build], 1800)
            failed = ""
            if code != 0:
                verdict = "does not compile"
            else:
                code, output = run(env_ctest, timeout)
                verdict = "survived" if code == 0 else "caught"
                # Which test caught it, so a flaky test cannot pass for a catch unnoticed.
                names = re.findall(r"Test\s+#\d+: (\S+) \.+\s*\*+(?:Failed|Timeout|Exception)", output or "")
                failed = names[0] if names else ("(timed out)" if code is None else "")
        finally:
            lines[at] = mutant["original"]
            with open(path, "w") as f:
                f.writelines(lines)
        results.append((mutant, verdict))
        print("%3d/%d %-16s %s:%d %s (%.0f s) %s" % (index, len(mutants), verdict, mutant["file"], at + 1,
                                                      mutant["kind"], time.time() - started, failed), flush=True)
    run(["cmake", "--build", build], 3600)  # leave the build matching the tree
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    pick = commands.add_parser("sample")
    pick.add_argument("--seed", type=int, default=1)
    pick.add_argument("--count", type=int, default=80)
    pick.add_argument("--out", default="-")
    go = commands.add_parser("run")
    go.add_argument("sample")
    go.add_argument("--build", default=os.path.join(ROOT, "build", "mutate"))
    go.add_argument("--timeout", type=int, default=600)
    go.add_argument("--equivalent", default="", help="JSON list of [file, kind, original] judged equivalent")
    args = parser.parse_args()
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

    if args.command == "sample":
        text = json.dumps(sample(args.seed, args.count), indent=1)
        if args.out == "-":
            print(text)
        else:
            with open(args.out, "w") as f:
                f.write(text + "\n")
        return

    with open(args.sample) as f:
        mutants = json.load(f)
    equivalent = []
    if args.equivalent:
        with open(args.equivalent) as f:
            equivalent = [tuple(e) for e in json.load(f)]
    results = try_all(mutants, args.build, args.timeout)
    counted = [(m, v) for m, v in results if v in ("caught", "survived")
               and (m["file"], m["kind"], m["original"]) not in equivalent]
    caught = sum(1 for _, v in counted if v == "caught")
    judged = sum(1 for m, v in results if (m["file"], m["kind"], m["original"]) in equivalent)
    print()
    print("mutants: %d; does not compile: %d; gone: %d; judged equivalent: %d" % (
        len(results), sum(1 for _, v in results if v == "does not compile"),
        sum(1 for _, v in results if v == "gone"), judged))
    if counted:
        print("caught %d of %d: %.0f%%" % (caught, len(counted), 100.0 * caught / len(counted)))
    for mutant, verdict in results:
        if verdict == "survived":
            print("survived: %s:%d %s\n    - %s    + %s" % (mutant["file"], mutant["line"], mutant["kind"],
                                                           mutant["original"].strip() + "\n",
                                                           mutant["mutated"].strip()))


if __name__ == "__main__":
    main()
