// The padding check's timing does not depend on the padded bytes: run under
// valgrind memcheck, with those bytes marked undefined, any branch or memory
// index that depends on them is reported as a use of an undefined value, and
// valgrind's exit code fails the test. Only the result, marked defined again,
// is branched on: that is the one decision the check makes.
//
// `--control` runs a comparison that does branch on the bytes, to show that
// the harness catches one (that run must fail).
//
// `--hex-block` runs mode-0 Decrypt with the key text's bytes marked
// undefined, which leaves every decrypted byte undefined: the dropping of
// zero bytes and the check for an empty result must not branch on them.
// Secret memory indexes are allowed there by constant_time.supp (the S-box
// look-ups, and where a block's bytes land after the non-zero bytes before
// it), and so is reading the key text up to its terminator; branches are
// not. `--hex-block-control` branches on the decrypted text, to show that
// it does come out undefined (that run must fail).
#include <valgrind/memcheck.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>

#include "common/constant_time.h"
#include "envelope/cbc_padding.h"
#include "tarvolacrypt.h"

namespace {

// The comparisons at the edges of the 32-bit range, where the top bit decides.
constexpr bool ComparisonsHold() {
    constexpr tarvola::ct::Word kEdges[] = {0, 1, 16, 17, 0x7fffffff, 0x80000000, 0xffffffff};
    for (const auto x : kEdges) {
        for (const auto y : kEdges) {
            if (tarvola::ct::Eq(x, y) != (x == y ? 1U : 0U)) return false;
            if (tarvola::ct::Lt(x, y) != (x < y ? 1U : 0U)) return false;
            if (tarvola::ct::Le(x, y) != (x <= y ? 1U : 0U)) return false;
        }
    }
    return true;
}
static_assert(ComparisonsHold());

using Block = std::array<std::uint8_t, 32>;

// Two blocks ending in `tail`, the rest 0x41.
Block Ending(std::span<const std::uint8_t> tail) {
    Block padded;
    padded.fill(0x41);
    std::memcpy(padded.data() + padded.size() - tail.size(), tail.data(), tail.size());
    return padded;
}

void MarkSecret(Block& padded) {
    VALGRIND_MAKE_MEM_UNDEFINED(padded.data(), padded.size());
}

// A padding check that stops at the first wrong byte: what the real one must
// not do.
bool LeakyCheck(const Block& padded) {
    const std::uint8_t pad = padded.back();
    if (pad == 0 || pad > 16) return false;
    for (std::size_t i = 1; i <= pad; ++i) {
        if (padded[padded.size() - i] != pad) return false;
    }
    return true;
}

// Mode-0 values of 1 to 40 characters (zero padding in all but the
// 16-character ones) decrypted under the right key and a wrong one, each
// key marked secret. With `control`, the caller branches on the result.
int DecryptHexBlocks(bool control) {
    constexpr std::size_t kKeyLength = 16;
    const std::array<const char*, 2> keys = {"the right key 16", "a wrong key 16ch"};
    int failures = 0;
    int branches = 0;
    for (std::size_t length = 1; length <= 40; ++length) {
        std::array<char, 41> text{};
        for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + i % 26);
        std::array<char, TARVOLA_ENCRYPT_SIZE_MODE0(40)> value{};
        if (Encrypt(text.data(), keys[0], value.data(), TARVOLA_MODE_HEX_BLOCK) != 0) return 1;
        for (const char* const key_text : keys) {
            std::array<char, kKeyLength + 1> key{};
            std::memcpy(key.data(), key_text, kKeyLength);
            VALGRIND_MAKE_MEM_UNDEFINED(key.data(), kKeyLength);
            std::array<char, TARVOLA_DECRYPT_SIZE_MODE0(8 + 96)> plaintext{};
            int32_t result =
                Decrypt(value.data(), key.data(), plaintext.data(), TARVOLA_MODE_HEX_BLOCK);
            if (control && plaintext[0] == 'a') ++branches;
            VALGRIND_MAKE_MEM_DEFINED(&result, sizeof result);
            VALGRIND_MAKE_MEM_DEFINED(plaintext.data(), plaintext.size());
            if (key_text == keys[0] &&
                (result != 0 || std::strncmp(plaintext.data(), text.data(), 41) != 0)) {
                ++failures;
            }
        }
    }
    std::printf("constant_time_test: 80 mode-0 decryptions, %d wrong results%s\n", failures,
                branches > 0 ? " (control branched)" : "");
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (RUNNING_ON_VALGRIND == 0) {
        std::puts("constant_time_test: must run under valgrind memcheck");
        return 1;
    }
    if (argc > 1 && std::strcmp(argv[1], "--control") == 0) {
        Block padded = Ending(std::array<std::uint8_t, 3>{3, 3, 3});
        MarkSecret(padded);
        return LeakyCheck(padded) ? 0 : 2;
    }
    if (argc > 1 && std::strcmp(argv[1], "--hex-block") == 0) return DecryptHexBlocks(false);
    if (argc > 1 && std::strcmp(argv[1], "--hex-block-control") == 0) return DecryptHexBlocks(true);

    // Every valid padding length, and defects at every kind of place.
    struct Case {
        Block padded;
        std::optional<std::size_t> length;
    };
    std::array<Case, 21> cases{};
    std::size_t count = 0;
    for (std::uint8_t pad = 1; pad <= 16; ++pad) {
        std::array<std::uint8_t, 16> tail;
        tail.fill(pad);
        cases[count++] = {Ending(std::span(tail).last(pad)), 32U - pad};
    }
    cases[count++] = {Ending(std::array<std::uint8_t, 1>{0}), std::nullopt};
    cases[count++] = {Ending(std::array<std::uint8_t, 1>{17}), std::nullopt};
    cases[count++] = {Ending(std::array<std::uint8_t, 1>{0xff}), std::nullopt};
    cases[count++] = {Ending(std::array<std::uint8_t, 3>{2, 3, 3}), std::nullopt};
    cases[count++] = {Ending(std::array<std::uint8_t, 3>{3, 4, 3}), std::nullopt};

    int failures = 0;
    for (Case& c : cases) {
        MarkSecret(c.padded);
        tarvola::envelope::PaddingCheck check = tarvola::envelope::CheckPadding(c.padded);
        VALGRIND_MAKE_MEM_DEFINED(&check, sizeof check);
        const std::optional<std::size_t> length =
            check.bad == 0 ? std::optional<std::size_t>(check.length) : std::nullopt;
        if (length != c.length) ++failures;
    }
    std::printf("constant_time_test: %zu padding checks, %d wrong results\n", count, failures);
    return failures == 0 ? 0 : 1;
}
