// Every call fits a buffer of exactly the size tarvolacrypt.h promises: guard
// bytes placed right after that size must survive every call, in both modes
// and both directions, on success and on failure. The library is never told
// the size, so nothing but these sizes keeps it inside the caller's buffer.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "envelope_damage.h"
#include "output_sizes.h"
#include "tarvolacrypt.h"

namespace tarvola::hardening {
namespace {

constexpr char kUntouched = static_cast<char>(0xA5);
constexpr char kGuard = static_cast<char>(0x5A);
constexpr std::size_t kGuardLength = 32;

// `size` bytes for the library, then guard bytes it must never reach.
class GuardedBuffer {
  public:
    GuardedBuffer(std::size_t size, char fill) : size_(size), bytes_(size + kGuardLength, kGuard) {
        std::fill_n(bytes_.begin(), size, fill);
    }

    [[nodiscard]] char* data() { return bytes_.data(); }
    [[nodiscard]] std::size_t size() const { return size_; }
    [[nodiscard]] std::string_view Text() const { return bytes_.data(); }
    [[nodiscard]] std::string_view Bytes() const { return {bytes_.data(), size_}; }
    [[nodiscard]] bool GuardIntact() const {
        return std::all_of(bytes_.begin() + static_cast<std::ptrdiff_t>(size_), bytes_.end(),
                           [](char c) { return c == kGuard; });
    }
    // True when every byte from `from` up to the promised size still holds
    // `fill`.
    [[nodiscard]] bool UnchangedFrom(std::size_t from, char fill) const {
        return std::all_of(bytes_.begin() + static_cast<std::ptrdiff_t>(from),
                           bytes_.begin() + static_cast<std::ptrdiff_t>(size_),
                           [fill](char c) { return c == fill; });
    }

  private:
    std::size_t size_;
    std::vector<char> bytes_;
};

// A text of `length` characters cycling through every non-zero byte value, so
// that high bytes and every ciphertext digit show up.
std::string TextOfLength(std::size_t length) {
    std::string text(length, '\0');
    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>(1 + (i * 37 + 11) % 255);
    return text;
}

const std::vector<std::size_t> kLengths = {1, 15, 16, 17, 31, 32, 33, 47, 48, 49, 255, 300};
const std::vector<std::string> kUsableKeys = {"",
                                              "k",
                                              std::string(15, 'a'),
                                              std::string(16, 'b'),
                                              std::string(17, 'c'),
                                              std::string(31, 'd')};
const std::vector<std::string> kUnusableEnvelopeKeys = {std::string(32, 'e'), std::string(33, 'f'),
                                                        std::string(100, 'g')};

std::string EncryptHex(const std::string& text, const std::string& key) {
    GuardedBuffer out(EncryptHexSize(0, text.size()), '\0');
    EXPECT_EQ(Encrypt(text.c_str(), key.c_str(), out.data(), 0), 0);
    return std::string(out.Text());
}

std::string EncryptEnvelope(const std::string& text, const std::string& key) {
    GuardedBuffer out(EncryptEnvelopeSize(text.size()), '\0');
    EXPECT_EQ(Encrypt(text.c_str(), key.c_str(), out.data(), 1), 0);
    return std::string(out.Text());
}

TEST(ExactWrites, EncryptHexFillsItsBufferAfterTheTextAlreadyThere) {
    for (const std::string prefix : {"", "x", "an earlier value:"}) {
        for (const std::size_t length : kLengths) {
            SCOPED_TRACE("prefix \"" + prefix + "\", length " + std::to_string(length));
            GuardedBuffer out(EncryptHexSize(prefix.size(), length), kUntouched);
            std::copy(prefix.begin(), prefix.end(), out.data());
            out.data()[prefix.size()] = '\0';

            ASSERT_EQ(Encrypt(TextOfLength(length).c_str(), "0123456789abcdef", out.data(), 0), 0);
            EXPECT_EQ(out.Text().size(), out.size() - 1);
            EXPECT_EQ(out.Text().substr(0, prefix.size()), prefix);
            EXPECT_TRUE(out.GuardIntact());
        }
    }
}

TEST(ExactWrites, EncryptEnvelopeFillsItsBuffer) {
    for (const std::string& key : kUsableKeys) {
        for (std::size_t length : kLengths) {
            for (const std::size_t l : {length - 1, length}) {
                SCOPED_TRACE("key length " + std::to_string(key.size()) + ", length " +
                             std::to_string(l));
                GuardedBuffer out(EncryptEnvelopeSize(l), kUntouched);
                ASSERT_EQ(Encrypt(TextOfLength(l).c_str(), key.c_str(), out.data(), 1), 0);
                EXPECT_EQ(out.Text().size(), out.size() - 1);
                EXPECT_TRUE(out.GuardIntact());
            }
        }
    }
}

TEST(ExactWrites, EncryptEnvelopeWithUnusableKeyWritesOnlyTheEmptyText) {
    for (const std::string& key : kUnusableEnvelopeKeys) {
        SCOPED_TRACE("key length " + std::to_string(key.size()));
        GuardedBuffer out(EncryptEnvelopeSize(5), kUntouched);
        EXPECT_EQ(Encrypt("value", key.c_str(), out.data(), 1), 1);
        EXPECT_EQ(out.Bytes()[0], '\0');
        EXPECT_TRUE(out.UnchangedFrom(1, kUntouched));
        EXPECT_TRUE(out.GuardIntact());
    }
}

TEST(ExactWrites, DecryptHexFitsItsBufferWithRoomForTheTerminator) {
    for (const std::string& key : kUsableKeys) {
        for (const std::size_t length : kLengths) {
            SCOPED_TRACE("key length " + std::to_string(key.size()) + ", length " +
                         std::to_string(length));
            const std::string text = TextOfLength(length);
            const std::string ciphertext = EncryptHex(text, key);
            GuardedBuffer out(DecryptHexSize(ciphertext.size()), '\0');
            ASSERT_EQ(Decrypt(ciphertext.c_str(), key.c_str(), out.data(), 0), 0);
            EXPECT_EQ(out.Text(), text);
            EXPECT_TRUE(out.GuardIntact());
        }
    }
}

// Texts no encryption writes but decryption accepts: a body of an odd number
// of 16-character halves, white space in header and body, and wrong keys.
// Their blocks decrypt to bytes that are mostly non-zero, so they come close
// to the promised maximum.
TEST(ExactWrites, DecryptHexOfAcceptedForeignTextsStaysInsideItsBuffer) {
    const std::string digits = "0123456789ABCDEF0123456789ABCDEF";
    const std::vector<std::string> texts = {
        "10000000" + digits.substr(0, 16),
        "30000000" + digits + digits.substr(0, 16),
        "1 000000" + digits,
        "10000000" + digits.substr(0, 30) + "  ",
        "20000000 " + digits.substr(0, 30) + " " + digits,
        EncryptHex(TextOfLength(100), "the right key"),
    };
    for (const std::string& text : texts) {
        for (const std::string& key : kUsableKeys) {
            SCOPED_TRACE("\"" + text + "\", key length " + std::to_string(key.size()));
            GuardedBuffer out(DecryptHexSize(text.size()), '\0');
            const int32_t result = Decrypt(text.c_str(), key.c_str(), out.data(), 0);
            EXPECT_EQ(result, out.Text().empty() ? 1 : 0);
            EXPECT_EQ(out.Bytes().back(), '\0');
            EXPECT_TRUE(out.GuardIntact());
        }
    }
}

TEST(ExactWrites, DecryptHexRefusalWritesNothing) {
    const std::string digits = "0123456789ABCDEF0123456789ABCDEF";
    const std::vector<std::string> refused = {
        "",
        "1000000" + digits,                       // 39 characters
        "0a000000" + digits,                      // lowercase header
        " 1000000" + digits,                      // header shorter after trimming
        "10000000" + digits + "01234567",         // body of 40
        "10000000" + digits.substr(0, 31) + "g",  // not a hex digit
        "10000000" + digits.substr(0, 31) + "\xff",
    };
    for (const std::string& text : refused) {
        SCOPED_TRACE("\"" + text + "\"");
        // Filled with a marker rather than zeros, so that any write shows.
        GuardedBuffer out(DecryptHexSize(text.size()), kUntouched);
        EXPECT_EQ(Decrypt(text.c_str(), "key", out.data(), 0), 1);
        EXPECT_TRUE(out.UnchangedFrom(0, kUntouched));
        EXPECT_TRUE(out.GuardIntact());
    }
}

TEST(ExactWrites, DecryptEnvelopeFitsItsBufferAndKeepsTheBytesAfterTheText) {
    for (const std::string& key : kUsableKeys) {
        for (std::size_t length : kLengths) {
            for (const std::size_t l : {length - 1, length}) {
                SCOPED_TRACE("key length " + std::to_string(key.size()) + ", length " +
                             std::to_string(l));
                const std::string text = TextOfLength(l);
                const std::string envelope = EncryptEnvelope(text, key);
                GuardedBuffer out(DecryptEnvelopeSize(envelope), kUntouched);
                ASSERT_EQ(Decrypt(envelope.c_str(), key.c_str(), out.data(), 1), 0);
                EXPECT_EQ(out.Text(), text);
                EXPECT_TRUE(out.UnchangedFrom(text.size() + 1, kUntouched));
                EXPECT_TRUE(out.GuardIntact());
            }
        }
    }
}

TEST(ExactWrites, DecryptEnvelopeFailureWritesOnlyTheEmptyText) {
    const std::string key = "the right key";
    const std::string two_blocks = "a value of two blocks, 1234567890";
    const std::string envelope = EncryptEnvelope("a value", key);
    const std::vector<std::pair<std::string, std::string>> failures = {
        {WithBrokenPadding(EncryptEnvelope(two_blocks, key), two_blocks.size()), key},
        {envelope, std::string(32, 'k')},
        {envelope.substr(0, 24), key},                              // no separator
        {envelope.substr(0, 25), key},                              // nothing after it
        {"AAECAw==" + envelope.substr(24), key},                    // IV under 16 bytes
        {envelope.substr(0, 25) + "AAECAwQFBgc=", key},             // ciphertext of 8 bytes
        {envelope.substr(0, 30) + "$" + envelope.substr(30), key},  // "$" inside a group
    };
    for (const auto& [text, failing_key] : failures) {
        SCOPED_TRACE("\"" + text + "\", key \"" + failing_key + "\"");
        GuardedBuffer out(DecryptEnvelopeSize(text), kUntouched);
        EXPECT_EQ(Decrypt(text.c_str(), failing_key.c_str(), out.data(), 1), 1);
        EXPECT_EQ(out.Bytes()[0], '\0');
        EXPECT_TRUE(out.UnchangedFrom(1, kUntouched));
        EXPECT_TRUE(out.GuardIntact());
    }
}

TEST(ExactWrites, OtherModesTouchNothing) {
    for (const int32_t mode : {2, 3, -1, INT32_MAX, INT32_MIN}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        GuardedBuffer encrypted(64, kUntouched);
        EXPECT_EQ(Encrypt("value", "key", encrypted.data(), mode), 1);
        EXPECT_TRUE(encrypted.UnchangedFrom(0, kUntouched));
        GuardedBuffer decrypted(64, kUntouched);
        EXPECT_EQ(Decrypt(EncryptHex("value", "key").c_str(), "key", decrypted.data(), mode), 1);
        EXPECT_TRUE(decrypted.UnchangedFrom(0, kUntouched));
    }
}

}  // namespace
}  // namespace tarvola::hardening
