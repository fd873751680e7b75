#include "test_pictures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "module_loader.h"
#include "plugin_abi.h"
#include "render_call.h"
#include "program_runner.h"

namespace granulix::testing {

namespace {

void check(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what);
}

const ModuleLibrary& module() {
    static const ModuleLibrary loaded(GRANULIX_MODULE);
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
    check(avcodec_send_packet(c, pkt) >= 0 && avcodec_receive_frame(c, f) >= 0,
          "png decoding " + path);
    check(f->format == AV_PIX_FMT_RGB24, "not an 8-bit RGB png: " + path);
    Picture p{f->width, f->height,
              std::vector<uint8_t>(std::size_t(f->width) * std::size_t(f->height) * 3)};
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
    const ProgramRun run = runProgram({"ffprobe", "-v", "error", "-count_frames", "-select_streams",
                                       "v:0", "-show_entries",
                                       "stream=codec_name,width,height,pix_fmt,r_frame_rate,nb_"
                                       "read_frames,color_range,color_space,"
                                       "color_transfer,color_primaries:stream_side_data=rotation:"
                                       "format=duration",
                                       "-of", "default=noprint_wrappers=1", path});
    check(run.status == 0, "ffprobe " + path + ": " + run.errors);
    VideoFacts facts;
    std::string colour[4];
    const std::string text(run.output.begin(), run.output.end());
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "codec_name") facts.codec = value;
        if (key == "pix_fmt") facts.pixelFormat = value;
        if (key == "r_frame_rate") facts.rate = value;
        if (key == "width") facts.width = std::stoi(value);
        if (key == "height") facts.height = std::stoi(value);
        if (key == "nb_read_frames") facts.frames = std::stoi(value);
        if (key == "rotation") facts.rotation = std::stoi(value);
        if (key == "duration" && value != "N/A") facts.duration = std::stod(value);
        const char* const colourKeys[4] = {"color_range", "color_space", "color_transfer",
                                           "color_primaries"};
        for (int i = 0; i < 4; ++i) {
            if (key == colourKeys[i]) colour[i] = value;
        }
    }
    facts.colour = colour[0] + "/" + colour[1] + "/" + colour[2] + "/" + colour[3];
    return facts;
}

void writeClip(const std::string& path, const std::vector<Picture>& pictures, int rateNum,
               int rateDen, int clockwiseTurn) {
    check(!pictures.empty(), "a clip needs pictures");
    AVFormatContext* fmt = nullptr;
    check(avformat_alloc_output_context2(&fmt, nullptr, "mov", path.c_str()) >= 0, "mov muxer");
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->width = pictures[0].width;
    c->height = pictures[0].height;
    c->pix_fmt = AV_PIX_FMT_RGB24;
    c->time_base = AVRational{rateDen, rateNum};
    check(avcodec_open2(c, codec, nullptr) >= 0, "png encoder");
    AVStream* st = avformat_new_stream(fmt, nullptr);
    avcodec_parameters_from_context(st->codecpar, c);
    st->time_base = c->time_base;
    st->avg_frame_rate = AVRational{rateNum, rateDen};
    if (clockwiseTurn != 0) {
        uint8_t* matrix =
            av_stream_new_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t));
        check(matrix != nullptr, "display matrix");
        av_display_rotation_set(reinterpret_cast<int32_t*>(matrix),
                                clockwiseTurn);  // set counts clockwise
    }
    check(avio_open(&fmt->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0, "cannot create " + path);
    check(avformat_write_header(fmt, nullptr) >= 0, "mov header");
    AVFrame* f = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    f->format = AV_PIX_FMT_RGB24;
    f->width = c->width;
    f->height = c->height;
    check(av_frame_get_buffer(f, 0) >= 0, "clip frame");
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        for (int32_t y = 0; y < f->height; ++y) {
            std::memcpy(f->data[0] + std::ptrdiff_t(f->linesize[0]) * y,
                        pictures[i].rgb.data() + std::size_t(y) * std::size_t(f->width) * 3,
                        std::size_t(f->width) * 3);
        }
        f->pts = int64_t(i);
        check(avcodec_send_frame(c, f) >= 0 && avcodec_receive_packet(c, pkt) >= 0, "png encoding");
        pkt->duration = 1;
        av_packet_rescale_ts(pkt, c->time_base, st->time_base);
        check(av_interleaved_write_frame(fmt, pkt) >= 0, "clip packet");
    }
    check(av_write_trailer(fmt) >= 0, "clip trailer");
    avio_closep(&fmt->pb);
    av_packet_free(&pkt);
    av_frame_free(&f);
    avcodec_free_context(&c);
    avformat_free_context(fmt);
}

Picture turnedClockwise(const Picture& p) {
    Picture t{p.height, p.width, std::vector<uint8_t>(p.rgb.size())};
    for (int32_t y = 0; y < t.height; ++y) {
        for (int32_t x = 0; x < t.width; ++x) {
            // The bottom-left of the picture comes to the top-left.
            const int32_t column = y, row = p.height - 1 - x;
            std::memcpy(&t.rgb[(std::size_t(y) * t.width + x) * 3],
                        &p.rgb[(std::size_t(row) * p.width + column) * 3], 3);
        }
    }
    return t;
}

Picture renderDirectly(const Picture& a, const Picture& b, float progress, int32_t fieldMode,
                       const ModuleRegion& region, const EffectSettings& settings) {
    const std::vector<uint8_t> rowsA = toHostRows(a), rowsB = toHostRows(b);
    std::vector<uint8_t> rowsOut(rowsA.size(), 0);
    const abi::FrameHeader header = abi::hostFrameHeader(a.width, a.height);
    EffectSettings block = settings;
    abi::RenderRequest request =
        abi::renderRequest(header, {rowsA.data(), rowsB.data(), rowsOut.data()}, progress,
                           reinterpret_cast<uint8_t*>(&block), region);
    check(module().applyEffect(1, &request, fieldMode) == 1, "the module refused a render request");
    return fromHostRows(rowsOut, a.width, a.height);
}

EffectSettings moduleDefaults() {
    EffectSettings s;
    std::memset(&s, 0, sizeof s);
    module().getDefault(reinterpret_cast<uint8_t*>(&s));
    return s;
}

}  // namespace granulix::testing
