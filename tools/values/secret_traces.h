// What working on keys and plaintexts leaves outside the memory that held
// them, erased when the work is done. The string and memory functions load
// values into vector registers, which keep them until something else needs
// those registers; the registers are then saved wholesale on the stack
// whenever a signal arrives or the dynamic linker binds a function on its
// first call (the C++ library binds lazily), and the functions the work
// called left their own copies in frames that are now dead. Either puts the
// last plaintext of a run into memory a core file shows, or a thread stack
// the C library keeps for the next thread.
#ifndef TARVOLA_TOOLS_VALUES_SECRET_TRACES_H
#define TARVOLA_TOOLS_VALUES_SECRET_TRACES_H

#include <cstddef>

namespace tarvola::tool {

// How far below its caller's frame EraseSecretTraces wipes the stack: the
// deepest the work on values goes below a batch or worker loop, the
// library's calls and a register save area included, with room to spare
// (on x86-64 with GCC 12, the wipe test's threads used under 20 KiB in all,
// their own frames and thread-local storage included).
inline constexpr std::size_t kSecretTraceStackBytes = 32 * 1024;

// Zeroes the vector registers (x86-64 under the System V ABI, where all of
// them may be changed by a call; elsewhere nothing), then
// kSecretTraceStackBytes of the stack below the caller's frame. Call it
// once the work on secrets is over and before anything else runs: a
// function or loop that works on them declares a SecretTraceEraser first.
void EraseSecretTraces() noexcept;

class SecretTraceEraser {
  public:
    SecretTraceEraser() = default;
    SecretTraceEraser(const SecretTraceEraser&) = delete;
    SecretTraceEraser& operator=(const SecretTraceEraser&) = delete;
    ~SecretTraceEraser() { EraseSecretTraces(); }
};

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_VALUES_SECRET_TRACES_H
