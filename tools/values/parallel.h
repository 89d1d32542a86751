// Work on a stream of chunks by several threads, with the results written in
// the order the chunks were read. For any command that reads values, works
// on each independently and writes results that must stay aligned with them.
#ifndef TARVOLA_TOOLS_VALUES_PARALLEL_H
#define TARVOLA_TOOLS_VALUES_PARALLEL_H

#include <atomic>
#include <cstddef>
#include <functional>

namespace tarvola::tool {

// The three steps of an ordered run over chunks kept in slots 0 to
// `slots` - 1, which the caller owns and which are reused as the run goes.
struct ChunkSteps {
    // On the calling thread: reads the next chunk of input into `slot`;
    // false when the input has ended (the slot then holds nothing to work on).
    std::function<bool(std::size_t slot)> read;
    // On a worker thread: the work on the chunk in `slot`. `stop` turns true
    // when the run is stopping; work on several items checks it between them
    // and returns early.
    std::function<void(std::size_t slot, const std::atomic<bool>& stop)> work;
    // On the calling thread, one chunk at a time in the order they were read:
    // writes the results of `slot`; false stops the run (nothing later is
    // written, and the workers give up what they hold).
    std::function<bool(std::size_t slot)> write;
};

// Runs every chunk through the steps with `threads` workers and at most
// `slots` chunks read but not yet written, so that memory stays bounded
// whatever the length of the input. Both MUST be positive; with fewer slots
// than twice the threads, workers wait on the writing. Returns false when
// `write` stopped the run. An exception thrown by a worker is rethrown here
// once every worker has ended.
bool RunOrdered(unsigned threads, std::size_t slots, const ChunkSteps& steps);

// The slots every command gives RunOrdered for `threads` workers: enough to
// keep each worker busy while one chunk is being read or written, few enough
// that memory stays a small multiple of one chunk per worker.
[[nodiscard]] constexpr std::size_t SlotsFor(unsigned threads) noexcept {
    return 4 * std::size_t{threads};
}

}  // namespace tarvola::tool

#endif  // TARVOLA_TOOLS_VALUES_PARALLEL_H
