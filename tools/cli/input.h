// Standard input through a buffer of the tool's own, the counterpart of
// output.h: the values read (plaintexts, when encrypting) are wiped from it
// as soon as they have been taken, where the standard streams' own buffers
// would keep the last of them until the process ends.
#ifndef TARVOLA_TOOLS_CLI_INPUT_H
#define TARVOLA_TOOLS_CLI_INPUT_H

#include <array>
#include <cstddef>
#include <streambuf>

namespace tarvola::tool {

// Reads up to `size` bytes into `data`: 0 with their count in `got` (0 at the
// end of the input), or an error number.
using InputReader = int (*)(char* data, std::size_t size, std::size_t& got) noexcept;

class WipingInputBuffer : public std::streambuf {
  public:
    explicit WipingInputBuffer(InputReader reader) noexcept;
    WipingInputBuffer(const WipingInputBuffer&) = delete;
    WipingInputBuffer& operator=(const WipingInputBuffer&) = delete;
    ~WipingInputBuffer() override;

    // 0, or the error number of the read that failed; the input ends there.
    [[nodiscard]] int error() const noexcept { return error_; }

  protected:
    int_type underflow() override;

  private:
    InputReader reader_;
    std::array<char, 1 << 16> buffer_{};
    int error_ = 0;
};

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_CLI_INPUT_H
