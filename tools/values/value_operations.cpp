#include "values/value_operations.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "values/envelope_length.h"

namespace tarvola::tool {
namespace {

constexpr std::size_t kHeaderLength = 8;
// The base64 text of a 16-byte IV, "==" included, before a mode-1 value's "$".
constexpr std::size_t kIvCharacters = 24;
constexpr std::size_t kHexBlockMinimumLength = kHeaderLength + 32;
constexpr std::size_t kBlockSize = 16;
// Mode 0 keys with the first 16 characters of the key text only.
constexpr std::size_t kHexBlockKeyCharacters = 16;
constexpr std::string_view kUpperHexDigits = "0123456789ABCDEF";
constexpr std::string_view kWhiteSpace = " \t\r\n";

constexpr std::string_view kNotTextReason = "does not decrypt to text: wrong key or damaged value";
constexpr std::string_view kCutAtZeroReason =
    "decrypts to bytes holding a zero byte: wrong key or damaged value";

bool IsUpperHex(std::string_view text) noexcept {
    return text.find_first_not_of(kUpperHexDigits) == std::string_view::npos;
}

std::uint32_t HexDigitValue(char digit) noexcept {
    const std::size_t at = kUpperHexDigits.find(digit);
    return at == std::string_view::npos ? 0 : static_cast<std::uint32_t>(at);
}

// The shortest length the header can stand for: its first three digits with
// the zero fill taken off, at least two digits.
std::uint32_t HeaderLengthHint(std::string_view header) noexcept {
    std::size_t digits = 3;
    if (header.size() < digits) return 0;
    if (header[2] == '0') digits = 2;
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < digits; ++i) length = length * 16 + HexDigitValue(header[i]);
    return length;
}

// The length of a UTF-8 sequence led by `lead`, 0 when no sequence may start
// with it (continuation bytes, overlong two-byte leads, beyond U+10FFFF).
std::size_t SequenceLength(unsigned char lead) noexcept {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// The allowed range of the byte after `lead`: it excludes overlong forms,
// UTF-16 surrogates and code points beyond U+10FFFF.
std::pair<unsigned char, unsigned char> SecondByteRange(unsigned char lead) noexcept {
    switch (lead) {
        case 0xE0:
            return {0xA0, 0xBF};
        case 0xED:
            return {0x80, 0x9F};
        case 0xF0:
            return {0x90, 0xBF};
        case 0xF4:
            return {0x80, 0x8F};
        default:
            return {0x80, 0xBF};
    }
}

bool IsControl(unsigned char byte, bool line_breaks_allowed) noexcept {
    if (byte == '\t') return false;
    if (line_breaks_allowed && (byte == '\n' || byte == '\r')) return false;
    return byte < 0x20 || byte == 0x7F;
}

// Valid UTF-8 holding no C0 control character but TAB (and line breaks when
// allowed), and no DEL.
bool IsPlainText(std::string_view text, bool line_breaks_allowed) noexcept {
    std::size_t at = 0;
    while (at < text.size()) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = SequenceLength(lead);
        if (length == 0 || text.size() - at < length) return false;
        if (length == 1 && IsControl(lead, line_breaks_allowed)) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto byte = static_cast<unsigned char>(text[at + k]);
            const auto [low, high] = k == 1 ? SecondByteRange(lead)
                                            : std::pair<unsigned char, unsigned char>{0x80, 0xBF};
            if (byte < low || byte > high) return false;
        }
        at += length;
    }
    return true;
}

// Moves the library's plaintext into wiped storage.
SecretText TakePlaintext(Result& result) {
    SecretText plaintext(*result.value);
    wipe(result);
    return plaintext;
}

Opened Failed(std::string reason) {
    return Opened{std::nullopt, std::move(reason)};
}

// Mode 0 has no integrity check, but its header and block count say how long
// the plaintext was: a cut or padded value decrypts to another length.
std::string HexBlockLengthProblem(std::string_view value, std::size_t decrypted) {
    const std::string_view header = value.substr(0, kHeaderLength);
    const std::size_t blocks = decrypted / kBlockSize + (decrypted % kBlockSize != 0 ? 1 : 0);
    const std::array<char, kHeaderLength> expected = hex_block_header(decrypted);
    if (header == std::string_view(expected.data(), expected.size()) &&
        value.size() - kHeaderLength == 32 * blocks) {
        return {};
    }
    return "damaged or truncated mode-0 value (header says about " +
           std::to_string(HeaderLengthHint(header)) + " characters, decrypted " +
           std::to_string(decrypted) + ")";
}

// A mode-1 plaintext is at least the ciphertext less one block of padding;
// the library stops at a zero byte, so a shorter one was cut.
bool EnvelopeWasCut(std::string_view value, std::size_t decrypted) noexcept {
    const std::size_t ciphertext = EnvelopeCiphertextLength(value).value_or(0);
    return ciphertext >= kBlockSize && decrypted < ciphertext - kBlockSize;
}

// Whether a mode-1 value has the form of an uncut one: a 24-character IV
// part, then whole base64 groups that make whole cipher blocks. A wrong key
// leaves that form intact; a value cut short by a narrow column rarely does.
bool EnvelopeLooksIntact(std::string_view value) noexcept {
    const std::optional<std::size_t> bytes = EnvelopeCiphertextLength(value);
    return value.find('$') == kIvCharacters && bytes && *bytes >= kBlockSize &&
           *bytes % kBlockSize == 0;
}

// A mode-0 value the library reads at all: an 8-digit header and whole
// blocks of upper-case hex.
bool HexBlockLooksIntact(std::string_view value) noexcept {
    return value.size() >= kHexBlockMinimumLength && (value.size() - kHeaderLength) % 32 == 0 &&
           IsUpperHex(value);
}

// A failure to open `value`; when its form is intact, it is what a wrong key
// gives.
Opened FailedToOpen(std::string_view value, Mode mode, std::string reason) {
    Opened opened = Failed(std::move(reason));
    opened.wrong_key_likely =
        mode == Mode::kEnvelope ? EnvelopeLooksIntact(value) : HexBlockLooksIntact(value);
    return opened;
}

Opened OpenInMode(std::string_view value, std::string_view key, Mode mode,
                  const ValueRules& rules) {
    Result result = decrypt(value, key, mode);
    if (!result) return FailedToOpen(value, mode, std::string(result.message()));
    SecretText plaintext = TakePlaintext(result);
    const std::size_t length = plaintext.view().size();
    if (mode == Mode::kEnvelope && EnvelopeWasCut(value, length)) {
        return FailedToOpen(value, mode, std::string(kCutAtZeroReason));
    }
    if (!rules.allow_binary && !IsPlainText(plaintext.view(), rules.allow_line_breaks)) {
        return FailedToOpen(value, mode, std::string(kNotTextReason));
    }
    if (mode == Mode::kHexBlock) {
        if (std::string problem = HexBlockLengthProblem(value, length); !problem.empty()) {
            return Failed(std::move(problem));
        }
    }
    return Opened{std::move(plaintext), {}};
}

std::optional<Mode> ModeToRead(std::string_view value, ReadMode mode) noexcept {
    switch (mode) {
        case ReadMode::kHexBlock:
            return Mode::kHexBlock;
        case ReadMode::kEnvelope:
            return Mode::kEnvelope;
        case ReadMode::kAuto:
            break;
    }
    return RecognizeMode(value);
}

// Whether two key texts make the same AES key in `mode`.
bool KeysActAlike(std::string_view a, std::string_view b, Mode mode) noexcept {
    if (mode == Mode::kHexBlock) {
        return a.substr(0, kHexBlockKeyCharacters) == b.substr(0, kHexBlockKeyCharacters);
    }
    return a == b;
}

Reencrypted ReencryptFailed(std::string reason) {
    return Reencrypted{Reencrypted::Outcome::kFailed, {}, std::move(reason)};
}

// With binary plaintexts allowed, a mode-0 value of whole blocks opens under
// almost any key (only its length is checked), so a value opening under both
// keys is no ambiguity by itself: what tells the two readings apart is which
// of them is text. `reading` is the likelier of the two only when it is text
// and `other` is not; without binary plaintexts both are text and neither is.
bool ReadingIsLikelier(std::string_view reading, std::string_view other,
                       const ValueRules& rules) noexcept {
    return rules.allow_binary && IsPlainText(reading, rules.allow_line_breaks) &&
           !IsPlainText(other, rules.allow_line_breaks);
}

// A fresh IV makes another mode-1 value of the same plaintext; a few draws
// make one that opens under the old key (a chance of about 1 in 50,000 for
// short values) practically impossible. Mode 0 has only one value to offer.
constexpr int kSealTries = 4;

// Whether the old key's reading of a new mode-0 value is one the value could
// really be taken for. Without binary plaintexts any reading is. With them,
// one that differs from `plaintext` and is not text is what every wrong key
// gives; mode 0 has no other value to offer, so it is written: a re-run takes
// it for migrated when `plaintext` is text, and fails it as ambiguous, never
// re-keying it twice, when `plaintext` is binary too.
bool OldReadingIsCredible(std::string_view plaintext, std::string_view under_old,
                          const ValueRules& rules) noexcept {
    return !rules.allow_binary || under_old == plaintext ||
           IsPlainText(under_old, rules.allow_line_breaks);
}

// Seals `plaintext` for the target and proves the result before anyone
// stores it: it must open under the new key to exactly `plaintext`, and with
// a different old key it must not also open under that one, or a re-run
// would take the migrated value for an ambiguous one and stop on it.
Reencrypted SealVerified(std::string_view plaintext, const Rekeying& rekeying, bool same_key,
                         const ValueRules& rules) {
    const Mode target = rekeying.to_mode;
    for (int attempt = 0; attempt < kSealTries; ++attempt) {
        Sealed sealed = SealValue(plaintext, rekeying.new_key, target);
        if (!sealed) return ReencryptFailed(std::move(sealed.reason));
        const Opened back = OpenInMode(*sealed.value, rekeying.new_key, target, rules);
        if (!back || back.plaintext->view() != plaintext) {
            return ReencryptFailed("the new value does not decrypt back to the same plaintext");
        }
        const Opened under_old =
            same_key ? Opened{} : OpenInMode(*sealed.value, rekeying.old_key, target, rules);
        if (!under_old || (target == Mode::kHexBlock &&
                           !OldReadingIsCredible(plaintext, under_old.plaintext->view(), rules))) {
            return Reencrypted{Reencrypted::Outcome::kWritten, std::move(*sealed.value), {}};
        }
        if (target == Mode::kHexBlock) break;
    }
    return ReencryptFailed("ambiguous: the new value would also open under the old key");
}

// Whether `value` (trimmed, recognised in `mode`) has exactly the shape
// Encrypt gives a value of its length: mode 0 always does once recognised;
// mode 1 is 24 IV characters, "$", and base64 of whole blocks, nothing else.
bool IsAsSealed(std::string_view value, Mode mode) noexcept {
    if (mode == Mode::kHexBlock) return IsUpperHex(value) && value.size() % 32 == kHeaderLength;
    if (value.size() <= kIvCharacters + 1 || value[kIvCharacters] != '$' ||
        value.find('$', kIvCharacters + 1) != std::string_view::npos ||
        value.find_first_of(" \t\r\n") != std::string_view::npos)
        return false;
    const std::size_t encoded = value.size() - kIvCharacters - 1;
    const std::size_t blocks = encoded * 3 / 4 / kBlockSize;
    return blocks != 0 && MigratedLength(blocks * kBlockSize - 1, Mode::kEnvelope) == value.size();
}

// A mode-0 value's length once sealed in `target`, from its header and block
// count alone: every plaintext length the two allow must give the same
// answer, or nothing is known without decrypting.
std::optional<std::size_t> MigratedLengthFromHeader(std::string_view value, Mode target) {
    const std::size_t blocks = (value.size() - kHeaderLength) / 32;
    if (blocks == 0) return std::nullopt;
    const std::string_view header = value.substr(0, kHeaderLength);
    std::optional<std::size_t> sealed;
    for (std::size_t length = kBlockSize * (blocks - 1) + 1; length <= kBlockSize * blocks;
         ++length) {
        const std::array<char, kHeaderLength> expected = hex_block_header(length);
        if (header != std::string_view(expected.data(), expected.size())) continue;
        const std::size_t candidate = MigratedLength(length, target);
        if (sealed && *sealed != candidate) return std::nullopt;
        sealed = candidate;
    }
    return sealed;
}

}  // namespace

std::string_view TrimBlanks(std::string_view value) noexcept {
    const std::size_t first = value.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos) return {};
    return value.substr(first, value.find_last_not_of(kWhiteSpace) - first + 1);
}

std::optional<Mode> RecognizeMode(std::string_view value) noexcept {
    if (value.find('$') != std::string_view::npos) return Mode::kEnvelope;
    if (value.size() >= kHexBlockMinimumLength && IsUpperHex(value)) return Mode::kHexBlock;
    return std::nullopt;
}

Opened OpenValue(std::string_view value, std::string_view key, ReadMode mode,
                 const ValueRules& rules) {
    const std::string_view trimmed = TrimBlanks(value);
    if (trimmed.empty()) return Failed("empty value");
    const std::optional<Mode> mode_to_read = ModeToRead(trimmed, mode);
    if (!mode_to_read) return Failed("neither a mode-0 nor a mode-1 value");
    return OpenInMode(trimmed, key, *mode_to_read, rules);
}

std::size_t MigratedLength(std::size_t plaintext_length, Mode mode) noexcept {
    // The output sizes of the library's header, less the terminator.
    return (mode == Mode::kHexBlock ? TARVOLA_ENCRYPT_SIZE_MODE0(plaintext_length)
                                    : TARVOLA_ENCRYPT_SIZE_MODE1(plaintext_length)) -
           1;
}

Sealed SealValue(std::string_view plaintext, std::string_view key, Mode mode) {
    Result result = encrypt(plaintext, key, mode);
    if (!result) return Sealed{std::nullopt, std::string(result.message())};
    return Sealed{std::move(result.value), {}};
}

Assessed AssessValue(std::string_view value, const Rekeying& rekeying, const ValueRules& rules) {
    using Outcome = Assessed::Outcome;
    const std::string_view trimmed = TrimBlanks(value);
    if (trimmed.empty()) return Assessed{Outcome::kFailed, {}, "empty value"};
    const std::optional<Mode> mode_read = ModeToRead(trimmed, rekeying.from_mode);
    if (!mode_read) return Assessed{Outcome::kFailed, {}, "neither a mode-0 nor a mode-1 value"};

    const Mode target = rekeying.to_mode;
    Opened opened;
    if (*mode_read == target && RecognizeMode(trimmed) == target) {
        const Opened under_new = OpenInMode(trimmed, rekeying.new_key, target, rules);
        if (under_new) {
            if (KeysActAlike(rekeying.old_key, rekeying.new_key, target))
                return Assessed{Outcome::kUnchanged, {}, {}};
            opened = OpenInMode(trimmed, rekeying.old_key, target, rules);
            if (!opened ||
                ReadingIsLikelier(under_new.plaintext->view(), opened.plaintext->view(), rules)) {
                return Assessed{Outcome::kUnchanged, {}, {}};
            }
            if (!ReadingIsLikelier(opened.plaintext->view(), under_new.plaintext->view(), rules)) {
                return Assessed{Outcome::kAmbiguous,
                                {},
                                "ambiguous: the value opens under both the old and the new key"};
            }
        }
    }

    if (!opened) opened = OpenInMode(trimmed, rekeying.old_key, *mode_read, rules);
    if (!opened) {
        std::string reason = std::move(opened.reason);
        return Assessed{Outcome::kFailed, std::move(opened), std::move(reason)};
    }
    return Assessed{Outcome::kToReencrypt, std::move(opened), {}};
}

bool WouldReencrypt(std::string_view value, const Rekeying& rekeying, const ValueRules& rules) {
    const std::string_view trimmed = TrimBlanks(value);
    const std::optional<Mode> mode_read = ModeToRead(trimmed, rekeying.from_mode);
    if (trimmed.empty() || !mode_read) return false;
    const Mode target = rekeying.to_mode;
    // AssessValue rewrites a value of the target mode only once it opened
    // under the old key; under keys that act alike it then also opened under
    // the new one, and stays.
    if (*mode_read == target && RecognizeMode(trimmed) == target &&
        (KeysActAlike(rekeying.old_key, rekeying.new_key, target) ||
         !OpenInMode(trimmed, rekeying.old_key, target, rules))) {
        return false;
    }
    return AssessValue(trimmed, rekeying, rules).outcome == Assessed::Outcome::kToReencrypt;
}

bool MarkedValuesStay(const Rekeying& rekeying) noexcept {
    return rekeying.to_mode == Mode::kEnvelope &&
           KeysActAlike(rekeying.old_key, rekeying.new_key, Mode::kEnvelope);
}

Reencrypted ReencryptValue(std::string_view value, const Rekeying& rekeying,
                           const ValueRules& rules) {
    Assessed assessed = AssessValue(value, rekeying, rules);
    switch (assessed.outcome) {
        case Assessed::Outcome::kUnchanged:
            return Reencrypted{Reencrypted::Outcome::kUnchanged, {}, {}};
        case Assessed::Outcome::kAmbiguous:
            return ReencryptFailed(std::move(assessed.reason));
        case Assessed::Outcome::kFailed: {
            Reencrypted failed = ReencryptFailed(std::move(assessed.reason));
            failed.wrong_key_likely = assessed.opened.wrong_key_likely;
            return failed;
        }
        case Assessed::Outcome::kToReencrypt:
            break;
    }
    const bool same_key = KeysActAlike(rekeying.old_key, rekeying.new_key, rekeying.to_mode);
    return SealVerified(assessed.opened.plaintext->view(), rekeying, same_key, rules);
}

std::optional<std::size_t> MigratedLengthOf(std::string_view value, const Rekeying& rekeying,
                                            const ValueRules& rules) {
    const std::string_view trimmed = TrimBlanks(value);
    if (trimmed.empty()) return std::nullopt;
    const std::optional<Mode> mode_read = ModeToRead(trimmed, rekeying.from_mode);
    if (!mode_read) return std::nullopt;
    const Mode target = rekeying.to_mode;
    // Most values say their length without being decrypted, which keeps the
    // width check before a migration cheap. A value in the target mode as
    // Encrypt writes it keeps its length whether it stays or is sealed again
    // under another key: the same plaintext length, the same sealed length.
    if (*mode_read == target && IsAsSealed(trimmed, target)) return trimmed.size();
    if (*mode_read == Mode::kHexBlock) {
        if (const std::optional<std::size_t> length = MigratedLengthFromHeader(trimmed, target))
            return length;
    }
    // As ReencryptValue decides: a value already migrated stays as it is.
    if (*mode_read == target && RecognizeMode(trimmed) == target &&
        OpenInMode(trimmed, rekeying.new_key, target, rules)) {
        return trimmed.size();
    }
    const Opened opened = OpenInMode(trimmed, rekeying.old_key, *mode_read, rules);
    if (!opened) return std::nullopt;
    return MigratedLength(opened.plaintext->view().size(), target);
}

}  // namespace tarvola::tool
