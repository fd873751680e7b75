// Moveable memory seen through an interface, and the one scoped lock over it.
//
// BlockMemory is memory in the manner of the platform's global memory: a
// block is taken, locked to get its address, unlocked and released. Handles
// are opaque; null means failure. The module plugs in its moveable memory
// layer (moveable_memory.h), tests plug in their own.
//
// LockedBlock takes and locks a block in one step and unlocks and releases
// it when it goes out of scope, whatever way that happens.
#pragma once

#include <cstddef>
#include <cstdint>

namespace granulix {

class BlockMemory {
public:
    virtual ~BlockMemory() = default;
    virtual void* take(std::size_t bytes) = 0;
    virtual void* lock(void* handle) = 0;
    virtual void unlock(void* handle) = 0;
    virtual void release(void* handle) = 0;
};

class LockedBlock {
public:
    explicit LockedBlock(BlockMemory& memory) : memory_(memory) {}
    LockedBlock(const LockedBlock&) = delete;
    LockedBlock& operator=(const LockedBlock&) = delete;
    ~LockedBlock() { release(); }

    // Takes and locks `bytes` bytes. On failure holds nothing, having
    // released whatever it obtained, and returns false.
    bool acquire(std::size_t bytes) {
        release();
        handle_ = memory_.take(bytes);
        if (!handle_) return false;
        data_ = static_cast<uint8_t*>(memory_.lock(handle_));
        if (data_) return true;
        memory_.release(handle_);
        handle_ = nullptr;
        return false;
    }
    void release() {
        if (!handle_) return;
        if (data_) memory_.unlock(handle_);
        memory_.release(handle_);
        handle_ = nullptr;
        data_ = nullptr;
    }
    uint8_t* data() const { return data_; }

private:
    BlockMemory& memory_;
    void* handle_ = nullptr;
    uint8_t* data_ = nullptr;
};

}  // namespace granulix
