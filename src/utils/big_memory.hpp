// Memory for the large native tables. A table of millions of slots is
// fresh memory each call, and faulting it in 4 KiB at a time costs more
// than filling it (far more under virtualisation). From 2 MiB up a block is
// mapped on its own, aligned for the kernel's huge pages and marked as
// wanting them, so a 32 MiB table takes sixteen faults instead of eight
// thousand; smaller blocks come from malloc.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include <sys/mman.h>

namespace quibra {

inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// `bytes` of zeroed memory, or nullptr.
void* big_alloc_zeroed(std::size_t bytes) noexcept;
// Frees what big_alloc_zeroed gave (the same size).
void big_free(void* p, std::size_t bytes) noexcept;

// The allocator of the tables' vectors (std::bad_alloc when memory runs out).
template <class T>
struct BigAllocator {
    using value_type = T;
    BigAllocator() noexcept = default;
    template <class U>
    BigAllocator(const BigAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        void* p = big_alloc_zeroed(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept { big_free(p, n * sizeof(T)); }

    template <class U>
    bool operator==(const BigAllocator<U>&) const noexcept {
        return true;
    }
};

template <class T>
using BigVector = std::vector<T, BigAllocator<T>>;

// A fixed number of elements, zeroed: the hash tables' slots, whose types
// (integers and aggregates of them) are value-initialised by zero bytes, so
// the allocation's zeroing is all the initialising there is. Move-only.
template <class T>
class BigArray {
    static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_copyable_v<T>);

public:
    BigArray() noexcept = default;
    explicit BigArray(std::size_t n) : data_(BigAllocator<T>().allocate(n)), size_(n) {}
    BigArray(BigArray&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    BigArray& operator=(BigArray&& other) noexcept {
        BigArray(std::move(other)).swap(*this);
        return *this;
    }
    ~BigArray() { BigAllocator<T>().deallocate(data_, size_); }

    void swap(BigArray& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
    }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }
    const T* begin() const noexcept { return data_; }
    const T* end() const noexcept { return data_ + size_; }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace quibra
