// Storage for the per-frame tables of one render call.
//
// render(job) builds tables every frame (element columns, row starts,
// source-map keys and masks, a row of source values, the side-by-side
// drawing's records: some 17 MB at 1080p); by default they come from the
// heap and go back to it when the call returns. A caller that renders frame
// after frame (the frei0r plug-in, the OBS transition) keeps a RenderScratch
// per call that may run at once and hands it to render(job, scratch): the
// first frame of a size learns how much the tables take, and from then on
// they are carved from one buffer, with no allocation at all.
//
// One scratch serves one call at a time; it is not shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>

#include "large_pages.h"

namespace granulix {

// The most an array of `count` T takes from a monotonic memory resource: its
// bytes (one at least), and what aligning its start may skip.
template <class T>
constexpr uint64_t arrayBytes(uint64_t count) {
    return (count * sizeof(T) > 0 ? count * sizeof(T) : 1) + alignof(T) - 1;
}

class RenderScratch final : public std::pmr::memory_resource {
public:
    RenderScratch() = default;
    RenderScratch(const RenderScratch&) = delete;
    RenderScratch& operator=(const RenderScratch&) = delete;

    // Starts a call: everything carved before is free again.
    void begin();
    // Ends a call: grows the buffer to what the call needed, once, so that
    // the next call of the same size needs nothing more.
    void end() noexcept;

    std::size_t capacity() const { return capacity_; }
    // Tables of the last call that did not fit in the buffer.
    std::size_t heapAllocations() const { return heapAllocations_; }

private:
    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }

    // Megabytes at a large frame, read all over: on large pages where the
    // system has them. Left uninitialised; the tables are written as carved.
    struct Release {
        std::size_t bytes;
        void operator()(std::byte* p) const noexcept {
            LargePageAllocator<std::byte>().deallocate(p, bytes);
        }
    };
    std::unique_ptr<std::byte[], Release> buffer_{nullptr, Release{0}};
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    std::size_t needed_ = 0;  // an upper bound of what the call so far carved and took
    std::size_t heapAllocations_ = 0;
};

}  // namespace granulix
