#!/usr/bin/env python3
"""The key prompt on a real pseudo-terminal: asked on the controlling terminal
when no key source is given (also when values come through a pipe), never
echoed, asked twice when encrypting, and the terminal's echo is back on
afterwards.

Usage: prompt_test.py TOOL
"""
import fcntl
import os
import select
import subprocess
import sys
import termios
import time

TOOL = sys.argv[1]
KEY = "prompted key text"
failures = []


class Session:
    """The tool with a pseudo-terminal as its standard input, output and error."""

    def __init__(self, *args, stdin=None, stdout=None):
        self.master, slave = os.openpty()
        self.slave = slave

        def take_terminal():
            # A session of its own with the pseudo-terminal as its controlling
            # terminal, which is what /dev/tty opens.
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        self.process = subprocess.Popen([TOOL, *args], stdin=stdin if stdin is not None else slave,
                                        stdout=stdout if stdout is not None else slave,
                                        stderr=slave, close_fds=True, preexec_fn=take_terminal)
        self.transcript = b""

    def read_until(self, marker, timeout=10.0):
        deadline = time.monotonic() + timeout
        while marker not in self.transcript:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError(f"no {marker!r} in {self.transcript!r}")
            ready, _, _ = select.select([self.master], [], [], remaining)
            if ready:
                try:
                    chunk = os.read(self.master, 4096)
                except OSError:
                    chunk = b""
                if not chunk:
                    raise EOFError(f"no {marker!r} in {self.transcript!r}")
                self.transcript += chunk

    def type_line(self, text):
        os.write(self.master, text.encode() + b"\n")

    def finish(self):
        status = self.process.wait(timeout=10)
        while True:
            ready, _, _ = select.select([self.master], [], [], 0.2)
            if not ready:
                break
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                break
            if not chunk:
                break
            self.transcript += chunk
        echo_on = bool(termios.tcgetattr(self.slave)[3] & termios.ECHO)
        os.close(self.master)
        os.close(self.slave)
        return status, self.transcript.decode(errors="replace"), echo_on


def check(condition, message):
    if not condition:
        failures.append(message)


def expected_mode0(text):
    result = subprocess.run([TOOL, "encrypt", "--mode", "0", "--key-env", "K", text],
                            env={**os.environ, "K": KEY}, capture_output=True, text=True,
                            check=True)
    return result.stdout.strip()


# Encrypting asks twice; the key is never shown.
session = Session("encrypt", "--mode", "0", "hello")
session.read_until(b"Key: ")
session.type_line(KEY)
session.read_until(b"Repeat the key: ")
session.type_line(KEY)
status, transcript, echo_on = session.finish()
check(status == 0, f"encrypt: status {status}: {transcript!r}")
check(expected_mode0("hello") in transcript, f"encrypt: wrong value in {transcript!r}")
check(KEY not in transcript, f"encrypt: the key was echoed: {transcript!r}")
check(echo_on, "encrypt: echo left off")

# Two different entries are refused before anything is encrypted.
session = Session("encrypt", "--mode", "0", "hello")
session.read_until(b"Key: ")
session.type_line(KEY)
session.read_until(b"Repeat the key: ")
session.type_line(KEY + "x")
status, transcript, echo_on = session.finish()
check(status == 2, f"mismatch: status {status}")
check("the two keys differ" in transcript, f"mismatch: {transcript!r}")
check(echo_on, "mismatch: echo left off")

# Decrypting asks once, then reads values from the same terminal.
session = Session("decrypt", "--mode", "0")
session.read_until(b"Key: ")
session.type_line(KEY)
session.type_line(expected_mode0("typed value"))
session.read_until(b"typed value\r\n")
os.write(session.master, b"\x04")
status, transcript, echo_on = session.finish()
check(status == 0, f"decrypt: status {status}: {transcript!r}")
check(KEY not in transcript, f"decrypt: the key was echoed: {transcript!r}")
check(echo_on, "decrypt: echo left off")

# Values on a pipe: the key is still asked on the terminal; Ctrl-D at the
# second prompt says that no key was entered.
values = subprocess.run([TOOL, "encrypt", "--mode", "0", "--key-env", "K", "piped one", "piped two"],
                        env={**os.environ, "K": KEY}, capture_output=True, check=True).stdout
reader, writer = os.pipe()
out_reader, out_writer = os.pipe()
session = Session("decrypt", "--mode", "auto", stdin=reader, stdout=out_writer)
os.close(reader)
os.close(out_writer)
os.write(writer, values)
os.close(writer)
session.read_until(b"Key: ")
session.type_line(KEY)
status, transcript, echo_on = session.finish()
piped = os.read(out_reader, 4096)
os.close(out_reader)
check(status == 0, f"piped values: status {status}: {transcript!r}")
check(piped == b"piped one\npiped two\n", f"piped values: output {piped!r}")
check(KEY not in transcript, f"piped values: the key was echoed: {transcript!r}")

session = Session("encrypt", "--mode", "0", "x")
session.read_until(b"Key: ")
session.type_line(KEY)
session.read_until(b"Repeat the key: ")
os.write(session.master, b"\x04")
status, transcript, echo_on = session.finish()
check(status == 2, f"Ctrl-D at the second prompt: status {status}")
check("no key entered" in transcript and "differ" not in transcript,
      f"Ctrl-D at the second prompt: {transcript!r}")

# Enter alone is the empty key text: refused.
session = Session("decrypt", "--mode", "0")
session.read_until(b"Key: ")
session.type_line("")
status, transcript, echo_on = session.finish()
check(status == 2 and "the key text is empty" in transcript, f"empty key: {status} {transcript!r}")

# An interrupt at the prompt ends the tool with echo restored.
session = Session("decrypt")
session.read_until(b"Key: ")
session.process.send_signal(2)
status, transcript, echo_on = session.finish()
check(status != 0, "interrupt: the tool went on")
check(echo_on, "interrupt: echo left off")

for failure in failures:
    print("FAIL:", failure, file=sys.stderr)
print(f"prompt: 7 sessions, {len(failures)} failed checks")
sys.exit(1 if failures else 0)
