#!/usr/bin/python3
"""Plants single-line faults one at a time and reports which tests catch each.

  scripts/mutation_run.py --build BUILD_DIR [--filter GTEST_FILTER] [--targets 'T ...'] [--only NAME ...]
                          MUTANTS.jsonl ...

Each line of a mutants file is {"name": ..., "file": ..., "old": ..., "new": ...}: `old` must occur
exactly once in `file` (relative to the project root). For each fault the file is changed, the build
directory rebuilt, kestrelis_tests run with the filter, and the file put back whatever happens.
Prints one line per fault: CAUGHT by the failing tests, NOT CAUGHT, NOT BUILT (the compiler refused
it) or NO MATCH. Run from the project root of a checkout no one else is building in."""
import argparse
import json
import re
import signal
import subprocess
import sys


def run(command, timeout=None):
    return subprocess.run(command, shell=True, capture_output=True, text=True, timeout=timeout)


def failed_tests(build, gtest_filter):
    try:
        r = run(f"{build}/kestrelis_tests --gtest_filter='{gtest_filter}' 2>&1", timeout=600)
    except subprocess.TimeoutExpired:
        return ["(timed out)"]
    failed = sorted(set(re.findall(r"^\[  FAILED  \] (\S+) \(", r.stdout, re.M)))
    # A test that ends the process leaves the tests after it unrun: say where it ended.
    if r.returncode != 0 and not re.search(r"^\[==========\] .* ran\.", r.stdout, re.M):
        running = [ln for ln in r.stdout.splitlines() if ln.startswith("[ RUN")]
        where = running[-1].split("] ", 1)[1] if running else "?"
        failed.append(f"(ended with {r.returncode} in {where})")
    return failed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--filter", default="*")
    parser.add_argument("--only", nargs="*", default=[])
    parser.add_argument("--targets", default="", help="build only these targets (space-separated)")
    parser.add_argument("mutants", nargs="+")
    args = parser.parse_args()
    # Stopped from outside, it still puts the changed file back.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("mutation_run: stopped"))
    mutants = [json.loads(ln) for path in args.mutants for ln in open(path) if ln.strip()]
    if args.only:
        mutants = [m for m in mutants if m["name"] in args.only]
    build = f"cmake --build {args.build} -j2" + (f" --target {args.targets}" if args.targets else "")
    built = run(build)
    if built.returncode != 0 or failed_tests(args.build, args.filter):
        sys.exit("mutation_run: the unchanged code must build and pass the filtered tests first")
    caught = 0
    for m in mutants:
        original = open(m["file"]).read()
        count = original.count(m["old"])
        if count != 1:
            print(f"{m['name']}: NO MATCH ({count} places in {m['file']})", flush=True)
            continue
        try:
            open(m["file"], "w").write(original.replace(m["old"], m["new"]))
            if run(build).returncode != 0:
                print(f"{m['name']}: NOT BUILT", flush=True)
                continue
            failed = failed_tests(args.build, args.filter)
        finally:
            open(m["file"], "w").write(original)
        caught += bool(failed)
        print(f"{m['name']}: " + (f"CAUGHT by {', '.join(failed)}" if failed else "NOT CAUGHT"), flush=True)
    run(build)
    print(f"mutation_run: {caught} of {len(mutants)} caught", flush=True)


if __name__ == "__main__":
    main()
