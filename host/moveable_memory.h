// Moveable memory for the module's work blocks.
//
// On Windows these are the platform's moveable global memory calls
// (GlobalAlloc with GMEM_MOVEABLE, GlobalLock, GlobalUnlock, GlobalFree).
// Elsewhere a small layer of our own keeps the same contract: allocation
// hands out a handle, not an address; locking the handle yields the address
// and counts a lock; unlocking drops one; freeing releases the block. Every
// step may fail and reports it with a null result.
//
// ModuleMemory offers the layer as a BlockMemory, for LockedBlock
// (block_memory.h). The render path takes its blocks through the pool in
// work_block.h, which keeps them between calls.
//
// For tests the layer can be told to make its Nth allocation or Nth lock
// fail or to fill new blocks with junk, and it counts the blocks not yet
// freed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "block_memory.h"

namespace granulix::host {

using MemoryHandle = void*;  // an HGLOBAL on Windows

// A moveable block of `bytes` bytes, or null. Zero bytes are refused.
MemoryHandle allocateMoveable(size_t bytes);
// The block's address, or null when the handle is null or the lock fails.
void* lockMoveable(MemoryHandle handle);
void unlockMoveable(MemoryHandle handle);
// Releases a block, locked or not. A null handle is ignored.
void freeMoveable(MemoryHandle handle);

// The layer above as a BlockMemory (and so subject to its test switches).
class ModuleMemory : public BlockMemory {
public:
    void* take(std::size_t bytes) override { return allocateMoveable(bytes); }
    void* lock(void* handle) override { return lockMoveable(handle); }
    void unlock(void* handle) override { unlockMoveable(handle); }
    void release(void* handle) override { freeMoveable(handle); }
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
