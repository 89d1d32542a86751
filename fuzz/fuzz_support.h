// Shared pieces of the fuzz targets: how an input is cut into texts, and how
// a broken promise becomes a crash that libFuzzer records.
#ifndef TARVOLA_FUZZ_FUZZ_SUPPORT_H
#define TARVOLA_FUZZ_FUZZ_SUPPORT_H

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tarvola::fuzz {

// A text handed to the library cannot hold a zero byte, so a zero byte is the
// natural field separator: the input is "field0 \0 field1 \0 ...". Each field
// ends at the next zero byte or at the end of the input; fields the input does
// not reach are empty. Seeds stay readable this way.
template <std::size_t N>
[[nodiscard]] std::array<std::string, N> SplitFields(const std::uint8_t* data, std::size_t size) {
    std::array<std::string, N> fields;
    const std::uint8_t* const end = data + size;
    const std::uint8_t* p = data;
    for (std::size_t i = 0; i < N && p < end; ++i) {
        const std::uint8_t* stop = std::find(p, end, std::uint8_t{0});
        fields[i].assign(p, stop);
        p = stop == end ? end : stop + 1;
    }
    return fields;
}

// Distinct from anything the library writes, so that a stray write shows.
inline constexpr char kUntouched = static_cast<char>(0xA5);

// A heap buffer of exactly `size` bytes, so that AddressSanitizer reports the
// first byte written past it.
[[nodiscard]] inline std::vector<char> ExactBuffer(std::size_t size, char fill) {
    std::vector<char> buffer(size, fill);
    buffer.shrink_to_fit();
    return buffer;
}

[[nodiscard]] inline bool AllEqual(const char* begin, const char* end, char value) {
    return std::all_of(begin, end, [value](char c) { return c == value; });
}

[[noreturn]] inline void Fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: broken promise: %s\n", file, line, condition);
    std::abort();
}

}  // namespace tarvola::fuzz

// Unlike assert(), active in every build type.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::tarvola::fuzz::Fail(#condition, __FILE__, __LINE__))

#endif  // TARVOLA_FUZZ_FUZZ_SUPPORT_H
