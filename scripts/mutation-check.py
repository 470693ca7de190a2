#!/usr/bin/env python3
"""Seeds faults into a copy of the sources, one at a time, and tells which ones the tests catch.

    scripts/mutation-check.py generate [--seed 7] [--count 80] [--out tests/mutants.json]
    scripts/mutation-check.py run [--mutants tests/mutants.json] [--only ID,ID] [--timeout 240]

`generate` picks the mutants from the code where a fault costs users data or trust and writes them
to a file, so the same set can be run before and after a change. `run` copies the checkout to a
scratch folder, builds it once, then for each mutant changes one line, builds and runs the tests that
own the file (stopping at the first failure) and, if they all pass, every test of the areas that
cover its folder. Each mutant ends as killed,
survived, no-build (did not compile) or timeout; stale means its line is no longer in the file.
The results go to <mutants>.results.json; the score is killed / (killed + survived + timeout).
"""

import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# Where a fault costs users data or trust: naming and saving files, the history, the upload run
# and its chunk window, downloads and .part files, ZIP staging, certificate trust, the secret
# store's owner, the list model's diffing, the command line's exit codes.
TARGETS = [
    "src/services/SafeFileName.cpp",
    "src/services/HistoryStore.cpp",
    "src/services/APIServiceUpload.cpp",
    "src/services/APIServiceIncoming.cpp",
    "src/services/ZipService.cpp",
    "src/services/PrivateTempDir.cpp",
    "src/services/LibsecretStore.cpp",
    "src/net/CurlJob.cpp",
    "src/net/ServerTrust.cpp",
    "src/net/CertificatePins.cpp",
    "src/transfers/UploadJob.cpp",
    "src/transfers/Uploads.cpp",
    "src/transfers/ServerAccount.cpp",
    "src/transfers/RecordListModel.h",
    "src/cli/Commands.cpp",
    "src/cli/SendResult.cpp",
]

# The tests that own each file run first; a mutant they miss is run again against every test of
# the areas that cover its folder, so the first pass is quick and the verdict still the suite's.
OWNERS = {
    "SafeFileName": "tst_records|tst_requestcore|tst_transferlists",
    "HistoryStore": "tst_records|tst_faults|tst_session|tst_transferlists",
    "APIServiceUpload": "tst_upload|tst_faults",
    "APIServiceIncoming": "tst_requestcore|tst_transferlists",
    "ZipService": "tst_zipservice|tst_faults|tst_unprivileged",
    "PrivateTempDir": "tst_zipservice|tst_killed",
    "LibsecretStore": "tst_keychain",
    "CurlJob": "tst_requestcore|tst_upload|tst_transferlists",
    "ServerTrust": "tst_requestcore",
    "CertificatePins": "tst_requestcore",
    "UploadJob": "tst_faults|tst_session",
    "Uploads": "tst_faults|tst_session",
    "ServerAccount": "tst_session|tst_settings|tst_faults",
    "RecordListModel": "tst_session|tst_sendtab|tst_receivetab",
    "Commands": "tst_commandline",
    "SendResult": "tst_commandline",
}

# Test areas (CTest labels) that cover each source folder.
COVERING_LABELS = {
    "models": "models|services|transfers|faults",
    "net": "net|services|faults",
    "services": "services|transfers|faults",
    "transfers": "transfers|faults|views|platform",
    "cli": "app",
    "platform": "platform|faults",
    "app": "app",
    "views": "views",
}

SWAPS = [
    ("compare", re.compile(r"(?<=\s)<(?=\s)"), "<="),
    ("compare", re.compile(r"(?<=\s)<=(?=\s)"), "<"),
    ("compare", re.compile(r"(?<=\s)>(?=\s)"), ">="),
    ("compare", re.compile(r"(?<=\s)>=(?=\s)"), ">"),
    ("equality", re.compile(r"(?<=\s)==(?=\s)"), "!="),
    ("equality", re.compile(r"(?<=\s)!=(?=\s)"), "=="),
    ("logic", re.compile(r"(?<=\s)&&(?=\s)"), "||"),
    ("logic", re.compile(r"(?<=\s)\|\|(?=\s)"), "&&"),
    ("off-by-one", re.compile(r" \+ 1\b(?!\.)"), ""),
    ("off-by-one", re.compile(r" - 1\b(?!\.)"), ""),
    ("constant-return", re.compile(r"\breturn true;"), "return false;"),
    ("constant-return", re.compile(r"\breturn false;"), "return true;"),
    ("flag", re.compile(r"\bRENAME_NOREPLACE\b"), "0"),
    ("flag", re.compile(r" \| O_EXCL\b"), ""),
    ("flag", re.compile(r" \| O_NOFOLLOW\b"), ""),
]
CALL_STATEMENT = re.compile(r"^(\s*)(?:co_await )?(?:[A-Za-z_]\w*(?:::|\.|->))*[A-Za-z_]\w*\(.*\);\s*$")
IF_CONDITION = re.compile(r"^(\s*(?:\}\s*else\s+)?if \()(.*)(\)(?: \{)?)\s*$")
NOT_CODE = re.compile(r"^\s*(//|\*|/\*|#)")


def balanced(text):
    depth = 0
    for ch in text:
        depth += {"(": 1, ")": -1}.get(ch, 0)
        if depth < 0:
            return False
    return depth == 0


def candidates(path, lines):
    for number, line in enumerate(lines, start=1):
        if NOT_CODE.match(line) or '"' in line:
            continue
        for kind, pattern, replacement in SWAPS:
            for match in pattern.finditer(line):
                mutated = line[: match.start()] + replacement + line[match.end():]
                yield dict(file=path, line=number, kind=kind, original=line, mutated=mutated)
        call = CALL_STATEMENT.match(line)
        if call and not re.match(r"\s*(return|if|while|for|switch|delete|throw)\b", line):
            yield dict(file=path, line=number, kind="removed-call", original=line,
                       mutated=call.group(1) + ";")
        condition = IF_CONDITION.match(line)
        # A condition that declares a variable cannot be negated as a whole.
        if condition and balanced(condition.group(2)) and not re.search(r"\bauto\b|;", condition.group(2)):
            mutated = f"{condition.group(1)}!({condition.group(2)}){condition.group(3)}"
            yield dict(file=path, line=number, kind="negated-condition", original=line, mutated=mutated)


def generate(args):
    by_file = {}
    for path in TARGETS:
        source = ROOT / path
        if source.exists():
            by_file[path] = list(candidates(path, source.read_text().split("\n")))
    rng = random.Random(args.seed)
    for path, sites in by_file.items():
        rng.shuffle(sites)
        # Alternate the kinds of fault within a file, so conditions (the most common site) do
        # not crowd out the rarer comparisons, flags and constant returns.
        rank, seen = {}, {}
        for site in sites:
            seen[site["kind"]] = seen.get(site["kind"], 0) + 1
            rank[id(site)] = seen[site["kind"]]
        sites.sort(key=lambda site: rank[id(site)], reverse=True)
    # Round-robin over the files, so every file gets its share of the mutants.
    chosen = []
    while len(chosen) < args.count and any(by_file.values()):
        for path in TARGETS:
            if by_file.get(path) and len(chosen) < args.count:
                chosen.append(by_file[path].pop())
    chosen.sort(key=lambda m: (m["file"], m["line"]))
    for index, mutant in enumerate(chosen, start=1):
        mutant["id"] = index
    Path(args.out).write_text(json.dumps(chosen, indent=1, ensure_ascii=False) + "\n")
    print(f"{len(chosen)} mutants (seed {args.seed}) written to {args.out}")


def locate(lines, mutant):
    """The current index of the mutant's line: where it was, else the one unchanged copy."""
    index = mutant["line"] - 1
    if 0 <= index < len(lines) and lines[index] == mutant["original"]:
        return index
    found = [i for i, line in enumerate(lines) if line == mutant["original"]]
    return found[0] if len(found) == 1 else None


def sh(command, cwd, timeout=None, env=None):
    try:
        done = subprocess.run(command, cwd=cwd, env=env, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        return done.returncode, done.stdout
    except subprocess.TimeoutExpired as expired:
        return None, expired.stdout or ""


def covering_tests(build, path, owners_only):
    labels = COVERING_LABELS.get(Path(path).parts[1], ".")
    _, listing = sh(["ctest", "--test-dir", str(build), "-N", "-L", labels, "-LE", "e2e|packaging"], build)
    tests = re.findall(r"Test\s+#\d+: (\S+)", listing)
    owners = OWNERS.get(Path(path).stem)
    if owners_only and owners:
        tests = [t for t in tests if re.search(owners, t)] or tests
    return tests


def verdict(copy, build, env, tests, timeout):
    pattern = "^(" + "|".join(tests) + ")$"
    mutant_env = dict(env, ZANVOLT_BUILD_TARGETS=" ".join(tests))
    code, output = sh([str(copy / "scripts/test.sh"), "-R", pattern, "--stop-on-failure",
                       "--timeout", str(timeout)], copy, timeout=timeout * 2, env=mutant_env)
    if code is None or "***Timeout" in output:
        return "timeout"
    if "Test project" not in output:
        return "no-build"
    return "survived" if code == 0 else "killed"


def run(args):
    mutants = json.loads(Path(args.mutants).read_text())
    if args.only:
        wanted = {int(i) for i in args.only.split(",")}
        mutants = [m for m in mutants if m["id"] in wanted]
    scratch = Path(args.workdir) if args.workdir else Path(tempfile.mkdtemp(prefix="zanvolt-mutants."))
    copy = scratch / "src-copy"
    # copy2 keeps the times, so a kept copy's build stays valid for the files that did not change.
    shutil.copytree(ROOT, copy, ignore=shutil.ignore_patterns(".git", "build*"), symlinks=True,
                    dirs_exist_ok=True)
    build = copy / "build"
    env = dict(os.environ, ZANVOLT_BUILD_DIR=str(build))
    print(f"building the unchanged copy in {build} …", flush=True)
    code, output = sh([str(copy / "scripts/test.sh"), "-N"], copy, env=env)
    if code != 0:
        sys.exit("the unchanged sources do not build:\n" + output[-3000:])
    results = []
    for mutant in mutants:
        source = copy / mutant["file"]
        original_text = source.read_text()
        lines = original_text.split("\n")
        index = locate(lines, mutant)
        started = time.monotonic()
        if index is None:
            outcome = "stale"
        else:
            lines[index] = mutant["mutated"]
            source.write_text("\n".join(lines))
            outcome = verdict(copy, build, env, covering_tests(build, mutant["file"], True), args.timeout)
            if outcome == "survived":
                wider = covering_tests(build, mutant["file"], False)
                outcome = verdict(copy, build, env, wider, args.timeout)
            source.write_text(original_text)
        seconds = round(time.monotonic() - started)
        results.append(dict(mutant, outcome=outcome, seconds=seconds))
        print(f"#{mutant['id']:>3} {outcome:<9} {seconds:>4}s {mutant['file']}:{mutant['line']} "
              f"{mutant['kind']}", flush=True)
        Path(args.mutants + ".results.json").write_text(json.dumps(results, indent=1, ensure_ascii=False) + "\n")
    report(results)
    if not args.workdir:
        shutil.rmtree(scratch, ignore_errors=True)


def report(results):
    count = {k: sum(r["outcome"] == k for r in results)
             for k in ("killed", "survived", "timeout", "no-build", "stale")}
    judged = count["killed"] + count["survived"] + count["timeout"]
    score = 100.0 * (count["killed"] + count["timeout"]) / judged if judged else 0.0
    print("\n" + ", ".join(f"{v} {k}" for k, v in count.items()))
    print(f"score: {score:.1f} % of {judged} compiled mutants caught")
    for r in results:
        if r["outcome"] == "survived":
            print(f"  survived #{r['id']} {r['file']}:{r['line']} {r['kind']}: "
                  f"{r['original'].strip()}  →  {r['mutated'].strip()}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    verbs = parser.add_subparsers(dest="verb", required=True)
    make = verbs.add_parser("generate")
    make.add_argument("--seed", type=int, default=7)
    make.add_argument("--count", type=int, default=80)
    make.add_argument("--out", default=str(ROOT / "tests/mutants.json"))
    go = verbs.add_parser("run")
    go.add_argument("--mutants", default=str(ROOT / "tests/mutants.json"))
    go.add_argument("--only", help="comma-separated mutant ids")
    go.add_argument("--timeout", type=int, default=240, help="seconds per test executable")
    go.add_argument("--workdir", help="a folder to keep the built copy in between runs")
    shown = verbs.add_parser("report")
    shown.add_argument("--mutants", default=str(ROOT / "tests/mutants.json"))
    args = parser.parse_args()
    if args.verb == "generate":
        generate(args)
    elif args.verb == "run":
        run(args)
    else:
        report(json.loads(Path(args.mutants + ".results.json").read_text()))


if __name__ == "__main__":
    main()
