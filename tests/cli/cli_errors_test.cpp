// Every failure of render and sheet: one line on standard error, its exit
// status, and nothing left under the output's name or beside it. Outputs
// that replace files: all or nothing, what the old files had is kept, and
// every signal that ends the program leaves nothing behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

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
    std::vector<uint8_t> bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                                  0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    for (uint32_t v : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(v >> shift));
    }
    bytes.insert(bytes.end(), {8, 2, 0, 0, 0, 0, 0, 0, 0});  // 8-bit RGB; the checksum is not read
    bytes.insert(bytes.end(), {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0, 0, 0, 0});
    return bytes;
}

std::vector<Failure> failures() {
    auto clips = [](const ScratchFolder& d) {
        return std::vector<std::string>{d / "a.png", d / "b.png"};
    };
    return {
        {"MissingInput",
         [](const ScratchFolder& d) {
             return std::vector<std::string>{d / "nothere.png", d / "b.png"};
         },
         1,
         [](const ScratchFolder& d) {
             return "cannot read " + d / "nothere.png" + ": No such file or directory";
         }},
        {"InputThatIsNoPicture",
         [](const ScratchFolder& d) {
             return std::vector<std::string>{d / "a.png", d / "junk.png"};
         },
         1, [](const ScratchFolder& d) { return "no picture to decode in " + d / "junk.png"; }},
        {"PictureTooLargeToDecode",
         [](const ScratchFolder& d) {
             return std::vector<std::string>{d / "huge.png", d / "b.png"};
         },
         1,
         [](const ScratchFolder& d) {
             return "the picture in " + d / "huge.png" +
                    " is 70000x70000 pixels, too large to decode";
         }},
        {"EmptyPicture",
         [](const ScratchFolder& d) {
             return std::vector<std::string>{d / "empty.png", d / "b.png"};
         },
         1,
         [](const ScratchFolder& d) {
             return "the picture in " + d / "empty.png" + " is 0x0 pixels: it has nothing to show";
         }},
        {"PictureWiderThanAnyDecoderTakes",
         [](const ScratchFolder& d) {
             return std::vector<std::string>{d / "wide.png", d / "b.png"};
         },
         1,
         [](const ScratchFolder& d) {
             return "the picture in " + d / "wide.png" +
                    " is 2147483647x1 pixels, too large to decode";
         }},
        {"PictureEnlargedPastTheScalersLimit",
         [](const ScratchFolder& d) {
             return std::vector<std::string>{d / "dot.png", d / "dot.png", "--size", "7000x7000"};
         },
         1,
         [](const ScratchFolder& d) {
             return "cannot enlarge the 1x1 pictures of " + d / "dot.png" +
                    " to 7000x7000: FFmpeg's scaler enlarges up to 6898 times each way; choose a "
                    "smaller --size";
         }},
        {"ClipFromStandardInput",
         [](const ScratchFolder& d) {
             return std::vector<std::string>{"-", d / "b.png"};
         },
         1,
         [](const ScratchFolder&) {
             return text(
                 "cannot read -: No such file or directory; clips are read from files, not from "
                 "standard input (./- names a file called -)");
         }},
        {"HugeNameInASettingsFile",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--settings", d / "huge.json"});
             return a;
         },
         1, nullptr},
        {"OneClipOnly",
         [](const ScratchFolder& d) { return std::vector<std::string>{d / "a.png"}; }, 2, nullptr},
        {"UnknownField",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--set", "sourceBindings[1].colour=3"});
             return a;
         },
         2,
         [](const ScratchFolder&) {
             return text(
                 "unknown settings field \"sourceBindings[1].colour\" (granulix settings show "
                 "lists them)");
         }},
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
         1,
         [](const ScratchFolder& d) {
             return d / "a.png" + " is not a settings file: it is neither JSON nor a .qlb file";
         }},
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
         1,
         [](const ScratchFolder& d) {
             return "cannot load module " + d / "none.so" + ": no such file";
         }},
        {"ModuleWithoutApplyEffect",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--module", INCOMPLETE_MODULE});
             return a;
         },
         1,
         [](const ScratchFolder&) {
             return std::string("module ") + INCOMPLETE_MODULE +
                    " lacks the export vxDLLApplyEffect";
         }},
        {"RenderCallReturnsZero",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--module", REFUSING_MODULE, "--frames", "9", "-j", "2"});
             return a;
         },
         1,
         [](const ScratchFolder&) {
             return text("the module did not render frame 5 (vxDLLApplyEffect returned 0)");
         }},
        {"RegionOutsideTheFrame",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--region", "10,10,20,20"});
             return a;
         },
         2,
         [](const ScratchFolder&) {
             return text("--region 10,10,20,20 does not lie inside the 24x16 frame");
         }},
        {"EmptyRegion",
         [clips](const ScratchFolder& d) {
             auto a = clips(d);
             a.insert(a.end(), {"--region", "0,0,0,0"});
             return a;
         },
         2,
         [](const ScratchFolder&) {
             return text("--region 0,0,0,0 is empty: WIDTH and HEIGHT must be at least 1");
         }},
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
         2,
         [](const ScratchFolder&) {
             return text("--frames must be a whole number from 2 to 100000, not 1");
         }},
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
    writeBytes(dir / "empty.png", pngHeaderOnly(0, 0));
    writeBytes(dir / "wide.png", pngHeaderOnly(2147483647, 1));
    writePng(dir / "dot.png", randomPicture(1, 1, 73));
    const std::string hugeName =
        "{\"fields\": [{\"name\": \"" + std::string(900000, 'k') + "\", \"value\": 1}]}";
    writeBytes(dir / "huge.json", std::vector<uint8_t>(hugeName.begin(), hugeName.end()));
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
    EXPECT_LT(run.errors.size(), 1200u);  // of a length one can read
    if (failure.message) {
        EXPECT_EQ(run.errors, "granulix: " + failure.message(dir) + "\n");
    }
    EXPECT_EQ(dir.names(), before);
}

INSTANTIATE_TEST_SUITE_P(Cli, RenderFailure,
                         ::testing::Combine(::testing::ValuesIn(failures()),
                                            ::testing::Values(Target{"render", "out.mp4"},
                                                              Target{"render", "f-%04d.png"},
                                                              Target{"sheet", "sheet.png"})),
                         [](const auto& tested) {
                             const Target& target = std::get<1>(tested.param);
                             const std::string kind =
                                 std::string(target.command) == "sheet" ? "Sheet"
                                 : std::string(target.output).find('%') != std::string::npos
                                     ? "PngFrames"
                                     : "Video";
                             return std::string(std::get<0>(tested.param).name) + "To" + kind;
                         });

// One kind of output written over files that were there before.
struct OutputKind {
    const char* name;
    std::vector<std::string> existing;  // the files it replaces
    const char* faulty;                 // the one a fault is put on
    std::function<std::vector<std::string>(const ScratchFolder&)> args;
    std::vector<std::string> gone = {};  // of `existing`, the names it removes
};
void PrintTo(const OutputKind& k, std::ostream* os) { *os << k.name; }

std::string frameName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "f-%04d.png", i);
    return name;
}

std::vector<OutputKind> outputKinds() {
    std::vector<std::string> frames, longer;
    for (int i = 0; i < 10; ++i) frames.push_back(frameName(i));
    for (int i = 0; i < 13; ++i) longer.push_back(frameName(i));
    using Args = std::vector<std::string>;
    return {
        {"Video",
         {"out.mp4"},
         "out.mp4",
         [](const ScratchFolder& d) {
             return Args{"render", "--size", "32x32", "-n", "3", "-q", "-o", d / "out.mp4"};
         }},
        {"PngFrames", frames, "f-0005.png",
         [](const ScratchFolder& d) {
             return Args{"render", "--size", "32x32", "-n", "10", "-q", "-o", d / "f-%04d.png"};
         }},
        // The old frames beyond the new sequence go with the rest.
        {"PngFramesOverALongerSequence",
         longer,
         "f-0005.png",
         [](const ScratchFolder& d) {
             return Args{"render", "--size", "32x32", "-n", "10", "-q", "-o", d / "f-%04d.png"};
         },
         {frameName(10), frameName(11), frameName(12)}},
        {"Sheet",
         {"sheet.png"},
         "sheet.png",
         [](const ScratchFolder& d) {
             return Args{"sheet", "--size", "32x32", "-n", "3",
                         "-k",    "2",      "-q",    "-o", d / "sheet.png"};
         }},
        {"SettingsFile",
         {"look.qlb"},
         "look.qlb",
         [](const ScratchFolder& d) {
             return Args{"settings", "set", d / "look.qlb", "gravity=9"};
         }},
    };
}

// Progress for scripts is written as it comes, not renamed into place, but
// replaces a file as the outputs do.
std::vector<OutputKind> replacingKinds() {
    std::vector<OutputKind> kinds = outputKinds();
    kinds.push_back({"ProgressFile", {"progress.txt"}, "progress.txt", [](const ScratchFolder& d) {
                         return std::vector<std::string>{
                             "render", "--size", "32x32", "-n",         "3",
                             "-q",     "-o",     "-",     "--progress", d / "progress.txt"};
                     }});
    return kinds;
}

// What lay under `name` before: a settings file with bytes behind its
// block for .qlb, a line of text for the rest.
std::vector<uint8_t> oldBytes(const std::string& name) {
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".qlb") != 0) {
        const std::string text = "old " + name + "\n";
        return {text.begin(), text.end()};
    }
    const std::string header("Vozav Quodlibrator Setings C1.0\0", 32);
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.resize(32 + 424 + 30, 0x11);
    return bytes;
}

unsigned modeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? unsigned(info.st_mode & 07777) : 0;
}

std::pair<uid_t, gid_t> ownerOf(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return {uid_t(-1), gid_t(-1)};
    return {info.st_uid, info.st_gid};
}

// An owner other than the test's own when it runs as root, which may give
// files away; its own otherwise.
std::pair<uid_t, gid_t> someOwner() {
    if (geteuid() == 0) return {uid_t(4321), gid_t(4322)};
    return {geteuid(), getegid()};
}

// The user a run as someone other than root gets: the test's own when it
// is not root, else nobody, through setpriv.
constexpr uid_t kNobody = 65534;
std::pair<uid_t, gid_t> plainUser() {
    if (geteuid() == 0) return {kNobody, kNobody};
    return {geteuid(), getegid()};
}

// The words that run granulix with `args` as plainUser(); empty when root
// has no way to do that here.
std::vector<std::string> asPlainUser(const std::vector<std::string>& args) {
    std::vector<std::string> words = granulixCommand(args);
    if (geteuid() != 0) return words;
    if (runProgram({"setpriv", "--version"}).status != 0) return {};
    const std::string id = std::to_string(kNobody);
    words.insert(words.begin(),
                 {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"});
    return words;
}

struct OutputFault {
    const char* name;
    std::function<void(const std::string& faultyPath)> arrange;
    bool failRename;
    const char* reason;
};
void PrintTo(const OutputFault& f, std::ostream* os) { *os << f.name; }

class FaultyOutput : public ::testing::TestWithParam<std::tuple<OutputKind, OutputFault>> {};

TEST_P(FaultyOutput, SaysWhyAndLeavesEveryOldFileAsItWas) {
    const auto& [kind, fault] = GetParam();
    ScratchFolder dir;
    for (const std::string& name : kind.existing) writeBytes(dir / name, oldBytes(name));
    const std::string faulty = dir / kind.faulty;
    fault.arrange(faulty);
    const std::vector<std::string> before = dir.names();

    const ProgramRun run = runGranulix(
        kind.args(dir), fault.failRename ? withRenameFault("GRANULIX_TEST_FAIL_RENAME=" + faulty)
                                         : std::vector<std::string>{});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errors, "granulix: cannot write " + faulty + ": " + fault.reason + "\n");
    EXPECT_EQ(dir.names(), before);
    for (const std::string& name : kind.existing) {
        if (std::filesystem::is_regular_file(dir / name)) {
            EXPECT_EQ(readBytes(dir / name), oldBytes(name)) << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, FaultyOutput,
    ::testing::Combine(
        ::testing::ValuesIn(outputKinds()),
        ::testing::Values(OutputFault{"RenameFails", [](const std::string&) {}, true,
                                      "Input/output error"},
                          OutputFault{"TargetIsAFolder",
                                      [](const std::string& path) {
                                          std::filesystem::remove(path);
                                          std::filesystem::create_directories(path + "/x");
                                      },
                                      false, "Is a directory"},
                          OutputFault{"TargetIsReadOnly",
                                      [](const std::string& path) { chmod(path.c_str(), 0444); },
                                      false, "it is read-only (--force replaces it)"})),
    [](const auto& tested) {
        return std::string(std::get<1>(tested.param).name) + "For" + std::get<0>(tested.param).name;
    });

struct Replacement {
    const char* name;
    bool force;
    bool throughLink;        // each old file is reached through a link to another folder
    unsigned mode;           // given to each old file; the new one must have it
    bool plainUser = false;  // run by a user other than root, who owns the old files
};
void PrintTo(const Replacement& r, std::ostream* os) { *os << r.name; }

class ReplacedOutput : public ::testing::TestWithParam<std::tuple<OutputKind, Replacement>> {};

TEST_P(ReplacedOutput, KeepsTheModeTheOwnerAndTheLinks) {
    const auto& [kind, replacement] = GetParam();
    ScratchFolder dir;
    std::filesystem::create_directory(dir / "elsewhere");
    const std::pair<uid_t, gid_t> owner = replacement.plainUser ? plainUser() : someOwner();
    if (replacement.plainUser) {
        ASSERT_EQ(chown(dir.path().c_str(), owner.first, owner.second), 0);
    }
    auto fileOf = [&](const std::string& name) {
        return replacement.throughLink ? dir / ("elsewhere/" + name) : dir / name;
    };
    auto isGone = [&](const std::string& name) {
        return std::find(kind.gone.begin(), kind.gone.end(), name) != kind.gone.end();
    };
    for (const std::string& name : kind.existing) {
        writeBytes(fileOf(name), oldBytes(name));
        ASSERT_EQ(chown(fileOf(name).c_str(), owner.first, owner.second), 0);
        chmod(fileOf(name).c_str(), replacement.mode);
        if (replacement.throughLink)
            std::filesystem::create_symlink("elsewhere/" + name, dir / name);
    }
    std::vector<std::string> before = dir.names();
    before.erase(std::remove_if(before.begin(), before.end(), isGone), before.end());

    std::vector<std::string> args = kind.args(dir);
    if (replacement.force) args.push_back("--force");
    const std::vector<std::string> words =
        replacement.plainUser ? asPlainUser(args) : granulixCommand(args);
    if (words.empty()) GTEST_SKIP() << "no way to run a program as another user than root";
    const ProgramRun run = runProgram(words);
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(dir.names(), before);
    for (const std::string& name : kind.existing) {
        if (isGone(name)) {
            // A link goes, not the old frame it leads to.
            EXPECT_EQ(readBytes(fileOf(name)),
                      replacement.throughLink ? oldBytes(name) : std::vector<uint8_t>{});
            continue;
        }
        EXPECT_NE(readBytes(fileOf(name)), oldBytes(name)) << name;
        EXPECT_EQ(modeOf(fileOf(name)), replacement.mode) << name;
        EXPECT_EQ(ownerOf(fileOf(name)), owner) << name;
        if (replacement.throughLink) {
            ASSERT_TRUE(std::filesystem::is_symlink(dir / name)) << name;
            EXPECT_EQ(std::filesystem::read_symlink(dir / name), "elsewhere/" + name);
        }
    }
    if (replacement.throughLink) {
        std::vector<std::string> there = kind.existing;
        std::sort(there.begin(), there.end());
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir / "elsewhere")) {
            found.push_back(entry.path().filename().string());
        }
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, there);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, ReplacedOutput,
    ::testing::Combine(::testing::ValuesIn(replacingKinds()),
                       ::testing::Values(Replacement{"Private", false, false, 0600},
                                         Replacement{"ReadOnlyWithForce", true, false, 0444},
                                         Replacement{"ReadOnlyWithForceNotAsRoot", true, false,
                                                     0444, true},
                                         Replacement{"ThroughALink", false, true, 0640})),
    [](const auto& tested) {
        return std::string(std::get<1>(tested.param).name) + "For" + std::get<0>(tested.param).name;
    });

struct StopSignal {
    const char* name;
    int number;
};
void PrintTo(const StopSignal& s, std::ostream* os) { *os << s.name; }

// Every signal that stops the program is waited for in one set and handled
// alike; they differ only in how they come into the set (a list of named
// signals, the whole real-time range) and in what they would do untaken
// (end the program, or end it with a core dump). The outputs differ in
// what is left to remove: one temporary file, or a folder of frames. One
// case for each of these, each output with signals of both kinds.
std::vector<std::tuple<StopSignal, const char*>> stoppedRenders() {
    return {{{"HUP", SIGHUP}, "out.mp4"},
            {{"TERM", SIGTERM}, "f-%04d.png"},
            {{"QUIT", SIGQUIT}, "f-%04d.png"},
            {{"RTMIN", SIGRTMIN}, "out.mp4"},
            {{"RTMAX", SIGRTMAX}, "f-%04d.png"}};
}

// Its temporary file or folder appears in `dir` once it has started writing.
bool startedWriting(const ScratchFolder& dir) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (dir.names().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !dir.names().empty();
}

class StoppedRender : public ::testing::TestWithParam<std::tuple<StopSignal, const char*>> {};

TEST_P(StoppedRender, ExitsWithTheSignalsStatusAndLeavesNothing) {
    const auto& [signal, output] = GetParam();
    ScratchFolder dir;
    StartedProgram program(granulixCommand(
        {"render", "--size", "64x48", "--frames", "100000", "-j", "1", "-q", "-o", dir / output}));
    ASSERT_TRUE(startedWriting(dir)) << "no temporary appeared";
    ASSERT_EQ(kill(program.pid(), signal.number), 0);
    const ProgramRun run = program.wait();
    EXPECT_EQ(run.status, 128 + signal.number);
    EXPECT_EQ(run.errors,
              std::string("granulix: interrupted (") + strsignal(signal.number) + ")\n");
    EXPECT_TRUE(dir.names().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cli, StoppedRender, ::testing::ValuesIn(stoppedRenders()), [](const auto& tested) {
        return std::string(std::get<0>(tested.param).name) +
               (std::string(std::get<1>(tested.param)) == "out.mp4" ? "Video" : "PngFrames");
    });

TEST(Cli, SignalsIgnoredAtStartStayIgnored) {
    // As nohup and a shell's background jobs start a program.
    ScratchFolder dir;
    std::vector<std::string> words = {"sh", "-c", "trap '' HUP INT QUIT; exec \"$0\" \"$@\""};
    const std::vector<std::string> render =
        granulixCommand({"render", "--size", "64x48", "--frames", "100000", "-j", "1", "-q", "-o",
                         dir / "out.mp4"});
    words.insert(words.end(), render.begin(), render.end());
    StartedProgram program(words);
    ASSERT_TRUE(startedWriting(dir)) << "no temporary appeared";
    for (const int ignored : {SIGHUP, SIGINT, SIGQUIT}) ASSERT_EQ(kill(program.pid(), ignored), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(kill(program.pid(), SIGTERM), 0);
    const ProgramRun run = program.wait();
    EXPECT_EQ(run.status, 128 + SIGTERM);
    EXPECT_EQ(run.errors, std::string("granulix: interrupted (") + strsignal(SIGTERM) + ")\n");
    EXPECT_TRUE(dir.names().empty());
}

TEST(Cli, RefusedCommandLinesSayWhyAndLeaveNoOutput) {
    ScratchFolder dir, elsewhere;
    std::filesystem::create_directory(elsewhere / "d.mp4");
    // Files read, and outputs that are the same files under other names.
    writePng(elsewhere / "a.png", randomPicture(8, 8, 1));
    writePng(elsewhere / "b.png", randomPicture(8, 8, 2));
    ASSERT_EQ(runGranulix({"settings", "new", elsewhere / "look.qlb"}).status, 0);
    std::filesystem::create_symlink("a.png", elsewhere / "a.mp4");
    std::filesystem::create_symlink("b.png", elsewhere / "sheet.png");
    std::filesystem::create_hard_link(elsewhere / "b.png", elsewhere / "f-7.png");
    writeBytes(elsewhere / "sealed.txt", {});
    chmod((elsewhere / "sealed.txt").c_str(), 0444);
    const std::vector<uint8_t> clipA = readBytes(elsewhere / "a.png");
    const std::vector<std::string> clips = {elsewhere / "a.png", elsewhere / "b.png"};
    auto withClips = [&](std::vector<std::string> args) {
        args.insert(args.begin() + 1, clips.begin(), clips.end());
        return args;
    };
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    std::vector<Case> cases = {
        {{"render", "-o", dir / "out.avi"},
         2,
         "cannot tell what to write from the name " + dir / "out.avi" +
             ": use .mp4, .mkv, .mov, .webm, a pattern such as frame-%04d.png, or -"},
        {{"render", "-o", dir / "still.png"},
         2,
         "an image sequence needs one frame number such as %04d in its file name: " +
             dir / "still.png"},
        {{"render", "-o", dir / "f-%d-%d.png"},
         2,
         "an image sequence needs one frame number such as %04d in its file name: " +
             dir / "f-%d-%d.png"},
        {{"sheet", "-o", dir / "sheet.jpg"},
         2,
         "the contact sheet is a PNG picture: name it SHEET.png, not " + dir / "sheet.jpg"},
        {{"render", "--size", "32x32", "-o", dir / "no/such/folder/out.mp4"},
         1,
         "cannot write " + dir / "no/such/folder/out.mp4" + ": No such file or directory"},
        {{"render", "--size", "32x32", "-o", elsewhere / "d.mp4"},
         1,
         "cannot write " + elsewhere / "d.mp4" + ": Is a directory"},
        {{"render", "--size", "16384x16384", "-o", dir / "big.mp4"},
         2,
         "a frame of 16384x16384 is too large for " + dir / "big.mp4" +
             ": FFmpeg's encoders take frames of up to about 268 million pixels with margins, such "
             "as "
             "16000x16000; choose a smaller --size"},
        {{"render", "--size", "16384x16384", "-o", dir / "f-%d.png"},
         2,
         "a picture of 16384x16384 is too large for " + dir / "f-%d.png" +
             ": FFmpeg's PNG encoder takes up to about 268 million pixels with margins, such as "
             "16000x16000"},
        {{"render", "--fps", "1/100000", "-o", dir / "slow.mp4"},
         2,
         "a video output needs at least one frame an hour (--fps 1/3600), not 1/100000 frames per "
         "second"},
        {{"render"}, 2, "granulix render needs -o OUT"},
        {{"render", "a.mov", "b.mov", "-o", dir / "out.mp4", "--offset", "1"},
         2,
         "an edit needs both --offset and --duration"},
        {{"render", "-o", dir / "out.mp4", "--offset", "1", "--duration", "0.5"},
         2,
         "an edit needs clips A and B"},
        {{"render", "a.mov", "b.mov", "-o", dir / "out.mp4", "--offset", "soon", "--duration", "1"},
         2,
         "--offset must be a time, in seconds (2.5) or as HH:MM:SS.ms, not soon"},
        {{"render", "a.mov", "b.mov", "-o", dir / "out.mp4", "--offset", "1", "--duration",
          "-00:00:01"},
         2,
         "--duration must be a time, in seconds (2.5) or as HH:MM:SS.ms, not -00:00:01"},
        {{"render", "a.mov", "b.mov", "-o", dir / "out.mp4", "--offset", "1", "--duration", "1",
          "-n", "9"},
         2,
         "an edit takes its length from --duration, not --frames"},
        {{"render", "a.mov", "b.mov", "-o", dir / "out.mp4", "--offset", "1", "--duration", "1",
          "--audio-curve", "loud"},
         2,
         "--audio-curve must be one of acrossfade's curves (see --help), not loud"},
        {{"render", "-o", dir / "out.mp4", "--no-audio"},
         2,
         "--no-audio is for an edit: give --offset and --duration"},
        {{"render", "a.mov", "b.mov", "-o", dir / "out.mp4", "--from-b", "2", "--to-b",
          "00:00:01.5"},
         2,
         "--to-b must come after --from-b"},
        {{"paint"}, 2, "unknown command \"paint\" (render, sheet, play, settings; --help)"},
        {{"render", "--size", "8x8", "-o"}, 2, "--output needs a value"},
        {{"render", "-o=" + dir / "out.mp4"},
         2,
         "-o=" + dir / "out.mp4" + ": write -o " + dir / "out.mp4" +
             " or --output=" + dir / "out.mp4"},
        {{"render", "--quiet=yes", "-o", dir / "out.mp4"}, 2, "--quiet takes no value"},
        {{"sheet", "--fps", "30", "-o", dir / "sheet.png"},
         2,
         "unknown option --fps for granulix sheet"},
        {{"settings", "new", "--json", dir / "look.qlb"},
         2,
         "unknown option --json for granulix settings new"},
        {{"render", "--codec", "h264", "-o", dir / "out.webm"},
         2,
         "a .webm file cannot hold h264 video; use .mp4, .mkv, .mov for " + dir / "out.webm"},
        {{"render", "--codec", "mpeg2", "-o", dir / "out.mkv"},
         2,
         "--codec must be one of h264, h265, vp9, av1, prores, ffv1, not mpeg2"},
        {{"render", "--codec", "ffv1", "--crf", "3", "-o", dir / "out.mkv"},
         2,
         "--crf 3: the ffv1 encoder has no crf"},
        {{"render", "--encoder-option", "foo=1", "-o", dir / "out.mp4"},
         2,
         "--encoder-option foo=1: the libx264 encoder has no option foo"},
        {{"render", "--encoder-option", "g=many", "-o", dir / "out.mp4"},
         2,
         "--encoder-option g=many: the libx264 encoder refuses it (Invalid argument)"},
        {{"render", "--encoder-option", "=1", "-o", dir / "out.mp4"},
         2,
         "--encoder-option must be KEY=VALUE, not =1"},
        {{"render", "--pix-fmt", "yuv9000", "-o", dir / "out.mp4"},
         2,
         "--pix-fmt: FFmpeg knows no pixel format yuv9000"},
        {{"render", "--codec", "vp9", "-o", dir / "f-%d.png"},
         2,
         "--codec is for video outputs (.mp4, .mkv, .mov, .webm), not " + dir / "f-%d.png"},
        {{"render", "--progress", "-", "-o", "-"},
         2,
         "--progress - and -o - would both write to standard output"},
        {{"render", "--size", "32x32", "--progress", dir / "no/such/p.txt", "-o", dir / "out.mp4"},
         1,
         "cannot write progress to " + dir / "no/such/p.txt" + ": No such file or directory"},
        {{"render", "--size", "32x32", "--progress", elsewhere / "sealed.txt", "-o",
          dir / "out.mp4"},
         1,
         "cannot write " + elsewhere / "sealed.txt" + ": it is read-only (--force replaces it)"},
        {withClips({"render", "-o", elsewhere / "a.mp4"}), 2,
         "-o " + elsewhere / "a.mp4" + " is the same file as clip A " + elsewhere / "a.png" +
             ": choose another output"},
        {withClips({"render", "-o", elsewhere / "f-%d.png"}), 2,
         "-o " + elsewhere / "f-7.png" + " is the same file as clip B " + elsewhere / "b.png" +
             ": choose another output"},
        {withClips({"sheet", "-o", elsewhere / "sheet.png"}), 2,
         "-o " + elsewhere / "sheet.png" + " is the same file as clip B " + elsewhere / "b.png" +
             ": choose another output"},
        {withClips({"render", "-o", dir / "out.mp4", "--progress", elsewhere / "a.png"}), 2,
         "--progress " + elsewhere / "a.png" + " is the same file as clip A " +
             elsewhere / "a.png" + ": choose another output"},
        {{"render", "--settings", elsewhere / "look.qlb", "-o", dir / "out.mp4", "--progress",
          elsewhere / "look.qlb"},
         2,
         "--progress " + elsewhere / "look.qlb" + " is the same file as the settings file " +
             elsewhere / "look.qlb" + ": choose another output"},
        // After -- a word that begins with a dash is a clip's name.
        {{"render", "--size", "8x8", "-o", dir / "out.mp4", "-a.png", "-b.png"},
         2,
         "unknown option -a.png for granulix render"},
        {{"render", "--size", "8x8", "-o", dir / "out.mp4", "--", "-a.png", "-b.png"},
         1,
         "cannot read -a.png: No such file or directory"},
        {{"render", "--fps", "1e-300", "-o", dir / "f-%d.png"},
         2,
         "--fps 1e-300 is slower than any rate a frame time holds; the slowest is 1/100000"},
        // The encoder's own reason, without the lines the encoder library prints.
        {{"render", "--size", "32x32", "--preset", "ludicrous", "-o", dir / "out.mp4"},
         2,
         "cannot write " + dir / "out.mp4" +
             ": the libx264 encoder refuses its settings (invalid preset 'ludicrous')"},
        {{"render", "--size", "32x32", "--codec", "h265", "--crf", "52", "-o", dir / "out.mp4"},
         2,
         "cannot write " + dir / "out.mp4" +
             ": the libx265 encoder refuses its settings (Valid quality based range: "
             "-qpBDOffsetY to 51)"},
        {{"render", "--size", "32x32", "--encoder-option", "x264-params=bogus=1", "-o",
          dir / "out.mp4"},
         2,
         "--encoder-option x264-params=bogus=1: the libx264 encoder cannot use it (Error parsing "
         "option 'bogus = 1')"},
        {{"render", "--size", "32x32", "--codec", "h265", "--encoder-option",
          "x265-params=bframes=2:bogus=1", "-o", dir / "out.mp4"},
         2,
         "--encoder-option x265-params=bframes=2:bogus=1: the libx265 encoder cannot use it "
         "(Unknown option: bogus)"},
        {{"settings", "new", elsewhere / "d.mp4"},
         1,
         "cannot write " + elsewhere / "d.mp4" + ": it is a folder; name a file in it, such as " +
             elsewhere / "d.mp4/look.qlb"},
    };
    // An empty word is a value missing, not the option left out.
    for (const char* option :
         {"--codec", "--crf", "--preset", "--pix-fmt", "--progress", "--fit"}) {
        cases.push_back({{"render", option, "", "-o", dir / "out.mp4"},
                         2,
                         option + std::string(" needs a value, not an empty word")});
    }
    for (const Case& c : cases) {
        const ProgramRun run = runGranulix(c.args);
        EXPECT_EQ(run.status, c.status) << c.message;
        EXPECT_EQ(run.errors, "granulix: " + c.message + "\n");
        EXPECT_TRUE(dir.names().empty());
    }
    EXPECT_EQ(readBytes(elsewhere / "a.png"), clipA);
    EXPECT_EQ(readBytes(elsewhere / "sealed.txt"), std::vector<uint8_t>{});
}

TEST(Cli, EachCommandAnswersHelpWithItsOwnUsage) {
    struct Case {
        std::vector<std::string> args;
        std::string usage;  // the first line
        std::vector<std::string> named, notNamed;
    };
    const std::vector<Case> cases = {
        {{"render", "--help"},
         "usage: granulix render [A B] -o OUT [options]",
         {"--output OUT", "--fps R", "--region X,Y,W,H", "W and H at least 1", "frame-%04d.png",
          "-f, --force", "--codec NAME", "--encoder-option KEY=VALUE", "--progress FILE|-"},
         {"--count"}},
        {{"play", "--help"},
         "usage: granulix play [A B] [options]",
         {"--dry-run", "--fps R", "--settings FILE", "--offset T", "--no-audio"},
         {"--output", "--force", "--codec"}},
        {{"sheet", "-o", "x.png", "-h"},
         "usage: granulix sheet [A B] -o SHEET.png [options]",
         {"-k, --count K", "--tile-width W", "--set NAME=VALUE"},
         {"--fps"}},
        {{"settings", "--help"},
         "usage: granulix settings new FILE.qlb [--force]",
         {"settings set FILE NAME"},
         {}},
        {{"settings", "new", "--help"},
         "usage: granulix settings new FILE.qlb [--force]",
         {"-f, --force"},
         {"--json"}},
        {{"settings", "show", "-h"},
         "usage: granulix settings show [FILE] [--json]",
         {"--json"},
         {"--force"}},
        {{"settings", "set", "--help"},
         "usage: granulix settings set FILE NAME=VALUE... [--force]",
         {"-h, --help", "-f, --force"},
         {"--json"}},
    };
    for (const Case& c : cases) {
        const ProgramRun run = runGranulix(c.args);
        const std::string help(run.output.begin(), run.output.end());
        EXPECT_EQ(run.status, 0) << c.usage;
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(help.substr(0, help.find('\n')), c.usage);
        for (const std::string& word : c.named)
            EXPECT_NE(help.find(word), std::string::npos) << c.usage << ": " << word;
        for (const std::string& word : c.notNamed)
            EXPECT_EQ(help.find(word), std::string::npos) << c.usage << ": " << word;
    }
}

TEST(Cli, HelpNamesTheFieldsAndBindings) {
    const ProgramRun run = runGranulix({"--help"});
    ASSERT_EQ(run.status, 0);
    const std::string help(run.output.begin(), run.output.end());
    for (const char* word : {"speedVariance", "centerY", "cellHeight", "sourceBindings[i].kind",
                             ".repeatX", "--jobs", "--region", "--field-mode", "14 Black"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
}

}  // namespace
}  // namespace granulix::testing
