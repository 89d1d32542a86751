// The mode-0 block cipher against OpenSSL's AES-128-ECB: for any key and any
// blocks, each implementation (by columns, by rows) must encrypt to the same
// ciphertext and decrypt to the same plaintext, and our decryption must undo
// our encryption; so must the public functions, single-block and over all the
// blocks at once.
//
// Input: 16 key bytes, then the blocks (a trailing partial block is ignored).
#include <openssl/evp.h>

#include <memory>

#include "aes/aes128.h"
#include "aes/aes_internal.h"
#include "fuzz_support.h"

namespace {

using tarvola::aes::Block;

enum class Direction { kEncrypt, kDecrypt };

// The blocks run through OpenSSL's ECB without padding.
std::vector<std::uint8_t> OpenSslEcb(Direction direction, const std::uint8_t* key,
                                     const std::uint8_t* blocks, std::size_t size) {
    static EVP_CIPHER_CTX* const ctx = EVP_CIPHER_CTX_new();
    FUZZ_CHECK(ctx != nullptr);
    FUZZ_CHECK(EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key, nullptr,
                                 direction == Direction::kEncrypt ? 1 : 0) == 1);
    FUZZ_CHECK(EVP_CIPHER_CTX_set_padding(ctx, 0) == 1);
    std::vector<std::uint8_t> out(size);
    int written = 0;
    FUZZ_CHECK(EVP_CipherUpdate(ctx, out.data(), &written, blocks, static_cast<int>(size)) == 1);
    FUZZ_CHECK(static_cast<std::size_t>(written) == size);
    return out;
}

Block BlockAt(const std::uint8_t* bytes) {
    Block block;
    std::copy_n(bytes, block.size(), block.begin());
    return block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kBlock = 16;
    // Enough blocks to reach every code path; more only slow the fuzzer down.
    constexpr std::size_t kMaxBlocks = 64;
    if (size < 2 * kBlock) return 0;
    const std::uint8_t* const key = data;
    const std::uint8_t* const blocks = data + kBlock;
    const std::size_t count = std::min((size - kBlock) / kBlock, kMaxBlocks);

    tarvola::aes::Aes128Key schedule;
    tarvola::aes::Aes128ExpandKey(schedule, BlockAt(key));

    const auto encrypted = OpenSslEcb(Direction::kEncrypt, key, blocks, count * kBlock);
    const auto decrypted = OpenSslEcb(Direction::kDecrypt, key, blocks, count * kBlock);
    for (std::size_t i = 0; i < count; ++i) {
        const Block input = BlockAt(blocks + i * kBlock);

        Block ours = input;
        tarvola::aes::Aes128EncryptBlock(ours, schedule);
        FUZZ_CHECK(ours == BlockAt(encrypted.data() + i * kBlock));
        tarvola::aes::Aes128DecryptBlock(ours, schedule);
        FUZZ_CHECK(ours == input);

        Block inverse = input;
        tarvola::aes::Aes128DecryptBlock(inverse, schedule);
        FUZZ_CHECK(inverse == BlockAt(decrypted.data() + i * kBlock));
    }

    using Run = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t,
                         const tarvola::aes::Aes128Key&) noexcept;
    const struct {
        Run encrypt;
        Run decrypt;
    } runs[] = {
        {tarvola::aes::Aes128EncryptBlocks, tarvola::aes::Aes128DecryptBlocks},
        {tarvola::aes::EncryptBlocksByColumns, tarvola::aes::DecryptBlocksByColumns},
        {tarvola::aes::EncryptBlocksByRows, tarvola::aes::DecryptBlocksByRows},
    };
    for (const auto& run : runs) {
        std::vector<std::uint8_t> all(blocks, blocks + count * kBlock);
        run.encrypt(all.data(), all.data(), count, schedule);
        FUZZ_CHECK(all == encrypted);
        run.decrypt(blocks, all.data(), count, schedule);
        FUZZ_CHECK(all == decrypted);
    }
    return 0;
}
