#include "test_pictures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <dlfcn.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "plugin_abi.h"
#include "program_runner.h"

namespace granulix::testing {

namespace {

void check(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what);
}

struct LoadedModule {
    void* handle;
    abi::GetDefaultFn getDefault;
    abi::ApplyEffectFn apply;

    LoadedModule() {
        handle = dlopen(GRANULIX_MODULE, RTLD_NOW | RTLD_LOCAL);
        check(handle != nullptr, "cannot load the module");
        getDefault = reinterpret_cast<abi::GetDefaultFn>(dlsym(handle, "vxDLLGetDefault"));
        apply = reinterpret_cast<abi::ApplyEffectFn>(dlsym(handle, "vxDLLApplyEffect"));
        check(getDefault && apply, "the module lacks an export");
    }
};

const LoadedModule& module() {
    static const LoadedModule loaded;
    return loaded;
}

// Bottom-up rows of 3 bytes a pixel (blue, green, red), padded to 4 bytes.
std::vector<uint8_t> toHostRows(const Picture& p) {
    const std::size_t stride = abi::hostRowBytes(uint64_t(p.width));
    std::vector<uint8_t> rows(stride * std::size_t(p.height), 0);
    for (int32_t line = 0; line < p.height; ++line) {
        uint8_t* to = rows.data() + stride * std::size_t(p.height - 1 - line);
        const uint8_t* from = p.rgb.data() + std::size_t(line) * std::size_t(p.width) * 3;
        for (int32_t x = 0; x < p.width; ++x) {
            to[3 * x + 0] = from[3 * x + 2];
            to[3 * x + 1] = from[3 * x + 1];
            to[3 * x + 2] = from[3 * x + 0];
        }
    }
    return rows;
}

Picture fromHostRows(const std::vector<uint8_t>& rows, int32_t width, int32_t height) {
    const std::size_t stride = abi::hostRowBytes(uint64_t(width));
    Picture p{width, height, std::vector<uint8_t>(std::size_t(width) * std::size_t(height) * 3)};
    for (int32_t line = 0; line < height; ++line) {
        const uint8_t* from = rows.data() + stride * std::size_t(height - 1 - line);
        uint8_t* to = p.rgb.data() + std::size_t(line) * std::size_t(width) * 3;
        for (int32_t x = 0; x < width; ++x) {
            to[3 * x + 0] = from[3 * x + 2];
            to[3 * x + 1] = from[3 * x + 1];
            to[3 * x + 2] = from[3 * x + 0];
        }
    }
    return p;
}

}  // namespace

Picture randomPicture(int32_t width, int32_t height, uint32_t seed) {
    std::mt19937 g(seed);
    Picture p{width, height, std::vector<uint8_t>(std::size_t(width) * std::size_t(height) * 3)};
    for (uint8_t& b : p.rgb) b = uint8_t(g());
    return p;
}

void writePng(const std::string& path, const Picture& picture) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    AVFrame* f = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    c->width = picture.width;
    c->height = picture.height;
    c->pix_fmt = AV_PIX_FMT_RGB24;
    c->time_base = AVRational{1, 1};
    check(avcodec_open2(c, codec, nullptr) >= 0, "png encoder");
    f->format = AV_PIX_FMT_RGB24;
    f->width = picture.width;
    f->height = picture.height;
    check(av_frame_get_buffer(f, 0) >= 0, "png frame");
    for (int32_t y = 0; y < picture.height; ++y) {
        std::memcpy(f->data[0] + std::ptrdiff_t(f->linesize[0]) * y,
                    picture.rgb.data() + std::size_t(y) * std::size_t(picture.width) * 3,
                    std::size_t(picture.width) * 3);
    }
    check(avcodec_send_frame(c, f) >= 0 && avcodec_receive_packet(c, pkt) >= 0, "png encoding");
    writeBytes(path, std::vector<uint8_t>(pkt->data, pkt->data + pkt->size));
    av_packet_free(&pkt);
    av_frame_free(&f);
    avcodec_free_context(&c);
}

Picture readPng(const std::string& path) {
    std::vector<uint8_t> bytes = readBytes(path);
    check(!bytes.empty(), "no file " + path);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_PNG);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    AVFrame* f = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    check(avcodec_open2(c, codec, nullptr) >= 0, "png decoder");
    check(av_new_packet(pkt, int(bytes.size())) >= 0, "png packet");
    std::memcpy(pkt->data, bytes.data(), bytes.size());
    check(avcodec_send_packet(c, pkt) >= 0 && avcodec_receive_frame(c, f) >= 0, "png decoding " + path);
    check(f->format == AV_PIX_FMT_RGB24, "not an 8-bit RGB png: " + path);
    Picture p{f->width, f->height, std::vector<uint8_t>(std::size_t(f->width) * std::size_t(f->height) * 3)};
    for (int32_t y = 0; y < p.height; ++y) {
        std::memcpy(p.rgb.data() + std::size_t(y) * std::size_t(p.width) * 3,
                    f->data[0] + std::ptrdiff_t(f->linesize[0]) * y, std::size_t(p.width) * 3);
    }
    av_packet_free(&pkt);
    av_frame_free(&f);
    avcodec_free_context(&c);
    return p;
}

VideoFacts probeVideo(const std::string& path) {
    VideoFacts facts;
    AVFormatContext* fmt = nullptr;
    check(avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) >= 0, "cannot open " + path);
    check(avformat_find_stream_info(fmt, nullptr) >= 0, "no stream info in " + path);
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    check(stream >= 0 && codec, "no video in " + path);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(c, fmt->streams[stream]->codecpar);
    check(avcodec_open2(c, codec, nullptr) >= 0, "no decoder for " + path);
    facts.codec = codec->name;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* f = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(c, f) >= 0) {
            ++facts.frames;
            facts.width = f->width;
            facts.height = f->height;
        }
    };
    while (av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == stream) avcodec_send_packet(c, pkt);
        av_packet_unref(pkt);
        drain();
    }
    avcodec_send_packet(c, nullptr);
    drain();
    av_frame_free(&f);
    av_packet_free(&pkt);
    avcodec_free_context(&c);
    avformat_close_input(&fmt);
    return facts;
}

Picture renderDirectly(const Picture& a, const Picture& b, float progress, int32_t fieldMode,
                       const ModuleRegion& region, const EffectSettings& settings) {
    const std::vector<uint8_t> rowsA = toHostRows(a), rowsB = toHostRows(b);
    std::vector<uint8_t> rowsOut(rowsA.size(), 0);
    abi::FrameHeader header{};
    header.size = sizeof header;
    header.width = a.width;
    header.height = a.height;
    header.planes = 1;
    header.bitCount = 24;
    EffectSettings block = settings;
    abi::RenderRequest request{};
    request.output = rowsOut.data();
    request.header = &header;
    request.clipA = rowsA.data();
    request.clipB = rowsB.data();
    request.progress = progress;
    request.regionX = region.x;
    request.regionY = region.y;
    request.regionWidth = region.width;
    request.regionHeight = region.height;
    request.settings = reinterpret_cast<uint8_t*>(&block);
    check(module().apply(1, &request, fieldMode) == 1, "the module refused a render request");
    return fromHostRows(rowsOut, a.width, a.height);
}

EffectSettings moduleDefaults() {
    EffectSettings s;
    std::memset(&s, 0, sizeof s);
    module().getDefault(reinterpret_cast<uint8_t*>(&s));
    return s;
}

}  // namespace granulix::testing
