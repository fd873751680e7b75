// The setup dialog as a host and its user see it: the module loaded by
// name, the dialog opened through vxDLLApplyEffect, and a second thread that
// moves the slider, presses keys and clicks buttons.
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <map>
#include <memory>

#include "dialog_test_support.h"
#include "effect_settings.h"
#include "frame_server.h"
#include "preview_geometry.h"
#include "renderer.h"
#include "resource.h"

namespace granulix {
namespace {

using testhost::Clip;
using testhost::FetchCall;
using testhost::FrameServer;
using testing::eventually;
using testing::withDialog;

const char kTitle[] = "Vozav Quodlibrator";

testhost::LoadedModule& theModule() {
    static testhost::LoadedModule module(testhost::programFolder() + "granulix.vfx");
    return module;
}

std::vector<uint8_t> hostSettings() {
    std::vector<uint8_t> block(kSettingsSize);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 13 + 5);
    theModule().getDefault(block.data());
    return block;
}

class SetupDialog : public ::testing::Test {
protected:
    void SetUp() override {
        GRANULIX_NEED_DISPLAY();
        host_ = std::make_unique<testhost::HostWindow>("Test host", 0, 0, 1000, 700);
    }

    // Opens the setup dialog for `frames` frames while `play` acts on it.
    int32_t open(int32_t frames, const std::function<void(HWND)>& play) {
        return withDialog(
            kTitle, host_->handle(),
            [&] {
                return testhost::runSetup(theModule(), host_->handle(), server_, frames,
                                          settings_.data());
            },
            play);
    }

    std::size_t callCount() const { return server_.calls().size(); }
    bool waitForCalls(std::size_t n) {
        return eventually(host_->handle(), [&] { return callCount() >= n; });
    }
    // The parameter pages ask for previews while they load, before the
    // dialog is shown: waits until the preview of the dialog's first paint
    // is in as well, so that no preview is still running afterwards.
    bool waitForFirstPaint(HWND dialog) {
        if (!eventually(dialog, [&] { return IsWindowVisible(dialog) != FALSE; })) return false;
        UpdateWindow(dialog);
        return testhost::settle(host_->handle());
    }

    std::unique_ptr<testhost::HostWindow> host_;
    FrameServer server_{Clip::generated(320, 240, 0), Clip::generated(320, 240, 1)};
    std::vector<uint8_t> settings_ = hostSettings();
};

// Every preview asks the host (0,0,2) (0,p,4) (2,p,4) (0,0,3), and the
// positions of those groups, in order.
std::vector<int32_t> previewPositions(const std::vector<FetchCall>& calls, uint32_t context) {
    std::vector<int32_t> positions;
    EXPECT_EQ(calls.size() % 4, 0u);
    for (std::size_t i = 0; i + 3 < calls.size(); i += 4) {
        const int32_t p = calls[i + 1].position;
        EXPECT_EQ(calls[i], (FetchCall{0, context, 0, 2})) << "call " << i;
        EXPECT_EQ(calls[i + 1], (FetchCall{0, context, p, 4})) << "call " << i + 1;
        EXPECT_EQ(calls[i + 2], (FetchCall{2, context, p, 4})) << "call " << i + 2;
        EXPECT_EQ(calls[i + 3], (FetchCall{0, context, 0, 3})) << "call " << i + 3;
        positions.push_back(p);
    }
    return positions;
}

TEST_F(SetupDialog, FirstPaintShowsFrameZeroAndCancelLeavesTheHostAlone) {
    const std::vector<uint8_t> before = settings_;
    const int32_t result = open(75, [&](HWND dialog) {
        EXPECT_TRUE(waitForCalls(4));
        HWND slider = GetDlgItem(dialog, IDC_TIMELINE);
        EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 0);
        testhost::click(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(settings_, before);
    const std::vector<int32_t> positions = previewPositions(server_.calls(), server_.context());
    ASSERT_FALSE(positions.empty());
    for (int32_t p : positions) EXPECT_EQ(p, 0);
    EXPECT_EQ(server_.framesOutstanding(), 0u);
}

TEST_F(SetupDialog, SliderOffersOnePositionPerFrameAndAtLeastOne) {
    // Reopening for a shorter transition shows only the new length.
    for (const auto& [frames, last] : {std::pair{75, 74}, std::pair{1, 0}, std::pair{0, 0}}) {
        int rangeMin = -1, rangeMax = -1;
        std::string label;
        open(frames, [&](HWND dialog) {
            HWND slider = GetDlgItem(dialog, IDC_TIMELINE);
            rangeMin = int(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0));
            rangeMax = int(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0));
            label = testhost::textOf(GetDlgItem(dialog, IDC_TIME_LABEL));
        });
        EXPECT_EQ(rangeMin, 0) << frames;
        EXPECT_EQ(rangeMax, last) << frames;
        EXPECT_EQ(label, timeLabelText(frames, 0)) << frames;
    }
}

TEST_F(SetupDialog, LabelFollowsTheSliderWithoutTracesOfEarlierFrames) {
    std::vector<std::string> labels;
    open(75, [&](HWND dialog) {
        HWND label = GetDlgItem(dialog, IDC_TIME_LABEL);
        HWND slider = GetDlgItem(dialog, IDC_TIMELINE);
        labels.push_back(testhost::textOf(label));
        testhost::scrollTo(dialog, IDC_TIMELINE, 10, TB_THUMBTRACK);
        labels.push_back(testhost::textOf(label));
        testhost::scrollTo(dialog, IDC_TIMELINE, 9, TB_THUMBTRACK);
        labels.push_back(testhost::textOf(label));
        // The keyboard moves the slider as the trackbar itself reports it.
        testhost::pressKey(slider, VK_RIGHT);
        EXPECT_TRUE(testhost::settle(host_->handle()));
        labels.push_back(testhost::textOf(label));
        testhost::pressKey(slider, VK_END);
        EXPECT_TRUE(testhost::settle(host_->handle()));
        labels.push_back(testhost::textOf(label));
    });
    EXPECT_EQ(labels, (std::vector<std::string>{timeLabelText(75, 0), timeLabelText(75, 10),
                                                timeLabelText(75, 9), timeLabelText(75, 10),
                                                timeLabelText(75, 74)}));
}

TEST_F(SetupDialog, TheEndOfADragRendersNothing) {
    std::map<UINT, std::size_t> callsPerCode;
    std::map<UINT, std::string> labelPerCode;
    std::size_t keyCalls = 0;
    open(75, [&](HWND dialog) {
        ASSERT_TRUE(waitForFirstPaint(dialog));
        HWND slider = GetDlgItem(dialog, IDC_TIMELINE);
        for (UINT code = 0; code <= 8; ++code) {
            server_.clearCalls();
            testhost::scrollTo(dialog, IDC_TIMELINE, int(20 + code), code);
            callsPerCode[code] = callCount();
            labelPerCode[code] = testhost::textOf(GetDlgItem(dialog, IDC_TIME_LABEL));
            if (code != TB_THUMBPOSITION && code != TB_ENDTRACK) {
                EXPECT_EQ(previewPositions(server_.calls(), server_.context()),
                          std::vector<int32_t>{int32_t(20 + code)});
            }
        }
        // A key press is a line step (one preview), its release an end of
        // scroll (none).
        server_.clearCalls();
        testhost::pressKey(slider, VK_LEFT);
        EXPECT_TRUE(testhost::settle(host_->handle()));
        keyCalls = callCount();
    });
    for (UINT code = 0; code <= 8; ++code) {
        const bool ends = code == TB_THUMBPOSITION || code == TB_ENDTRACK;
        EXPECT_EQ(callsPerCode[code], ends ? 0u : 4u) << "scroll code " << code;
        // The label keeps showing the frame of the last preview.
        const int32_t shown = ends ? int32_t(20 + code - 1) : int32_t(20 + code);
        EXPECT_EQ(labelPerCode[code], timeLabelText(75, shown)) << "scroll code " << code;
    }
    EXPECT_EQ(keyCalls, 4u);
}

// What the preview box must show: clip A and clip B at frame p, sampled
// down literally, rendered by the engine with the host's settings.
std::vector<uint32_t> expectedPreview(const FrameServer& server, const std::vector<uint8_t>& block,
                                      int32_t p, int32_t frames, int32_t W, int32_t H) {
    auto sample = [&](const Clip& clip) {
        const std::vector<uint8_t> frame = clip.frameAt(p);
        const int64_t w = clip.width(), h = clip.height(), rowBytes = (3 * w + 3) / 4 * 4;
        std::vector<uint32_t> out(std::size_t(W) * H);
        for (int64_t y = 0; y < H; ++y)
            for (int64_t x = 0; x < W; ++x) {
                const uint8_t* s =
                    &frame[std::size_t(40 + (y * h / H) * rowBytes + 3 * (x * w / W))];
                out[std::size_t(y * W + x)] = uint32_t(s[2]) << 16 | uint32_t(s[1]) << 8 | s[0];
            }
        return out;
    };
    std::vector<uint32_t> a = sample(server.clipA()), b = sample(server.clipB());
    std::vector<uint32_t> out(a.size());
    EffectSettings settings;
    std::memcpy(&settings, block.data(), kSettingsSize);
    render(workFramesJob(uint32_t(frames), uint32_t(p), W, H, {a.data(), b.data(), out.data()},
                         settings));
    return out;
}

// The picture in the preview box, as work pixels (row 0 at the bottom).
std::vector<uint32_t> shownPreview(HWND dialog, int32_t W, int32_t H) {
    HWND box = GetDlgItem(dialog, IDC_PREVIEW_BOX);
    int cw = 0, ch = 0;
    const std::vector<uint32_t> screen = testhost::capture(box, cw, ch);
    const PreviewPlacement at = placePreview(W, H, cw, ch);
    EXPECT_EQ(at.width, W) << "the test needs a box that shows the preview unscaled";
    EXPECT_EQ(at.height, H);
    std::vector<uint32_t> shown(std::size_t(W) * H);
    for (int32_t r = 0; r < at.height; ++r)
        for (int32_t x = 0; x < at.width; ++x)
            shown[std::size_t(r) * W + x] =
                screen[std::size_t(at.y + at.height - 1 - r) * cw + at.x + x];
    return shown;
}

// The preview size the module must choose on this system.
PreviewPlacement previewSizeHere() {
    return GetDialogBaseUnits() == 0x0014000A ? PreviewPlacement{0, 0, 288, 216}
                                              : PreviewPlacement{0, 0, 240, 180};
}

TEST_F(SetupDialog, PreviewShowsTheEnginesRenderOfTheShrunkFrames) {
    const PreviewPlacement size = previewSizeHere();
    std::map<int, std::vector<uint32_t>> shown;
    open(75, [&](HWND dialog) {
        ASSERT_TRUE(waitForCalls(4));
        for (int p : {30, 74, 0}) {
            testhost::scrollTo(dialog, IDC_TIMELINE, p, TB_THUMBTRACK);
            shown[p] = shownPreview(dialog, size.width, size.height);
        }
    });
    for (int p : {30, 74, 0}) {
        const std::vector<uint32_t> expected =
            expectedPreview(server_, settings_, p, 75, size.width, size.height);
        ASSERT_EQ(shown[p].size(), expected.size());
        std::size_t differing = 0;
        for (std::size_t i = 0; i < expected.size(); ++i) differing += shown[p][i] != expected[i];
        EXPECT_EQ(differing, 0u) << "frame " << p << " (base units " << std::hex
                                 << GetDialogBaseUnits() << ")";
    }
}

TEST_F(SetupDialog, RefusedFramesKeepTheLastPicture) {
    const PreviewPlacement size = previewSizeHere();
    std::vector<uint32_t> at30, afterNull, afterBadSize;
    std::string label;
    open(75, [&](HWND dialog) {
        ASSERT_TRUE(waitForCalls(4));
        testhost::scrollTo(dialog, IDC_TIMELINE, 30, TB_THUMBTRACK);
        at30 = shownPreview(dialog, size.width, size.height);
        testhost::Faults faults;
        faults.nullFrameB = true;
        server_.setFaults(faults);
        testhost::scrollTo(dialog, IDC_TIMELINE, 50, TB_THUMBTRACK);
        afterNull = shownPreview(dialog, size.width, size.height);
        faults = {};
        faults.zeroSizeA = true;
        server_.setFaults(faults);
        testhost::scrollTo(dialog, IDC_TIMELINE, 60, TB_THUMBTRACK);
        afterBadSize = shownPreview(dialog, size.width, size.height);
        label = testhost::textOf(GetDlgItem(dialog, IDC_TIME_LABEL));
    });
    EXPECT_EQ(afterNull, at30);
    EXPECT_EQ(afterBadSize, at30);
    EXPECT_EQ(label, timeLabelText(75, 60));
    EXPECT_EQ(server_.framesOutstanding(), 0u);
}

TEST_F(SetupDialog, OkCommitsTheWholeCopyAndEveryOtherEndCommitsNothing) {
    const std::vector<uint8_t> original = settings_;
    // While the dialog is open the host scribbles over its own block: OK
    // must put back every byte of the copy taken at the start; the other
    // ends must leave the scribble.
    auto endWith = [&](const std::function<void(HWND)>& end) {
        settings_ = original;
        return open(75, [&](HWND dialog) {
            std::memset(settings_.data(), 0xEE, settings_.size());
            end(dialog);
            testhost::waitUntilGone(dialog, 10000);
        });
    };
    const std::vector<uint8_t> scribbled(kSettingsSize, 0xEE);

    EXPECT_EQ(endWith([](HWND d) { testhost::click(d, IDOK); }), 1);
    EXPECT_EQ(settings_, original);
    EXPECT_EQ(endWith([](HWND d) { testhost::pressKey(GetDlgItem(d, IDOK), VK_RETURN); }), 1);
    EXPECT_EQ(settings_, original);

    EXPECT_EQ(endWith([](HWND d) { testhost::click(d, IDCANCEL); }), 0);
    EXPECT_EQ(settings_, scribbled);
    EXPECT_EQ(endWith([](HWND d) { testhost::pressKey(GetDlgItem(d, IDC_TIMELINE), VK_ESCAPE); }),
              0);
    EXPECT_EQ(settings_, scribbled);
    EXPECT_EQ(endWith([](HWND d) { PostMessageA(d, WM_CLOSE, 0, 0); }), 0);
    EXPECT_EQ(settings_, scribbled);
}

TEST_F(SetupDialog, ParameterWindowStaysGluedToThePreviewBox) {
    struct Seen {
        bool visible;
        RECT frame, box;
    };
    std::vector<Seen> seen;
    bool hiddenByClose = false;
    open(75, [&](HWND dialog) {
        std::vector<HWND> frames = testing::ownedWindows(GetWindowThreadProcessId(dialog, nullptr),
                                                         dialog, "GranulixFrameWindow");
        ASSERT_EQ(frames.size(), 1u);
        HWND frame = frames[0];
        HWND box = GetDlgItem(dialog, IDC_PREVIEW_BOX);
        auto look = [&] {
            Seen s{IsWindowVisible(frame) != FALSE, {}, {}};
            GetWindowRect(frame, &s.frame);
            GetWindowRect(box, &s.box);
            seen.push_back(s);
        };
        eventually(frame, [&] { return IsWindowVisible(frame) != FALSE; });
        look();
        RECT d;
        GetWindowRect(dialog, &d);
        SetWindowPos(dialog, nullptr, d.left + 37, d.top + 23, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        look();
        PostMessageA(frame, WM_CLOSE, 0, 0);
        EXPECT_TRUE(testhost::settle(host_->handle()));
        hiddenByClose = IsWindow(frame) && !IsWindowVisible(frame);
        SetWindowPos(dialog, nullptr, d.left - 11, d.top + 5, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        look();
    });
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(hiddenByClose);
    const RECT& first = seen[0].frame;
    for (const Seen& s : seen) {
        EXPECT_TRUE(s.visible);
        EXPECT_EQ(s.frame.left, s.box.right + 1);
        EXPECT_EQ(s.frame.top, s.box.top);
        EXPECT_EQ(s.frame.right - s.frame.left, first.right - first.left);
        EXPECT_EQ(s.frame.bottom - s.frame.top, first.bottom - first.top);
    }
    EXPECT_EQ(seen[1].box.left - seen[0].box.left, 37);
    EXPECT_EQ(seen[2].box.top - seen[0].box.top, 5);
}

TEST_F(SetupDialog, ToolTipsBannerAndAboutBox) {
    std::map<int, std::string> tips;
    int toolCount = 0;
    bool aboutOwnedBySetup = false, setupDisabledMeanwhile = false, setupBackAfterwards = false;
    std::string aboutOk;
    open(75, [&](HWND dialog) {
        const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
        std::vector<HWND> tooltips = testing::ownedWindows(thread, dialog, TOOLTIPS_CLASSA);
        ASSERT_EQ(tooltips.size(), 1u);
        HWND tooltip = tooltips[0];
        toolCount = int(SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0));
        for (int i = 0; i < toolCount; ++i) {
            TOOLINFOA tool{};
            tool.cbSize = TTTOOLINFOA_V2_SIZE;
            if (!SendMessageA(tooltip, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(&tool)))
                continue;
            char text[256] = {};
            tool.lpszText = text;
            SendMessageA(tooltip, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&tool));
            tips[GetDlgCtrlID(reinterpret_cast<HWND>(tool.uId))] = text;
        }

        testhost::click(dialog, IDC_BANNER);
        HWND about = testhost::waitForDialog(thread, kTitle, dialog, 10000);
        ASSERT_NE(about, nullptr);
        aboutOwnedBySetup = GetWindow(about, GW_OWNER) == dialog;
        setupDisabledMeanwhile = !IsWindowEnabled(dialog);
        aboutOk = testhost::textOf(GetDlgItem(about, IDOK));
        testhost::click(about, IDOK);
        EXPECT_TRUE(testhost::waitUntilGone(about, 10000));
        setupBackAfterwards = IsWindow(dialog) && IsWindowEnabled(dialog);
    });
    EXPECT_EQ(toolCount, 6);
    EXPECT_EQ(tips, (std::map<int, std::string>{{IDC_LOAD, "Load saved setings"},
                                                {IDC_SAVE, "Save current setings"},
                                                {IDOK, "Apply current setings"},
                                                {IDCANCEL, "Exit and discard changes"},
                                                {IDC_BANNER, "About Vozav Quodlibrator"},
                                                {ID_HELP_COMMAND, "Start Help"}}));
    EXPECT_TRUE(aboutOwnedBySetup);
    EXPECT_TRUE(setupDisabledMeanwhile);
    EXPECT_EQ(aboutOk, "OK");
    EXPECT_TRUE(setupBackAfterwards);
}

}  // namespace
}  // namespace granulix
