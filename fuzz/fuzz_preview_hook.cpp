// The preview hook and the setup call around it, with a fake host whose
// frame-fetch callback answers what the fuzzer chooses: no frames at all,
// null for a clip, or frames of any bit count, size and row padding, clip A
// and clip B each their own.
//
// A frame is allocated at exactly the size its own header and padding give
// (for its own bit count), so the module reading a frame it should have
// refused, or reading past one it took, shows up under AddressSanitizer.
// Checked: the order of the callback operations, that a refused fetch keeps
// the preview frames as they were, that host frames are only read, that the
// output holds only clip pixels, and that a whole setup call gives back every
// block and touches the host's settings only on OK.
#include <cstdint>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "fuzz_inputs.h"
#include "moveable_memory.h"
#include "plugin_abi.h"
#include "render_call.h"
#include "render_job.h"
#include "setup_call.h"

namespace {

using namespace granulix;
using fuzz::check;

constexpr uint64_t kFrameCap = 256 * 1024;  // bytes of one host frame

struct Call {
    int32_t track, position, operation;
};

// What the fake host hands out, and what it was asked.
struct FakeHost {
    intptr_t prepareResult = 0;
    std::vector<uint8_t> frames[2];  // empty: operation 4 returns null
    std::vector<uint8_t> framesBefore[2];
    std::vector<Call> calls;
};
FakeHost* fakeHost = nullptr;

intptr_t GRANULIX_STDCALL fakeFetch(int32_t track, uint32_t, int32_t position, int32_t operation) {
    fakeHost->calls.push_back({track, position, operation});
    if (operation == abi::kFetchPrepare) return fakeHost->prepareResult;
    if (operation != abi::kFetchFrame) return 0;
    std::vector<uint8_t>& frame = fakeHost->frames[track == abi::kTrackClipB ? 1 : 0];
    return frame.empty() ? 0 : reinterpret_cast<intptr_t>(frame.data());
}

// A packed bitmap as the fake host lays it out: its header, then rows of its
// own bit count padded to 4 bytes plus `extraPadding` words. Dimensions that
// would not fit the cap are folded into it; a frame the module must refuse
// keeps its header as chosen and gets the bytes its own layout needs.
std::vector<uint8_t> makeFrame(const fuzz::FakeFrame& f, const uint8_t* noise, size_t noiseSize,
                               bool& usable) {
    if (!f.present) {
        usable = false;
        return {};
    }
    int32_t width = f.width, height = f.height;
    usable = f.bitCount == 24 && width > 0 && height > 0;
    const auto rowBytes = [&](int64_t w) {
        return w > 0 ? (uint64_t(w) * f.bitCount + 31) / 32 * 4 + 4 * uint64_t(f.extraPadding % 4)
                     : 0;
    };
    uint64_t bytes = 40 + rowBytes(width) * uint64_t(height > 0 ? height : 0);
    if (bytes > kFrameCap) {
        if (!usable) {
            bytes = 40;
        } else {
            width = 1 + width % 700;
            height = 1 + height % 90;
            bytes = 40 + rowBytes(width) * uint64_t(height);
        }
    }
    std::vector<uint8_t> frame(static_cast<size_t>(bytes));
    fuzz::fillNoise(frame.data(), frame.size(), noise, noiseSize);
    const abi::FrameHeader header = abi::hostFrameHeader(width, height, f.bitCount);
    std::memcpy(frame.data(), &header, sizeof header);
    return frame;
}

// The preview frames of a job, copied.
struct PreviewFrames {
    std::vector<uint32_t> a, b, out;
    explicit PreviewFrames(const RenderJob& job) {
        const size_t n = size_t(job.width) * size_t(job.height);
        a.assign(job.pixelsA, job.pixelsA + n);
        b.assign(job.pixelsB, job.pixelsB + n);
        out.assign(job.pixelsOut, job.pixelsOut + n);
    }
    bool operator==(const PreviewFrames& o) const { return a == o.a && b == o.b && out == o.out; }
};

// One fetchPreview through the job, checked.
void fetchAndCheck(RenderJob& job, uint32_t position, bool usable) {
    const PreviewFrames before(job);
    fakeHost->calls.clear();
    const int result = job.fetchPreview(position, &job);

    const std::vector<Call>& calls = fakeHost->calls;
    if (fakeHost->prepareResult == 0) {
        check(calls.size() == 1 && calls[0].operation == abi::kFetchPrepare,
              "no frames: nothing asked after operation 2");
    } else {
        check(calls.size() == 4, "prepare, clip A, clip B, release");
        check(calls[0].operation == abi::kFetchPrepare && calls[0].track == abi::kTrackClipA,
              "operation 2 first, on track 0");
        check(calls[1].operation == abi::kFetchFrame && calls[1].track == abi::kTrackClipA &&
                  calls[1].position == int32_t(position),
              "clip A from track 0 at the position");
        check(calls[2].operation == abi::kFetchFrame && calls[2].track == abi::kTrackClipB &&
                  calls[2].position == int32_t(position),
              "clip B from track 2 at the position");
        check(calls[3].operation == abi::kFetchRelease, "operation 3 last");
    }
    check(result == (usable && fakeHost->prepareResult != 0 ? 1 : 0),
          "the hook succeeds exactly when both frames are usable");
    for (int i = 0; i < 2; ++i)
        check(fakeHost->frames[i] == fakeHost->framesBefore[i], "host frames are only read");
    if (result == 0) {
        check(PreviewFrames(job) == before, "a refused fetch keeps the preview frames");
        return;
    }
    const PreviewFrames after(job);
    const std::unordered_set<uint32_t> fromA(after.a.begin(), after.a.end());
    for (size_t i = 0; i < after.out.size(); ++i) {
        check((after.a[i] >> 24) == 0 && (after.b[i] >> 24) == 0,
              "work pixels have a zero top byte");
        check(after.out[i] == after.b[i] || fromA.count(after.out[i]) != 0,
              "every preview pixel is clip B's own or one of clip A's");
    }
}

// The dialog as the fuzzer plays it: some preview fetches, then an answer.
class FuzzedDialog : public SetupDialogRunner {
public:
    const fuzz::PreviewInput& in;
    bool usable;
    explicit FuzzedDialog(const fuzz::PreviewInput& input, bool usableFrames)
        : in(input), usable(usableFrames) {}
    int32_t run(void*, RenderJob& job) override {
        check(currentSetupJob == &job, "the job is published while the dialog runs");
        for (int i = 0; i < in.hookCalls % 4; ++i) {
            const uint32_t n = job.duration ? job.duration : 1;
            job.position = in.positions[i % 3] % n;
            fetchAndCheck(job, job.position, usable);
        }
        std::memcpy(job.settings, in.settings, kSettingsSize);  // the user's edits
        return in.dialogAnswer;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* noise;
    size_t noiseSize;
    const auto in = fuzz::readRecord<fuzz::PreviewInput>(data, size, &noise, &noiseSize);

    FakeHost fake;
    fakeHost = &fake;
    fake.prepareResult = in.prepareResult;
    bool usableA, usableB;
    fake.frames[0] = makeFrame(in.clipA, noise, noiseSize / 2, usableA);
    fake.frames[1] = makeFrame(in.clipB, noise + noiseSize / 2, noiseSize - noiseSize / 2, usableB);
    fake.framesBefore[0] = fake.frames[0];
    fake.framesBefore[1] = fake.frames[1];
    const bool usable = usableA && usableB;

    abi::SetupRequest request{};
    request.frameCount = in.frameCount;
    request.context = 0x5EED;
    request.fetch = fakeFetch;
    std::vector<uint8_t> hostSettings(kSettingsSize);
    fuzz::fillNoise(hostSettings.data(), hostSettings.size(), nullptr, 0);
    request.settings = hostSettings.data();

    if (in.wholeCall % 2) {
        const std::vector<uint8_t> before = hostSettings;
        const int64_t blocks = host::outstandingBlocks();
        host::ModuleMemory memory;
        FuzzedDialog dialog(in, usable);
        const int32_t result = runSetupCall(request, 0, {memory, in.baseUnits, dialog});
        check(currentSetupJob == nullptr, "the job is withdrawn when the call returns");
        check(host::outstandingBlocks() == blocks, "every block is given back");
        check(result == (in.dialogAnswer == 1 ? 1 : 0), "1 exactly for OK");
        if (result == 1) {
            check(std::memcmp(hostSettings.data(), in.settings, kSettingsSize) == 0,
                  "OK writes the edited copy back");
        } else {
            check(hostSettings == before, "anything but OK leaves the host's settings alone");
        }
    } else {
        // The hook alone on a small job, its frames holding what a previous
        // preview left there.
        const int32_t w = 1 + in.jobWidth % 64, h = 1 + in.jobHeight % 64;
        const size_t n = size_t(w) * size_t(h);
        std::vector<uint32_t> a(n), b(n), out(n);
        for (size_t i = 0; i < n; ++i) {
            a[i] = uint32_t(i * 2654435761u) & 0xFFFFFF;
            b[i] = uint32_t(i * 40503u + 7) & 0xFFFFFF;
            out[i] = b[i];
        }
        EffectSettings settings;
        std::memcpy(&settings, in.settings, kSettingsSize);
        RenderJob job;
        job.duration = in.frameCount > 0 ? uint32_t(in.frameCount) : 0;
        job.width = w;
        job.height = h;
        job.regionWidth = uint32_t(w);
        job.regionHeight = uint32_t(h);
        job.bitCount = 24;
        job.pixelsA = a.data();
        job.pixelsB = b.data();
        job.pixelsOut = out.data();
        job.settings = &settings;
        job.host = &request;
        job.fetchPreview = previewHook;
        job.position = in.positions[0];
        fetchAndCheck(job, job.position, usable);
    }
    fakeHost = nullptr;
    return 0;
}
