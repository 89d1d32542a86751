// Encrypt then Decrypt in mode 0: any text without zero bytes comes back
// unchanged under any key text, Encrypt appends exactly the promised number
// of characters after the text already in the buffer, and both directions fit
// buffers of exactly the promised size.
//
// Input: key text "\0" plaintext "\0" text already in the output buffer.
#include <string_view>

#include "fuzz_support.h"
#include "output_sizes.h"
#include "tarvolacrypt.h"

namespace {

bool IsUpperHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tarvola::fuzz::ExactBuffer;
    namespace sizes = tarvola::hardening;

    const auto [key, plaintext, prefix] = tarvola::fuzz::SplitFields<3>(data, size);

    if (plaintext.empty()) {
        // Refused, and the buffer holding the prefix is left as it was.
        auto output = ExactBuffer(prefix.size() + 1, '\0');
        std::copy(prefix.begin(), prefix.end(), output.begin());
        const auto before = output;
        FUZZ_CHECK(Encrypt(plaintext.c_str(), key.c_str(), output.data(), 0) == 1);
        FUZZ_CHECK(output == before);
        return 0;
    }

    auto encrypted = ExactBuffer(sizes::EncryptHexSize(prefix.size(), plaintext.size()), '\0');
    std::copy(prefix.begin(), prefix.end(), encrypted.begin());
    FUZZ_CHECK(Encrypt(plaintext.c_str(), key.c_str(), encrypted.data(), 0) == 0);

    const std::string_view whole(encrypted.data());
    FUZZ_CHECK(whole.size() + 1 == encrypted.size());
    FUZZ_CHECK(whole.substr(0, prefix.size()) == prefix);
    const std::string_view ciphertext = whole.substr(prefix.size());
    FUZZ_CHECK(ciphertext.size() == sizes::HexTextLength(plaintext.size()));
    FUZZ_CHECK(std::all_of(ciphertext.begin(), ciphertext.end(), IsUpperHexDigit));

    const std::string ciphertext_text(ciphertext);
    auto decrypted = ExactBuffer(sizes::DecryptHexSize(ciphertext.size()), '\0');
    FUZZ_CHECK(Decrypt(ciphertext_text.c_str(), key.c_str(), decrypted.data(), 0) == 0);
    FUZZ_CHECK(decrypted.back() == '\0');
    FUZZ_CHECK(std::string_view(decrypted.data()) == plaintext);
    return 0;
}
