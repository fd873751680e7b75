// The work blocks of the render path, kept between calls.
//
// A render call needs one block of a few to a few hundred megabytes. Taken
// fresh from the system on every call, a block that large comes as new
// pages that fault in one by one while the conversion first writes them
// (the C library maps blocks above its threshold straight from the system
// and unmaps them on release; the platform's global memory does the same
// with its large blocks), which cost more than the rendering itself.
// WorkBlock therefore hands back its block to a small pool when the call
// ends, and the next call of the same size or smaller locks it again.
//
// The pool holds at most kHeldBlocks blocks (one for each call that ran at
// the same time, up to that many) and at most kHeldBytes bytes together;
// a block returned beyond either bound is freed at once. Held blocks are
// moveable blocks like any other, unlocked while they wait, and are freed
// by releaseHeldWorkBlocks() and when the module is unloaded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "moveable_memory.h"

namespace granulix::host {

constexpr int kHeldBlocks = 4;
constexpr uint64_t kHeldBytes = uint64_t{256} << 20;

// A locked block of at least the bytes asked for, for the length of one call.
class WorkBlock {
public:
    WorkBlock() = default;
    WorkBlock(const WorkBlock&) = delete;
    WorkBlock& operator=(const WorkBlock&) = delete;
    ~WorkBlock() { release(); }

    // Locks a held block big enough, or allocates one. On failure holds
    // nothing and returns false.
    bool acquire(size_t bytes);
    // Unlocks the block and hands it back to the pool (or frees it).
    void release();
    void* data() const { return data_; }

private:
    MemoryHandle handle_ = nullptr;
    size_t capacity_ = 0;
    void* data_ = nullptr;
};

// Frees every held block.
void releaseHeldWorkBlocks();
// How many blocks, and how many bytes, the pool holds now.
int heldWorkBlocks();
uint64_t heldWorkBytes();

}  // namespace granulix::host
