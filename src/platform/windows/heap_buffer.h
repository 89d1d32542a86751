// Scratch memory for the Windows backend: taken from the process heap and
// wiped before it goes back, since it holds key schedules and texts that may
// be secret.
#ifndef TARVOLA_PLATFORM_WINDOWS_HEAP_BUFFER_H
#define TARVOLA_PLATFORM_WINDOWS_HEAP_BUFFER_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <new>

#include "platform/secret.h"

namespace tarvola::platform {

class HeapBuffer {
  public:
    // Throws std::bad_alloc when the heap has no room, like any other
    // allocation in the library.
    explicit HeapBuffer(std::size_t size) : size_(size) {
        if (size_ == 0) return;
        data_ = static_cast<std::uint8_t*>(HeapAlloc(GetProcessHeap(), 0, size_));
        if (data_ == nullptr) throw std::bad_alloc();
    }
    HeapBuffer(const HeapBuffer&) = delete;
    HeapBuffer& operator=(const HeapBuffer&) = delete;
    ~HeapBuffer() {
        if (data_ == nullptr) return;
        SecureWipe(data_, size_);
        HeapFree(GetProcessHeap(), 0, data_);
    }

    [[nodiscard]] std::uint8_t* data() const noexcept { return data_; }
    [[nodiscard]] char* chars() const noexcept { return reinterpret_cast<char*>(data_); }
    [[nodiscard]] std::size_t size() const noexcept { return size_; }

  private:
    std::size_t size_;
    std::uint8_t* data_ = nullptr;
};

}  // namespace tarvola::platform

#endif  // TARVOLA_PLATFORM_WINDOWS_HEAP_BUFFER_H
