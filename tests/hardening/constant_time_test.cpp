// The padding check's timing does not depend on the padded bytes: run under
// valgrind memcheck, with those bytes marked undefined, any branch or memory
// index that depends on them is reported as a use of an undefined value, and
// valgrind's exit code fails the test. Only the result, marked defined again,
// is branched on: that is the one decision the check makes.
//
// `--control` runs a comparison that does branch on the bytes, to show that
// the harness catches one (that run must fail).
#include <valgrind/memcheck.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>

#include "common/constant_time.h"
#include "envelope/cbc_padding.h"

namespace {

// The comparisons at the edges of the 32-bit range, where the top bit decides.
constexpr bool ComparisonsHold() {
    constexpr tarvola::ct::Word kEdges[] = {0, 1, 16, 17, 0x7fffffff, 0x80000000, 0xffffffff};
    for (const auto x : kEdges) {
        for (const auto y : kEdges) {
            if (tarvola::ct::Eq(x, y) != (x == y ? 1U : 0U)) return false;
            if (tarvola::ct::Lt(x, y) != (x < y ? 1U : 0U)) return false;
            if (tarvola::ct::Le(x, y) != (x <= y ? 1U : 0U)) return false;
        }
    }
    return true;
}
static_assert(ComparisonsHold());

using Block = std::array<std::uint8_t, 32>;

// Two blocks ending in `tail`, the rest 0x41.
Block Ending(std::span<const std::uint8_t> tail) {
    Block padded;
    padded.fill(0x41);
    std::memcpy(padded.data() + padded.size() - tail.size(), tail.data(), tail.size());
    return padded;
}

void MarkSecret(Block& padded) {
    VALGRIND_MAKE_MEM_UNDEFINED(padded.data(), padded.size());
}

// A padding check that stops at the first wrong byte: what the real one must
// not do.
bool LeakyCheck(const Block& padded) {
    const std::uint8_t pad = padded.back();
    if (pad == 0 || pad > 16) return false;
    for (std::size_t i = 1; i <= pad; ++i) {
        if (padded[padded.size() - i] != pad) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (RUNNING_ON_VALGRIND == 0) {
        std::puts("constant_time_test: must run under valgrind memcheck");
        return 1;
    }
    if (argc > 1 && std::strcmp(argv[1], "--control") == 0) {
        Block padded = Ending(std::array<std::uint8_t, 3>{3, 3, 3});
        MarkSecret(padded);
        return LeakyCheck(padded) ? 0 : 2;
    }

    // Every valid padding length, and defects at every kind of place.
    struct Case {
        Block padded;
        std::optional<std::size_t> length;
    };
    std::array<Case, 21> cases{};
    std::size_t count = 0;
    for (std::uint8_t pad = 1; pad <= 16; ++pad) {
        std::array<std::uint8_t, 16> tail;
        tail.fill(pad);
        cases[count++] = {Ending(std::span(tail).last(pad)), 32U - pad};
    }
    cases[count++] = {Ending(std::array<std::uint8_t, 1>{0}), std::nullopt};
    cases[count++] = {Ending(std::array<std::uint8_t, 1>{17}), std::nullopt};
    cases[count++] = {Ending(std::array<std::uint8_t, 1>{0xff}), std::nullopt};
    cases[count++] = {Ending(std::array<std::uint8_t, 3>{2, 3, 3}), std::nullopt};
    cases[count++] = {Ending(std::array<std::uint8_t, 3>{3, 4, 3}), std::nullopt};

    int failures = 0;
    for (Case& c : cases) {
        MarkSecret(c.padded);
        tarvola::envelope::PaddingCheck check = tarvola::envelope::CheckPadding(c.padded);
        VALGRIND_MAKE_MEM_DEFINED(&check, sizeof check);
        const std::optional<std::size_t> length =
            check.bad == 0 ? std::optional<std::size_t>(check.length) : std::nullopt;
        if (length != c.length) ++failures;
    }
    std::printf("constant_time_test: %zu padding checks, %d wrong results\n", count, failures);
    return failures == 0 ? 0 : 1;
}
