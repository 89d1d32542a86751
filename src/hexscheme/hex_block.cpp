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
#include "tarvolacrypt.hpp"

namespace tarvola::hexscheme {
namespace {

using platform::Wiped;

constexpr std::size_t kBlockBytes = sizeof(aes::Block);
constexpr std::size_t kHeaderLength = 8;
constexpr std::size_t kCharsPerBlock = 2 * kBlockBytes;
// The shortest text that can hold a header and one block.
constexpr std::size_t kMinimumTextLength = kHeaderLength + kCharsPerBlock;

// Blocks handed to the multi-block cipher per call on encryption: enough
// that its per-call set-up is small beside the work, few enough that the
// ciphertext buffer stays small for short values.
constexpr std::size_t kChunkBlocks = 32;
using ChunkBytes = std::array<std::uint8_t, kChunkBlocks * kBlockBytes>;

// Decryption takes larger chunks, over which the multi-block cipher's per-call
// set-up spreads further; its plaintext buffer is wiped only as far as a call
// filled it.
constexpr std::size_t kDecryptChunkBlocks = 128;
using DecryptChunk = std::array<std::uint8_t, kDecryptChunkBlocks * kBlockBytes>;

void ExpandKey(const char* key, aes::Aes128Key& schedule) {
    Wiped<aes::Block> key_block;
    TakeBlock(ViewOf(key), 0, key_block.value);
    aes::Aes128ExpandKey(schedule, key_block.value);
}

// The shape checks of a mode-0 text, in the order they are made: kRefused
// for a malformed text, else what its body holds.
HexText ShapeOf(std::string_view text) noexcept {
    if (text.size() < kMinimumTextLength) return HexText::kRefused;
    const std::string_view header = text.substr(0, kHeaderLength);
    if (TrimWhitespace(header).size() != kHeaderLength) return HexText::kRefused;
    if (!IsUpperHexOrWhiteSpace(header)) return HexText::kRefused;
    const std::string_view body = text.substr(kHeaderLength);
    if (body.size() % kBlockBytes != 0) return HexText::kRefused;
    return ClassifyHexText(body);
}

// True when one of the eight bytes of `word` is zero. Subtracting 1 from
// every byte, the lowest zero byte turns into 0xff, bit 7 set where `word`
// had it clear; no byte below it borrows, and none of 0x01 to 0x7f sets its
// bit 7. Bytes above it may be flagged wrongly, but only when a zero exists.
bool HasZeroByte(std::uint64_t word) noexcept {
    return ((word - common::kEachByte) & ~word & common::kHighBits) != 0;
}

// Writes the bytes of `block` except its zero bytes at `out`; returns the end
// of what it wrote. Every zero byte is dropped, not only the padding of the
// last block: a text cannot carry a zero byte anyway. Plaintext rarely has
// any before the last block, so such blocks are copied whole.
char* AppendNonZeroBytes(const std::uint8_t* block, char* out) noexcept {
    std::uint64_t halves[2];
    std::memcpy(halves, block, sizeof halves);
    if (!HasZeroByte(halves[0]) && !HasZeroByte(halves[1])) {
        std::memcpy(out, block, kBlockBytes);
        return out + kBlockBytes;
    }
    for (std::size_t k = 0; k < kBlockBytes; ++k) {
        if (block[k] != 0) *out++ = static_cast<char>(block[k]);
    }
    return out;
}

// The whole blocks of `text`, encrypted straight from it a chunk at a time,
// as hex at `out`; returns the end of what it wrote. The ciphertext buffer
// holds nothing secret.
char* WriteWholeBlocks(std::string_view text, const aes::Aes128Key& schedule, char* out) noexcept {
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

    Wiped<aes::Aes128Key> schedule;
    ExpandKey(key, schedule.value);

    // Written straight into the caller's buffer after its current text: no
    // intermediate hex buffer, so the output costs one pass.
    char* out = output + std::strlen(output);
    const auto header = hex_block_header(static_cast<std::uint32_t>(text.size()));
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
    const HexText shape = ShapeOf(whole);
    if (shape == HexText::kRefused) return false;
    const std::string_view body = whole.substr(kHeaderLength);

    Wiped<aes::Aes128Key> schedule;
    ExpandKey(key, schedule.value);

    // A body of an odd multiple of 16 characters ends in half a group, which
    // still makes a block.
    const std::size_t count = (body.size() + kCharsPerBlock - 1) / kCharsPerBlock;
    // Only the part of the buffer a call uses is wiped: a short value does
    // not pay for clearing kilobytes.
    DecryptChunk chunk;
    const std::size_t chunk_blocks = std::min(kDecryptChunkBlocks, count);
    char* out = output;
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(chunk_blocks, count - done);
        if (shape == HexText::kDigitsOnly) {
            ParseDigitBlocks(body, done, n, chunk.data());
        } else {
            ParseHexBlocks(body, done, n, chunk.data());
        }
        aes::Aes128DecryptBlocks(chunk.data(), chunk.data(), n, schedule.value);
        for (std::size_t k = 0; k < n; ++k) {
            out = AppendNonZeroBytes(chunk.data() + k * kBlockBytes, out);
        }
        done += n;
    }
    platform::SecureWipe(chunk.data(), chunk_blocks * kBlockBytes);
    platform::WipeCalleeStack();
    return output[0] != '\0';
}

}  // namespace tarvola::hexscheme
