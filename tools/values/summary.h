// What a run over values counted, and the closing line that says it: the
// stream commands and migrate count alike and report in the same words.
#ifndef TARVOLA_TOOLS_VALUES_SUMMARY_H
#define TARVOLA_TOOLS_VALUES_SUMMARY_H

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvola::tool {

struct ValueCounts {
    std::uint64_t values = 0;
    std::uint64_t done = 0;
    std::uint64_t unchanged = 0;
    std::uint64_t failed = 0;
    // Empty or only white space (or NULL, in a database): left as it is.
    std::uint64_t empty = 0;
    // Failures of intact values that did not open, the mark of a wrong key.
    std::uint64_t failed_to_open = 0;
};

struct SummaryWording {
    // What the empty values are called.
    std::string_view empty = "empty";
    // Unchanged and empty counts shown even when there are none.
    bool every_count = false;
    // Whether failures can mean a wrong key (not when encrypting).
    bool wrong_key_hint = true;
};

// "3 values, 2 done, 1 failed", then the unchanged and empty counts, and a
// hint when every value that was not empty failed to open although intact,
// which is what a wrong key does.
[[nodiscard]] std::string Summary(const ValueCounts& counts, const SummaryWording& wording);

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_VALUES_SUMMARY_H
