// Encrypt and Decrypt in mode 1 through the shared library's entry points,
// beside the shortest direct OpenSSL program that does the same work per
// call: the same random draws, a new cipher context and key set-up, AES-CBC
// with PKCS #7 padding, and the base64 text. Its cost is what the library
// cannot avoid, so the ratio between the two is the library's own overhead.
#include <sys/random.h>

#include <array>
#include <cstring>
#include <memory>
#include <string_view>

#include "bench_support.h"
#include "tarvolacrypt.h"

namespace tarvola::bench {
namespace {

// Under 16 characters, so both sides use AES-128 with the key text
// zero-extended to 16 bytes. A view of a literal, so data() is terminated.
constexpr std::string_view kKeyText = "mode-1 bench";
constexpr std::size_t kBlock = 16;
constexpr std::size_t kIvTextLength = 24;  // base64 of 16 bytes

std::size_t PaddedLength(std::size_t plaintext_length) {
    return (plaintext_length / kBlock + 1) * kBlock;
}

std::size_t Base64Length(std::size_t bytes) {
    return (bytes + 2) / 3 * 4;
}

std::size_t EnvelopeLength(std::size_t plaintext_length) {
    return kIvTextLength + 1 + Base64Length(PaddedLength(plaintext_length));
}

std::array<std::uint8_t, kBlock> BareKey() {
    std::array<std::uint8_t, kBlock> key{};
    std::memcpy(key.data(), kKeyText.data(), kKeyText.size());
    return key;
}

const unsigned char* Unsigned(const char* text) {
    return reinterpret_cast<const unsigned char*>(text);
}

// One 4-byte draw per IV byte, as the library makes its IVs.
bool BareRandomIv(std::array<std::uint8_t, kBlock>& iv) {
    for (auto& byte : iv) {
        std::uint8_t draw[4];
        if (getrandom(draw, sizeof draw, 0) != static_cast<ssize_t>(sizeof draw)) return false;
        byte = draw[0];
    }
    return true;
}

bool BareEncrypt(std::string_view plaintext, char* output) {
    const auto key = BareKey();
    std::array<std::uint8_t, kBlock> iv;
    if (!BareRandomIv(iv)) return false;
    const CipherContext ctx(EVP_CIPHER_CTX_new());
    if (!ctx ||
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data()) != 1) {
        return false;
    }
    const auto ciphertext =
        std::make_unique_for_overwrite<std::uint8_t[]>(PaddedLength(plaintext.size()));
    int written = 0;
    int final_written = 0;
    if (EVP_EncryptUpdate(ctx.get(), ciphertext.get(), &written, Unsigned(plaintext.data()),
                          static_cast<int>(plaintext.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), ciphertext.get() + written, &final_written) != 1) {
        return false;
    }
    auto* out = reinterpret_cast<unsigned char*>(output);
    const int iv_length = EVP_EncodeBlock(out, iv.data(), static_cast<int>(iv.size()));
    out[iv_length] = '$';
    EVP_EncodeBlock(out + iv_length + 1, ciphertext.get(), written + final_written);
    return true;
}

// Bytes of a base64 text without its "=" padding; EVP_DecodeBlock counts the
// padding as zero bytes.
int DecodeBase64(const char* text, std::size_t length, std::uint8_t* out) {
    const int decoded = EVP_DecodeBlock(out, Unsigned(text), static_cast<int>(length));
    if (decoded < 0) return decoded;
    int padding = 0;
    while (length > 0 && text[length - 1] == '=' && padding < 2) {
        --length;
        ++padding;
    }
    return decoded - padding;
}

bool BareDecrypt(std::string_view envelope, char* output) {
    const std::size_t separator = envelope.find('$');
    if (separator == std::string_view::npos) return false;
    std::uint8_t iv[kBlock + 2];
    if (DecodeBase64(envelope.data(), separator, iv) < static_cast<int>(kBlock)) return false;
    const std::string_view ciphertext_text = envelope.substr(separator + 1);
    const auto ciphertext =
        std::make_unique_for_overwrite<std::uint8_t[]>(ciphertext_text.size() / 4 * 3);
    const int ciphertext_length =
        DecodeBase64(ciphertext_text.data(), ciphertext_text.size(), ciphertext.get());
    if (ciphertext_length <= 0) return false;

    const auto key = BareKey();
    const CipherContext ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv) != 1) {
        return false;
    }
    const auto plaintext =
        std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(ciphertext_length));
    int written = 0;
    int final_written = 0;
    if (EVP_DecryptUpdate(ctx.get(), plaintext.get(), &written, ciphertext.get(),
                          ciphertext_length) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), plaintext.get() + written, &final_written) != 1) {
        return false;
    }
    const auto length = static_cast<std::size_t>(written + final_written);
    std::memcpy(output, plaintext.get(), length);
    output[length] = '\0';
    return true;
}

// The library's Encrypt, or the bare sequence, on one random text of `size`.
Work EncryptWork(std::size_t size, bool bare) {
    auto plaintext = std::make_shared<const std::string>(RandomText(size, 3));
    auto output = std::make_shared<std::vector<char>>(EnvelopeLength(size) + 1);
    return [plaintext, output, bare] {
        const bool ok = bare ? BareEncrypt(*plaintext, output->data())
                             : Encrypt(plaintext->c_str(), kKeyText.data(), output->data(), 1) == 0;
        benchmark::DoNotOptimize(output->data());
        benchmark::ClobberMemory();
        return ok;
    };
}

// An envelope of `size` random characters, checked to decrypt to them with
// both the library and the bare sequence; empty if it does not.
std::vector<char> MakeEnvelope(std::size_t size) {
    const std::string plaintext = RandomText(size, 3);
    const std::string key(kKeyText);
    std::vector<char> envelope(EnvelopeLength(size) + 1);
    std::vector<char> check(size + 1);
    std::vector<char> bare_check(size + 1);
    if (Encrypt(plaintext.c_str(), key.c_str(), envelope.data(), 1) != 0 ||
        Decrypt(envelope.data(), key.c_str(), check.data(), 1) != 0 ||
        std::string_view(check.data()) != plaintext ||
        !BareDecrypt(envelope.data(), bare_check.data()) ||
        std::string_view(bare_check.data()) != plaintext) {
        return {};
    }
    return envelope;
}

// The library's Decrypt, or the bare sequence, on one envelope of `size`
// characters of plaintext.
Work DecryptWork(std::size_t size, bool bare) {
    auto envelope = std::make_shared<const std::vector<char>>(MakeEnvelope(size));
    if (envelope->empty()) return nullptr;
    auto output = std::make_shared<std::vector<char>>(size + 1);
    return [envelope, output, bare] {
        const bool ok = bare ? BareDecrypt(envelope->data(), output->data())
                             : Decrypt(envelope->data(), kKeyText.data(), output->data(), 1) == 0;
        benchmark::DoNotOptimize(output->data());
        benchmark::ClobberMemory();
        return ok;
    };
}

void Mode1EncryptVsBareOpenSsl(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, EncryptWork(size, false), EncryptWork(size, true));
}

void Mode1DecryptVsBareOpenSsl(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    RunPaired(state, size, DecryptWork(size, false), DecryptWork(size, true));
}

BENCHMARK(Mode1EncryptVsBareOpenSsl)->Arg(kSmall)->Arg(kLarge);
BENCHMARK(Mode1DecryptVsBareOpenSsl)->Arg(kSmall)->Arg(kLarge);

}  // namespace
}  // namespace tarvola::bench
