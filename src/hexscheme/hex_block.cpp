#include "hexscheme/hex_block.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "aes/aes128.h"
#include "common/bytes.h"
#include "common/text.h"
#include "hexscheme/hex_codec.h"
#include "hexscheme/text_helpers.h"
#include "platform/secret.h"

namespace tarvola::hexscheme {
namespace {

using platform::Wiped;

constexpr std::size_t kBlockBytes = sizeof(aes::Block);
constexpr std::size_t kHeaderLength = 8;
constexpr std::size_t kCharsPerBlock = 2 * kBlockBytes;
// The shortest text that can hold a header and one block.
constexpr std::size_t kMinimumTextLength = kHeaderLength + kCharsPerBlock;

// Blocks handed to the multi-block cipher per call: enough that its per-call
// set-up is small beside the work, few enough that the buffer (plaintext on
// decryption, wiped at the end) stays small for short values.
constexpr std::size_t kChunkBlocks = 32;
using ChunkBytes = std::array<std::uint8_t, kChunkBlocks * kBlockBytes>;

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
    if (body.size() % kBlockBytes != 0) return false;
    return IsUpperHex(body);
}

// Plaintext bytes are secret: nothing below branches on them or stops early
// because of them. Only how many bytes a block gives, and so where the next
// block's bytes are written, depends on them; a real plaintext holds zero
// bytes only as the padding of its last block, so that is its length, which
// the output shows anyway.

using common::kEachByte;
using common::kHighBits;

// Bit 7 set in each byte of `word` that is not zero, nothing else. Adding
// 0x7f to a byte's low seven bits sets its bit 7 when any of them is set, and
// no carry leaves the byte.
constexpr std::uint64_t NonZeroHighBits(std::uint64_t word) noexcept {
    const std::uint64_t low_bits = ~kHighBits;
    return (((word & low_bits) + low_bits) | word) & kHighBits;
}

// 0xff in each byte whose bit 7 is set in `high_bits`, which holds no other bits.
constexpr std::uint64_t ByteMask(std::uint64_t high_bits) noexcept {
    return (high_bits >> 7) * 0xffU;
}

// Eight bytes with their zero bytes squeezed out.
struct PackedHalf {
    std::uint64_t bytes;  // the non-zero bytes in their order, then zero bytes
    unsigned count;       // how many bytes are not zero
};

// Each non-zero byte moves down by the number of zero bytes below it, in
// steps of 1, 2 and 4 bytes taken by the bits of that number, smallest first:
// in that order no byte lands on one that stays.
constexpr PackedHalf PackNonZeroBytes(std::uint64_t word) noexcept {
    const std::uint64_t flags = NonZeroHighBits(word) >> 7;  // 0x01 in each non-zero byte
    // Byte i of the product counts the zero bytes up to byte i; moved up one
    // byte, those below it.
    std::uint64_t distances = (((flags ^ kEachByte) * kEachByte) << 8) & (flags * 0xffU);
    for (unsigned bit = 0; bit < 3; ++bit) {
        const std::uint64_t moving = ((distances >> bit) & kEachByte) * 0xffU;
        const unsigned step = 8U << bit;
        word = (word & ~moving) | ((word & moving) >> step);
        distances = (distances & ~moving) | ((distances & moving) >> step);
    }
    // Byte 7 of the product sums the flags.
    return {word, static_cast<unsigned>((flags * kEachByte) >> 56)};
}

static_assert(PackNonZeroBytes(0x0011002200330044ULL).bytes == 0x0000000011223344ULL);
static_assert(PackNonZeroBytes(0x8800000000000001ULL).bytes == 0x0000000000008801ULL);
static_assert(PackNonZeroBytes(0x8800000000000001ULL).count == 2);

// `packed`'s non-zero bytes, which come first, replace those of `old`.
constexpr std::uint64_t Overlay(std::uint64_t packed, std::uint64_t old) noexcept {
    const std::uint64_t taken = ByteMask(NonZeroHighBits(packed));
    return (packed & taken) | (old & ~taken);
}

// Writes the bytes of `block` except its zero bytes at `out`; returns the end
// of what it wrote. Every zero byte is dropped, not only the padding of the
// last block: a text cannot carry a zero byte anyway. The 16 bytes from `out`
// MUST lie inside the output buffer: those after the written ones are read
// and stored back unchanged, which keeps the stores the same for every block.
char* AppendNonZeroBytes(const std::uint8_t* block, char* out) noexcept {
    const PackedHalf low = PackNonZeroBytes(common::LoadLittleEndian<std::uint64_t>(block));
    const PackedHalf high = PackNonZeroBytes(common::LoadLittleEndian<std::uint64_t>(block + 8));
    // The high half goes on after the low half's bytes; each shift is split
    // in two so that neither reaches 64 bits.
    const unsigned half = 4 * low.count;
    const std::uint64_t first = low.bytes | ((high.bytes << half) << half);
    const std::uint64_t second = (high.bytes >> (32 - half)) >> (32 - half);
    common::StoreLittleEndian(out, Overlay(first, common::LoadLittleEndian<std::uint64_t>(out)));
    common::StoreLittleEndian(out + 8,
                              Overlay(second, common::LoadLittleEndian<std::uint64_t>(out + 8)));
    return out + low.count + high.count;
}

// The whole blocks of `text`, encrypted straight from it a chunk at a time,
// as hex at `out`; returns the end of what it wrote. The ciphertext buffer
// holds nothing secret.
char* WriteWholeBlocks(std::string_view text, const aes::RoundKeySchedule& schedule,
                       char* out) noexcept {
    const auto* plaintext = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t count = text.size() / kBlockBytes;
    ChunkBytes ciphertext;
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(kChunkBlocks, count - done);
        aes::Aes128EncryptBlocks(plaintext + done * kBlockBytes, ciphertext.data(), n, schedule);
        WriteHexDigits(ciphertext.data(), n * kBlockBytes, out);
        out += n * kCharsPerBlock;
        done += n;
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
    out = WriteWholeBlocks(text, schedule.value, out);

    const std::size_t tail = text.size() - text.size() % kBlockBytes;
    if (tail < text.size()) {
        Wiped<aes::Block> block;
        TakeBlock(text, tail, block.value);
        aes::Aes128EncryptBlock(block.value, schedule.value);
        WriteHexDigits(block.value.data(), kBlockBytes, out);
        out += kCharsPerBlock;
    }
    *out = '\0';
    platform::WipeCalleeStack();
    return true;
}

bool DecryptHexBlock(const char* text, const char* key, char* output) noexcept {
    const std::string_view whole = ViewOf(text);
    if (!HasValidShape(whole)) return false;
    const std::string_view body = whole.substr(kHeaderLength);

    Wiped<aes::RoundKeySchedule> schedule;
    ExpandKey(key, schedule.value);

    // A body of an odd multiple of 16 characters ends in half a group, which
    // still makes a block.
    const std::size_t count = (body.size() + kCharsPerBlock - 1) / kCharsPerBlock;
    Wiped<ChunkBytes> blocks;
    std::uint8_t* const chunk = blocks.value.data();
    char* out = output;
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(kChunkBlocks, count - done);
        ParseHexBlocks(body, done, n, chunk);
        aes::Aes128DecryptBlocks(chunk, chunk, n, schedule.value);
        for (std::size_t k = 0; k < n; ++k) out = AppendNonZeroBytes(chunk + k * kBlockBytes, out);
        done += n;
    }
    platform::WipeCalleeStack();
    return output[0] != '\0';
}

}  // namespace tarvola::hexscheme
