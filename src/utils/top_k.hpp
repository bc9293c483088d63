// The k best of a stream of candidates without sorting them all: both top-k
// paths (exact Python values, raw buffer values) select with it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace quibra {

// A heap of at most k candidates whose root is the worst one kept, the
// first to go. `better(a, b)` is a strict weak order (a ranks before b).
// Allocation failures throw std::bad_alloc.
template <class T, class Better>
class BoundedHeap {
public:
    BoundedHeap(std::size_t k, Better better) : k_(k), better_(std::move(better)) { heap_.reserve(k); }

    // Kept while fewer than k are held; then only in place of the worst one,
    // and only when strictly better than it.
    void offer(const T& v) {
        if (heap_.size() < k_) {
            std::size_t c = heap_.size();
            heap_.push_back(v);
            while (c > 0 && better_(heap_[(c - 1) / 2], v)) {
                heap_[c] = heap_[(c - 1) / 2];
                c = (c - 1) / 2;
            }
            heap_[c] = v;
        } else if (k_ > 0 && better_(v, heap_[0])) {
            std::size_t c = 0;
            for (;;) {
                std::size_t child = 2 * c + 1;
                if (child >= k_) break;
                if (child + 1 < k_ && better_(heap_[child], heap_[child + 1])) ++child;  // the worse child
                if (!better_(v, heap_[child])) break;
                heap_[c] = heap_[child];
                c = child;
            }
            heap_[c] = v;
        }
    }

    // The candidates kept, in no particular order.
    std::vector<T>& kept() noexcept { return heap_; }

    // The candidates kept, best first.
    std::vector<T> sorted() && {
        std::sort(heap_.begin(), heap_.end(), better_);
        return std::move(heap_);
    }

private:
    std::size_t k_;
    Better better_;
    std::vector<T> heap_;
};

}  // namespace quibra
