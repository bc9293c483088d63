#include "buffers/pool.hpp"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace quibra {

// The pool is deliberately never destroyed. Its threads wait on its mutex
// and condition variable for the rest of the process, so destroying them at
// exit (or when the interpreter shuts down) would pull the floor out from
// under sleeping threads. A forked child has none of the parent's threads:
// it abandons the parent's pool, leaked as it stands, and builds its own on
// first use.
class Pool {
public:
    static Pool& get();

    unsigned workers() const noexcept { return threads_; }

    void submit(Batch& b);
    // Runs one unclaimed piece of b on this thread; false when none is left.
    bool run_one(Batch& b) noexcept;
    void wait(Batch& b) noexcept;

private:
    explicit Pool(unsigned wanted);
    void work() noexcept;
    void unlink(Batch& b) noexcept;
    // Runs piece i of b (claimed under the lock) and reports it finished.
    void run_piece(Batch& b, std::size_t i, std::unique_lock<std::mutex>& lock) noexcept;

    std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable piece_done_;
    Batch* head_ = nullptr;  // batches with unclaimed pieces, oldest first
    unsigned threads_ = 0;
};

namespace {

constexpr unsigned kMaxWorkers = 1024;

std::mutex creation_mutex;
std::atomic<Pool*> current_pool{nullptr};
bool fork_handlers_installed = false;  // inherited by children, so set once per process tree

void before_fork() noexcept { creation_mutex.lock(); }
void after_fork_in_parent() noexcept { creation_mutex.unlock(); }
void after_fork_in_child() noexcept {
    // The parent's workers did not come along; its pool may even have been
    // locked by one of them at the moment of the fork. Never touch it again.
    current_pool.store(nullptr, std::memory_order_relaxed);
    creation_mutex.unlock();
}

// QUIBRA_WORKERS when it is a whole number (capped), else one worker per
// logical processor.
unsigned wanted_workers() noexcept {
    if (const char* text = std::getenv("QUIBRA_WORKERS"); text && *text) {
        unsigned n = 0;
        const char* c = text;
        for (; *c >= '0' && *c <= '9'; ++c) n = std::min(kMaxWorkers + 1, n * 10 + static_cast<unsigned>(*c - '0'));
        if (*c == '\0') return std::min(kMaxWorkers, n);
    }
    unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : (n > kMaxWorkers ? kMaxWorkers : n);
}

}  // namespace

Pool& Pool::get() {
    if (Pool* p = current_pool.load(std::memory_order_acquire)) return *p;
    std::lock_guard lock(creation_mutex);
    if (Pool* p = current_pool.load(std::memory_order_acquire)) return *p;
    if (!fork_handlers_installed) {
        pthread_atfork(&before_fork, &after_fork_in_parent, &after_fork_in_child);
        fork_handlers_installed = true;
    }
    Pool* p = new Pool(wanted_workers());
    current_pool.store(p, std::memory_order_release);
    return *p;
}

Pool::Pool(unsigned wanted) {
    // Workers start with every signal blocked, so signals keep going to the
    // threads that handle them (the interpreter's main thread).
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    for (unsigned i = 0; i < wanted; ++i) {
        try {
            std::thread(&Pool::work, this).detach();
        } catch (const std::system_error&) {
            break;  // keep the threads we got; with none, pieces run on the waiting thread
        }
        ++threads_;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void Pool::submit(Batch& b) {
    if (threads_ == 0) return;  // the waiting thread runs every piece
    {
        std::lock_guard lock(mutex_);
        Batch** tail = &head_;
        while (*tail) tail = &(*tail)->next_;
        *tail = &b;
    }
    if (b.count_ == 1) work_ready_.notify_one();
    else work_ready_.notify_all();
}

void Pool::unlink(Batch& b) noexcept {
    for (Batch** p = &head_; *p; p = &(*p)->next_) {
        if (*p == &b) {
            *p = b.next_;
            b.next_ = nullptr;
            return;
        }
    }
}

void Pool::run_piece(Batch& b, std::size_t i, std::unique_lock<std::mutex>& lock) noexcept {
    if (b.claimed_ == b.count_) unlink(b);
    lock.unlock();
    std::exception_ptr error;
    try {
        b.run_(b.ctx_, i);
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    if (error && !b.error_) b.error_ = std::move(error);
    // Once the last piece is counted the waiter may free b: nothing here
    // touches it afterwards.
    if (++b.finished_ == b.count_) piece_done_.notify_all();
}

void Pool::work() noexcept {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_ready_.wait(lock, [this] { return head_ != nullptr; });
        Batch& b = *head_;
        run_piece(b, b.claimed_++, lock);
    }
}

bool Pool::run_one(Batch& b) noexcept {
    std::unique_lock lock(mutex_);
    if (b.claimed_ == b.count_) return false;
    run_piece(b, b.claimed_++, lock);
    return true;
}

void Pool::wait(Batch& b) noexcept {
    // Rather than sleep while pieces sit unclaimed, the waiting thread takes
    // them itself.
    while (run_one(b)) {
    }
    std::unique_lock lock(mutex_);
    piece_done_.wait(lock, [&b] { return b.finished_ == b.count_; });
}

unsigned pool_workers() { return Pool::get().workers(); }

void Batch::submit() {
    if (count_ == 0) return;
    pool_ = &Pool::get();
    pool_->submit(*this);
}

void Batch::wait_quietly() noexcept {
    if (waited_ || !pool_) return;
    waited_ = true;
    pool_->wait(*this);
}

void Batch::wait() {
    wait_quietly();
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

}  // namespace quibra
