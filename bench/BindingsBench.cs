// Per-call time of the .NET binding, in the cases of
// binding_baseline_bench.cpp: one line "CALL/modeM/SIZE NANOSECONDS" each, the
// median of 5 timings of about 0.2 s after a warm-up. Run by
// scripts/bench-bindings.sh.
using System;
using System.Diagnostics;
using Tarvola;

static class BindingsBench
{
    const string Key = "bench key";

    static double NanosecondsPerCall(Func<string> call)
    {
        int number = 1;
        var watch = Stopwatch.StartNew();
        while (true)
        {
            watch.Restart();
            for (int i = 0; i < number; ++i) call();
            if (watch.Elapsed.TotalSeconds >= 0.2) break;
            number *= 2;
        }
        var times = new double[5];
        for (int r = 0; r < times.Length; ++r)
        {
            watch.Restart();
            for (int i = 0; i < number; ++i) call();
            times[r] = watch.Elapsed.TotalMilliseconds * 1e6 / number;
        }
        Array.Sort(times);
        return times[times.Length / 2];
    }

    static void Main()
    {
        foreach (string call in new[] { "Encrypt", "Decrypt" })
        {
            foreach (Mode mode in new[] { Mode.HexBlock, Mode.Envelope })
            {
                foreach (int size in new[] { 64, 1 << 20 })
                {
                    var chars = new char[size];
                    for (int i = 0; i < size; ++i) chars[i] = (char)(0x20 + i % 95);
                    string text = new string(chars);
                    string value = TarvolaCrypt.Encrypt(text, Key, mode);
                    Func<string> work = call == "Encrypt"
                        ? (Func<string>)(() => TarvolaCrypt.Encrypt(text, Key, mode))
                        : () => TarvolaCrypt.Decrypt(value, Key, mode);
                    Console.WriteLine("{0}/mode{1}/{2} {3:F0}", call, (int)mode, size, NanosecondsPerCall(work));
                }
            }
        }
    }
}
