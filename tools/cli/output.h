// Standard output through a buffer of the tool's own: a failed write keeps
// its error number for the message, and what passed through the buffer
// (plaintext, when decrypting) is wiped once written.
#ifndef TARVOLA_TOOLS_CLI_OUTPUT_H
#define TARVOLA_TOOLS_CLI_OUTPUT_H

#include <array>
#include <streambuf>
#include <string>

namespace tarvola::tool {

class StandardOutputBuffer : public std::streambuf {
  public:
    StandardOutputBuffer() noexcept;
    StandardOutputBuffer(const StandardOutputBuffer&) = delete;
    StandardOutputBuffer& operator=(const StandardOutputBuffer&) = delete;
    ~StandardOutputBuffer() override;

    // 0, or the error number of the first write that failed; every write
    // after it fails too.
    [[nodiscard]] int error() const noexcept { return error_; }
    // "cannot write standard output: No space left on device".
    [[nodiscard]] std::string ErrorMessage() const;

  protected:
    int_type overflow(int_type character) override;
    int sync() override;

  private:
    bool WriteBuffered() noexcept;

    std::array<char, 1 << 16> buffer_{};
    int error_ = 0;
};

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_CLI_OUTPUT_H
