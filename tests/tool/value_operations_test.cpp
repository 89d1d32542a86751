// The tool's per-value rules: a damaged value or a wrong key must fail with a
// reason instead of giving garbage, and reencryption must not touch values
// already migrated.
#include "values/value_operations.h"
#include "envelope/envelope_text.h"
#include "values/envelope_length.h"

#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace tarvola::tool {
namespace {

using Outcome = Reencrypted::Outcome;

const ValueRules kTextOnly{};

std::string Sealed(std::string_view text, std::string_view key, Mode mode) {
    return *SealValue(text, key, mode).value;
}

// The tool reads a mode-1 value's length by its own copy of the library's
// base64 rules: both must give the same answer for every text, and texts
// of the characters that matter, in every order, cover the rules' branches.
TEST(ValueRules, CiphertextLengthReadsBase64AsTheLibraryDoes) {
    constexpr std::string_view kCharacters = "A=$ \n!";
    std::mt19937 random(20261211);
    for (int round = 0; round < 20000; ++round) {
        std::string value = "IV$";
        const std::size_t length = random() % 14;
        for (std::size_t i = 0; i < length; ++i)
            value += kCharacters[random() % kCharacters.size()];
        ASSERT_EQ(EnvelopeCiphertextLength(value), envelope::EnvelopeCiphertextLength(value))
            << "'" << value << "'";
    }
    for (const std::string_view value : {"no separator", "IV$", "IV$QUJDRA==$x", "IV$QUJD RA=="})
        EXPECT_EQ(EnvelopeCiphertextLength(value), envelope::EnvelopeCiphertextLength(value))
            << value;
}

// scan predicts the width a column needs from this; it must agree with what
// encryption writes at every block boundary.
TEST(ValueRules, MigratedLengthIsTheLengthEncryptionWrites) {
    for (const Mode mode : {Mode::kHexBlock, Mode::kEnvelope}) {
        for (const std::size_t length :
             {1U, 2U, 15U, 16U, 17U, 31U, 32U, 33U, 47U, 48U, 100U, 300U}) {
            EXPECT_EQ(MigratedLength(length, mode),
                      Sealed(std::string(length, 'x'), "k", mode).size())
                << "mode " << static_cast<int>(mode) << ", length " << length;
        }
    }
}

TEST(ValueRules, DamagedValuesFailWithTheirReason) {
    const std::string text(17, 'v');
    const std::string hex = Sealed(text, "key", Mode::kHexBlock);  // 72 characters
    const std::string envelope = Sealed("plain", "key", Mode::kEnvelope);
    const std::string long_envelope = Sealed(std::string(40, 'p'), "key", Mode::kEnvelope);
    // Whole blocks of text, so that any character counted beyond those the
    // library decodes makes the plaintext look cut at a zero byte.
    const std::string one_block = Sealed(std::string(16, 'o'), "key", Mode::kEnvelope);
    const std::string two_blocks = Sealed(std::string(32, 't'), "key", Mode::kEnvelope);
    const auto inside_ciphertext = [](const std::string& value, const char* blanks) {
        const std::size_t at = value.size() - 10;
        return value.substr(0, at) + blanks + value.substr(at);
    };
    struct Case {
        std::string value;
        ReadMode mode;
        std::string reason;
        // Only an intact value that does not open may blame the key.
        bool wrong_key_likely = false;
    };
    const std::vector<Case> cases = {
        {hex.substr(0, 40), ReadMode::kHexBlock, "header says about 17 characters, decrypted 16"},
        {hex + "0000000000000000", ReadMode::kHexBlock, "damaged"},
        {hex.substr(0, 60), ReadMode::kHexBlock, "not a mode-0 value"},
        {" \t" + envelope + "  ", ReadMode::kEnvelope, ""},
        {"\r\n" + envelope + "\r\n", ReadMode::kAuto, ""},
        {"\n" + hex + " \r\n", ReadMode::kAuto, ""},
        {inside_ciphertext(one_block, "\r"), ReadMode::kEnvelope, ""},
        {inside_ciphertext(two_blocks, "  "), ReadMode::kEnvelope, ""},
        {one_block + "$ignored", ReadMode::kEnvelope, ""},
        {envelope, ReadMode::kHexBlock, "not a mode-0 value"},
        {long_envelope.substr(0, 45), ReadMode::kEnvelope, "rejected"},
        {long_envelope.substr(0, long_envelope.size() - 4), ReadMode::kEnvelope, "rejected"},
        {" \t\r\n", ReadMode::kAuto, "empty value"},
        {"hello", ReadMode::kAuto, "neither a mode-0 nor a mode-1 value"},
        {"\\x" + hex, ReadMode::kAuto, "neither a mode-0 nor a mode-1 value"},
    };
    for (const Case& c : cases) {
        const Opened opened = OpenValue(c.value, "key", c.mode, kTextOnly);
        if (c.reason.empty()) {
            EXPECT_TRUE(opened) << c.value << ": " << opened.reason;
        } else {
            EXPECT_FALSE(opened) << c.value;
            EXPECT_NE(opened.reason.find(c.reason), std::string::npos) << opened.reason;
            EXPECT_EQ(opened.wrong_key_likely, c.wrong_key_likely) << c.value;
        }
    }
}

// Over thousands of values a wrong key must fail practically always.
TEST(ValueRules, WrongKeyFailsInBothModes) {
    constexpr int kValues = 4000;
    std::mt19937 random(20181027);
    std::uniform_int_distribution<int> length(1, 60);
    std::uniform_int_distribution<int> printable(0x20, 0x7E);
    for (const Mode mode : {Mode::kHexBlock, Mode::kEnvelope}) {
        int slipped = 0;
        for (int i = 0; i < kValues; ++i) {
            std::string text(static_cast<std::size_t>(length(random)), ' ');
            for (char& c : text) c = static_cast<char>(printable(random));
            const std::string value = Sealed(text, "the right key", mode);
            const Opened opened = OpenValue(value, "a wrong key", ReadMode::kAuto, kTextOnly);
            if (opened) {
                ++slipped;
            } else {
                EXPECT_TRUE(opened.wrong_key_likely) << value << ": " << opened.reason;
            }
        }
        std::cout << "mode " << static_cast<int>(mode) << ": " << slipped << " of " << kValues
                  << " values opened under a wrong key\n";
        EXPECT_LE(slipped * 1000, kValues) << "mode " << static_cast<int>(mode) << ": " << slipped
                                           << " of " << kValues << " opened under a wrong key";
    }
}

// The command-line tests run a half-migrated file; here the edges of "already
// there": the old key again, and mode-0 keys that act alike.
TEST(ValueRules, ReencryptLeavesWhatIsAlreadyThere) {
    const std::string migrated = Sealed("second value", "new key", Mode::kEnvelope);
    const std::string under_old = Sealed("third value", "old key", Mode::kEnvelope);
    const Rekeying rekeying{"old key", "new key", ReadMode::kAuto, Mode::kEnvelope};

    EXPECT_EQ(ReencryptValue(migrated, rekeying, kTextOnly).outcome, Outcome::kUnchanged);
    EXPECT_EQ(ReencryptValue(under_old, rekeying, kTextOnly).outcome, Outcome::kWritten);
    // Same key, same mode: already there.
    const Rekeying same{"old key", "old key", ReadMode::kAuto, Mode::kEnvelope};
    EXPECT_EQ(ReencryptValue(under_old, same, kTextOnly).outcome, Outcome::kUnchanged);
    // Mode 0 keys agree in their first 16 characters: not ambiguous.
    const Rekeying alike{"0123456789abcdef-old", "0123456789abcdef-new", ReadMode::kAuto,
                         Mode::kHexBlock};
    const std::string hex16 = Sealed("value", "0123456789abcdef", Mode::kHexBlock);
    EXPECT_EQ(ReencryptValue(hex16, alike, kTextOnly).outcome, Outcome::kUnchanged);
    EXPECT_EQ(ReencryptValue("garbage", rekeying, kTextOnly).outcome, Outcome::kFailed);
}

// The width check before a migration trusts this number: it must be the
// length of what ReencryptValue really writes, across block edges, both ways.
TEST(ValueRules, MigratedLengthOfIsWhatReencryptWrites) {
    for (const Mode from : {Mode::kHexBlock, Mode::kEnvelope}) {
        const Mode to = from == Mode::kHexBlock ? Mode::kEnvelope : Mode::kHexBlock;
        const Rekeying rekeying{"old key", "new key", ReadMode::kAuto, to};
        for (const std::size_t length : std::vector<std::size_t>{1, 2, 15, 16, 17, 31, 32, 33, 47,
                                                                 48, 49, 150, 200, 4096, 5000}) {
            const std::string value = Sealed(std::string(length, 'p'), "old key", from);
            const Reencrypted migrated = ReencryptValue(value, rekeying, kTextOnly);
            ASSERT_EQ(migrated.outcome, Outcome::kWritten) << migrated.reason;
            EXPECT_EQ(MigratedLengthOf(value, rekeying, kTextOnly), migrated.value.size())
                << "length " << length << " into mode " << static_cast<int>(to);
            // Already migrated: the value stays, with its own length.
            EXPECT_EQ(MigratedLengthOf(migrated.value, rekeying, kTextOnly), migrated.value.size());
        }
        EXPECT_EQ(MigratedLengthOf("garbage", rekeying, kTextOnly), std::nullopt);
    }
}

// The count of rows a migration left behind takes WouldReencrypt for
// AssessValue's verdict, and leaves out unread the values MarkedValuesStay
// lets it: both must agree with AssessValue on every kind of stored value,
// for every way of re-keying (the same key, mode-0 keys alike in their first
// 16 characters, another key; from any mode into either; binary plaintexts
// or not).
TEST(ValueRules, LeftBehindCountKeepsAssessValuesVerdict) {
    const std::string alike_old = "0123456789abcdef-old";
    const std::string alike_new = "0123456789abcdef-new";
    const std::vector<std::string> keys = {"old key", "new key", "third key", alike_old};
    // Empty, blank, neither mode, "$" alone, a mode-0 header over zero
    // blocks, then values under each key in each mode, one padded with blanks.
    std::vector<std::string> values = {"", "   ", "garbage", "$",
                                       std::string("0A000000").append(64, '0')};
    for (const std::string& key : keys) {
        for (const Mode mode : {Mode::kHexBlock, Mode::kEnvelope}) {
            values.push_back(Sealed("a value", key, mode));
            values.push_back(
                std::string(" ").append(Sealed(std::string(16, 'b'), key, mode)).append(" "));
        }
    }
    const std::vector<std::pair<std::string, std::string>> rekeyings = {
        {"old key", "old key"}, {"old key", "new key"}, {alike_old, alike_new}};
    for (const auto& [old_key, new_key] : rekeyings) {
        for (const ReadMode from : {ReadMode::kAuto, ReadMode::kHexBlock, ReadMode::kEnvelope}) {
            for (const Mode to : {Mode::kHexBlock, Mode::kEnvelope}) {
                for (const ValueRules rules : {kTextOnly, ValueRules{true, false}}) {
                    const Rekeying rekeying{old_key, new_key, from, to};
                    for (const std::string& value : values) {
                        const bool rewritten = AssessValue(value, rekeying, rules).outcome ==
                                               Assessed::Outcome::kToReencrypt;
                        const std::string context = "'" + value + "' from '" + old_key + "' to '" +
                                                    new_key + "', modes " +
                                                    std::to_string(static_cast<int>(from)) +
                                                    " to " + std::to_string(static_cast<int>(to));
                        EXPECT_EQ(WouldReencrypt(value, rekeying, rules), rewritten) << context;
                        if (MarkedValuesStay(rekeying) && value.find('$') != std::string::npos) {
                            EXPECT_FALSE(rewritten) << context;
                        }
                    }
                }
            }
        }
    }
}

// With binary plaintexts allowed, a mode-0 value of whole blocks opens under
// nearly any key; that must not make re-keying into mode 0 fail as
// ambiguous, nor a re-run over its result re-key anything twice.
TEST(ValueRules, BinaryToleranceIsNoAmbiguityInModeZero) {
    const ValueRules binary{true, false};
    const Rekeying rekeying{"old key", "new key", ReadMode::kAuto, Mode::kHexBlock};
    std::mt19937 random(20181028);
    std::uniform_int_distribution<int> printable(0x20, 0x7E);
    for (const Mode from : {Mode::kEnvelope, Mode::kHexBlock}) {
        for (int i = 0; i < 200; ++i) {
            std::string text(i % 2 == 0 ? 16 : 32, ' ');
            for (char& c : text) c = static_cast<char>(printable(random));
            const Reencrypted first =
                ReencryptValue(Sealed(text, "old key", from), rekeying, binary);
            ASSERT_EQ(first.outcome, Outcome::kWritten)
                << "from mode " << static_cast<int>(from) << ", '" << text << "': " << first.reason;
            ASSERT_EQ(first.value, Sealed(text, "new key", Mode::kHexBlock));
            const Reencrypted again = ReencryptValue(first.value, rekeying, binary);
            ASSERT_EQ(again.outcome, Outcome::kUnchanged) << "'" << text << "': " << again.reason;
        }
    }
    // A binary plaintext is written too; a re-run cannot tell which key it is
    // under and fails it rather than re-keying it twice.
    const std::string latin1 = "d\xE9j\xE0 vu, na\xEFve!!";
    ASSERT_EQ(latin1.size(), 16U);
    const Reencrypted first =
        ReencryptValue(Sealed(latin1, "old key", Mode::kEnvelope), rekeying, binary);
    ASSERT_EQ(first.outcome, Outcome::kWritten) << first.reason;
    const Reencrypted again = ReencryptValue(first.value, rekeying, binary);
    EXPECT_NE(again.outcome, Outcome::kWritten);
}

}  // namespace
}  // namespace tarvola::tool
