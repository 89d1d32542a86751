// The "N values done, R values/s" line for long batches ("rows" and the time
// left for migrate, which counts its rows first), drawn on standard error with
// carriage returns. It stays hidden for the first second so that short runs
// print nothing, and is redrawn at most four times a second.
#ifndef TARVOLA_TOOLS_VALUES_PROGRESS_H
#define TARVOLA_TOOLS_VALUES_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string_view>

namespace tarvola::tool {

class Progress {
  public:
    // `total` 0: unknown, no time left is shown.
    Progress(std::ostream& err, bool enabled, std::string_view unit = "values",
             std::uint64_t total = 0);
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    ~Progress() { Erase(); }

    void Advance() { Update(done_ + 1); }
    void Update(std::uint64_t done);
    // Clears the line, so that a message can be written in its place.
    void Erase();

  private:
    using Clock = std::chrono::steady_clock;

    void Draw(Clock::time_point now);

    std::ostream& err_;
    bool enabled_;
    std::string_view unit_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    Clock::time_point start_;
    Clock::time_point next_draw_;
    std::size_t drawn_width_ = 0;
};

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_VALUES_PROGRESS_H
