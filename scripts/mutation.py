#!/usr/bin/env python3
"""Mutation testing of the portable core: one small fault at a time.

A fixed seed picks a sample of mutants from the production code of base/,
persona/, report/, housekeeping/, discovery/, launcher/, tool/ and geo/:
a comparison flipped or off by one, a condition negated, a constant
changed, a statement or an early return removed, a string literal
changed. Each mutant is built incrementally in a build of its own and
judged by the tests of its folder; a mutant that does not build does not
count. The tree is restored whatever happens (also on Ctrl-C), and nothing
is committed.

  scripts/mutation.py [--count N] [--seed S] [--build DIR] [--limit SECONDS]
"""

import argparse
import hashlib
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ["base", "persona", "report", "housekeeping", "discovery", "launcher", "tool", "geo"]

# The tests that judge a folder's mutants (ctest names, as a regular
# expression): the folder's own and the black boxes that run its code.
TESTS = {
    "base": "base_|persona_config|report_records|persona_tool",
    "persona": "persona_|webgl|run_sequence",
    "report": "report_|run_sequence|discovery_worker",
    "housekeeping": "housekeeping|run_sequence",
    "discovery": "discovery_worker|curl_probe_test|country|discovery_launch|run_sequence",
    "launcher": "launcher_|run_sequence|discovery_launch|discovery_blackbox",
    "tool": "persona_tool|persona_keys",
    "geo": "geo_",
}

# (name, pattern, replacement); each match on a line is one mutant.
# clang-format writes a binary operator with a blank on each side and a
# template's brackets without, so the blanks tell a comparison from a type.
OPERATORS = [
    ("== to !=", r" == ", " != "),
    ("!= to ==", r" != ", " == "),
    ("<= to <", r" <= ", " < "),
    (">= to >", r" >= ", " > "),
    ("< to <=", r" < ", " <= "),
    ("> to >=", r" > ", " >= "),
    ("&& to ||", r" && ", " || "),
    ("|| to &&", r" \|\| ", " && "),
    ("true to false", r"\btrue\b", "false"),
    ("false to true", r"\bfalse\b", "true"),
    ("constant + 1", r"(?<![\w.])(\d+)(?![\w.])", None),
    ("string changed", r'"([^"\\]|\\.)+"', None),
]
SKIP = re.compile(r"^\s*(#|//|/\*|\*|namespace|using |template|static_assert|\}|case )")


def production_files():
    listed = subprocess.run(["git", "-C", ROOT, "ls-files"] + [f + "/*.cpp" for f in FOLDERS],
                            capture_output=True, text=True, check=True).stdout.split()
    return [f for f in listed if "/win32/" not in f]


def candidates(path):
    found = []
    with open(os.path.join(ROOT, path), encoding="utf-8") as source:
        lines = source.read().split("\n")
    for number, line in enumerate(lines):
        if SKIP.match(line) or "operator" in line or "#include" in line:
            continue
        code = line.split("//")[0]
        for name, pattern, replacement in OPERATORS:
            for match in re.finditer(pattern, code):
                if name == "constant + 1":
                    new = str(int(match.group(1)) + 1)
                elif name == "string changed":
                    new = match.group(0)[:-1] + "~" + '"'
                else:
                    new = replacement
                found.append((path, number, match.start(), match.end(), new, name))
        stripped = code.strip()
        if stripped.endswith(";") and not stripped.startswith(("return", "const ", "auto ", "std::", "static")) \
                and "=" not in stripped.split("(")[0]:
            found.append((path, number, 0, len(line), "", "statement removed"))
        if re.match(r"\s*if \(.*\) return\b.*;\s*$", code):
            found.append((path, number, 0, len(line), "", "early return removed"))
        condition = re.match(r"(\s*(?:if|while) \()(.*)(\)\s*\{?\s*)$", code)
        if condition and condition.group(2).count("(") == condition.group(2).count(")"):
            found.append((path, number, len(condition.group(1)), len(condition.group(1)) + len(condition.group(2)),
                          "!(" + condition.group(2) + ")", "condition negated"))
    return found


def pick(every, seed, count):
    """The seed's sample, drawn by what each mutant changes rather than by its
    position, so that an edit elsewhere (a new test's fix, a moved line) does
    not draw a different sample: a rerun judges the same mutants again."""
    seen, texts = {}, {}

    def key(candidate):
        path, number, start, end, new, name = candidate
        if path not in texts:
            with open(os.path.join(ROOT, path), encoding="utf-8") as source:
                texts[path] = source.read().split("\n")
        line = texts[path][number]
        # The same line may stand twice in a file; count which one it is.
        identity = (path, line.strip(), start, name, new)
        seen[identity] = seen.get(identity, 0) + 1
        text = f"{seed}|{path}|{line.strip()}|{start}|{name}|{new}|{seen[identity]}"
        return hashlib.sha256(text.encode()).hexdigest()

    return sorted(every, key=key)[:count]


def run(command, limit, cwd=ROOT):
    try:
        result = subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                timeout=limit, start_new_session=True)
        return result.returncode
    except subprocess.TimeoutExpired:
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--count", type=int, default=150)
    parser.add_argument("--seed", type=int, default=20261211)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "mutation"))
    parser.add_argument("--limit", type=int, default=120,
                        help="seconds a mutant's tests may take (unmutated, each folder's take well under a minute)")
    options = parser.parse_args()

    dirty = subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--"] + FOLDERS,
                           capture_output=True, text=True).stdout
    if dirty:
        sys.exit("mutation: the production folders have uncommitted changes; commit or stash them first")

    every = [c for path in production_files() for c in candidates(path)]
    sample = pick(every, options.seed, options.count)
    print(f"{len(every)} possible mutants, {len(sample)} picked with seed {options.seed}", flush=True)

    if run(["cmake", "-S", ROOT, "-B", options.build, "-DCMAKE_BUILD_TYPE=Debug"], 600) != 0 or \
            run(["cmake", "--build", options.build, "--parallel", str(os.cpu_count())], 3600) != 0:
        sys.exit("mutation: the unmutated tree does not build")

    original = {}

    def restore(*_):
        for path, text in original.items():
            with open(os.path.join(ROOT, path), "w", encoding="utf-8") as out:
                out.write(text)
        original.clear()

    def interrupted(signum, _frame):
        restore()
        sys.exit(128 + signum)

    signal.signal(signal.SIGINT, interrupted)
    signal.signal(signal.SIGTERM, interrupted)

    killed, survived, timed_out, unbuilt = 0, [], 0, 0
    try:
        for index, (path, number, start, end, new, name) in enumerate(sample, 1):
            full = os.path.join(ROOT, path)
            with open(full, encoding="utf-8") as source:
                text = source.read()
            original[path] = text
            lines = text.split("\n")
            old = lines[number]
            lines[number] = old[:start] + new + old[end:]
            with open(full, "w", encoding="utf-8") as out:
                out.write("\n".join(lines))
            folder = path.split("/")[0]
            began = time.monotonic()
            built = run(["cmake", "--build", options.build, "--parallel", str(os.cpu_count())], 900)
            if built != 0:
                unbuilt += 1
                verdict = "does not build"
            else:
                tested = run(["ctest", "--test-dir", options.build, "-R", TESTS[folder], "--stop-on-failure",
                              "--timeout", str(options.limit)], options.limit + 60)
                if tested is None:
                    timed_out += 1
                    verdict = "timed out"
                elif tested != 0:
                    killed += 1
                    verdict = "killed"
                else:
                    survived.append(f"{path}:{number + 1}: {name}: {old.strip()}  ->  {lines[number].strip()}")
                    verdict = "SURVIVED"
            restore()
            print(f"[{index}/{len(sample)}] {verdict:14} {path}:{number + 1} {name} "
                  f"({time.monotonic() - began:.0f} s)", flush=True)
    finally:
        restore()
        # The build goes back to the unmutated tree for whoever uses it next.
        run(["cmake", "--build", options.build, "--parallel", str(os.cpu_count())], 3600)

    judged = killed + len(survived) + timed_out
    score = 100.0 * (killed + timed_out) / judged if judged else 0.0
    print(f"\nkilled {killed}, survived {len(survived)}, timed out {timed_out}, not built {unbuilt}")
    print(f"score {score:.1f} % of {judged} judged mutants (seed {options.seed})")
    for line in survived:
        print("survived: " + line)


if __name__ == "__main__":
    main()
