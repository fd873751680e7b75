// Source maps resolved for the element grid of one frame.
//
// Every element of the traversal (a pixel, or a cell's corner pixel) reads
// each of the three bindings at its sample position. An ElementSampler
// settles once per frame everything that depends only on the element's
// column or only on its row, so that reading a binding costs two table reads
// for a ramp, or a frame read and a table read for a byte kind: no division,
// modulo or switch per element.
//
// The tables hold source values (0..255) until the traversal maps them, once
// per frame, into what it actually needs per value (a weighted term, or a
// speed), so the per-element work starts from there.
//
//   ElementSampler s(binding, grid, clipA, out);
//   s.mapValues([&](double v) { return keepDelay * v; });
//   const double* base = s.gatherRow(j, scratch);
//   double term = base[s.gatherKey(k)];   // k-th element visited in cell row j
//   double same = s.value(k, j);
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

#include "effect_settings.h"

namespace granulix {

// Where the elements of a frame sit.
struct ElementGrid {
    uint32_t width = 0, height = 0;          // the frame, both at least 1
    uint32_t cellWidth = 1, cellHeight = 1;  // 1 x 1 for the per-pixel traversal
    uint32_t columns = 0, rows = 0;          // elements across and down
    bool columnsReversed = false;            // each row is visited from its last column
};

class ElementSampler {
public:
    enum class Family { kRamp, kImage1, kImage2 };

    // image1 is clip A; image2 is the frame that the byte kinds of image 2
    // read, as it is at the moment they are read (the output being drawn).
    // Its tables come from `memory`.
    ElementSampler(const SourceBinding& binding, const ElementGrid& grid, const uint32_t* image1,
                   const uint32_t* image2,
                   std::pmr::memory_resource* memory = std::pmr::get_default_resource());

    // The family of a binding's kind: image 1, image 2 or a ramp (every kind
    // from the diagonals up).
    static Family familyOf(const SourceBinding& binding);
    // The most that a sampler of `binding` over `grid` takes from its memory
    // resource, when that is a monotonic one.
    static uint64_t memoryBytes(const SourceBinding& binding, const ElementGrid& grid);

    // True when a value depends on what the traversal has drawn so far.
    bool readsOutput() const { return family_ == Family::kImage2; }
    // True for the byte kinds, which byteRow() reads.
    bool bytes() const { return family_ != Family::kRamp; }

    // Replaces every tabulated source value v by map(v).
    template <class Map>
    void mapValues(Map map) {
        for (double& v : table_) v = map(v);
    }

    // Value of the element visited k-th in cell row j (k < columns, j < rows).
    double value(uint32_t k, uint32_t j) const;

    // The pixel row that the byte kinds read for cell row j.
    uint32_t imageRow(uint32_t j) const { return rowKey_[j] / width_; }

    // Cell row j of a byte kind, read element by element.
    struct ByteRow {
        const uint8_t* pixels;  // the byte the kind reads of the row's first pixel
        const uint32_t* colKey;
        const uint8_t* colMask;
        uint32_t rowMask;
        const double* table;

        double at(uint32_t k) const {
            return table[pixels[4 * size_t(colKey[k])] ^ colMask[k] ^ rowMask];
        }
    };
    ByteRow byteRow(uint32_t j) const {
        return {image_ + 4 * size_t(rowKey_[j]), colKey_.data(), colMask_.data(), rowMask_[j],
                table_.data()};
    }

    // The values of the elements k in [begin, end) of cell row j as
    // base[gatherKey(k)]: a ramp needs nothing more, the byte kinds are read
    // into scratch[begin..end) now (for image 2: the frame as it is now).
    const double* gatherRow(uint32_t j, double* scratch, uint32_t begin, uint32_t end) const;
    const double* gatherRow(uint32_t j, double* scratch) const {
        return gatherRow(j, scratch, 0, columns_);
    }
    uint32_t gatherKey(uint32_t k) const { return family_ == Family::kRamp ? colKey_[k] : k; }

private:
    // The first pixel column of the element visited k-th in a row.
    static uint32_t columnX(const ElementGrid& grid, uint32_t k);
    // The constructor's two halves: the byte kinds of `image`, and the rest.
    void setUpBytes(const SourceBinding& b, const ElementGrid& grid, const uint32_t* image);
    void setUpRamp(const SourceBinding& b, const ElementGrid& grid);
    uint32_t tabulateRamp(uint32_t kind, bool invert, uint32_t W, uint32_t H);
    // A ramp's steps for each number of flips, and the flip variants it keeps.
    static uint32_t rampSteps(uint32_t kind, uint32_t W, uint32_t H);
    static uint32_t rampVariants(uint32_t kind);

    Family family_ = Family::kRamp;
    const uint8_t* image_ = nullptr;  // byte kinds: the byte they read of the first pixel
    uint32_t width_ = 1;
    uint32_t columns_ = 0;
    std::pmr::vector<double> table_;               // ramps: by key; byte kinds: by byte value
    std::pmr::vector<uint32_t> colKey_, rowKey_;   // byte kinds: pixel offsets
    std::pmr::vector<uint8_t> colMask_, rowMask_;  // byte kinds: 0 or 255
};

}  // namespace granulix
