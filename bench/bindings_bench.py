"""Per-call time of the Python binding, in the cases of
binding_baseline_bench.cpp: one line "CALL/modeM/SIZE NANOSECONDS" each, the
median of 5 timings of about 0.2 s. Run by scripts/bench-bindings.sh."""

import statistics
import timeit

import tarvolacrypt

KEY = "bench key"


def bench_text(size):
    return "".join(chr(0x20 + i % 95) for i in range(size))


def per_call(function):
    number, _ = timeit.Timer(function).autorange()
    number = max(1, number)
    return statistics.median(timeit.repeat(function, number=number, repeat=5)) / number


def main():
    for call in ("Encrypt", "Decrypt"):
        for mode in (0, 1):
            for size in (64, 1 << 20):
                text = bench_text(size)
                if call == "Encrypt":
                    function = lambda: tarvolacrypt.encrypt(text, KEY, mode)
                else:
                    value = tarvolacrypt.encrypt(text, KEY, mode)
                    function = lambda: tarvolacrypt.decrypt(value, KEY, mode)
                print(f"{call}/mode{mode}/{size} {per_call(function) * 1e9:.0f}", flush=True)


if __name__ == "__main__":
    main()
