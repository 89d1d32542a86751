// Decrypt mode 0 on any text and key text, against an independent reading of
// the format: the shape rules, strtol for each digit pair and OpenSSL's
// AES-128-ECB for the blocks; for a body of digits only, also the fast
// conversion against the general one. The output buffer is exactly as large
// as the header promises and zero-filled, as the caller must supply it.
//
// Input: key text "\0" mode-0 text.
#include <openssl/evp.h>

#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "hexscheme/hex_codec.h"
#include "hexscheme/text_helpers.h"
#include "output_sizes.h"
#include "tarvolacrypt.h"

namespace {

using tarvola::fuzz::SplitFields;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigitOrSpace(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || IsSpace(c);
}

bool HasValidShape(std::string_view text) {
    if (text.size() < 40) return false;
    if (IsSpace(text[0]) || IsSpace(text[7])) return false;
    if (!std::all_of(text.begin(), text.end(), IsDigitOrSpace)) return false;
    return (text.size() - 8) % 16 == 0;
}

// The plaintext the format defines: each pair read as strtol(pair, 16) reads
// it, the blocks decrypted with OpenSSL, every zero byte dropped.
std::string ReferencePlaintext(std::string_view body, std::string_view key_text) {
    unsigned char key[16] = {};
    std::copy_n(key_text.begin(), std::min<std::size_t>(16, key_text.size()), key);

    std::string blocks;
    for (std::size_t pos = 0; pos < body.size(); pos += 32) {
        for (std::size_t j = pos; j < pos + 32; j += 2) {
            if (j >= body.size()) {
                blocks += '\0';
                continue;
            }
            const std::string pair(body.substr(j, 2));
            blocks += static_cast<char>(std::strtol(pair.c_str(), nullptr, 16) & 0xff);
        }
    }

    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    FUZZ_CHECK(ctx != nullptr);
    FUZZ_CHECK(EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key, nullptr) == 1);
    FUZZ_CHECK(EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1);
    std::string plain(blocks.size(), '\0');
    int written = 0;
    FUZZ_CHECK(EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()),
                                 &written, reinterpret_cast<const unsigned char*>(blocks.data()),
                                 static_cast<int>(blocks.size())) == 1);
    FUZZ_CHECK(static_cast<std::size_t>(written) == blocks.size());
    std::erase(plain, '\0');
    return plain;
}

// A body of digits only is converted without looking for white space; the
// general conversion must give the same blocks.
void CheckDigitsOnlyParse(std::string_view body) {
    using namespace tarvola::hexscheme;
    if (ClassifyHexText(body) != HexText::kDigitsOnly) return;
    const std::size_t count = (body.size() + 31) / 32;
    std::vector<std::uint8_t> fast(16 * count, 0xAA);
    std::vector<std::uint8_t> general(16 * count, 0x55);
    ParseDigitBlocks(body, 0, count, fast.data());
    ParseHexBlocks(body, 0, count, general.data());
    FUZZ_CHECK(fast == general);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [key, text] = SplitFields<2>(data, size);

    auto output = tarvola::fuzz::ExactBuffer(tarvola::hardening::DecryptHexSize(text.size()), '\0');
    const int32_t result = Decrypt(text.c_str(), key.c_str(), output.data(), 0);

    FUZZ_CHECK(result == 0 || result == 1);
    // The last byte is the caller's terminator; nothing may reach it.
    FUZZ_CHECK(output.back() == '\0');
    if (!HasValidShape(text)) {
        FUZZ_CHECK(result == 1);
        FUZZ_CHECK(tarvola::fuzz::AllEqual(output.data(), output.data() + output.size(), '\0'));
        return 0;
    }
    CheckDigitsOnlyParse(std::string_view(text).substr(8));
    const std::string expected = ReferencePlaintext(std::string_view(text).substr(8), key);
    FUZZ_CHECK(result == (expected.empty() ? 1 : 0));
    FUZZ_CHECK(std::string_view(output.data()) == expected);
    return 0;
}
