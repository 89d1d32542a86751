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
    const auto opened = tarvola::decrypt(*sealed.value, "consumer key", mode);
    return opened && *opened.value == text;
}

}  // namespace

int main() {
    const bool ok = c_round_trip() != 0 && RoundTrips(tarvola::Mode::kHexBlock) &&
                    RoundTrips(tarvola::Mode::kEnvelope);
    std::puts(ok ? "consumer: ok" : "consumer: FAILED");
    return ok ? 0 : 1;
}
