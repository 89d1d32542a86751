// The work on values: one value turned into its result, and the loops over
// TEXT arguments and over separated values of input that keep outputs
// aligned with inputs.
#ifndef TARVOLA_TOOLS_VALUES_BATCH_H
#define TARVOLA_TOOLS_VALUES_BATCH_H

#include <cstdint>
#include <istream>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "common/secret_text.h"
#include "values/summary.h"
#include "values/value_operations.h"

namespace tarvola::tool {

// What a stream command does to each value.
enum class Operation { kEncrypt, kDecrypt, kReencrypt };

struct Job {
    Operation operation = Operation::kEncrypt;
    // The scheme of the values read (decrypt, reencrypt) and of the values
    // written (encrypt, reencrypt).
    ReadMode read_mode = ReadMode::kEnvelope;
    Mode write_mode = Mode::kEnvelope;
    std::string_view key;
    // The key the values are written under by reencrypt.
    std::string_view new_key;
    ValueRules rules;
    // What ends each value read and written: LF, or a zero byte with --null,
    // which lets values hold line breaks.
    char separator = '\n';
};

struct ValueOutcome {
    // kEmpty: a value to read that is empty or only white space, which
    // decrypt and reencrypt leave as it is (as migrate leaves empty cells).
    enum class Kind { kDone, kUnchanged, kEmpty, kFailed };
    Kind kind = Kind::kFailed;
    // The result to write; for kUnchanged and kEmpty the value as it was read.
    SecretText text;
    std::string reason;
    // kFailed only: the value is intact but did not open, as under a wrong key.
    bool wrong_key_likely = false;
};

// The value's result; plaintexts stay in wiped storage.
[[nodiscard]] ValueOutcome TransformValue(const Job& job, std::string_view value);

struct BatchSettings {
    bool strict = false;
    bool show_progress = false;
    // Flush each result before the next value is read, for a co-process.
    bool line_buffered = false;
    // Worker threads for the values of standard input; 1 works on them in
    // the calling thread, as does line_buffered (each result must be out
    // before the next value is read).
    unsigned jobs = 1;
    // The number of the signal that asks the batch to stop, 0 while none
    // came; checked between values. None: the batch runs to its end.
    int (*stop_signal)() noexcept = nullptr;
};

struct BatchCounts : ValueCounts {
    // Set when a stop signal ended the batch after a whole value.
    bool interrupted = false;
    // Set when standard output failed: the batch stopped there.
    bool output_failed = false;
};

// Each text is one value: one output record each, empty for a value that
// failed, whose reason goes to `err` as "argument N: ...".
[[nodiscard]] BatchCounts RunOnTexts(const Job& job, std::span<const std::string_view> texts,
                                     const BatchSettings& settings, std::ostream& out,
                                     std::ostream& err);

// Each record of `in` up to the job's separator is one value (in line mode
// without a CR before the LF); a last record without separator counts too.
// Reasons go to `err` as "line N: ..." ("value N" with --null). Memory use
// does not grow with the number of values. With several jobs the values are
// worked on in chunks by that many threads; records, reasons, counts and the
// stop of --strict or of a failed write are exactly those of one thread.
[[nodiscard]] BatchCounts RunOnRecords(const Job& job, std::istream& in,
                                       const BatchSettings& settings, std::ostream& out,
                                       std::ostream& err);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_VALUES_BATCH_H
