#include "hexscheme/hex_block.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "aes/aes128.h"
#include "hexscheme/text_helpers.h"
#include "platform/secret.h"

namespace tarvola::hexscheme {
namespace {

using platform::Wiped;

constexpr std::size_t kHeaderLength = 8;
constexpr std::size_t kCharsPerBlock = 2 * sizeof(aes::Block);
// The shortest text that can hold a header and one block.
constexpr std::size_t kMinimumTextLength = kHeaderLength + kCharsPerBlock;

std::string_view ViewOf(const char* text) noexcept {
    return text == nullptr ? std::string_view{} : std::string_view{text};
}

void ExpandKey(const char* key, aes::RoundKeySchedule& schedule) {
    Wiped<aes::Block> key_block;
    key_block.value = TakeBlock(ViewOf(key), 0);
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

// One block from up to 32 characters of the body at `pos`. A body whose
// length is an odd multiple of 16 ends in 16 characters: that last block
// takes 8 bytes from the text and keeps 8 zero bytes.
void ParseBlock(std::string_view body, std::size_t pos, aes::Block& block) noexcept {
    block.fill(0);
    for (std::size_t k = 0; k < block.size() && pos + 2 * k < body.size(); ++k) {
        block[k] = ParseHexPair(body[pos + 2 * k], body[pos + 2 * k + 1]);
    }
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
        block.value = TakeBlock(text, offset);
        aes::Aes128EncryptBlock(block.value, schedule.value);
        for (const std::uint8_t byte : block.value) {
            WriteHexByte(byte, out);
            out += 2;
        }
    }
    *out = '\0';
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
        // Every zero byte is dropped, not only the padding of the last block:
        // a text cannot carry a zero byte anyway.
        for (const std::uint8_t byte : block.value) {
            if (byte != 0) *out++ = static_cast<char>(byte);
        }
    }
    return output[0] != '\0';
}

}  // namespace tarvola::hexscheme
