#!/usr/bin/env python3
"""Measures how many small deliberate faults the test suite catches, on a sample drawn afresh.

    tools/mutate.py run [--seed N] [--count N] [--only FOLDERS] [--build DIR] [--timeout S] [--keep FILE]
    tools/mutate.py sample [--seed N] [--count N] [--only FOLDERS] [--out FILE]
    tools/mutate.py replay FILE [--build DIR] [--timeout S]

A mutant changes one line of a layer that holds logic (every folder of the README's layer table:
serial/ to app/, the windows, kelvra-ctl and the profiles included; never tests, tools or
generated code): a comparison flipped, a constant off by one, a call dropped, a condition joined
the other way, a boolean or a returned code changed. `run` draws its sample from a seed it prints
(a new one each time unless --seed repeats an earlier run), applies each mutant in turn, rebuilds
incrementally, runs every test whose program the rebuild changed (ctest, stopping at the first
failure) and restores the line. A test counts as changed when its own executable was relinked or
when it runs a program that was (a test names such a program by its path, which stands in its
executable); a test whose programs are the same bytes as before cannot see the mutant.

Verdicts: caught (a test failed or timed out, or a build step that runs a built program failed),
survived, stillborn (does not compile) and
equivalent (listed in tools/mutation_equivalent.json with the reason it cannot change behaviour;
such a mutant is not run). A sample the suite was tuned against measures the tuning: draw a fresh
one for every measurement, and keep a sample only to repeat a run (--keep, then replay). --only
(comma-separated folders) narrows the draw while looking for gaps; a measurement draws from all.
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
# The layers, lowest first (cmake/KelvraLayers.cmake).
FOLDERS = ["serial", "discovery", "protocol", "diagnostics", "engine", "sim", "resources", "shell",
           "diagnostics_ui", "profile", "ctl", "panel", "app"]
EQUIVALENT = os.path.join(ROOT, "tools", "mutation_equivalent.json")

COMPARISONS = [("==", "!="), ("!=", "=="), ("<=", ">"), (">=", "<"), ("<", ">="), (">", "<=")]


def source_files(folders=FOLDERS):
    files = []
    for folder in folders:
        base = os.path.join(ROOT, folder)
        files += [os.path.join(folder, n) for n in sorted(os.listdir(base)) if n.endswith(".cpp")]
    return files


def code_part(line):
    """The line without a trailing comment, string literals blanked (where mutants would be noise).
    Blanked, not removed: a mutant found at an offset of this text is applied at the same offset of
    the line."""
    blanked = re.sub(r'"(\\.|[^"\\])*"', lambda m: '"' + " " * (len(m.group(0)) - 2) + '"', line)
    return blanked.split("//")[0]


def mutants_of(line):
    code = code_part(line)
    text = code.strip()
    if not text or text.startswith(("#", "//", "*", "static_assert", "constexpr char", "case ")):
        return []
    found = []
    # Comparisons (not the arrows of templates, shifts or ->).
    for match in re.finditer(r"(?<![<>=!\-])(==|!=|<=|>=|<|>)(?![<>=])", code):
        op = match.group(1)
        if op in ("<", ">") and re.search(r"\w<[\w:\s*&,]*>", code):
            continue  # a template argument list or a cast's type (formatted without a space before <)
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
    # && and || swapped; a condition negated.
    for match in re.finditer(r"&&|\|\|", code):
        new = "||" if match.group(0) == "&&" else "&&"
        found.append(("swap " + match.group(0), line[: match.start()] + new + line[match.end():]))
    match = re.match(r"(\s*(?:\}\s*else\s+)?(?:if|while)\s*\()(.*)(\)\s*\{?\s*)$", code.rstrip("\n"))
    if match and match.group(2).count("(") == match.group(2).count(")"):
        found.append(("negate condition",
                      line[: match.start(2)] + "!(" + line[match.start(2): match.end(2)] + ")" + line[match.end(2):]))
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


def sample(seed, count, folders=FOLDERS):
    """`count` mutants at most one per line, drawn evenly over the lines that have any."""
    lines = []
    for path in source_files(folders):
        with open(os.path.join(ROOT, path)) as f:
            for number, line in enumerate(f, 1):
                mutants = mutants_of(line)
                if mutants:
                    lines.append((path, number, line, mutants))
    rng = random.Random(seed)
    picked = []
    for path, number, line, mutants in rng.sample(lines, min(count, len(lines))):
        kind, mutated = rng.choice(mutants)
        picked.append({"file": path, "line": number, "kind": kind, "original": line, "mutated": mutated})
    return picked


def load_equivalent():
    with open(EQUIVALENT) as f:
        return {(e["file"], e["kind"], e["original"], e.get("previous")): e["reason"] for e in json.load(f)}


def equivalence(equivalent, mutant, lines):
    """Why the mutant cannot change behaviour, or None. An entry with "previous" holds only where the
    line before the mutated one reads so (stripped): the same line elsewhere in the file may matter."""
    at = mutant["line"] - 1
    if not (0 <= at < len(lines) and lines[at] == mutant["original"]) and mutant["original"] in lines:
        at = lines.index(mutant["original"])
    previous = lines[at - 1].strip() if 0 < at <= len(lines) else None
    for context in (None, previous):
        reason = equivalent.get((mutant["file"], mutant["kind"], mutant["original"], context))
        if reason:
            return reason
    return None


def run(command, timeout, cwd=ROOT):
    try:
        done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
        return done.returncode, done.stdout.decode(errors="replace")
    except subprocess.TimeoutExpired:
        return None, "timed out"


def executables(build):
    """Every executable file the build made, with its modification time."""
    found = {}
    for folder, dirs, files in os.walk(build):
        dirs[:] = [d for d in dirs if d != "CMakeFiles"]
        for name in files:
            path = os.path.realpath(os.path.join(folder, name))
            if os.access(path, os.X_OK) and not name.endswith((".sh", ".py", ".cmake")):
                found[path] = os.stat(path).st_mtime_ns
    return found


def tests_and_programs(build):
    """Each test's number and the executables it depends on: its own and any whose path it holds."""
    listing = json.loads(subprocess.check_output(["ctest", "--test-dir", build, "--show-only=json-v1"]))
    programs = list(executables(build))
    uses = {}
    tests = []
    for number, test in enumerate(listing["tests"], 1):
        command = test.get("command") or [""]
        exe = os.path.realpath(command[0])
        if exe not in uses:
            try:
                with open(exe, "rb") as f:
                    data = f.read()
            except OSError:
                data = b""
            uses[exe] = {exe} | {p for p in programs if p.encode() in data}
        tests.append((number, uses[exe]))
    return tests


def try_all(mutants, build, timeout, equivalent):
    # Warnings are errors, as in every build that may land: a mutant the compiler rejects is stillborn.
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DKELVRA_BENCH=OFF", "-DKELVRA_DOCS=OFF",
                    "-DKELVRA_WERROR=ON"],
                   check=True, stdout=subprocess.DEVNULL)
    code, output = run(["cmake", "--build", build], 3600)
    if code != 0:
        sys.exit("the unmutated tree does not build:\n" + output[-2000:])
    code, output = run(["ctest", "--test-dir", build, "-j", str(os.cpu_count() or 2), "--timeout", "120"], timeout)
    if code != 0:
        sys.exit("the unmutated tree does not pass its tests:\n" + (output or "")[-3000:])
    ctest = ["ctest", "--test-dir", build, "-j", str(os.cpu_count() or 2), "--stop-on-failure", "--timeout", "120"]
    tests = tests_and_programs(build)
    results = []
    for index, mutant in enumerate(mutants, 1):
        path = os.path.join(ROOT, mutant["file"])
        with open(path) as f:
            lines = f.readlines()
        started = time.time()
        failed = ""
        mutant["why"] = equivalence(equivalent, mutant, lines)
        if mutant["why"]:
            verdict = "equivalent"
            failed = mutant["why"]
        elif mutant["original"] not in lines:
            verdict = "gone"
        else:
            # The drawn line itself: the same text often stands on several lines of a file.
            drawn = mutant["line"] - 1
            at = drawn if drawn < len(lines) and lines[drawn] == mutant["original"] else lines.index(mutant["original"])
            lines[at] = mutant["mutated"]
            with open(path, "w") as f:
                f.writelines(lines)
            try:
                before = executables(build)
                code, built = run(["cmake", "--build", build], 1800)
                after = executables(build)
                changed = {p for p in after if before.get(p) != after[p]}
                affected = [str(n) for n, uses in tests if uses & changed]
                # A step that runs a built program (kelvra-ctl writes its bash completion) can fail
                # where every compile succeeded: the build caught the mutant, it was not stillborn.
                steps = re.findall(r"^FAILED: (\S+)", built or "", re.M)
                compiled = not any(step.endswith((".o", ".a", ".so")) or "." not in os.path.basename(step)
                                   for step in steps)  # no object, library or executable failed
                if code != 0 and steps and compiled:
                    verdict, failed = "caught", "(the build's run of a program: " + steps[0] + ")"
                elif code != 0:
                    verdict = "stillborn"
                elif not affected:
                    verdict, failed = "survived", "(no test's program changed)"
                else:
                    code, output = run(ctest + ["-I", "0,0,0," + ",".join(affected)], timeout)
                    verdict = "survived" if code == 0 else "caught"
                    # Which test caught it, so a flaky test cannot pass for a catch unnoticed.
                    names = re.findall(r"Test\s+#\d+: (\S+) \.*\s*\*+(?:Failed|Timeout|Exception|Subprocess|SEGFAULT|Not Run)", output or "")
                    failed = names[0] if names else ("(timed out)" if code is None else
                                                     "" if code == 0 else
                                                     "(unnamed: " + (output or "").strip()[-300:] + ")")
            finally:
                lines[at] = mutant["original"]
                with open(path, "w") as f:
                    f.writelines(lines)
                # Rebuilt now, so that the next mutant's changed programs are its own.
                run(["cmake", "--build", build], 1800)
        results.append((mutant, verdict))
        print("%3d/%d %-11s %s:%d %s (%.0f s) %s" % (index, len(mutants), verdict, mutant["file"], mutant["line"],
                                                     mutant["kind"], time.time() - started, failed), flush=True)
    return results


def report(seed, results, equivalent):
    count = lambda verdict: sum(1 for _, v in results if v == verdict)
    caught, survived = count("caught"), count("survived")
    print()
    print("seed %s: %d mutants; caught %d, survived %d, stillborn %d, equivalent %d, gone %d" % (
        seed, len(results), caught, survived, count("stillborn"), count("equivalent"), count("gone")))
    if caught + survived:
        print("caught %d of %d non-equivalent mutants that compiled: %.0f%%" % (
            caught, caught + survived, 100.0 * caught / (caught + survived)))
    for mutant, verdict in results:
        if verdict in ("survived", "equivalent"):
            print("%s: %s:%d %s\n    - %s\n    + %s%s" % (
                verdict, mutant["file"], mutant["line"], mutant["kind"], mutant["original"].strip(),
                mutant["mutated"].strip(), "\n    why: " + mutant["why"] if mutant.get("why") else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    go = commands.add_parser("run")
    pick = commands.add_parser("sample")
    again = commands.add_parser("replay")
    again.add_argument("sample")
    for command in (go, pick):
        command.add_argument("--seed", type=int, default=None)
        command.add_argument("--count", type=int, default=40)
        command.add_argument("--only", default="", help="comma-separated folders to draw from")
    pick.add_argument("--out", default="-")
    go.add_argument("--keep", default="", help="also write the drawn sample here")
    for command in (go, again):
        command.add_argument("--build", default=os.path.join(ROOT, "build", "mutate"))
        command.add_argument("--timeout", type=int, default=600)
    args = parser.parse_args()
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

    if args.command == "replay":
        with open(args.sample) as f:
            mutants = json.load(f)
        seed = "(replayed %s)" % args.sample
    else:
        seed = args.seed if args.seed is not None else random.SystemRandom().randrange(1, 2**31)
        folders = [f for f in args.only.split(",") if f] or FOLDERS
        unknown = [f for f in folders if f not in FOLDERS]
        if unknown:
            sys.exit("not a layer folder: " + ", ".join(unknown))
        mutants = sample(seed, args.count, folders)
        print("seed %d (repeat this run with --seed %d)" % (seed, seed), flush=True)
        text = json.dumps(mutants, indent=1) + "\n"
        if args.command == "sample":
            if args.out == "-":
                sys.stdout.write(text)
            else:
                with open(args.out, "w") as f:
                    f.write(text)
            return
        if args.keep:
            with open(args.keep, "w") as f:
                f.write(text)
    equivalent = load_equivalent()
    report(seed, try_all(mutants, args.build, args.timeout, equivalent), equivalent)


if __name__ == "__main__":
    main()
