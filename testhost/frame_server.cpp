#include "frame_server.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "render_call.h"

namespace granulix::testhost {

namespace {

int clampByte(int v) { return std::clamp(v, 0, 255); }

void putU16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void putU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t getU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t getU16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

std::vector<uint8_t> packedHeader(int32_t width, int32_t height) {
    const abi::FrameHeader header = abi::hostFrameHeader(width, height);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
    return std::vector<uint8_t>(bytes, bytes + sizeof header);
}

// Contexts are 32-bit values, so servers are found through a table, not by
// their address.
std::mutex registryMutex;
std::vector<FrameServer*> registry;
uint32_t nextContext = 0x51C0;

}  // namespace

uint32_t generatedPixel(int look, int32_t x, int32_t y, int32_t position, int32_t width,
                        int32_t height) {
    int r, g, b;
    if (look == 0) {
        // Warm rings around a centre that drifts to the right over time.
        const double cx = width / 4.0 + position * width / 150.0, cy = height / 2.0;
        const int ring = int(std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)) / 9.0);
        const bool light = ring % 2 == 0;
        r = 205 + (light ? 50 : 0) - y * 60 / height;
        g = 70 + x * 130 / width - (light ? 0 : 40);
        b = light ? 60 : 25;
    } else {
        // A cool chequerboard that slides to the left over time.
        const bool light = ((x + 2 * position) / 16 + y / 16) % 2 == 0;
        r = 20 + x * 70 / width;
        g = 90 + y * 110 / height - (light ? 0 : 50);
        b = light ? 235 : 150;
    }
    return uint32_t(clampByte(r)) << 16 | uint32_t(clampByte(g)) << 8 | uint32_t(clampByte(b));
}

Clip Clip::generated(int32_t width, int32_t height, int look) {
    if (width <= 0 || height <= 0) throw std::invalid_argument("clip size must be positive");
    Clip c;
    c.width_ = width;
    c.height_ = height;
    c.look_ = look;
    return c;
}

Clip Clip::fromBmp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot open");
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M')
        throw std::runtime_error(path + ": not a BMP file");
    const uint32_t pixelOffset = getU32(&file[10]);
    const int32_t width = int32_t(getU32(&file[18]));
    const int32_t rawHeight = int32_t(getU32(&file[22]));
    const uint16_t bitCount = getU16(&file[28]);
    const uint32_t compression = getU32(&file[30]);
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN || width > 16384 ||
        std::abs(rawHeight) > 16384)
        throw std::runtime_error(path + ": unusable picture size");
    if ((bitCount != 24 && bitCount != 32) || compression != 0)
        throw std::runtime_error(path + ": only uncompressed 24- or 32-bit BMP files are served");
    const int32_t height = std::abs(rawHeight);
    const uint64_t srcRow = (uint64_t(width) * bitCount / 8 + 3) & ~uint64_t{3};
    if (pixelOffset > file.size() || file.size() - pixelOffset < srcRow * uint64_t(height))
        throw std::runtime_error(path + ": file is shorter than its picture");

    Clip c;
    c.width_ = width;
    c.height_ = height;
    const uint64_t dstRow = abi::hostRowBytes(uint64_t(width));
    c.still_.assign(size_t(dstRow * uint64_t(height)), 0);
    for (int32_t row = 0; row < height; ++row) {
        // Served bottom-up whatever the file's row order.
        const int32_t fileRow = rawHeight > 0 ? row : height - 1 - row;
        const uint8_t* src = &file[size_t(pixelOffset + srcRow * uint64_t(fileRow))];
        uint8_t* dst = &c.still_[size_t(dstRow * uint64_t(row))];
        for (int32_t x = 0; x < width; ++x) std::memcpy(dst + 3 * x, src + x * (bitCount / 8), 3);
    }
    return c;
}

std::vector<uint8_t> Clip::frameAt(int32_t position) const {
    std::vector<uint8_t> frame = packedHeader(width_, height_);
    if (!still_.empty()) {
        frame.insert(frame.end(), still_.begin(), still_.end());
        return frame;
    }
    const uint64_t rowBytes = abi::hostRowBytes(uint64_t(width_));
    frame.resize(size_t(40 + rowBytes * uint64_t(height_)), 0);
    for (int32_t y = 0; y < height_; ++y) {
        uint8_t* row = &frame[size_t(40 + rowBytes * uint64_t(y))];
        for (int32_t x = 0; x < width_; ++x) {
            const uint32_t p = generatedPixel(look_, x, y, position, width_, height_);
            row[3 * x] = uint8_t(p);
            row[3 * x + 1] = uint8_t(p >> 8);
            row[3 * x + 2] = uint8_t(p >> 16);
        }
    }
    return frame;
}

FrameServer::FrameServer(Clip a, Clip b) : a_(std::move(a)), b_(std::move(b)) {
    std::lock_guard<std::mutex> lock(registryMutex);
    context_ = nextContext++;
    registry.push_back(this);
}

FrameServer::~FrameServer() {
    std::lock_guard<std::mutex> lock(registryMutex);
    registry.erase(std::remove(registry.begin(), registry.end(), this), registry.end());
}

void FrameServer::setFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
}

std::vector<FetchCall> FrameServer::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

void FrameServer::clearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

std::size_t FrameServer::framesOutstanding() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handedOut_.size();
}

intptr_t GRANULIX_STDCALL FrameServer::fetch(int32_t track, uint32_t context, int32_t position,
                                             int32_t operation) {
    FrameServer* server = nullptr;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        for (FrameServer* s : registry)
            if (s->context_ == context) server = s;
    }
    if (!server) return 0;
    try {
        return server->answer(track, position, operation);
    } catch (...) {
        return 0;
    }
}

intptr_t FrameServer::answer(int32_t track, int32_t position, int32_t operation) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({track, context_, position, operation});
    if (log_)
        log_("fetch track " + std::to_string(track) + " position " + std::to_string(position) +
             " operation " + std::to_string(operation));
    switch (operation) {
        case abi::kFetchPrepare: return faults_.refusePrepare ? 0 : 1;
        case abi::kFetchFrame: {
            const bool clipA = track == abi::kTrackClipA;
            if (!clipA && track != abi::kTrackClipB) return 0;
            if (clipA ? faults_.nullFrameA : faults_.nullFrameB) return 0;
            std::vector<uint8_t> frame = (clipA ? a_ : b_).frameAt(position);
            putU16(&frame[14], clipA ? faults_.bitCountA : faults_.bitCountB);
            if (clipA && faults_.zeroSizeA) putU32(&frame[4], 0);
            if (!clipA && faults_.negativeHeightB)
                putU32(&frame[8], uint32_t(-(clipA ? a_ : b_).height()));
            handedOut_.push_back(std::move(frame));
            return reinterpret_cast<intptr_t>(handedOut_.back().data());
        }
        case abi::kFetchRelease: handedOut_.clear(); return 1;
        default: return 0;
    }
}

void writeBmp(const std::string& path, const std::vector<uint8_t>& packedFrame) {
    if (packedFrame.size() < 40) throw std::invalid_argument("not a packed frame");
    std::vector<uint8_t> file(14);
    file[0] = 'B';
    file[1] = 'M';
    putU32(&file[2], uint32_t(14 + packedFrame.size()));
    putU32(&file[10], 54);
    file.insert(file.end(), packedFrame.begin(), packedFrame.end());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    if (!out) throw std::runtime_error(path + ": cannot write");
}

}  // namespace granulix::testhost
