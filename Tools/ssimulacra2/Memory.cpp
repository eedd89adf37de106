#include "Memory.h"

#include <new>

#include <sys/mman.h>

namespace flenn::ssimulacra2 {

void *allocate(std::size_t bytes) {
    constexpr std::size_t hugePage = std::size_t(2) << 20;
    std::size_t alignment = bytes >= 2 * hugePage ? hugePage : 64;
    std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    void *p = std::aligned_alloc(alignment, rounded ? rounded : alignment);
    if (!p)
        throw std::bad_alloc();
    // Only advice: without huge pages the memory works the same, with more page faults.
    if (alignment == hugePage)
        madvise(p, rounded, MADV_HUGEPAGE);
    return p;
}

} // namespace flenn::ssimulacra2
