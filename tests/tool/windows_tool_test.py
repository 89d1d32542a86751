#!/usr/bin/env python3
"""The Windows build of tarvolacrypt under Wine keeps the promises the Linux
one makes:

- standard input and output are binary: a Ctrl+Z byte (0x1A) is data, not the
  end of input, and line ends come out as LF, not CRLF;
- arguments and environment variables arrive as UTF-8 whatever the ANSI code
  page: a key gives the same bytes from --key-env, --key and --key-file, and
  the same mode-0 value as on Linux.

Usage: windows_tool_test.py TOOL.exe [LOADER...]
Exits 77 (skipped) with the reason when no Wine loader can start the tool.
"""
import os
import subprocess
import sys
import tempfile

TOOL = sys.argv[1]
LOADER = sys.argv[2:]
SKIPPED = 77
KEY = "schlüssel€"
TEXT = "Ωmega ünïcode"
# Written by the Linux build: tarvolacrypt encrypt --mode 0 under KEY.
LINUX_VALUE = "10000000531295C2362E3B1C5D91AF717C68A7F2"

# Wine turns the UTF-8 of the Unix side into the UTF-16 Windows programs get.
ENV = {**os.environ, "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8", "WINEDEBUG": "-all",
       "TARVOLA_TEST_KEY": KEY}
failures = []


def tool(*args, stdin=b""):
    return subprocess.run([*LOADER, TOOL, *args], input=stdin, capture_output=True, env=ENV,
                          timeout=300)


def check(condition, message):
    if not condition:
        failures.append(message)


try:
    probe = tool("--version")
    started = probe.returncode == 0 and probe.stdout.startswith(b"tarvolacrypt ")
except (OSError, subprocess.TimeoutExpired) as error:
    probe, started = error, False
if not started:
    loader = " ".join(LOADER) or "(none)"
    print(f"SKIPPED: the Windows tool does not start under the loader {loader}: {probe!r}. "
          "A 32-bit build needs Debian's wine32, a 64-bit one wine64.")
    sys.exit(SKIPPED)

with tempfile.TemporaryDirectory() as work:
    key_file = os.path.join(work, "key")
    with open(key_file, "wb") as file:
        file.write(KEY.encode() + b"\n")
    # One key from three sources, one text from an argument and from input.
    results = {
        "--key-env": tool("encrypt", "--mode", "0", "--key-env", "TARVOLA_TEST_KEY", TEXT),
        "--key": tool("encrypt", "--mode", "0", "--key", KEY, TEXT),
        "--key-file": tool("encrypt", "--mode", "0", "--key-file", key_file, TEXT),
        "standard input": tool("encrypt", "--quiet", "--mode", "0", "--key-file", key_file,
                               stdin=TEXT.encode() + b"\n"),
    }
    for source, result in results.items():
        check(result.stdout == LINUX_VALUE.encode() + b"\n",
              f"{source}: {result.stdout!r}, the Linux build wrote {LINUX_VALUE}; "
              f"stderr {result.stderr!r}")

    # Ctrl+Z inside a value, more values after it, and LF line ends.
    plain = b"a\x1ab\nsecond\nthird\n"
    sealed = tool("encrypt", "--quiet", "--mode", "1", "--key-file", key_file, stdin=plain)
    check(sealed.returncode == 0 and sealed.stdout.count(b"\n") == 3,
          f"encrypt after a Ctrl+Z byte: status {sealed.returncode}, {sealed.stdout!r}")
    check(b"\r" not in sealed.stdout, f"CR in the output: {sealed.stdout!r}")
    opened = tool("decrypt", "--quiet", "--allow-binary", "--key-file", key_file,
                  stdin=sealed.stdout)
    check(opened.stdout == plain, f"round trip gave {opened.stdout!r}, expected {plain!r}")

for failure in failures:
    print("FAIL:", failure, file=sys.stderr)
print(f"windows tool: {len(failures)} failed checks")
sys.exit(1 if failures else 0)
