#include "values/parallel.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "values/secret_traces.h"

namespace tarvola::tool {
namespace {

// What the calling thread and the workers share: the queue of slots read and
// waiting for a worker, and which slots are worked on.
class WorkQueue {
  public:
    explicit WorkQueue(std::size_t slots) : finished_(slots, false) {}

    void Submit(std::size_t slot) {
        {
            const std::lock_guard lock(mutex_);
            finished_[slot] = false;
            waiting_.push_back(slot);
        }
        submitted_.notify_one();
    }

    // The next slot to work on; false once the queue is closed.
    bool Take(std::size_t& slot) {
        std::unique_lock lock(mutex_);
        submitted_.wait(lock, [this] { return closed_ || !waiting_.empty(); });
        if (closed_) return false;
        slot = waiting_.front();
        waiting_.pop_front();
        return true;
    }

    void Finish(std::size_t slot) {
        {
            const std::lock_guard lock(mutex_);
            finished_[slot] = true;
        }
        finished_signal_.notify_all();
    }

    void WaitFor(std::size_t slot) {
        std::unique_lock lock(mutex_);
        finished_signal_.wait(lock, [this, slot] { return finished_[slot]; });
    }

    // Workers end once they have finished what they hold; slots still
    // waiting are dropped.
    void Close() {
        {
            const std::lock_guard lock(mutex_);
            closed_ = true;
            waiting_.clear();
        }
        submitted_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable submitted_;
    std::condition_variable finished_signal_;
    std::deque<std::size_t> waiting_;
    std::vector<bool> finished_;
    bool closed_ = false;
};

}  // namespace

bool RunOrdered(unsigned threads, std::size_t slots, const ChunkSteps& steps) {
    // The steps on this thread handle secrets too: writing plaintexts.
    const SecretTraceEraser erase_on_return;
    WorkQueue queue(slots);
    std::atomic<bool> stop{false};
    std::exception_ptr failure;
    std::mutex failure_mutex;

    const auto worker = [&] {
        const SecretTraceEraser erase_on_exit;
        std::size_t slot = 0;
        while (queue.Take(slot)) {
            try {
                if (!stop.load()) steps.work(slot, stop);
            } catch (...) {
                const std::lock_guard lock(failure_mutex);
                if (!failure) failure = std::current_exception();
                stop = true;
            }
            queue.Finish(slot);
        }
    };
    std::vector<std::jthread> workers;
    workers.reserve(threads);
    // Closing the queue first lets the workers end when this function is
    // left by an exception (jthread joins on destruction).
    struct Closer {
        WorkQueue& queue;
        ~Closer() { queue.Close(); }
    };
    const Closer closer{queue};
    for (unsigned i = 0; i < threads; ++i) workers.emplace_back(worker);

    // Chunks are numbered as read; chunk n lives in slot n % slots.
    std::size_t read = 0;
    std::size_t written = 0;
    bool input_ended = false;
    bool completed = true;
    while (true) {
        while (!input_ended && read - written < slots) {
            if (!steps.read(read % slots)) {
                input_ended = true;
                break;
            }
            queue.Submit(read % slots);
            ++read;
        }
        if (written == read) break;
        queue.WaitFor(written % slots);
        if (stop.load() || !steps.write(written % slots)) {
            completed = false;
            break;
        }
        ++written;
    }
    stop = true;
    queue.Close();
    for (auto& worker_thread : workers) worker_thread.join();
    if (failure) std::rethrow_exception(failure);
    return completed;
}

}  // namespace tarvola::tool
