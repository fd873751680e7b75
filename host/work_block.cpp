#include "work_block.h"

#include <mutex>

namespace granulix::host {
namespace {

struct HeldBlock {
    MemoryHandle handle = nullptr;
    size_t bytes = 0;
};

// The held blocks; a static object, so unloading the module frees them.
class Pool {
public:
    Pool() = default;
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;
    ~Pool() { clear(); }

    // The smallest held block of at least `bytes`, taken out of the pool.
    // A held block too small for the call is freed: the call allocates a
    // bigger one and hands that back instead.
    HeldBlock take(size_t bytes) {
        MemoryHandle tooSmall = nullptr;
        HeldBlock found;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            int best = -1;
            for (int i = 0; i < count_; ++i) {
                if (blocks_[i].bytes >= bytes &&
                    (best < 0 || blocks_[i].bytes < blocks_[best].bytes)) {
                    best = i;
                }
            }
            if (best < 0 && count_ > 0) {
                best = 0;
                for (int i = 1; i < count_; ++i) {
                    if (blocks_[i].bytes < blocks_[best].bytes) best = i;
                }
                tooSmall = blocks_[best].handle;
                removeAt(best);
            } else if (best >= 0) {
                found = blocks_[best];
                removeAt(best);
            }
        }
        freeMoveable(tooSmall);
        return found;
    }

    // Keeps the block for a later call when both bounds allow, else frees it.
    void give(HeldBlock block) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (count_ < kHeldBlocks && heldBytes_ + block.bytes <= kHeldBytes) {
                blocks_[count_++] = block;
                heldBytes_ += block.bytes;
                return;
            }
        }
        freeMoveable(block.handle);
    }

    void clear() {
        HeldBlock blocks[kHeldBlocks];
        int count;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            count = count_;
            for (int i = 0; i < count; ++i) blocks[i] = blocks_[i];
            count_ = 0;
            heldBytes_ = 0;
        }
        for (int i = 0; i < count; ++i) freeMoveable(blocks[i].handle);
    }

    int count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_;
    }

    uint64_t bytes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return heldBytes_;
    }

private:
    void removeAt(int i) {
        heldBytes_ -= blocks_[i].bytes;
        blocks_[i] = blocks_[--count_];
    }

    std::mutex mutex_;
    HeldBlock blocks_[kHeldBlocks];
    int count_ = 0;
    uint64_t heldBytes_ = 0;
};

Pool pool;

}  // namespace

bool WorkBlock::acquire(size_t bytes) {
    release();
    HeldBlock block = pool.take(bytes);
    if (!block.handle) {
        block.handle = allocateMoveable(bytes);
        block.bytes = bytes;
    }
    if (!block.handle) return false;
    data_ = lockMoveable(block.handle);
    if (!data_) {
        freeMoveable(block.handle);
        return false;
    }
    handle_ = block.handle;
    capacity_ = block.bytes;
    return true;
}

void WorkBlock::release() {
    if (!handle_) return;
    unlockMoveable(handle_);
    pool.give(HeldBlock{handle_, capacity_});
    handle_ = nullptr;
    capacity_ = 0;
    data_ = nullptr;
}

void releaseHeldWorkBlocks() { pool.clear(); }
int heldWorkBlocks() { return pool.count(); }
uint64_t heldWorkBytes() { return pool.bytes(); }

}  // namespace granulix::host
