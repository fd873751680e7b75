#include "moveable_memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "checked_size.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace granulix::host {
namespace {

std::atomic<uint32_t> allocationsUntilFault{0};
std::atomic<uint32_t> locksUntilFault{0};
std::atomic<int64_t> liveBlocks{0};
std::atomic<bool> scribble{false};

constexpr unsigned char kScribble = 0xA7;

// True when an armed switch counts down to this call.
bool faultDue(std::atomic<uint32_t>& countdown) {
    uint32_t n = countdown.load();
    while (n != 0) {
        if (countdown.compare_exchange_weak(n, n - 1)) return n == 1;
    }
    return false;
}

#if !defined(_WIN32)
// The native stand-in for a moveable block: the handle addresses this header,
// the data follows it.
struct alignas(std::max_align_t) NativeBlock {
    size_t bytes;
    uint32_t locks;
};

unsigned char* dataOf(NativeBlock* block) { return reinterpret_cast<unsigned char*>(block + 1); }
#endif

}  // namespace

MemoryHandle allocateMoveable(size_t bytes) {
    if (bytes == 0 || faultDue(allocationsUntilFault)) return nullptr;
#if defined(_WIN32)
    MemoryHandle handle = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (handle && scribble) {
        if (void* data = GlobalLock(handle)) {
            std::memset(data, kScribble, bytes);
            GlobalUnlock(handle);
        }
    }
#else
    if (!sumFits(sizeof(NativeBlock), bytes, SIZE_MAX)) return nullptr;
    void* raw = std::malloc(sizeof(NativeBlock) + bytes);
    NativeBlock* handle = raw ? new (raw) NativeBlock{bytes, 0} : nullptr;
    if (handle && scribble) std::memset(dataOf(handle), kScribble, bytes);
#endif
    if (handle) ++liveBlocks;
    return handle;
}

void* lockMoveable(MemoryHandle handle) {
    if (!handle || faultDue(locksUntilFault)) return nullptr;
#if defined(_WIN32)
    return GlobalLock(handle);
#else
    auto* block = static_cast<NativeBlock*>(handle);
    ++block->locks;
    return dataOf(block);
#endif
}

void unlockMoveable(MemoryHandle handle) {
    if (!handle) return;
#if defined(_WIN32)
    GlobalUnlock(handle);
#else
    auto* block = static_cast<NativeBlock*>(handle);
    if (block->locks > 0) --block->locks;
#endif
}

void freeMoveable(MemoryHandle handle) {
    if (!handle) return;
#if defined(_WIN32)
    GlobalFree(handle);
#else
    std::free(handle);
#endif
    --liveBlocks;
}

void failNthAllocation(uint32_t n) { allocationsUntilFault = n; }
void failNthLock(uint32_t n) { locksUntilFault = n; }
void scribbleNewBlocks(bool on) { scribble = on; }
int64_t outstandingBlocks() { return liveBlocks.load(); }

}  // namespace granulix::host
