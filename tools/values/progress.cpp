#include "values/progress.h"

#include <string>

namespace tarvola::tool {
namespace {

constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRedrawInterval = std::chrono::milliseconds(250);

}  // namespace

Progress::Progress(std::ostream& err, bool enabled, std::string_view unit, std::uint64_t total)
    : err_(err),
      enabled_(enabled),
      unit_(unit),
      total_(total),
      start_(Clock::now()),
      next_draw_(start_ + kQuietStart) {}

void Progress::Update(std::uint64_t done) {
    done_ = done;
    if (!enabled_) return;
    const auto now = Clock::now();
    if (now < next_draw_) return;
    Draw(now);
    next_draw_ = now + kRedrawInterval;
}

void Progress::Draw(Clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = static_cast<double>(done_) / seconds;
    std::string line = std::to_string(done_) + ' ' + std::string(unit_) + " done, " +
                       std::to_string(static_cast<std::uint64_t>(rate)) + ' ' + std::string(unit_) +
                       "/s";
    if (total_ > done_ && rate > 0) {
        const auto left = static_cast<std::uint64_t>(static_cast<double>(total_ - done_) / rate);
        line += ", about " + std::to_string(left) + " s left";
    }
    const std::size_t width = line.size();
    // Shorter than the last line: blank out what would remain of it.
    if (width < drawn_width_) line.append(drawn_width_ - width, ' ');
    err_ << '\r' << line << std::flush;
    drawn_width_ = width;
}

void Progress::Erase() {
    if (drawn_width_ == 0) return;
    err_ << '\r' << std::string(drawn_width_, ' ') << '\r' << std::flush;
    drawn_width_ = 0;
}

}  // namespace tarvola::tool
