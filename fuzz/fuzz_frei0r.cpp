// The frei0r plug-in as MLT or GStreamer drives it: a file name and any
// parameter values set on an instance of any size, then one frame rendered.
//
// Checked: every value read back lies in 0..1 and is what the value set
// maps to (held to the ends, NaN leaving the field alone); the frame is
// the module's own picture of the same clips, settings and progress, with
// rows and channels mapped and full alpha.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "frei0r_mixer.h"
#include "fuzz_inputs.h"
#include "plugin_abi.h"
#include "render_call.h"
#include "settings_file.h"

extern "C" {
#include <frei0r.h>
int32_t vxDLLApplyEffect(int32_t kind, void* record, int32_t fieldMode);
}

namespace {

using namespace granulix;
using fuzz::check;

// The file that holds an input's tail; one per process, removed at exit.
struct ScratchFile {
    std::string path = "/tmp/fuzz_frei0r_" + std::to_string(getpid()) + ".qlb";
    ~ScratchFile() { std::remove(path.c_str()); }
};
const std::string& scratchFile() {
    static const ScratchFile file;
    return file.path;
}

double getDouble(f0r_instance_t instance, int index) {
    double v = -1;
    f0r_get_param_value(instance, &v, index);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* tail;
    size_t tailSize;
    const auto in = fuzz::readRecord<fuzz::Frei0rInput>(data, size, &tail, &tailSize);
    const unsigned w = in.width % 40, h = in.height % 40;
    const int count = frei0r::parameterCount();

    f0r_instance_t instance = f0r_construct(w, h);
    check(instance != nullptr, "an instance of any small size is made");

    std::string file;
    if (in.file % 3 == 1) file = "/nonexistent/granulix.qlb";
    if (in.file % 3 == 2) {
        file = scratchFile();
        if (FILE* f = std::fopen(file.c_str(), "wb")) {
            std::fwrite(tail, 1, tailSize, f);
            std::fclose(f);
        }
    }
    const char* name = file.c_str();
    f0r_set_param_value(instance, &name, frei0r::kSettingsFileParam);
    // The settings a field set to its default falls back to.
    EffectSettings base{};
    fillDefaults(base);
    if (!file.empty()) loadSettingsFile(file, base);

    for (int i = 0; i < in.setCount % 9; ++i) {
        const int index = in.sets[i].index;
        double value = in.sets[i].value;
        // The file parameter takes a string: a double there is the host's fault.
        if (index == frei0r::kSettingsFileParam) continue;
        const bool numeric = index >= 0 && index < count;
        const double before = numeric ? getDouble(instance, index) : 0;
        f0r_set_param_value(instance, &value, index);
        if (!numeric) continue;
        const double after = getDouble(instance, index);
        check(after >= 0 && after <= 1, "a value read back lies in 0..1");
        if (index == frei0r::kProgressParam) {
            if (std::isnan(value))
                check(after == 0, "NaN progress counts as 0");
            else
                check(after == std::fmin(std::fmax(value, 0.0), 1.0), "progress is held to 0..1");
            continue;
        }
        const SettingsField& f =
            *frei0r::fieldParameters()[size_t(index - frei0r::kFirstFieldParam)];
        const int32_t wanted = frei0r::fieldFromUnit(f, value, frei0r::fieldFromUnit(f, before, 0));
        const int32_t inForce = wanted == f.defaultValue ? fieldValue(base, f) : wanted;
        check(after == frei0r::unitFromField(f, inForce),
              "a field reads back as the whole value in force");
        check(frei0r::fieldFromUnit(f, after, 0) == std::clamp(inForce, f.minimum, f.maximum),
              "a value read back maps to the value in force, held to the field's range");
        if (!std::isnan(value) && value <= 0)
            check(wanted == f.minimum, "low values hold to the minimum");
        if (!std::isnan(value) && value >= 1)
            check(wanted == f.maximum, "high values hold to the maximum");
    }

    const size_t pixels = size_t(w) * h;
    std::vector<uint32_t> a(pixels), b(pixels), out(pixels, 0x12345678u);
    fuzz::fillNoise(reinterpret_cast<uint8_t*>(a.data()), pixels * 4, tail, tailSize);
    fuzz::fillNoise(reinterpret_cast<uint8_t*>(b.data()), pixels * 4, nullptr, 0);
    f0r_update2(instance, 0.0, a.data(), b.data(), nullptr, out.data());

    if (pixels > 0) {
        // The same picture through the module: 24-bit rows, bottom line first.
        const size_t stride = size_t(abi::hostRowBytes(w));
        std::vector<uint8_t> hostA(stride * h), hostB(stride * h), hostOut(stride * h);
        for (size_t line = 0; line < h; ++line) {
            for (size_t x = 0; x < w; ++x) {
                const size_t at = (h - 1 - line) * stride + 3 * x;
                for (int c = 0; c < 3; ++c) {
                    hostA[at + c] = uint8_t(a[line * w + x] >> (8 * (2 - c)));
                    hostB[at + c] = uint8_t(b[line * w + x] >> (8 * (2 - c)));
                }
            }
        }
        EffectSettings settings = static_cast<frei0r::Mixer*>(instance)->settings();
        const abi::FrameHeader header = abi::hostFrameHeader(int32_t(w), int32_t(h));
        abi::RenderRequest request =
            abi::renderRequest(header, {hostA.data(), hostB.data(), hostOut.data()},
                               float(getDouble(instance, frei0r::kProgressParam)),
                               reinterpret_cast<uint8_t*>(&settings));
        check(vxDLLApplyEffect(1, &request, 0) == 1, "the module renders the same frame");
        for (size_t line = 0; line < h; ++line) {
            for (size_t x = 0; x < w; ++x) {
                const uint8_t* p = &hostOut[(h - 1 - line) * stride + 3 * x];
                const uint32_t expected =
                    0xFF000000u | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
                check(out[line * w + x] == expected, "the plug-in's pixel is the module's");
            }
        }
    }
    f0r_destruct(instance);
    return 0;
}
