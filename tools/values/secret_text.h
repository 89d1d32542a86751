// Text that holds a key or a plaintext inside the tool: zeroed before its
// memory goes back, whether the string grows, moves or ends.
#ifndef TARVOLA_TOOLS_VALUES_SECRET_TEXT_H
#define TARVOLA_TOOLS_VALUES_SECRET_TEXT_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "tarvolacrypt.hpp"

namespace tarvola::tool {

// Zeros each block before handing it back, including the old block a string
// leaves behind when it grows.
template <class T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() noexcept = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>& /*other*/) noexcept {}

    [[nodiscard]] T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        secure_wipe(p, n * sizeof(T));
        std::allocator<T>{}.deallocate(p, n);
    }

    template <class U>
    bool operator==(const WipingAllocator<U>& /*other*/) const noexcept {
        return true;
    }
};

using SecretString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// Zeros the short-string buffer too, which the allocator never sees.
inline void WipeString(SecretString& text) noexcept {
    text.resize(text.capacity());
    secure_wipe(text.data(), text.size());
    text.clear();
}

// A SecretString that wipes itself when it ends or is moved from.
class SecretText {
  public:
    SecretText() = default;
    explicit SecretText(std::string_view text) : value_(text) {}
    SecretText(SecretText&& other) noexcept : value_(std::move(other.value_)) {
        WipeString(other.value_);
    }
    SecretText& operator=(SecretText&& other) noexcept {
        WipeString(value_);
        value_ = std::move(other.value_);
        WipeString(other.value_);
        return *this;
    }
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText() { WipeString(value_); }

    [[nodiscard]] SecretString& value() noexcept { return value_; }
    [[nodiscard]] std::string_view view() const noexcept { return value_; }

  private:
    SecretString value_;
};

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_VALUES_SECRET_TEXT_H
