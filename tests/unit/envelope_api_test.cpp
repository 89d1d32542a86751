// Mode 1 through the public entry points and the random IVs behind them:
// output sizes, key classes, the failure results and what each leaves in
// the caller's buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "envelope/base64.h"
#include "envelope/random_iv.h"
#include "platform/platform.h"
#include "tarvolacrypt.h"
#include "test_support.h"

namespace tarvola {
namespace {

constexpr int32_t kMode1 = TARVOLA_MODE_ENVELOPE;

std::size_t EnvelopeLength(std::size_t text_length) {
    return TARVOLA_ENCRYPT_SIZE_MODE1(text_length) - 1;
}

std::string EncryptMode1(const std::string& text, const std::string& key) {
    std::string out(EnvelopeLength(text.size()) + 1, '#');
    EXPECT_EQ(Encrypt(text.c_str(), key.c_str(), out.data(), kMode1), 0);
    EXPECT_EQ(out.back(), '\0') << "the envelope fills the documented size exactly";
    return out.c_str();
}

struct Opened {
    int32_t result;
    std::string buffer;  // the whole buffer, terminator and untouched bytes included
    [[nodiscard]] std::string Text() const { return buffer.c_str(); }
};

Opened DecryptMode1(const std::string& envelope, const char* key, std::size_t size = 0) {
    Opened opened{0, std::string(size != 0 ? size : envelope.size() + 16, '#')};
    opened.result = Decrypt(envelope.c_str(), key, opened.buffer.data(), kMode1);
    return opened;
}

// The buffer a failed mode-1 call leaves: first byte zero, the rest untouched.
std::string EmptyTextIn(std::size_t size) {
    return '\0' + std::string(size - 1, '#');
}

TEST(EnvelopeApi, RoundTripsAndSizesForEveryKeyClass) {
    for (std::size_t key_length = 0; key_length < 32; ++key_length) {
        for (const std::size_t length : {0U, 1U, 15U, 16U, 17U, 31U, 32U, 100U}) {
            const std::string key(key_length, static_cast<char>('a' + key_length % 26));
            const std::string text(length, 'x');
            const std::string envelope = EncryptMode1(text, key);
            ASSERT_EQ(envelope.size(), EnvelopeLength(length));
            EXPECT_EQ(envelope.substr(22, 3), "==$");
            const Opened opened = DecryptMode1(envelope, key.c_str());
            EXPECT_EQ(opened.result, 0);
            EXPECT_EQ(opened.Text(), text) << "key length " << key_length;
        }
    }
}

TEST(EnvelopeApi, CiphertextSizesFollowThePaddingRule) {
    // Empty: one block (24 characters ending "=="); 15 characters: one block;
    // 16 characters: two blocks (44 characters).
    const std::string empty = EncryptMode1("", "k");
    EXPECT_EQ(empty.size(), 25U + 24);
    EXPECT_EQ(empty.substr(47), "==");
    EXPECT_EQ(EncryptMode1(std::string(15, 'a'), "k").size(), 25U + 24);
    EXPECT_EQ(EncryptMode1(std::string(16, 'a'), "k").size(), 25U + 44);
}

TEST(EnvelopeApi, EveryEncryptionDrawsAFreshIv) {
    const std::string first = EncryptMode1("same text", "same key");
    const std::string second = EncryptMode1("same text", "same key");
    EXPECT_NE(first.substr(0, 24), second.substr(0, 24));
    EXPECT_NE(first, second);
    EXPECT_EQ(DecryptMode1(first, "same key").Text(), "same text");
    EXPECT_EQ(DecryptMode1(second, "same key").Text(), "same text");
}

TEST(EnvelopeApi, EveryIvIsFresh) {
    std::set<std::string> seen;  // hex: g++ 12 -O3 warns falsely on sets of vectors
    for (int i = 0; i < 100; ++i) {
        const auto iv = envelope::MakeRandomIv(16);
        ASSERT_TRUE(iv.has_value());
        ASSERT_EQ(iv->size(), 16U);
        EXPECT_TRUE(seen.insert(test::ToHex(*iv)).second);
    }
}

TEST(EnvelopeApi, KeyTextSizeChoosesTheAesKey) {
    // A 16-character key text is AES-256 with 16 zero bytes, not AES-128: its
    // envelope must not open under the first 15 characters or with a 17th.
    const std::string key16 = "0123456789abcdef";
    const std::string envelope = EncryptMode1("value", key16);
    EXPECT_EQ(DecryptMode1(envelope, key16.c_str()).Text(), "value");
    for (const std::string& other : {key16 + "x", key16.substr(0, 15)}) {
        const Opened opened = DecryptMode1(envelope, other.c_str());
        EXPECT_NE(opened.Text(), "value") << other;
    }
    // Key texts shorter than 16 characters are zero-padded, so a null key is
    // the empty key.
    const Opened null_key = DecryptMode1(EncryptMode1("value", ""), nullptr);
    EXPECT_EQ(null_key.Text(), "value");
}

TEST(EnvelopeApi, KeyTextsOf32CharactersOrMoreAreRefused) {
    for (const std::size_t key_length : {32U, 33U, 48U, 100U}) {
        const std::string key(key_length, 'k');
        std::string out(64, '#');
        EXPECT_EQ(Encrypt("value", key.c_str(), out.data(), kMode1), 1) << key_length;
        EXPECT_EQ(out, EmptyTextIn(64)) << "no envelope without ciphertext is written";

        const Opened opened = DecryptMode1(EncryptMode1("value", "short"), key.c_str(), 64);
        EXPECT_EQ(opened.result, 1);
        EXPECT_EQ(opened.buffer, EmptyTextIn(64));
    }
}

TEST(EnvelopeApi, DecryptionFailuresLeaveTheEmptyText) {
    const std::string good = EncryptMode1("a value of some length", "key");
    const std::string iv_text = good.substr(0, 24);
    const std::string ct_text = good.substr(25);
    const std::string short_iv = *envelope::Base64Encode(platform::ByteVector(15, 7));
    const std::string block_text = *envelope::Base64Encode(platform::ByteVector(16, 7));
    const std::string odd_ct = *envelope::Base64Encode(platform::ByteVector(17, 7));
    std::string flipped = good;
    flipped[25 + 10] = flipped[25 + 10] == 'A' ? 'B' : 'A';
    const struct {
        const char* why;
        std::string envelope;
        const char* key;
    } cases[] = {
        {"no separator", iv_text, "key"},
        {"nothing after the separator", iv_text + "$", "key"},
        {"ciphertext not base64", iv_text + "$!!!!", "key"},
        {"ciphertext of 17 bytes", iv_text + "$" + odd_ct, "key"},
        {"IV of 15 bytes", short_iv + "$" + ct_text, "key"},
        {"IV not base64", "not base64 at all$" + ct_text, "key"},
        {"IV part empty", "$" + ct_text, "key"},
        {"empty text", "", "key"},
        {"wrong key (padding rejected)", iv_text + "$" + block_text, "key"},
        {"damaged last block", flipped, "key"},
    };
    for (const auto& c : cases) {
        const Opened opened = DecryptMode1(c.envelope, c.key, 80);
        EXPECT_EQ(opened.result, 1) << c.why;
        EXPECT_EQ(opened.buffer, EmptyTextIn(80)) << c.why;
    }
}

TEST(EnvelopeApi, WrongKeysAreRejectedByThePaddingCheck) {
    // A wrong key passes the full padding check only by chance (about 1 in 256
    // for a one-byte padding); over 200 keys nearly all must be refused.
    const std::string envelope = EncryptMode1("short", "right key");
    int accepted = 0;
    for (int i = 0; i < 200; ++i) {
        const std::string key = "wrong " + std::to_string(i);
        accepted += DecryptMode1(envelope, key.c_str()).result == 0 ? 1 : 0;
    }
    EXPECT_LE(accepted, 5);
}

TEST(EnvelopeApi, LongerIvPartUsesItsFirstSixteenBytes) {
    // 17 and 19 bytes encode with "=" padding, so the "$" after them still
    // ends the part.
    const std::string good = EncryptMode1("value", "key");
    for (const std::size_t extra : {1U, 3U}) {
        auto iv = envelope::Base64Decode(good.substr(0, 24));
        iv.insert(iv.end(), extra, 0xEE);
        const std::string longer = *envelope::Base64Encode(iv) + good.substr(24);
        EXPECT_EQ(DecryptMode1(longer, "key").Text(), "value") << extra;
    }
}

TEST(EnvelopeApi, DecryptionStopsAtAZeroByteAndKeepsBytesAfterTheTerminator) {
    // Other writers may encrypt text with a zero byte in it; what follows the
    // zero byte cannot be returned through a C string.
    const platform::ByteVector key(16, 0);
    const platform::ByteVector iv(16, 9);
    const std::string plaintext("ab\0cd", 5);
    const auto ciphertext = platform::CbcEncryptPadded(
        key, std::span<const std::uint8_t, 16>(iv.data(), 16),
        std::span(reinterpret_cast<const std::uint8_t*>(plaintext.data()), plaintext.size()));
    ASSERT_TRUE(ciphertext.has_value());
    const std::string envelope =
        *envelope::Base64Encode(iv) + "$" + *envelope::Base64Encode(*ciphertext);
    const Opened opened = DecryptMode1(envelope, "", 32);
    EXPECT_EQ(opened.result, 0);
    EXPECT_EQ(opened.buffer, std::string("ab\0", 3) + std::string(29, '#'));
}

TEST(EntryPoints, OtherModesAreRefusedWithoutTouchingTheBuffer) {
    for (const int32_t mode : {2, -1, 3, 255, INT32_MIN, INT32_MAX}) {
        std::string out(16, '#');
        EXPECT_EQ(Encrypt("text", "key", out.data(), mode), 1) << mode;
        EXPECT_EQ(Decrypt("text", "key", out.data(), mode), 1) << mode;
        EXPECT_EQ(out, std::string(16, '#'));
    }
}

TEST(EntryPoints, NullArgumentsAreRefusedSafely) {
    for (const int32_t mode : {0, 1}) {
        EXPECT_EQ(Encrypt("text", "key", nullptr, mode), 1);
        EXPECT_EQ(Decrypt("text", "key", nullptr, mode), 1);
    }
    std::string out(8, '#');
    EXPECT_EQ(Encrypt(nullptr, "key", out.data(), kMode1), 1);
    EXPECT_EQ(out, EmptyTextIn(8));
    out.assign(8, '#');
    EXPECT_EQ(Decrypt(nullptr, "key", out.data(), kMode1), 1);
    EXPECT_EQ(out, EmptyTextIn(8));
}

}  // namespace
}  // namespace tarvola
