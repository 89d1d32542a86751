#include "cli/input.h"

#include "common/secret_text.h"

namespace tarvola::tool {

WipingInputBuffer::WipingInputBuffer(InputReader reader) noexcept : reader_(reader) {
    setg(buffer_.data(), buffer_.data(), buffer_.data());
}

WipingInputBuffer::~WipingInputBuffer() {
    secure_wipe(buffer_.data(), buffer_.size());
}

// Everything before the read position has been taken by the reader of the
// stream, so the whole filled part can go before the next read.
WipingInputBuffer::int_type WipingInputBuffer::underflow() {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    secure_wipe(eback(), static_cast<std::size_t>(egptr() - eback()));
    setg(buffer_.data(), buffer_.data(), buffer_.data());
    if (error_ != 0) return traits_type::eof();
    std::size_t got = 0;
    error_ = reader_(buffer_.data(), buffer_.size(), got);
    if (error_ != 0 || got == 0) return traits_type::eof();
    setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
    return traits_type::to_int_type(*gptr());
}

}  // namespace tarvola::tool
