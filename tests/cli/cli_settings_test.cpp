// granulix settings new / show / set on real files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <sstream>
#include <thread>

#include "program_runner.h"
#include "settings_file.h"
#include "test_pictures.h"

namespace granulix::testing {
namespace {

const std::string kHeader("Vozav Quodlibrator Setings C1.0\0", 32);

// A valid header, 424 random bytes and `extra` more bytes behind them.
std::vector<uint8_t> randomSettingsFile(uint32_t seed, std::size_t extra = 0) {
    std::vector<uint8_t> bytes(kHeader.begin(), kHeader.end());
    std::mt19937 g(seed);
    for (std::size_t i = 0; i < 424 + extra; ++i) bytes.push_back(uint8_t(g()));
    return bytes;
}

int32_t wordAt(const std::vector<uint8_t>& file, std::size_t offset) {
    int32_t v;
    std::memcpy(&v, file.data() + 32 + offset, 4);
    return v;
}

TEST(CliSettings, NewWritesTheDefaultsAndRefusesToReplaceAFileUnlessForced) {
    ScratchFolder dir;
    const std::string path = dir / "new.qlb";
    ProgramRun run = runGranulix({"settings", "new", path});
    ASSERT_EQ(run.status, 0) << run.errors;
    std::vector<uint8_t> file = readBytes(path);
    ASSERT_EQ(file.size(), 456u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 32), kHeader);
    // The module's defaults over a zeroed block: unwritten bytes stay zero.
    const EffectSettings defaults = moduleDefaults();
    EXPECT_EQ(std::memcmp(file.data() + 32, &defaults, 424), 0);

    writeBytes(path, randomSettingsFile(1));
    run = runGranulix({"settings", "new", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("exists already"), std::string::npos) << run.errors;
    EXPECT_EQ(readBytes(path), randomSettingsFile(1));

    run = runGranulix({"settings", "new", "--force", path});
    EXPECT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(readBytes(path), file);
}

TEST(CliSettings, SetChangesTheNamedFieldsAndKeepsEveryOtherByte) {
    ScratchFolder dir;
    const std::string path = dir / "look.qlb";
    const std::vector<uint8_t> before = randomSettingsFile(7, 30);
    writeBytes(path, before);
    const ProgramRun run =
        runGranulix({"settings", "set", path, "speedVariance=200", "sourceBindings[2].kind=Grad Y",
                     "SOURCEBINDINGS[0].ODDY=1", "centerX=256"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    const std::vector<uint8_t> after = readBytes(path);
    ASSERT_EQ(after.size(), before.size());  // what lies beyond the block is kept
    EXPECT_EQ(wordAt(after, 28), 200);
    EXPECT_EQ(wordAt(after, 144), 13);
    EXPECT_EQ(wordAt(after, 116), 1);
    EXPECT_EQ(wordAt(after, 40), 256);
    for (std::size_t i = 0; i < after.size(); ++i) {
        const std::size_t offset = i - 32;
        const bool changed = i >= 32 && (offset / 4 == 28 / 4 || offset / 4 == 144 / 4 ||
                                         offset / 4 == 116 / 4 || offset / 4 == 40 / 4);
        if (!changed) {
            EXPECT_EQ(after[i], before[i]) << "byte " << i;
        }
    }
}

TEST(CliSettings, ConcurrentSetsOnOneFileAllLand) {
    // Two users each set their own fields one run at a time; a field is set
    // only once, so a change lost to the other's replacement stays lost.
    // Slow renames widen the time between reading the file and replacing it.
    ScratchFolder dir;
    const std::string path = dir / "look.qlb";
    std::vector<uint8_t> zeros(kHeader.begin(), kHeader.end());
    zeros.resize(456 + 20, 0);
    writeBytes(path, zeros);
    const std::vector<std::vector<std::string>> fields = {
        {"sourceBindings[0].kind", "sourceBindings[0].invert", "sourceBindings[0].repeatX",
         "sourceBindings[0].repeatY", "sourceBindings[0].oddX", "sourceBindings[0].oddY",
         "sourceBindings[1].kind", "sourceBindings[1].invert", "sourceBindings[1].repeatX",
         "sourceBindings[1].repeatY", "sourceBindings[1].oddX", "sourceBindings[1].oddY"},
        {"sourceBindings[2].kind", "sourceBindings[2].invert", "sourceBindings[2].repeatX",
         "sourceBindings[2].repeatY", "sourceBindings[2].oddX", "sourceBindings[2].oddY", "gravity",
         "wind", "delay", "delayNoise", "speedVariance", "speedNoise"}};
    std::vector<std::string> failures[2];
    std::vector<std::thread> users;
    for (int user = 0; user < 2; ++user) {
        users.emplace_back([&, user] {
            for (const std::string& field : fields[user]) {
                const ProgramRun run = runGranulix({"settings", "set", path, field + "=1"},
                                                   withRenameFault("GRANULIX_TEST_SLOW_RENAME=40"));
                if (run.status != 0) failures[user].push_back(field + ": " + run.errors);
            }
        });
    }
    for (std::thread& u : users) u.join();
    EXPECT_TRUE(failures[0].empty() && failures[1].empty());

    EffectSettings settings{};
    ASSERT_EQ(loadSettingsFile(path, settings), SettingsFileStatus::kOk);
    for (const SourceBinding& b : settings.sourceBindings) {
        EXPECT_EQ(std::vector<int32_t>({b.kind, b.invert, b.repeatX, b.repeatY, b.oddX, b.oddY}),
                  std::vector<int32_t>(6, 1));
    }
    EXPECT_EQ(
        std::vector<int32_t>({settings.gravity, settings.wind, settings.delay, settings.delayNoise,
                              settings.speedVariance, settings.speedNoise}),
        std::vector<int32_t>(6, 1));
    EXPECT_EQ(readBytes(path).size(), zeros.size());
    EXPECT_EQ(dir.names(), std::vector<std::string>{"look.qlb"});
}

struct Refusal {
    const char* assignment;
    const char* message;
};
void PrintTo(const Refusal& r, std::ostream* os) { *os << r.assignment; }

class SetRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(SetRefuses, NamesTheFieldAndLeavesTheFileAlone) {
    ScratchFolder dir;
    const std::string path = dir / "look.qlb";
    const std::vector<uint8_t> before = randomSettingsFile(9);
    writeBytes(path, before);
    // A good assignment first: nothing is written unless all are good.
    const ProgramRun run =
        runGranulix({"settings", "set", path, "gravity=3", GetParam().assignment});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.errors, std::string("granulix: ") + GetParam().message + "\n");
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"look.qlb"});
}

INSTANTIATE_TEST_SUITE_P(
    Cli, SetRefuses,
    ::testing::Values(
        Refusal{"speedVariance=256", "speedVariance must lie in 0..255, not 256"},
        Refusal{"centerX=-1", "centerX must lie in 0..256, not -1"},
        Refusal{"centerY=257", "centerY must lie in 0..256, not 257"},
        Refusal{"cellWidth=0", "cellWidth must lie in 1..4096, not 0"},
        Refusal{"cellHeight=4097", "cellHeight must lie in 1..4096, not 4097"},
        Refusal{"cellFlags=2", "cellFlags must lie in 0..1, not 2"},
        Refusal{"orderFlags=4", "orderFlags must lie in 0..3, not 4"},
        Refusal{"sourceBindings[1].repeatY=17",
                "sourceBindings[1].repeatY must lie in 1..16, not 17"},
        Refusal{"sourceBindings[0].kind=15", "sourceBindings[0].kind must lie in 0..14, not 15"},
        Refusal{"sourceBindings[2].oddX=2", "sourceBindings[2].oddX must lie in 0..1, not 2"},
        Refusal{"size=423", "size must be 424, not 423"},
        Refusal{"wind=99999999999999", "wind must lie in 0..255, not 99999999999999"},
        Refusal{"reserved56=1", "reserved56 is reserved and cannot be set"},
        Refusal{"wind=abc", "wind: \"abc\" is not a whole number"},
        Refusal{"sourceBindings[0].kind=Purple",
                "sourceBindings[0].kind: \"Purple\" is not a whole number or a source kind name"},
        Refusal{"nosuch=3",
                "unknown settings field \"nosuch\" (granulix settings show lists them)"},
        Refusal{"sourceBindings[3].kind=1",
                "unknown settings field \"sourceBindings[3].kind\" (granulix settings show lists "
                "them)"},
        Refusal{"gravity", "expected NAME=VALUE, got \"gravity\""}));

// The first `count` words of the line of `table` whose second word is `field`.
std::vector<std::string> wordsOfLine(const std::string& table, const std::string& field,
                                     std::size_t count = 0) {
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string w; in >> w;) words.push_back(w);
        if (words.size() > 1 && words[1] == field) {
            const std::size_t wanted = field.rfind("sourceBindings", 0) == 0 ? 8 : 5;
            words.resize(std::min(words.size(), count ? count : wanted));
            return words;
        }
    }
    return {};
}

TEST(CliSettings, ShowListsEveryFieldWithValueRangeAndMeaning) {
    ScratchFolder dir;
    const std::string path = dir / "look.qlb";
    std::vector<uint8_t> file = randomSettingsFile(3);
    const int32_t variance = 77, kind = 9, noise = 300;  // 300: outside its range
    std::memcpy(&file[32 + 28], &variance, 4);
    std::memcpy(&file[32 + 32], &noise, 4);
    std::memcpy(&file[32 + 96], &kind, 4);
    writeBytes(path, file);

    ProgramRun run = runGranulix({"settings", "show", path});
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::string table(run.output.begin(), run.output.end());
    for (const char* name : {"size",
                             "cellFlags",
                             "reserved8",
                             "orderFlags",
                             "holdFlags",
                             "speedVariance",
                             "speedNoise",
                             "xyBalance",
                             "centerX",
                             "centerY",
                             "minimumSpeed",
                             "timeline",
                             "reserved56",
                             "gravity",
                             "wind",
                             "delay",
                             "delayNoise",
                             "minimumLife",
                             "maximumLife",
                             "cellWidth",
                             "cellHeight",
                             "sourceBindings[0].kind",
                             "sourceBindings[1].invert",
                             "sourceBindings[2].oddY",
                             "reserved168"}) {
        EXPECT_NE(table.find(name), std::string::npos) << name;
    }
    EXPECT_EQ(wordsOfLine(table, "speedVariance"),
              (std::vector<std::string>{"28", "speedVariance", "77", "0..255", "how"}));
    EXPECT_EQ(wordsOfLine(table, "sourceBindings[0].kind"),
              (std::vector<std::string>{"96", "sourceBindings[0].kind", "9", "Diag", "1", "S",
                                        "0..14", "source"}));
    EXPECT_EQ(wordsOfLine(table, "speedNoise", 100).back(), "range]")
        << "a value outside its range is marked";

    run = runGranulix({"settings", "show", path, "--json"});
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::string json(run.output.begin(), run.output.end());
    EXPECT_NE(
        json.find(R"({"name": "speedVariance", "offset": 28, "value": 77, "min": 0, "max": 255,)"),
        std::string::npos)
        << json;
    EXPECT_NE(
        json.find(
            R"({"name": "sourceBindings[0].kind", "offset": 96, "value": 9, "min": 0, "max": 14, "kindName": "Diag 1 S",)"),
        std::string::npos)
        << json;
    static const char hex[] = "0123456789abcdef";
    std::string tail;
    for (std::size_t i = 32 + 168; i < 456; ++i) tail += {hex[file[i] >> 4], hex[file[i] & 15]};
    EXPECT_NE(json.find("\"reserved168\": \"" + tail + "\""), std::string::npos) << json;
}

struct BadFile {
    const char* name;
    std::vector<uint8_t> bytes;  // empty: the file does not exist
    const char* before;          // the message is before + the file's path + after
    const char* after;
    bool pipe = false;  // a named pipe in place of the file, a usage error
};

void PrintTo(const BadFile& b, std::ostream* os) { *os << b.name; }

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<BadFile> badFiles() {
    std::vector<uint8_t> otherText = randomSettingsFile(5);
    otherText[0] = 'W';
    std::vector<uint8_t> noZero = randomSettingsFile(5);
    noZero[31] = '!';
    std::vector<uint8_t> cutShort = randomSettingsFile(5);
    cutShort.resize(32 + 423);
    const char* notOurs = " is not a settings file: it is neither JSON nor a .qlb file";
    return {
        {"missing", {}, "cannot read settings file ", ": No such file or directory"},
        {"twentyBytes", std::vector<uint8_t>(20, 'V'), "", notOurs},
        {"otherHeader", otherText, "", notOurs},
        {"headerWithoutItsZero", noZero, "", notOurs},
        {"blockCutShort", cutShort, "settings file ",
         ": cut short at 455 bytes; a .qlb file holds 456"},
        {"jsonCutShort", bytesOf("{\"fields\": [\n  {\"name\": \"gravity\",\n"), "settings file ",
         ": line 3: the JSON ends too soon"},
        {"jsonFraction", bytesOf(R"({"fields": [{"name": "wind", "value": 2.5}]})"),
         "settings file ", ": wind must be a whole number of 32 bits, not 2.5"},
        {"jsonUnknownField", bytesOf(R"({"fields": [{"name": "colour", "value": 2}]})"),
         "settings file ", ": unknown settings field \"colour\""},
        {"jsonMemberTwice", bytesOf(R"({"fields": [{"name": "wind", "value": 2, "value": 3}]})"),
         "settings file ", ": line 1: the member \"value\" is given twice"},
        {"jsonUnknownMember", bytesOf(R"({"fields": [], "gravity": 3})"), "settings file ",
         ": unknown member \"gravity\" (a settings file has \"fields\" and \"reserved168\")"},
        // Every command takes the same largest size, set included.
        {"blockAndAMegabyteMore", randomSettingsFile(5, kLargestSettingsFile), "",
         " is too large to be a settings file"},
        {"namedPipe", {}, "settings file ", ": it is not a plain file", true}};
}

class BadSettingsFile : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadSettingsFile, NamesTheFileEverywhereAndChangesNothing) {
    const BadFile& bad = GetParam();
    ScratchFolder dir;
    const std::string path = dir / "bad.qlb";
    if (!bad.bytes.empty()) writeBytes(path, bad.bytes);
    if (bad.pipe) {
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    }
    // A command that waited on the pipe for a writer gets one and reads
    // nothing, which fails the test rather than hanging it.
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (bad.pipe && !done) {
            const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const std::vector<std::string> names = dir.names();

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"settings", "show", path},
          std::vector<std::string>{"settings", "set", path, "gravity=1"},
          std::vector<std::string>{"render", "-o", dir / "out.mp4", "--settings", path, "--size",
                                   "32x32"},
          std::vector<std::string>{"sheet", "-o", dir / "sheet.png", "--settings", path, "--size",
                                   "32x32"}}) {
        // set refuses to replace a pipe before it would read it.
        const bool replacing = bad.pipe && args[1] == "set";
        const std::string expected =
            "granulix: " +
            (replacing ? "cannot write " + path + ": it is not a plain file"
                       : std::string(bad.before) + path + bad.after) +
            "\n";
        const ProgramRun run = runGranulix(args);
        EXPECT_EQ(run.status, bad.pipe && !replacing ? 2 : 1) << args[1];
        EXPECT_EQ(run.errors, expected) << args[1];
        EXPECT_TRUE(run.output.empty());
        EXPECT_EQ(dir.names(), names) << args[1];
        if (!bad.bytes.empty()) {
            EXPECT_EQ(readBytes(path), bad.bytes);
        }
    }
    done = true;
    writer.join();
}

INSTANTIATE_TEST_SUITE_P(Cli, BadSettingsFile, ::testing::ValuesIn(badFiles()),
                         [](const auto& tested) { return std::string(tested.param.name); });

TEST(CliSettings, ASettingsFileRendersLikeItsBlock) {
    // A file made and changed by the program renders as the module renders
    // that block: the file carries all 424 bytes to the render request.
    ScratchFolder dir;
    const Picture a = randomPicture(24, 16, 61), b = randomPicture(24, 16, 62);
    writePng(dir / "a.png", a);
    writePng(dir / "b.png", b);
    ASSERT_EQ(runGranulix({"settings", "new", dir / "look.qlb"}).status, 0);
    ASSERT_EQ(runGranulix({"settings", "set", dir / "look.qlb", "cellWidth=1", "cellHeight=1",
                           "gravity=90", "sourceBindings[1].kind=Black"})
                  .status,
              0);
    const ProgramRun run =
        runGranulix({"render", dir / "a.png", dir / "b.png", "-o", dir / "f-%d.png", "--frames",
                     "3", "--settings", dir / "look.qlb", "-q"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EffectSettings settings{};
    ASSERT_EQ(loadSettingsFile(dir / "look.qlb", settings), SettingsFileStatus::kOk);
    EXPECT_EQ(settings.gravity, 90);
    EXPECT_EQ(settings.sourceBindings[1].kind, 14);
    EXPECT_TRUE(readPng(dir / "f-1.png") ==
                renderDirectly(a, b, 0.5f, 0, {0, 0, 24, 16}, settings));

    // The same settings as JSON, whatever the file's name.
    const ProgramRun json = runGranulix({"settings", "show", "--json", dir / "look.qlb"});
    ASSERT_EQ(json.status, 0) << json.errors;
    writeBytes(dir / "look.dat", json.output);
    ASSERT_EQ(runGranulix({"render", dir / "a.png", dir / "b.png", "-o", dir / "g-%d.png",
                           "--frames", "3", "--settings", dir / "look.dat", "-q"})
                  .status,
              0);
    EXPECT_TRUE(readPng(dir / "g-1.png") == readPng(dir / "f-1.png"));
}

TEST(CliSettings, JsonFromShowIsTakenBackWithEveryByte) {
    ScratchFolder dir;
    // Random words, out-of-range and reserved ones included, and a random tail.
    writeBytes(dir / "random.qlb", randomSettingsFile(11));
    const ProgramRun json = runGranulix({"settings", "show", "--json", dir / "random.qlb"});
    ASSERT_EQ(json.status, 0) << json.errors;
    writeBytes(dir / "random.json", json.output);
    // As a text editor may save it, with a byte order mark before the text.
    writeBytes(dir / "marked.json",
               bytesOf("\xEF\xBB\xBF" + std::string(json.output.begin(), json.output.end())));
    const ProgramRun fromMarked = runGranulix({"settings", "show", "--json", dir / "marked.json"});
    ASSERT_EQ(fromMarked.status, 0) << fromMarked.errors;
    EXPECT_TRUE(fromMarked.output == json.output);
    for (const char* form : {"--json", ""}) {
        std::vector<std::string> args = {"settings", "show", dir / "random.json"};
        if (*form) args.push_back(form);
        const ProgramRun fromJson = runGranulix(args);
        args[2] = dir / "random.qlb";
        const ProgramRun fromQlb = runGranulix(args);
        ASSERT_EQ(fromJson.status, 0) << fromJson.errors;
        EXPECT_TRUE(fromJson.output == fromQlb.output) << form;
    }

    // settings set changes a JSON file and keeps it JSON.
    ASSERT_EQ(runGranulix({"settings", "set", dir / "random.json", "gravity=12"}).status, 0);
    ASSERT_EQ(runGranulix({"settings", "set", dir / "random.qlb", "gravity=12"}).status, 0);
    EXPECT_TRUE(readBytes(dir / "random.json")[0] == '{');
    EXPECT_TRUE(runGranulix({"settings", "show", dir / "random.json", "--json"}).output ==
                runGranulix({"settings", "show", dir / "random.qlb", "--json"}).output);

    // Without a file: the defaults, as settings new writes them.
    ASSERT_EQ(runGranulix({"settings", "new", dir / "new.qlb"}).status, 0);
    const ProgramRun defaults = runGranulix({"settings", "show"});
    ASSERT_EQ(defaults.status, 0) << defaults.errors;
    EXPECT_TRUE(defaults.output == runGranulix({"settings", "show", dir / "new.qlb"}).output);
}

}  // namespace
}  // namespace granulix::testing
