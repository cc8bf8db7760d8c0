#pragma once
// An allocator whose value-less construction leaves elements uninitialised, for large buffers
// that are written in full before they are read: resizing them then costs no zero-filling pass.

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>
#include <vector>

template <typename T>
class DefaultInitAllocator : public std::allocator<T> {
  public:
    static constexpr std::size_t kHugePage = std::size_t(2) << 20;
    static constexpr std::size_t kHugeThreshold = std::size_t(4) << 20;

    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };

    DefaultInitAllocator() noexcept = default;
    template <typename U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

    // Large buffers are aligned to 2 MiB and offered to the kernel as huge pages: first touching
    // a volume-sized buffer then takes a few hundred page faults instead of tens of thousands.
    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kHugeThreshold) {
            return std::allocator<T>::allocate(n);
        }
        void* memory = nullptr;
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        if (posix_memalign(&memory, kHugePage, rounded) != 0) {
            throw std::bad_alloc();
        }
        madvise(memory, rounded, MADV_HUGEPAGE);
        return static_cast<T*>(memory);
    }
    void deallocate(T* memory, std::size_t n) noexcept {
        if (n * sizeof(T) < kHugeThreshold) {
            std::allocator<T>::deallocate(memory, n);
        } else {
            std::free(memory);
        }
    }

    template <typename U>
    void construct(U* place) noexcept(std::is_nothrow_default_constructible<U>::value) {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

// A vector whose resize leaves new elements uninitialised.
template <typename T>
using UninitializedVector = std::vector<T, DefaultInitAllocator<T>>;

// Asks for small pages at the start of each of the equal planes of a large buffer that is filled
// a little at a time in every plane at once (the maps during the fit): with huge pages each plane
// being filled holds a 2 MiB page resident before it is used. Past leading elements of a plane
// huge pages are kept, where they are faster.
template <typename T>
void PreferSmallPagesAtPlaneStarts(UninitializedVector<T>& buffer, std::size_t planes,
                                   std::size_t leading) {
    constexpr std::size_t kHuge = DefaultInitAllocator<T>::kHugePage;
    const std::size_t bytes = buffer.capacity() * sizeof(T);
    if (bytes < DefaultInitAllocator<T>::kHugeThreshold || planes == 0) {
        return;  // not a huge-page allocation
    }
    char* const base = reinterpret_cast<char*>(buffer.data());
    if (reinterpret_cast<std::uintptr_t>(base) % kHuge != 0) {
        return;  // not the aligned buffer the allocator makes for huge pages
    }
    const std::size_t limit = (bytes + kHuge - 1) / kHuge * kHuge;
    const std::size_t plane = buffer.size() / planes;
    for (std::size_t k = 0; k < planes; ++k) {
        const std::size_t begin = k * plane * sizeof(T);
        const std::size_t end = begin + std::min(leading, plane) * sizeof(T);
        const std::size_t from = begin / kHuge * kHuge;
        const std::size_t to = std::min(limit, (end + kHuge - 1) / kHuge * kHuge);
        if (to > from) {
            madvise(base + from, to - from, MADV_NOHUGEPAGE);
        }
    }
}
