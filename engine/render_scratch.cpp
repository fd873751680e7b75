#include "render_scratch.h"

#include <new>

namespace granulix {

namespace {

// The buffer comes from the allocator, aligned for any ordinary type.
constexpr std::size_t kBufferAlignment = __STDCPP_DEFAULT_NEW_ALIGNMENT__;

std::size_t roundUp(std::size_t v, std::size_t alignment) {
    return (v + alignment - 1) & ~(alignment - 1);
}

}  // namespace

void RenderScratch::begin() {
    used_ = 0;
    needed_ = 0;
    heapAllocations_ = 0;
}

void RenderScratch::end() noexcept {
    if (needed_ <= capacity_) return;
    buffer_.reset();
    capacity_ = 0;
    // Without memory the next call takes its tables from the heap instead.
    try {
        buffer_ = {LargePageAllocator<std::byte>().allocate(needed_), Release{needed_}};
        capacity_ = needed_;
    } catch (const std::bad_alloc&) {
    }
}

void* RenderScratch::do_allocate(std::size_t bytes, std::size_t alignment) {
    // Carved one after the other, the same requests never take more than this.
    needed_ += bytes + alignment;
    const std::size_t start = roundUp(used_, alignment);
    if (alignment <= kBufferAlignment && start <= capacity_ && bytes <= capacity_ - start) {
        used_ = start + bytes;
        return buffer_.get() + start;
    }
    ++heapAllocations_;
    return ::operator new(bytes, std::align_val_t(alignment));
}

void RenderScratch::do_deallocate(void* p, std::size_t, std::size_t alignment) {
    const std::byte* b = static_cast<const std::byte*>(p);
    if (buffer_ && b >= buffer_.get() && b < buffer_.get() + capacity_) return;
    ::operator delete(p, std::align_val_t(alignment));
}

}  // namespace granulix
