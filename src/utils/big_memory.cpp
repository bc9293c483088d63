#include "utils/big_memory.hpp"

#include <cstdint>

namespace quibra {

namespace {

std::size_t mapped_size(std::size_t bytes) noexcept { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* big_alloc_zeroed(std::size_t bytes) noexcept {
    if (bytes < kHugePage) return std::calloc(bytes ? bytes : 1, 1);
    std::size_t size = mapped_size(bytes);
    // One huge page more than needed, trimmed to an aligned block.
    void* raw = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    auto start = reinterpret_cast<std::uintptr_t>(raw);
    std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > start) munmap(raw, aligned - start);
    std::uintptr_t end = aligned + size;
    std::uintptr_t raw_end = start + size + kHugePage;
    if (raw_end > end) munmap(reinterpret_cast<void*>(end), raw_end - end);
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}

void big_free(void* p, std::size_t bytes) noexcept {
    if (!p) return;
    if (bytes < kHugePage) return std::free(p);
    munmap(p, mapped_size(bytes));
}

}  // namespace quibra
