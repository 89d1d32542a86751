// Encrypt then Decrypt in mode 1: under a key text of fewer than 32
// characters any text without zero bytes comes back unchanged, Encrypt writes
// exactly the promised envelope, and both directions fit buffers of exactly
// the promised size. A longer key text cannot make an AES key: both
// directions fail with the empty text and write nothing more.
//
// Input: key text "\0" plaintext.
#include <string_view>

#include "fuzz_support.h"
#include "output_sizes.h"
#include "tarvolacrypt.h"

namespace {

bool IsBase64Character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tarvola::fuzz::AllEqual;
    using tarvola::fuzz::ExactBuffer;
    using tarvola::fuzz::kUntouched;
    namespace sizes = tarvola::hardening;

    const auto [key, plaintext] = tarvola::fuzz::SplitFields<2>(data, size);

    auto encrypted = ExactBuffer(sizes::EncryptEnvelopeSize(plaintext.size()), kUntouched);
    const int32_t result = Encrypt(plaintext.c_str(), key.c_str(), encrypted.data(), 1);

    if (key.size() >= 32) {
        FUZZ_CHECK(result == 1);
        FUZZ_CHECK(encrypted[0] == '\0');
        FUZZ_CHECK(AllEqual(encrypted.data() + 1, encrypted.data() + encrypted.size(), kUntouched));
        return 0;
    }
    FUZZ_CHECK(result == 0);
    const std::string envelope(encrypted.data());
    FUZZ_CHECK(envelope.size() == sizes::EnvelopeLength(plaintext.size()));
    FUZZ_CHECK(envelope.find('$') == 24);
    FUZZ_CHECK(envelope.substr(22, 2) == "==");
    FUZZ_CHECK(std::count(envelope.begin(), envelope.end(), '$') == 1);
    FUZZ_CHECK(std::all_of(envelope.begin(), envelope.end(),
                           [](char c) { return c == '$' || IsBase64Character(c); }));

    auto decrypted = ExactBuffer(sizes::DecryptEnvelopeSize(envelope), kUntouched);
    FUZZ_CHECK(Decrypt(envelope.c_str(), key.c_str(), decrypted.data(), 1) == 0);
    const char* const begin = decrypted.data();
    const char* const end = begin + decrypted.size();
    const char* const terminator = std::find(begin, end, '\0');
    FUZZ_CHECK(terminator != end);
    FUZZ_CHECK(std::string_view(decrypted.data()) == plaintext);
    FUZZ_CHECK(AllEqual(terminator + 1, end, kUntouched));
    return 0;
}
