#include "failing_new.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace granulix::testing {
namespace {

std::atomic<uint64_t> newsUntilFault{0};
std::atomic<int64_t> liveBlocks{0};

bool faultDue() {
    uint64_t n = newsUntilFault.load();
    while (n != 0) {
        if (newsUntilFault.compare_exchange_weak(n, n - 1)) return n == 1;
    }
    return false;
}

void* obtain(std::size_t bytes, std::size_t alignment) {
    if (faultDue()) return nullptr;
    if (bytes == 0) bytes = 1;
    void* p = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        p = std::malloc(bytes);
    } else if (posix_memalign(&p, alignment, bytes) != 0) {
        p = nullptr;
    }
    if (p) ++liveBlocks;
    return p;
}

void give(void* p) {
    if (!p) return;
    --liveBlocks;
    std::free(p);
}

void* obtainOrThrow(std::size_t bytes, std::size_t alignment) {
    void* p = obtain(bytes, alignment);
    if (!p) throw std::bad_alloc();
    return p;
}

}  // namespace

void failNthNew(uint64_t n) { newsUntilFault = n; }
bool newFaultPending() { return newsUntilFault.load() != 0; }
int64_t liveNewBlocks() { return liveBlocks.load(); }

}  // namespace granulix::testing

using granulix::testing::give;
using granulix::testing::obtain;
using granulix::testing::obtainOrThrow;
constexpr std::size_t kPlain = alignof(std::max_align_t);

void* operator new(std::size_t n) { return obtainOrThrow(n, kPlain); }
void* operator new[](std::size_t n) { return obtainOrThrow(n, kPlain); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return obtain(n, kPlain); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return obtain(n, kPlain); }
void* operator new(std::size_t n, std::align_val_t a) { return obtainOrThrow(n, std::size_t(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return obtainOrThrow(n, std::size_t(a)); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return obtain(n, std::size_t(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
    return obtain(n, std::size_t(a));
}
void operator delete(void* p) noexcept { give(p); }
void operator delete[](void* p) noexcept { give(p); }
void operator delete(void* p, std::size_t) noexcept { give(p); }
void operator delete[](void* p, std::size_t) noexcept { give(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { give(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { give(p); }
void operator delete(void* p, std::align_val_t) noexcept { give(p); }
void operator delete[](void* p, std::align_val_t) noexcept { give(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { give(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { give(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { give(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { give(p); }
