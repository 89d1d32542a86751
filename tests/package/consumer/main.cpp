// Round trips through both headers of an installed TarvolaCrypt; prints
// "consumer: ok" and exits 0 when all of them come back.
#include <cstdio>
#include <string>

#include "tarvolacrypt.hpp"

extern "C" int c_round_trip(void);

namespace {

bool RoundTrips(tarvola::Mode mode) {
    const std::string text = "Server=db;Password=secret";
    const auto sealed = tarvola::encrypt(text, "consumer key", mode);
    if (!sealed) return false;
    auto opened = tarvola::decrypt(*sealed.value, "consumer key", mode);
    if (!opened) return false;
    // Kept where it is wiped when it goes, as a careful caller keeps it.
    tarvola::secret_string kept(opened.value->begin(), opened.value->end());
    tarvola::wipe(opened);
    const bool same = kept == text.c_str();
    tarvola::wipe(kept);
    return same;
}

}  // namespace

int main() {
    const bool ok = c_round_trip() != 0 && RoundTrips(tarvola::Mode::kHexBlock) &&
                    RoundTrips(tarvola::Mode::kEnvelope);
    std::puts(ok ? "consumer: ok" : "consumer: FAILED");
    return ok ? 0 : 1;
}
