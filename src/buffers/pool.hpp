// The process's worker pool: plain threads that run native pieces of a scan
// over raw memory. Workers never touch Python objects; the thread that hands
// pieces over keeps the interpreter lock and waits for them.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>

namespace quibra {

class Pool;

// How many workers the pool has, creating it on first use: one per logical
// processor, or QUIBRA_WORKERS when that is set to a whole number (0 means
// no threads: pieces then run on the thread that waits for them).
unsigned pool_workers();

// A batch of pieces task(0) .. task(count - 1) running on the pool. The
// pieces start when the batch is made; wait() returns once all are done and
// rethrows the first exception a piece threw. The destructor waits too, so
// a piece never outlives the frame that owns its data.
class Batch {
public:
    template <class F>
    Batch(std::size_t count, F& task) : run_(&invoke<F>), ctx_(&task), count_(count) {
        submit();
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    ~Batch() { wait_quietly(); }

    void wait();

private:
    template <class F>
    static void invoke(void* ctx, std::size_t i) {
        (*static_cast<F*>(ctx))(i);
    }

    friend class Pool;
    void submit();
    void wait_quietly() noexcept;
    // Runs the next unclaimed piece; false when none is left to claim.
    bool run_one() noexcept;

    void (*run_)(void*, std::size_t);
    void* ctx_;
    std::size_t count_;
    // Claimed and finished pieces, both guarded by the pool's mutex.
    std::size_t claimed_ = 0;
    std::size_t finished_ = 0;
    std::exception_ptr error_;
    Batch* next_ = nullptr;  // the pool's queue of batches with unclaimed pieces
    Pool* pool_ = nullptr;
    bool waited_ = false;
};

// Runs task(i) for every i below count on the pool and returns when all are
// done.
template <class F>
void parallel_for(std::size_t count, F task) {
    Batch batch(count, task);
    batch.wait();
}

}  // namespace quibra
