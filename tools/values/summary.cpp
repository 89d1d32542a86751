#include "values/summary.h"

namespace tarvola::tool {

std::string Summary(const ValueCounts& counts, const SummaryWording& wording) {
    std::string line =
        std::to_string(counts.values) + (counts.values == 1 ? " value, " : " values, ") +
        std::to_string(counts.done) + " done, " + std::to_string(counts.failed) + " failed";
    if (wording.every_count || counts.unchanged > 0)
        line += ", " + std::to_string(counts.unchanged) + " unchanged";
    if (wording.every_count || counts.empty > 0)
        line += ", " + std::to_string(counts.empty) + " " + std::string(wording.empty);
    if (wording.wrong_key_hint && counts.failed > 0 && counts.failed_to_open == counts.failed &&
        counts.failed + counts.empty == counts.values)
        line += ": every value failed, so the key is probably wrong";
    return line;
}

}  // namespace tarvola::tool
