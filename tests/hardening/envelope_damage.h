// Damage to a mode-1 envelope whose effect does not depend on the random IV.
#ifndef TARVOLA_HARDENING_ENVELOPE_DAMAGE_H
#define TARVOLA_HARDENING_ENVELOPE_DAMAGE_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvola::hardening {

// Flips bit `bit` of ciphertext byte `byte` by editing the base64 character
// that carries it.
[[nodiscard]] inline std::string WithCiphertextBitFlipped(std::string envelope, std::size_t byte,
                                                          unsigned bit) {
    constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    // Bits of a 3-byte group counted from the low end of its 24-bit value.
    const std::size_t group_bit = (2 - byte % 3) * 8 + bit;
    const std::size_t at = envelope.find('$') + 1 + 4 * (byte / 3) + 3 - group_bit / 6;
    const std::size_t value = kAlphabet.find(envelope.at(at));
    if (value == std::string_view::npos) throw std::invalid_argument("not a ciphertext bit");
    envelope[at] = kAlphabet[value ^ (std::size_t{1} << (group_bit % 6))];
    return envelope;
}

// The envelope of a text of `length` characters (16 or more), damaged so that
// its padding is wrong every time: CBC carries a flip of bit 4 in the last
// byte of the next-to-last block into the last plaintext byte, the padding
// length, and turns every length from 1 to 16 into one outside that range.
// The blocks before the next-to-last one still decrypt to their plaintext.
[[nodiscard]] inline std::string WithBrokenPadding(std::string envelope, std::size_t length) {
    const std::size_t ciphertext_length = 16 * (length / 16 + 1);
    if (ciphertext_length < 32) throw std::invalid_argument("needs two blocks");
    return WithCiphertextBitFlipped(std::move(envelope), ciphertext_length - 17, 4);
}

}  // namespace tarvola::hardening

#endif  // TARVOLA_HARDENING_ENVELOPE_DAMAGE_H
