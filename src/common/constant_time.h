// Branch-free comparisons for code whose timing must not depend on secret
// values. Every argument and result is a 32-bit word; results named like a
// question are 1 for yes and 0 for no. None of them branches, indexes memory
// or stops early on its arguments, so a decision made of them takes the same
// path whatever the secrets are; only its final result may be branched on.
#ifndef TARVOLA_COMMON_CONSTANT_TIME_H
#define TARVOLA_COMMON_CONSTANT_TIME_H

#include <cstdint>

namespace tarvola::ct {

using Word = std::uint32_t;

// 1 when x == y.
[[nodiscard]] constexpr Word Eq(Word x, Word y) noexcept {
    const Word q = x ^ y;
    return ((q | (0U - q)) >> 31) ^ 1U;
}

// 1 when x > y. y - x has its top bit set when x > y, unless x and y differ
// in their top bit, where the top bit of x decides.
[[nodiscard]] constexpr Word Gt(Word x, Word y) noexcept {
    const Word z = y - x;
    return (z ^ ((x ^ y) & (x ^ z))) >> 31;
}

// 1 when x < y.
[[nodiscard]] constexpr Word Lt(Word x, Word y) noexcept {
    return Gt(y, x);
}

// 1 when x <= y.
[[nodiscard]] constexpr Word Le(Word x, Word y) noexcept {
    return Gt(x, y) ^ 1U;
}

}  // namespace tarvola::ct

#endif  // TARVOLA_COMMON_CONSTANT_TIME_H
