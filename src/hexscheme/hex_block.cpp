#include "hexscheme/hex_block.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "aes/aes128.h"
#include "common/text.h"
#include "hexscheme/text_helpers.h"
#include "platform/secret.h"

namespace tarvola::hexscheme {
namespace {

using platform::Wiped;

constexpr std::size_t kHeaderLength = 8;
constexpr std::size_t kCharsPerBlock = 2 * sizeof(aes::Block);
// The shortest text that can hold a header and one block.
constexpr std::size_t kMinimumTextLength = kHeaderLength + kCharsPerBlock;

void ExpandKey(const char* key, aes::RoundKeySchedule& schedule) {
    Wiped<aes::Block> key_block;
    TakeBlock(ViewOf(key), 0, key_block.value);
    aes::Aes128KeySchedule(schedule, key_block.value);
}

// The shape checks of a mode-0 text, in the order they are made.
bool HasValidShape(std::string_view text) noexcept {
    if (text.size() < kMinimumTextLength) return false;
    const std::string_view header = text.substr(0, kHeaderLength);
    if (TrimWhitespace(header).size() != kHeaderLength) return false;
    if (!IsUpperHex(header)) return false;
    const std::string_view body = text.substr(kHeaderLength);
    if (body.size() % sizeof(aes::Block) != 0) return false;
    return IsUpperHex(body);
}

// The block cipher and the text helpers run in frames below the scheme's
// own, and the compiler may spill state and round-key words there (round key
// 0 is the key itself), where no Wiped<> reaches. Overwriting that stack area
// once the last block is done removes whatever was spilled, whatever the
// compiler chose; the callees use a few hundred bytes at most.
constexpr std::size_t kCalleeStackBytes = 1024;

[[gnu::noinline]] void WipeCalleeStack() noexcept {
    std::array<unsigned char, kCalleeStackBytes> area;
    platform::SecureWipe(area.data(), area.size());
}

// One block from up to 32 characters of the body at `pos`. A body whose
// length is an odd multiple of 16 ends in 16 characters: that last block
// takes 8 bytes from the text and keeps 8 zero bytes.
void ParseBlockByPairs(std::string_view body, std::size_t pos, aes::Block& block) noexcept {
    block.fill(0);
    for (std::size_t k = 0; k < block.size() && pos + 2 * k < body.size(); ++k) {
        block[k] = ParseHexPair(body[pos + 2 * k], body[pos + 2 * k + 1]);
    }
}

// The hex conversions below work on eight characters in a 64-bit word at a
// time (SWAR); the text is megabytes long for large values and converting
// one character at a time cost as much as the cipher. Words are read and
// written as little-endian values whatever the host (memcpy compiles to one
// load or store; the swap is dropped on little-endian hosts).
template <class Word>
Word FromLittleEndian(Word word) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        return word;
    } else {
        Word swapped = 0;
        for (std::size_t k = 0; k < sizeof word; ++k) {
            swapped = static_cast<Word>(swapped << 8 | ((word >> (8 * k)) & 0xff));
        }
        return swapped;
    }
}

template <class Word>
Word LoadLittleEndian(const void* p) noexcept {
    Word word;
    std::memcpy(&word, p, sizeof word);
    return FromLittleEndian(word);
}

void StoreChars(std::uint64_t chars, char* p) noexcept {
    chars = FromLittleEndian(chars);
    std::memcpy(p, &chars, sizeof chars);
}

constexpr std::uint64_t kEachByte = 0x0101010101010101ULL;

// The 8 uppercase hex digits of bytes[0..3], high nibble first.
std::uint64_t HexDigitsOf(const std::uint8_t* bytes) noexcept {
    // Byte k moves to bits 16k to 16k + 7.
    std::uint64_t spread = LoadLittleEndian<std::uint32_t>(bytes);
    spread = (spread | spread << 16) & 0x0000ffff0000ffffULL;
    spread = (spread | spread << 8) & 0x00ff00ff00ff00ffULL;
    const std::uint64_t nibbles =
        ((spread >> 4) & 0x000f000f000f000fULL) | ((spread & 0x000f000f000f000fULL) << 8);
    // 1 in every byte whose nibble is 10 or more: those become letters, which
    // start 7 codes after '9' + 1.
    const std::uint64_t letters = ((nibbles + 6 * kEachByte) >> 4) & kEachByte;
    return nibbles + '0' * kEachByte + 7 * letters;
}

void WriteHexBlock(const aes::Block& block, char* out) noexcept {
    for (std::size_t k = 0; k < block.size(); k += 4)
        StoreChars(HexDigitsOf(&block[k]), out + 2 * k);
}

// True when none of the eight characters is white space. The body has passed
// IsUpperHex, so every character is a digit (0x30-0x39, 0x41-0x46: bit 4 or
// bit 6 set) or white space (0x09-0x0d, 0x20: neither set).
bool AllDigits(std::uint64_t chars) noexcept {
    return (((chars >> 4) | (chars >> 6)) & kEachByte) == kEachByte;
}

// Bytes 0 to 3 from eight digits, high nibble first.
void ParseDigits(std::uint64_t chars, std::uint8_t* bytes) noexcept {
    // Same digit rule as ParseHexPair: a letter is worth 9 more than its low nibble.
    const std::uint64_t nibbles = (chars & 0x0f * kEachByte) + 9 * ((chars >> 6) & kEachByte);
    const std::uint64_t pairs =
        ((nibbles & 0x00ff00ff00ff00ffULL) << 4) | ((nibbles >> 8) & 0x00ff00ff00ff00ffULL);
    // Byte k from bits 16k to 16k + 7.
    std::uint64_t packed = (pairs | pairs >> 8) & 0x0000ffff0000ffffULL;
    packed = (packed | packed >> 16) & 0xffffffffULL;
    const auto word = FromLittleEndian(static_cast<std::uint32_t>(packed));
    std::memcpy(bytes, &word, sizeof word);
}

// A full 32-character group without white space, the only kind encryption
// writes, is converted eight characters at a time; anything else pair by pair.
void ParseBlock(std::string_view body, std::size_t pos, aes::Block& block) noexcept {
    if (pos + 2 * block.size() <= body.size()) {
        std::array<std::uint64_t, 4> chars;
        bool all_digits = true;
        for (std::size_t k = 0; k < chars.size(); ++k) {
            chars[k] = LoadLittleEndian<std::uint64_t>(body.data() + pos + 8 * k);
            all_digits &= AllDigits(chars[k]);
        }
        if (all_digits) {
            for (std::size_t k = 0; k < chars.size(); ++k) ParseDigits(chars[k], &block[4 * k]);
            return;
        }
    }
    ParseBlockByPairs(body, pos, block);
}

// True when one of the eight bytes of `word` is zero. Subtracting 1 from
// every byte, the lowest zero byte turns into 0xff, bit 7 set where `word`
// had it clear; no byte below it borrows, and none of 0x01 to 0x7f sets its
// bit 7. Bytes above it may be flagged wrongly, but only when a zero exists.
bool HasZeroByte(std::uint64_t word) noexcept {
    return ((word - kEachByte) & ~word & 0x80 * kEachByte) != 0;
}

// Writes the bytes of `block` except its zero bytes at `out`; returns the end
// of what it wrote. Every zero byte is dropped, not only the padding of the
// last block: a text cannot carry a zero byte anyway. Plaintext rarely has
// any before the last block, so such blocks are copied whole.
char* AppendNonZeroBytes(const aes::Block& block, char* out) noexcept {
    std::uint64_t halves[2];
    std::memcpy(halves, block.data(), sizeof halves);
    if (!HasZeroByte(halves[0]) && !HasZeroByte(halves[1])) {
        std::memcpy(out, block.data(), block.size());
        return out + block.size();
    }
    for (const std::uint8_t byte : block) {
        if (byte != 0) *out++ = static_cast<char>(byte);
    }
    return out;
}

}  // namespace

bool EncryptHexBlock(const char* input, const char* key, char* output) noexcept {
    const std::string_view text = ViewOf(input);
    if (text.empty() || text.size() > std::numeric_limits<std::int32_t>::max()) return false;

    Wiped<aes::RoundKeySchedule> schedule;
    ExpandKey(key, schedule.value);

    // Written straight into the caller's buffer after its current text: no
    // intermediate hex buffer, so the output costs one pass.
    char* out = output + std::strlen(output);
    const auto header = LengthHeader(static_cast<std::uint32_t>(text.size()));
    out = std::copy(header.begin(), header.end(), out);

    Wiped<aes::Block> block;
    for (std::size_t offset = 0; offset < text.size(); offset += sizeof(aes::Block)) {
        TakeBlock(text, offset, block.value);
        aes::Aes128EncryptBlock(block.value, schedule.value);
        WriteHexBlock(block.value, out);
        out += 2 * block.value.size();
    }
    *out = '\0';
    WipeCalleeStack();
    return true;
}

bool DecryptHexBlock(const char* text, const char* key, char* output) noexcept {
    const std::string_view whole = ViewOf(text);
    if (!HasValidShape(whole)) return false;
    const std::string_view body = whole.substr(kHeaderLength);

    Wiped<aes::RoundKeySchedule> schedule;
    ExpandKey(key, schedule.value);

    Wiped<aes::Block> block;
    char* out = output;
    for (std::size_t pos = 0; pos < body.size(); pos += kCharsPerBlock) {
        ParseBlock(body, pos, block.value);
        aes::Aes128DecryptBlock(block.value, schedule.value);
        out = AppendNonZeroBytes(block.value, out);
    }
    WipeCalleeStack();
    return output[0] != '\0';
}

}  // namespace tarvola::hexscheme
