// Every failure of render and sheet: one line on standard error, its exit
// status, and nothing left under the output's name or beside it.
#include <gtest/gtest.h>

#include <functional>

#include "program_runner.h"
#include "test_pictures.h"

namespace granulix::testing {
namespace {

struct Failure {
    const char* name;
    // Arguments before -o, given the scratch folder with a.png, b.png,
    // junk.png (not a picture) and fake.so (not a module) in it.
    std::function<std::vector<std::string>(const ScratchFolder&)> args;
    int status;
    std::function<std::string(const ScratchFolder&)> message;  // the whole line after "granulix: "
};
void PrintTo(const Failure& f, std::ostream* os) { *os << f.name; }

std::string text(const char* s) { return s; }

// The start of a PNG file that promises a picture of that size.
std::vector<uint8_t> pngHeaderOnly(uint32_t width, uint32_t height) {
    std::vector<uint8_t> bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (uint32_t v : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(v >> shift));
    }
    bytes.insert(bytes.end(), {8, 2, 0, 0, 0, 0, 0, 0, 0});  // 8-bit RGB; the checksum is not read
    bytes.insert(bytes.end(), {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0, 0, 0, 0});
    return bytes;
}

std::vector<Failure> failures() {
    auto clips = [](const ScratchFolder& d) { return std::vector<std::string>{d / "a.png", d / "b.png"}; };
    return {
        {"MissingInput",
         [](const ScratchFolder& d) { return std::vector<std::string>{d / "nothere.png", d / "b.png"}; }, 1,
         [](const ScratchFolder& d) { return "cannot read " + d / "nothere.png" + ": No such file or directory"; }},
        {"InputThatIsNoPicture",
         [](const ScratchFolder& d) { return std::vector<std::string>{d / "a.png", d / "junk.png"}; }, 1,
         [](const ScratchFolder& d) { return "no picture to decode in " + d / "junk.png"; }},
        {"PictureTooLargeToDecode",
         [](const ScratchFolder& d) { return std::vector<std::string>{d / "huge.png", d / "b.png"}; }, 1,
         [](const ScratchFolder& d) {
             return "the picture in " + d / "huge.png" + " is 70000x70000 pixels, too large to decode";
         }},
        {"OneClipOnly", [](const ScratchFolder& d) { return std::vector<std::string>{d / "a.png"}; }, 2,
         nullptr},
        {"UnknownField",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--set", "sourceBindings[1].colour=3"});
             return a;
         },
         2, [](const ScratchFolder&) { return text("unknown settings field \"sourceBindings[1].colour\" (granulix settings show lists them)"); }},
        {"ValueOutOfRange",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--set", "gravity=10", "--set", "gravity=300"});
             return a;
         },
         2, [](const ScratchFolder&) { return text("gravity must lie in 0..255, not 300"); }},
        {"BadSettingsFile",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--settings", d / "a.png"});
             return a;
         },
         1, [](const ScratchFolder& d) { return d / "a.png" + ": Not a Quodlibrator file!"; }},
        {"ModuleThatWillNotLoad",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--module", d / "fake.so"});
             return a;
         },
         1, nullptr},
        {"MissingModule",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--module", d / "none.so"});
             return a;
         },
         1, [](const ScratchFolder& d) { return "cannot load module " + d / "none.so" + ": no such file"; }},
        {"ModuleWithoutApplyEffect",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--module", INCOMPLETE_MODULE});
             return a;
         },
         1, [](const ScratchFolder&) { return std::string("module ") + INCOMPLETE_MODULE + " lacks the export vxDLLApplyEffect"; }},
        {"RenderCallReturnsZero",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--module", REFUSING_MODULE, "--frames", "9", "-j", "2"});
             return a;
         },
         1, [](const ScratchFolder&) { return text("the module did not render frame 5 (vxDLLApplyEffect returned 0)"); }},
        {"RegionOutsideTheFrame",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--region", "10,10,20,20"});
             return a;
         },
         2, [](const ScratchFolder&) { return text("--region 10,10,20,20 does not lie inside the 24x16 frame"); }},
        {"EmptyRegion",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--region", "0,0,0,0"});
             return a;
         },
         2, [](const ScratchFolder&) { return text("--region 0,0,0,0 is empty: WIDTH and HEIGHT must be at least 1"); }},
        {"OptionGivenTwice",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--frames", "3", "-n", "4"});
             return a;
         },
         2, [](const ScratchFolder&) { return text("--frames is given twice"); }},
        {"ShortOptionWithEquals",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"-n=5"});
             return a;
         },
         2, [](const ScratchFolder&) { return text("-n=5: write -n 5 or --frames=5"); }},
        {"SwitchWithAValue",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"-q=1"});
             return a;
         },
         2, [](const ScratchFolder&) { return text("--quiet takes no value"); }},
        {"OneFrameTransition",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--frames", "1"});
             return a;
         },
         2, [](const ScratchFolder&) { return text("--frames must be a whole number from 2 to 100000, not 1"); }},
        {"UnknownOption",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--colour", "red"});
             return a;
         },
         2, nullptr},
    };
}

struct Target {
    const char* command;
    const char* output;
};
void PrintTo(const Target& t, std::ostream* os) { *os << t.command << " -o " << t.output; }

class RenderFailure : public ::testing::TestWithParam<std::tuple<Failure, Target>> {};

TEST_P(RenderFailure, SaysWhyInOneLineAndLeavesNoOutput) {
    const auto& [failure, target] = GetParam();
    ScratchFolder dir;
    writePng(dir / "a.png", randomPicture(24, 16, 71));
    writePng(dir / "b.png", randomPicture(24, 16, 72));
    writeBytes(dir / "junk.png", std::vector<uint8_t>(300, 0x5A));
    writeBytes(dir / "fake.so", std::vector<uint8_t>(300, 0x5A));
    writeBytes(dir / "huge.png", pngHeaderOnly(70000, 70000));
    const std::vector<std::string> before = dir.names();

    std::vector<std::string> args = {target.command};
    const std::vector<std::string> rest = failure.args(dir);
    args.insert(args.end(), rest.begin(), rest.end());
    args.insert(args.end(), {"-o", dir / target.output});
    const ProgramRun run = runGranulix(args);

    EXPECT_EQ(run.status, failure.status);
    ASSERT_FALSE(run.errors.empty());
    EXPECT_EQ(run.errors.rfind("granulix: ", 0), 0u) << run.errors;
    EXPECT_EQ(run.errors.find('\n'), run.errors.size() - 1) << run.errors;  // one line
    if (failure.message) {
        EXPECT_EQ(run.errors, "granulix: " + failure.message(dir) + "\n");
    }
    EXPECT_EQ(dir.names(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, RenderFailure,
    ::testing::Combine(::testing::ValuesIn(failures()),
                       ::testing::Values(Target{"render", "out.mp4"}, Target{"render", "f-%04d.png"},
                                         Target{"sheet", "sheet.png"})),
    [](const auto& info) {
        const Target& t = std::get<1>(info.param);
        const std::string kind = std::string(t.command) == "sheet" ? "Sheet"
                                 : std::string(t.output).find('%') != std::string::npos ? "PngFrames" : "Video";
        return std::string(std::get<0>(info.param).name) + "To" + kind;
    });

TEST(Cli, RefusedCommandLinesSayWhyAndLeaveNoOutput) {
    ScratchFolder dir, elsewhere;
    std::filesystem::create_directory(elsewhere / "d.mp4");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"render", "-o", dir / "out.avi"}, 2,
         "cannot tell what to write from the name " + dir / "out.avi" +
             ": use .mp4, .mkv, .mov, .webm, a pattern such as frame-%04d.png, or -"},
        {{"render", "-o", dir / "still.png"}, 2,
         "an image sequence needs one frame number such as %04d in its file name: " + dir / "still.png"},
        {{"render", "-o", dir / "f-%d-%d.png"}, 2,
         "an image sequence needs one frame number such as %04d in its file name: " + dir / "f-%d-%d.png"},
        {{"sheet", "-o", dir / "sheet.jpg"}, 2,
         "the contact sheet is a PNG picture: name it SHEET.png, not " + dir / "sheet.jpg"},
        {{"render", "--size", "32x32", "-o", dir / "no/such/folder/out.mp4"}, 1,
         "cannot write " + dir / "no/such/folder/out.mp4" + ": No such file or directory"},
        {{"render", "--size", "32x32", "-o", elsewhere / "d.mp4"}, 1,
         "cannot write " + elsewhere / "d.mp4" + ": Is a directory"},
        {{"render", "--size", "16384x16384", "-o", dir / "big.mp4"}, 2,
         "a frame of 16384x16384 is too large for " + dir / "big.mp4" +
             ": FFmpeg's encoders take frames of up to about 268 million pixels with margins, such as "
             "16000x16000; choose a smaller --size"},
        {{"render", "--size", "16384x16384", "-o", dir / "f-%d.png"}, 2,
         "a picture of 16384x16384 is too large for " + dir / "f-%d.png" +
             ": FFmpeg's PNG encoder takes up to about 268 million pixels with margins, such as 16000x16000"},
        {{"render", "--fps", "1/100000", "-o", dir / "slow.mp4"}, 2,
         "a video output needs at least one frame an hour (--fps 1/3600), not 1/100000 frames per second"},
        {{"render"}, 2, "granulix render needs -o OUT"},
        {{"paint"}, 2, "unknown command \"paint\" (render, sheet, settings; --help)"},
        {{"render", "--size", "8x8", "-o"}, 2, "--output needs a value"},
        {{"render", "-o=" + dir / "out.mp4"}, 2,
         "-o=" + dir / "out.mp4" + ": write -o " + dir / "out.mp4" + " or --output=" + dir / "out.mp4"},
        {{"render", "--quiet=yes", "-o", dir / "out.mp4"}, 2, "--quiet takes no value"},
        {{"sheet", "--fps", "30", "-o", dir / "sheet.png"}, 2, "unknown option --fps for granulix sheet"},
        {{"settings", "new", "--json", dir / "look.qlb"}, 2, "unknown option --json for granulix settings new"},
        // After -- a word that begins with a dash is a clip's name.
        {{"render", "--size", "8x8", "-o", dir / "out.mp4", "-a.png", "-b.png"}, 2,
         "unknown option -a.png for granulix render"},
        {{"render", "--size", "8x8", "-o", dir / "out.mp4", "--", "-a.png", "-b.png"}, 1,
         "cannot read -a.png: No such file or directory"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = runGranulix(c.args);
        EXPECT_EQ(run.status, c.status) << c.message;
        EXPECT_EQ(run.errors, "granulix: " + c.message + "\n");
        EXPECT_TRUE(dir.names().empty());
    }
}

TEST(Cli, EachCommandAnswersHelpWithItsOwnUsage) {
    struct Case {
        std::vector<std::string> args;
        std::string usage;  // the first line
        std::vector<std::string> named, notNamed;
    };
    const std::vector<Case> cases = {
        {{"render", "--help"}, "usage: granulix render [A B] -o OUT [options]",
         {"--output OUT", "--fps R", "--region X,Y,W,H", "W and H at least 1", "frame-%04d.png"}, {"--count"}},
        {{"sheet", "-o", "x.png", "-h"}, "usage: granulix sheet [A B] -o SHEET.png [options]",
         {"-k, --count K", "--tile-width W", "--set NAME=VALUE"}, {"--fps"}},
        {{"settings", "--help"}, "usage: granulix settings new FILE.qlb [--force]", {"settings set FILE.qlb"}, {}},
        {{"settings", "new", "--help"}, "usage: granulix settings new FILE.qlb [--force]", {"-f, --force"}, {"--json"}},
        {{"settings", "show", "-h"}, "usage: granulix settings show FILE.qlb [--json]", {"--json"}, {"--force"}},
        {{"settings", "set", "--help"}, "usage: granulix settings set FILE.qlb NAME=VALUE...", {"-h, --help"}, {"--force"}},
    };
    for (const Case& c : cases) {
        const ProgramRun run = runGranulix(c.args);
        const std::string help(run.output.begin(), run.output.end());
        EXPECT_EQ(run.status, 0) << c.usage;
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(help.substr(0, help.find('\n')), c.usage);
        for (const std::string& word : c.named) EXPECT_NE(help.find(word), std::string::npos) << c.usage << ": " << word;
        for (const std::string& word : c.notNamed) EXPECT_EQ(help.find(word), std::string::npos) << c.usage << ": " << word;
    }
}

TEST(Cli, HelpNamesTheFieldsAndBindings) {
    const ProgramRun run = runGranulix({"--help"});
    ASSERT_EQ(run.status, 0);
    const std::string help(run.output.begin(), run.output.end());
    for (const char* word : {"speedVariance", "centerY", "cellHeight", "sourceBindings[i].kind", ".repeatX",
                             "--jobs", "--region", "--field-mode", "14 Black"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
}

}  // namespace
}  // namespace granulix::testing
