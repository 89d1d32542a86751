#include "cli/output.h"

#include <cstring>

#include "cli/platform.h"
#include "common/secret_text.h"

namespace tarvola::tool {

StandardOutputBuffer::StandardOutputBuffer() noexcept {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
}

StandardOutputBuffer::~StandardOutputBuffer() {
    WriteBuffered();
    secure_wipe(buffer_.data(), buffer_.size());
}

std::string StandardOutputBuffer::ErrorMessage() const {
    return std::string("cannot write standard output: ") + std::strerror(error_);
}

bool StandardOutputBuffer::WriteBuffered() noexcept {
    const auto used = static_cast<std::size_t>(pptr() - pbase());
    if (used > 0 && error_ == 0) error_ = WriteToStandardOutput(pbase(), used);
    secure_wipe(pbase(), used);
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return error_ == 0;
}

StandardOutputBuffer::int_type StandardOutputBuffer::overflow(int_type character) {
    if (!WriteBuffered()) return traits_type::eof();
    if (traits_type::eq_int_type(character, traits_type::eof())) return traits_type::not_eof(0);
    *pptr() = traits_type::to_char_type(character);
    pbump(1);
    return character;
}

int StandardOutputBuffer::sync() {
    return WriteBuffered() ? 0 : -1;
}

}  // namespace tarvola::tool
