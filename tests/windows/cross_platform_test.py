#!/usr/bin/env python3
"""Values written by one build open with every other.

Drives the compat tools of two or more builds (Linux, the 32-bit and the
64-bit DLL under Wine) with the same random requests, from a fixed seed:

  * mode-0 values are byte-identical from every build;
  * every value written by any build, in either mode, decrypts on all of
    them to the original text;
  * damaged values and wrong keys get the same result and the same output
    from every build, so that no text opens on one and fails on another.

The first tool is the one the others are compared with.
Usage: cross_platform_test.py --tool NAME=COMMAND --tool NAME=COMMAND...
       [--seed N] [--cases N]
  e.g. --tool linux=build/default/.../tarvola_compat_tool
       --tool win64="/usr/lib/wine/wine64 build/windows64/bin/tarvola_compat_tool.exe"
"""

import argparse
import random
import shlex
import subprocess
import sys

FAILED = "<failed>"


def hexed(data: bytes) -> str:
    return data.hex() if data else "-"


def run_tool(command, requests):
    """Runs one batch of (direction, mode, key, text) requests; returns
    (result, output bytes) for each."""
    lines = "".join(f"{d} {m} {hexed(k)} {hexed(t)}\n" for d, m, k, t in requests)
    done = subprocess.run(command, input=lines.encode(), capture_output=True, timeout=600)
    if done.returncode != 0:
        sys.exit(f"{command[-1]} failed ({done.returncode}): {done.stderr.decode(errors='replace')}")
    answers = []
    for line in done.stdout.decode().splitlines():
        line = line.strip()
        if not line:
            continue
        result, output = line.split(" ")
        answers.append((int(result), b"" if output == "-" else bytes.fromhex(output)))
    if len(answers) != len(requests):
        sys.exit(f"{command[-1]}: {len(answers)} answers to {len(requests)} requests")
    return answers


def random_text(rng, length):
    # C strings: any byte but zero.
    return bytes(rng.randrange(1, 256) for _ in range(length))


def make_cases(rng, count):
    """(mode, key, text) triples: mode-1 keys of 0-31 characters (longer ones
    are refused), mode-0 keys of any length."""
    cases = []
    for i in range(count):
        mode = i % 2
        key_length = rng.randrange(0, 32) if mode == 1 else rng.randrange(0, 48)
        text_length = rng.choice([rng.randrange(0, 17), rng.randrange(0, 100)])
        cases.append((mode, random_text(rng, key_length), random_text(rng, text_length)))
    return cases


def damaged(rng, value: bytes):
    """A few variants of a written value, each changed in one way a stored
    value gets damaged or hand-edited."""
    text = value.decode("ascii")
    cut = rng.randrange(0, len(text) + 1)
    spot = rng.randrange(0, len(text)) if text else 0
    alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=$ \t\r\n!-_"
    variants = [
        text[:cut],
        text[:spot] + rng.choice(alphabet) + text[spot + 1 :],
        text[:spot] + rng.choice(" \t\r\n") + text[spot:],
        text.replace("=", ""),
        text + "$" + rng.choice(["", "x", "Zg==", text]),
        text + rng.choice(["=", "==", "A", "AAAA", "Zg=="]),
        text.lower(),
    ]
    return [v.encode("ascii") for v in variants]


def parse_tool(spec):
    name, _, command = spec.partition("=")
    if not name or not command:
        raise argparse.ArgumentTypeError(f"not NAME=COMMAND: {spec!r}")
    return name, shlex.split(command)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", type=parse_tool, action="append", required=True)
    parser.add_argument("--seed", type=int, default=20180271)
    parser.add_argument("--cases", type=int, default=400)
    args = parser.parse_args()
    if len(args.tool) < 2:
        parser.error("two tools at least")

    rng = random.Random(args.seed)
    tools = dict(args.tool)
    first = args.tool[0][0]
    others = [name for name in tools if name != first]
    cases = make_cases(rng, args.cases)
    checks = 0
    mismatches = []

    def check(ok, message):
        nonlocal checks
        checks += 1
        if not ok:
            mismatches.append(message)

    # Every build encrypts every case.
    encryptions = [("E", mode, key, text) for mode, key, text in cases]
    written = {name: run_tool(tool, encryptions) for name, tool in tools.items()}
    for i, (mode, key, text) in enumerate(cases):
        # Mode 0 refuses the empty text.
        refused = mode == 0 and not text
        for name in tools:
            check(
                (written[name][i][0] != 0) == refused,
                f"{name} returned {written[name][i][0]} encrypting case {i}",
            )
        if mode == 0:
            for name in others:
                check(
                    written[first][i] == written[name][i],
                    f"case {i}: mode-0 values differ: {first} {written[first][i][1]!r} "
                    f"!= {name} {written[name][i][1]!r}",
                )

    # Every value opens with every build, whoever wrote it; damaged values
    # and wrong keys fail, or not, alike everywhere.
    openings = []  # (request, expected output or None when only agreement counts)
    for i, (mode, key, text) in enumerate(cases):
        if written[first][i][0] != 0:
            continue
        for writer in tools:
            value = written[writer][i][1]
            openings.append((("D", mode, key, value), text, f"case {i} written by {writer}"))
        value = written[first][i][1]
        for variant in damaged(rng, value):
            openings.append((("D", mode, key, variant), None, f"case {i} damaged to {variant!r}"))
        wrong_key = key[:-1] if key else b"k"
        openings.append((("D", mode, wrong_key, value), None, f"case {i} under a wrong key"))
    requests = [request for request, _, _ in openings]
    opened = {name: run_tool(tool, requests) for name, tool in tools.items()}
    for n, (_, expected, what) in enumerate(openings):
        reference = opened[first][n]
        for name in others:
            check(
                opened[name][n] == reference,
                f"{what}: {first} {reference!r} != {name} {opened[name][n]!r}",
            )
        if expected is not None:
            got = FAILED if reference[0] != 0 else reference[1]
            check(got == expected, f"{what}: opened to {got!r}, not {expected!r}")

    for message in mismatches[:20]:
        print("MISMATCH", message)
    print(
        f"cross-platform ({', '.join(tools)}): {len(cases)} cases, {checks} checks, "
        f"{len(mismatches)} mismatches"
    )
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
