// Text that holds a key or a plaintext inside the tool: zeroed before its
// memory goes back, whether the string grows, moves or ends.
#ifndef TARVOLA_TOOLS_COMMON_SECRET_TEXT_H
#define TARVOLA_TOOLS_COMMON_SECRET_TEXT_H

#include <string>
#include <string_view>
#include <utility>

#include "tarvolacrypt.hpp"

namespace tarvola::tool {

using SecretString = secret_string;

// A SecretString that wipes itself when it ends or is moved from.
class SecretText {
  public:
    SecretText() = default;
    explicit SecretText(std::string_view text) : value_(text) {}
    SecretText(SecretText&& other) noexcept : value_(std::move(other.value_)) {
        wipe(other.value_);
    }
    SecretText& operator=(SecretText&& other) noexcept {
        wipe(value_);
        value_ = std::move(other.value_);
        wipe(other.value_);
        return *this;
    }
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText() { wipe(value_); }

    [[nodiscard]] SecretString& value() noexcept { return value_; }
    [[nodiscard]] std::string_view view() const noexcept { return value_; }

  private:
    SecretString value_;
};

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_COMMON_SECRET_TEXT_H
