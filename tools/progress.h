// The "values done, values per second" line for long batches, drawn on
// standard error with carriage returns. It stays hidden for the first second
// so that short runs print nothing.
#ifndef TARVOLA_TOOLS_PROGRESS_H
#define TARVOLA_TOOLS_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>

namespace tarvola::tool {

class Progress {
  public:
    Progress(std::ostream& err, bool enabled);
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    ~Progress() { Erase(); }

    void Advance();
    // Clears the line, so that a message can be written in its place.
    void Erase();

  private:
    using Clock = std::chrono::steady_clock;

    void Draw(Clock::time_point now);

    std::ostream& err_;
    bool enabled_;
    std::uint64_t done_ = 0;
    Clock::time_point start_;
    Clock::time_point next_draw_;
    std::size_t drawn_width_ = 0;
};

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_PROGRESS_H
