// Moveable memory for the module's work blocks.
//
// On Windows these are the platform's moveable global memory calls
// (GlobalAlloc with GMEM_MOVEABLE, GlobalLock, GlobalUnlock, GlobalFree).
// Elsewhere a small layer of our own keeps the same contract: allocation
// hands out a handle, not an address; locking the handle yields the address
// and counts a lock; unlocking drops one; freeing releases the block. Every
// step may fail and reports it with a null result.
//
// LockedBlock allocates and locks in one step and unlocks and frees when it
// goes out of scope, whatever way that happens. The render path takes its
// blocks through the pool in work_block.h, which keeps them between calls.
//
// For tests the layer can be told to make its Nth allocation or Nth lock
// fail or to fill new blocks with junk, and it counts the blocks not yet
// freed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace granulix::host {

using MemoryHandle = void*;  // an HGLOBAL on Windows

// A moveable block of `bytes` bytes, or null. Zero bytes are refused.
MemoryHandle allocateMoveable(size_t bytes);
// The block's address, or null when the handle is null or the lock fails.
void* lockMoveable(MemoryHandle handle);
void unlockMoveable(MemoryHandle handle);
// Releases a block, locked or not. A null handle is ignored.
void freeMoveable(MemoryHandle handle);

// A block allocated and locked for the length of one call.
class LockedBlock {
public:
    LockedBlock() = default;
    LockedBlock(const LockedBlock&) = delete;
    LockedBlock& operator=(const LockedBlock&) = delete;
    ~LockedBlock() { release(); }

    // Allocates and locks `bytes` bytes. On failure holds nothing, having
    // released whatever it obtained, and returns false.
    bool acquire(size_t bytes);
    void release();
    void* data() const { return data_; }

private:
    MemoryHandle handle_ = nullptr;
    void* data_ = nullptr;
};

// Test switches. failNthAllocation(n) makes the nth allocateMoveable call
// from now fail (1: the next one); failNthLock(n) does the same for
// lockMoveable; 0 disarms. Each switch fires once.
void failNthAllocation(uint32_t n);
void failNthLock(uint32_t n);
// scribbleNewBlocks(true) fills every block it allocates from then on with
// non-zero bytes, so that a reader of memory nobody wrote shows up.
void scribbleNewBlocks(bool on);
// Blocks allocated and not yet freed.
int64_t outstandingBlocks();

}  // namespace granulix::host
