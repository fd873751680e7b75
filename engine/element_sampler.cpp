#include "element_sampler.h"

#include "render_scratch.h"
#include "source_map.h"

namespace granulix {

namespace {

// Tile geometry of one coordinate: position within the tile, odd flag.
struct TileCoord {
    uint32_t pos;
    bool odd;
};

TileCoord tileCoord(uint32_t v, uint32_t repeat, uint32_t extent, bool oddFlag) {
    const uint32_t r = v * repeat;  // wraps modulo 2^32, as the source maps do
    return {r % extent, oddFlag && ((r / extent) & 1u) != 0};
}

}  // namespace

ElementSampler::ElementSampler(const SourceBinding& b, const ElementGrid& grid,
                               const uint32_t* image1, const uint32_t* image2,
                               std::pmr::memory_resource* memory)
    : width_(grid.width),
      columns_(grid.columns),
      table_(memory),
      colKey_(memory),
      rowKey_(memory),
      colMask_(memory),
      rowMask_(memory) {
    colKey_.resize(grid.columns);
    rowKey_.resize(grid.rows);
    switch (familyOf(b)) {
        case Family::kImage1: setUpBytes(b, grid, image1); break;
        case Family::kImage2: setUpBytes(b, grid, image2); break;
        case Family::kRamp: setUpRamp(b, grid); break;
    }
}

ElementSampler::Family ElementSampler::familyOf(const SourceBinding& b) {
    const uint32_t kind = static_cast<uint32_t>(b.kind);
    if (kind >= kDiag1) return Family::kRamp;
    return kind < kRed2 ? Family::kImage1 : Family::kImage2;
}

uint64_t ElementSampler::memoryBytes(const SourceBinding& b, const ElementGrid& grid) {
    const uint64_t keys = arrayBytes<uint32_t>(grid.columns) + arrayBytes<uint32_t>(grid.rows);
    if (familyOf(b) != Family::kRamp) {
        return keys + arrayBytes<double>(kByteValues) + arrayBytes<uint8_t>(grid.columns) +
               arrayBytes<uint8_t>(grid.rows);
    }
    const uint32_t kind = static_cast<uint32_t>(b.kind);
    return keys + arrayBytes<double>(uint64_t{rampVariants(kind)} *
                                     rampSteps(kind, grid.width, grid.height));
}

uint32_t ElementSampler::columnX(const ElementGrid& grid, uint32_t k) {
    return (grid.columnsReversed ? grid.columns - 1 - k : k) * grid.cellWidth;
}

void ElementSampler::setUpBytes(const SourceBinding& b, const ElementGrid& grid,
                                const uint32_t* image) {
    const uint32_t kind = static_cast<uint32_t>(b.kind);
    const bool oddX = b.oddX != 0, oddY = b.oddY != 0, invert = b.invert != 0;
    family_ = familyOf(b);
    // Kinds 0..3 and 4..7 read bits 0..7 up to 24..31 of a work pixel:
    // its bytes 0 to 3 in memory.
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "work pixels are little-endian words");
    image_ = reinterpret_cast<const uint8_t*>(image) + (kind & 3u);
    table_.resize(kByteValues);
    for (int v = 0; v < kByteValues; ++v) table_[v] = v;
    colMask_.resize(grid.columns);
    rowMask_.resize(grid.rows);
    for (uint32_t k = 0; k < grid.columns; ++k) {
        const TileCoord t =
            tileCoord(columnX(grid, k), static_cast<uint32_t>(b.repeatX), grid.width, oddX);
        colKey_[k] = t.pos;
        colMask_[k] = t.odd ? 255 : 0;
    }
    for (uint32_t j = 0; j < grid.rows; ++j) {
        const TileCoord t =
            tileCoord(j * grid.cellHeight, static_cast<uint32_t>(b.repeatY), grid.height, oddY);
        rowKey_[j] = t.pos * grid.width;
        rowMask_[j] = (t.odd != invert) ? 255 : 0;  // the XORs commute
    }
}

// Every kind but the bytes is a function of (column part + row part) and of
// how many value flips the tile applies (0, 1 or 2): tabulate them all.
void ElementSampler::setUpRamp(const SourceBinding& b, const ElementGrid& grid) {
    const uint32_t kind = static_cast<uint32_t>(b.kind);
    const uint32_t repeatX = static_cast<uint32_t>(b.repeatX);
    const uint32_t repeatY = static_cast<uint32_t>(b.repeatY);
    const bool oddX = b.oddX != 0, oddY = b.oddY != 0;
    const uint32_t W = grid.width, H = grid.height;
    family_ = familyOf(b);
    const bool mirrored = kind == kDiag1S || kind == kDiag2S;
    const uint32_t len = tabulateRamp(kind, b.invert != 0, W, H);
    // Mirrored kinds reflect the coordinates of odd tiles instead of the value.
    for (uint32_t k = 0; k < grid.columns; ++k) {
        const TileCoord t = tileCoord(columnX(grid, k), repeatX, W, oddX);
        const uint32_t xs = (mirrored && t.odd) ? W - t.pos : t.pos;
        uint32_t part = 0;
        switch (kind) {
            case kDiag1:
            case kDiag1S:
            case kGradX: part = xs; break;
            case kDiag2:
            case kDiag2S: part = W - xs; break;
            default: break;
        }
        colKey_[k] = part + ((t.odd && !mirrored) ? len : 0u);
    }
    for (uint32_t j = 0; j < grid.rows; ++j) {
        const TileCoord t = tileCoord(j * grid.cellHeight, repeatY, H, oddY);
        const uint32_t ys = (mirrored && t.odd) ? H - t.pos : t.pos;
        uint32_t part = 0;
        switch (kind) {
            case kDiag1:
            case kDiag1S:
            case kDiag2:
            case kDiag2S:
            case kGradY: part = ys; break;
            default: break;
        }
        rowKey_[j] = part + ((t.odd && !mirrored) ? len : 0u);
    }
}

// The ramp's values for every step, once per number of flips; returns the
// steps a flip variant takes.
uint32_t ElementSampler::tabulateRamp(uint32_t kind, bool invert, uint32_t W, uint32_t H) {
    const uint32_t len = rampSteps(kind, W, H);
    const uint32_t flipVariants = rampVariants(kind);
    table_.resize(static_cast<size_t>(flipVariants) * len);
    const double extent = static_cast<double>(W + H);
    for (uint32_t s = 0; s < len; ++s) {
        if (kind > kBlack) {
            uint32_t iv = H;
            for (uint32_t flips = 0; flips < flipVariants; ++flips) {
                const uint32_t v = invert ? iv ^ 255u : iv;
                table_[flips * len + s] = static_cast<double>(v & 255u);
                iv ^= 255u;
            }
            continue;
        }
        double v;
        switch (kind) {
            case kGradX: v = static_cast<double>(s) * 255.0 / static_cast<double>(W); break;
            case kGradY: v = static_cast<double>(s) * 255.0 / static_cast<double>(H); break;
            case kBlack: v = 0.0; break;
            default: v = static_cast<double>(s) * 255.0 / extent; break;
        }
        // Each flip is 255 - v applied anew: a double round trip through
        // 255 - v need not give v back.
        for (uint32_t flips = 0; flips < flipVariants; ++flips) {
            table_[flips * len + s] = invert ? 255.0 - v : v;
            v = 255.0 - v;
        }
    }
    return len;
}

uint32_t ElementSampler::rampSteps(uint32_t kind, uint32_t W, uint32_t H) {
    switch (kind) {
        case kGradX: return W;
        case kGradY: return H;
        case kDiag1:
        case kDiag1S:
        case kDiag2:
        case kDiag2S: return W + H + 1;
        default: return 1;  // "Black" and the kinds above it are constant
    }
}

// Mirrored kinds reflect the coordinates of odd tiles, not the value.
uint32_t ElementSampler::rampVariants(uint32_t kind) {
    return kind == kDiag1S || kind == kDiag2S ? 1 : 3;
}

double ElementSampler::value(uint32_t k, uint32_t j) const {
    if (family_ == Family::kRamp) return table_[rowKey_[j] + colKey_[k]];
    return byteRow(j).at(k);
}

const double* ElementSampler::gatherRow(uint32_t j, double* scratch, uint32_t begin,
                                        uint32_t end) const {
    if (family_ == Family::kRamp) return table_.data() + rowKey_[j];
    const ByteRow r = byteRow(j);
    for (uint32_t k = begin; k < end; ++k) scratch[k] = r.at(k);
    return scratch;
}

}  // namespace granulix
