// Memory for pictures of many megabytes that are read and written all over.
//
// The renderer lands particles anywhere in a frame, so a 1080p work frame
// (8 MB) read through 4 KB pages costs the processor a page-table walk at
// almost every cell. On Linux, LargePageAllocator aligns such buffers to
// 2 MB and asks the kernel to back them with transparent huge pages, which
// it does where it is allowed to (the system setting "madvise" or "always");
// the frame then spans four page-table entries instead of 2,025. Anywhere
// else, for small buffers, or where the kernel declines, the memory is
// ordinary. The contents are the same either way.
//
//   std::vector<uint32_t, LargePageAllocator<uint32_t>> frame(width * height);
//
// prepareForWriting(p, bytes) asks the kernel to map, in one call, every page
// of a buffer that is about to be overwritten whole and that a host has just
// allocated: a first write to each page otherwise costs a fault of its own.
// A buffer whose last page is mapped already is taken to be one the host
// reuses, and is left as it is (asking again would cost as much as it
// saves). It is advice; nothing is written, and a refusal changes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace granulix {

template <class T>
struct LargePageAllocator {
    using value_type = T;

    // A transparent huge page of x86-64 Linux; buffers smaller than one are
    // allocated as usual.
    static constexpr std::size_t kLargePage = std::size_t{2} << 20;

    LargePageAllocator() = default;
    template <class U>
    LargePageAllocator(const LargePageAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
#if defined(__linux__)
        if (large(n)) {
            void* p = ::operator new(n * sizeof(T), std::align_val_t(kLargePage));
            madvise(p, n * sizeof(T), MADV_HUGEPAGE);
            return static_cast<T*>(p);
        }
#endif
        return std::allocator<T>().allocate(n);
    }

    void deallocate(T* p, std::size_t n) noexcept {
#if defined(__linux__)
        if (large(n)) {
            ::operator delete(p, std::align_val_t(kLargePage));
            return;
        }
#endif
        std::allocator<T>().deallocate(p, n);
    }

    template <class U>
    bool operator==(const LargePageAllocator<U>&) const noexcept {
        return true;
    }
    template <class U>
    bool operator!=(const LargePageAllocator<U>&) const noexcept {
        return false;
    }

private:
    static bool large(std::size_t n) {
        return n >= kLargePage / sizeof(T) && n <= SIZE_MAX / sizeof(T);
    }
};

inline void prepareForWriting(void* buffer, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    if (bytes == 0) return;
    static const std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(buffer);
    const std::uintptr_t start = first & ~(page - 1);
    const std::uintptr_t lastPage = (first + (bytes - 1)) & ~(page - 1);
    unsigned char mapped = 0;
    if (mincore(reinterpret_cast<void*>(lastPage), page, &mapped) != 0 || (mapped & 1)) return;
    madvise(reinterpret_cast<void*>(start), lastPage + page - start, MADV_POPULATE_WRITE);
#else
    (void)buffer;
    (void)bytes;
#endif
}

}  // namespace granulix
