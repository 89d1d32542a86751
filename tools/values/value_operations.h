// What the tool does with one stored value, and the checks that keep it from
// passing garbage on as a result: format recognition, plausibility of a
// decrypted text, and reencryption that leaves migrated values alone.
//
// Every function here works on one value and keeps no state, so a caller may
// run them on many values from many threads. Plaintext is only ever held in
// SecretText, which wipes itself.
//
// Typical use, per value:
//   Opened opened = OpenValue(stored, key, ReadMode::kAuto, ValueRules{});
//   if (!opened) report(opened.reason); else use(opened.plaintext->view());
// and for migration, ReencryptValue, whose outcome says whether to store the
// new value, keep the stored one, or report the reason and store nothing.
#ifndef TARVOLA_TOOLS_VALUES_VALUE_OPERATIONS_H
#define TARVOLA_TOOLS_VALUES_VALUE_OPERATIONS_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/secret_text.h"
#include "tarvolacrypt.hpp"

namespace tarvola::tool {

// How a value to be read is encrypted: one mode for all, or recognised per
// value (mode 1 holds a "$"; mode 0 is an 8-digit header and a hex body).
enum class ReadMode { kAuto, kHexBlock, kEnvelope };

struct ValueRules {
    // Accept plaintexts that are not UTF-8 text or hold control characters
    // (legacy values in a single-byte code page). Off, such a plaintext fails
    // as the likely result of a wrong key.
    bool allow_binary = false;
    // Accept CR and LF in a plaintext that is otherwise text; a caller that
    // can carry line breaks (zero-separated output, a database) sets it.
    bool allow_line_breaks = false;
};

// A decrypted value, or why there is none (ready to print after "line 17: ").
struct Opened {
    std::optional<SecretText> plaintext;
    std::string reason;
    // The value is intact as far as its form shows, yet does not open: what a
    // wrong key gives (a truncated or foreign value fails for its own reason).
    bool wrong_key_likely = false;

    [[nodiscard]] explicit operator bool() const noexcept { return plaintext.has_value(); }
};

// The value without the white space (blanks, TABs, CRs, LFs) around it:
// values written by Encrypt never have it; fixed-width columns add blanks,
// exports and hand edits add line ends.
[[nodiscard]] std::string_view TrimBlanks(std::string_view value) noexcept;

// The mode `value` (already trimmed) is written in, or nothing when it looks
// like neither.
[[nodiscard]] std::optional<Mode> RecognizeMode(std::string_view value) noexcept;

// Decrypts one value and checks that the result is plausible: for mode 0 the
// header and block count must match the decrypted length; for mode 1 no part
// of the plaintext may have been cut at a zero byte; unless allowed, the
// plaintext must be UTF-8 without control characters other than TAB. White
// space around `value` is ignored.
[[nodiscard]] Opened OpenValue(std::string_view value, std::string_view key, ReadMode mode,
                               const ValueRules& rules);

// The length of the value encrypting a plaintext of `plaintext_length`
// bytes in `mode`, without encrypting it: mode 0 is the header and 32 hex
// digits per started block; mode 1 the base64 IV, "$" and the base64 of the
// padded ciphertext (always at least one block longer than the plaintext).
[[nodiscard]] std::size_t MigratedLength(std::size_t plaintext_length, Mode mode) noexcept;

// Encrypts one plaintext; the result is not secret.
struct Sealed {
    std::optional<std::string> value;
    std::string reason;

    [[nodiscard]] explicit operator bool() const noexcept { return value.has_value(); }
};
[[nodiscard]] Sealed SealValue(std::string_view plaintext, std::string_view key, Mode mode);

struct Rekeying {
    std::string_view old_key;
    // The key values are written under; the old one again when not re-keying.
    std::string_view new_key;
    ReadMode from_mode = ReadMode::kAuto;
    Mode to_mode = Mode::kEnvelope;
};

struct Reencrypted {
    enum class Outcome {
        kWritten,    // `value` holds the value under the new key and mode
        kUnchanged,  // already migrated: write the input back byte for byte
        kFailed,     // `reason` says why; the input must not be replaced
    };
    Outcome outcome = Outcome::kFailed;
    std::string value;
    std::string reason;
    // As in Opened: an intact value that did not open under the old key.
    bool wrong_key_likely = false;
};

// What ReencryptValue decides for a value, found with at most two
// decryptions and without sealing anything: left unchanged (already
// migrated), to be reencrypted (`opened` holds its plaintext under the old
// key), ambiguous or failed (`reason` says why). scan counts by it, so that
// its census is exactly what migrate would do.
struct Assessed {
    enum class Outcome { kUnchanged, kToReencrypt, kAmbiguous, kFailed };
    Outcome outcome = Outcome::kFailed;
    Opened opened;
    std::string reason;
};
[[nodiscard]] Assessed AssessValue(std::string_view value, const Rekeying& rekeying,
                                   const ValueRules& rules);

// Whether AssessValue would find `value` still to reencrypt, with fewer
// decryptions: a value already in the target mode is rewritten only when it
// opens under the old key, which needs no decryption to rule out when the
// keys act alike, and one (AssessValue's two) when they differ. The count of
// the rows a migration left behind runs it on every row.
[[nodiscard]] bool WouldReencrypt(std::string_view value, const Rekeying& rekeying,
                                  const ValueRules& rules);

// Whether no value holding a "$", the mark of mode 1, is ever reencrypted:
// so when values are written in mode 1 under the key they are read with
// (read as mode 0, such a value does not open at all). What counts the
// values left to migrate may then leave them out before they are even read.
[[nodiscard]] bool MarkedValuesStay(const Rekeying& rekeying) noexcept;

// A value already in the target mode that opens under the new key is left
// unchanged, unless it also opens under a different old key (then it fails as
// ambiguous; with binary plaintexts allowed, a reading that is text wins over
// one that is not); so a re-run over a half-migrated set finishes the job and
// changes nothing twice. Any other value is opened under the old key and
// sealed under the new one, and the new value is proven before it is
// returned: it opens under the new key to the same plaintext, and never also
// under a different old key, so the tool's own output is never ambiguous.
[[nodiscard]] Reencrypted ReencryptValue(std::string_view value, const Rekeying& rekeying,
                                         const ValueRules& rules);

// How many characters the stored `value` holds once ReencryptValue has
// migrated it: its own trimmed length when it would stay unchanged,
// MigratedLength of its plaintext when it would be written, nothing when it
// would fail (ask ReencryptValue why). Decrypts only where the stored form
// does not tell the length, so costs far less than migrating; the length does
// not depend on the IV a real run draws.
[[nodiscard]] std::optional<std::size_t> MigratedLengthOf(std::string_view value,
                                                          const Rekeying& rekeying,
                                                          const ValueRules& rules);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_VALUES_VALUE_OPERATIONS_H
