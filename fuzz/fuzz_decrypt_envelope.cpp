// Decrypt mode 1 on any text and key text. The output buffer is exactly as
// large as the header promises and filled with a marker, so that both the
// success rule (a text, the bytes after its terminator untouched) and the
// failure rule (first byte zero, nothing else written) can be checked.
//
// Input: key text "\0" envelope text.
#include <string_view>

#include "fuzz_support.h"
#include "output_sizes.h"
#include "tarvolacrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tarvola::fuzz::AllEqual;
    using tarvola::fuzz::kUntouched;

    const auto [key, envelope] = tarvola::fuzz::SplitFields<2>(data, size);

    auto output =
        tarvola::fuzz::ExactBuffer(tarvola::hardening::DecryptEnvelopeSize(envelope), kUntouched);
    const int32_t result = Decrypt(envelope.c_str(), key.c_str(), output.data(), 1);
    const char* const begin = output.data();
    const char* const end = begin + output.size();

    FUZZ_CHECK(result == 0 || result == 1);
    if (result == 1) {
        FUZZ_CHECK(output[0] == '\0');
        FUZZ_CHECK(AllEqual(output.data() + 1, end, kUntouched));
        return 0;
    }
    // Success needs a usable key and a ciphertext part.
    FUZZ_CHECK(key.size() < 32);
    FUZZ_CHECK(envelope.find('$') != std::string::npos);
    const char* const terminator = std::find(begin, end, '\0');
    FUZZ_CHECK(terminator != end);
    FUZZ_CHECK(AllEqual(terminator + 1, end, kUntouched));
    return 0;
}
