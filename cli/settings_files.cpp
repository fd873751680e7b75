#include "settings_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <limits>

#include "cli_error.h"
#include "json_reader.h"
#include "output_files.h"
#include "settings_fields.h"
#include "settings_file.h"

namespace granulix::cli {

namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& what) {
    throw CliError("settings file " + path + ": " + what);
}

int32_t wholeValue(const std::string& path, const std::string& name, const JsonValue& v) {
    char* end = nullptr;
    errno = 0;
    const long long n =
        v.kind == JsonValue::Kind::kNumber ? std::strtoll(v.text.c_str(), &end, 10) : 0;
    if (v.kind != JsonValue::Kind::kNumber || *end != '\0' || errno != 0 ||
        n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max()) {
        refuse(path, name + " must be a whole number of 32 bits, not " +
                         (v.kind == JsonValue::Kind::kNumber ? v.text : std::string("that")));
    }
    return int32_t(n);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void parseJsonSettings(const std::string& path, const std::string& text, EffectSettings& settings) {
    JsonValue root;
    try {
        root = parseJson(text);
    } catch (const JsonError& e) {
        refuse(path, "line " + std::to_string(e.line()) + ": " + e.what());
    }
    if (root.kind != JsonValue::Kind::kObject) refuse(path, "expected a JSON object");
    for (const auto& [key, value] : root.members) {
        if (key != "fields" && key != "reserved168") {
            refuse(path, "unknown member \"" + key +
                             "\" (a settings file has \"fields\" and "
                             "\"reserved168\")");
        }
    }
    EffectSettings read = settings;
    if (const JsonValue* fields = root.member("fields")) {
        if (fields->kind != JsonValue::Kind::kArray) refuse(path, "\"fields\" must be an array");
        for (const JsonValue& entry : fields->items) {
            const JsonValue* name = entry.member("name");
            const JsonValue* value = entry.member("value");
            if (!name || name->kind != JsonValue::Kind::kString || !value) {
                refuse(path, "each of \"fields\" needs a \"name\" and a \"value\"");
            }
            const SettingsField* field = findSettingsField(name->text);
            if (!field) refuse(path, "unknown settings field \"" + name->text + "\"");
            setFieldValue(read, *field, wholeValue(path, field->name, *value));
        }
    }
    if (const JsonValue* tail = root.member("reserved168")) {
        const std::size_t size = sizeof read.reserved168;
        if (tail->kind != JsonValue::Kind::kString || tail->text.size() != size * 2) {
            refuse(path, "\"reserved168\" must be " + std::to_string(size * 2) + " hex digits");
        }
        for (std::size_t i = 0; i < size; ++i) {
            const int high = hexDigit(tail->text[2 * i]), low = hexDigit(tail->text[2 * i + 1]);
            if (high < 0 || low < 0) {
                refuse(path, "\"reserved168\" must be " + std::to_string(size * 2) + " hex digits");
            }
            read.reserved168[i] = uint8_t(high * 16 + low);
        }
    }
    settings = read;
}

[[noreturn]] void tooLarge(const std::string& path) {
    throw CliError(path + " is too large to be a settings file");
}

// The file at `path` open for reading, once it is known to be a plain file
// of a settings file's size. Opened without waiting: a named pipe would wait
// for a writer.
int openSettingsFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw CliError("cannot read settings file " + path + ": " + systemErrorText(errno));
    struct stat info;
    if (fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        throw CliError("cannot read settings file " + path + ": " + systemErrorText(code));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw usageError("settings file " + path + ": it is not a plain file");
    }
    if (uint64_t(info.st_size) > kLargestSettingsFile) {
        ::close(fd);
        tooLarge(path);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// The bytes a text editor may put before UTF-8 text.
constexpr uint8_t kUtf8Mark[] = {0xEF, 0xBB, 0xBF};

std::size_t utf8MarkLength(const std::vector<uint8_t>& bytes) {
    return bytes.size() >= 3 && std::equal(kUtf8Mark, kUtf8Mark + 3, bytes.begin()) ? 3 : 0;
}

}  // namespace

bool isJsonSettings(const std::vector<uint8_t>& bytes) {
    for (std::size_t i = utf8MarkLength(bytes); i < bytes.size(); ++i) {
        const uint8_t b = bytes[i];
        if (b == ' ' || b == '\t' || b == '\n' || b == '\r') continue;
        return b == '{';
    }
    return false;
}

void parseSettings(const std::string& path, const std::vector<uint8_t>& bytes,
                   EffectSettings& settings) {
    if (bytes.size() > kLargestSettingsFile) tooLarge(path);
    if (isJsonSettings(bytes)) {
        parseJsonSettings(
            path, std::string(bytes.begin() + std::ptrdiff_t(utf8MarkLength(bytes)), bytes.end()),
            settings);
        return;
    }
    const std::size_t header = sizeof kSettingsFileHeader;
    if (bytes.empty() ||
        std::memcmp(bytes.data(), kSettingsFileHeader, std::min(bytes.size(), header)) != 0) {
        throw CliError(path + " is not a settings file: it is neither JSON nor a .qlb file");
    }
    if (bytes.size() < kSettingsFileSize) {
        refuse(path, "cut short at " + std::to_string(bytes.size()) + " bytes; a .qlb file holds " +
                         std::to_string(kSettingsFileSize));
    }
    if (parseSettingsFile(bytes.data(), bytes.size(), settings) != SettingsFileStatus::kOk) {
        throw CliError(path + " is not a settings file: it is neither JSON nor a .qlb file");
    }
}

void checkSettingsFile(const std::string& path) { ::close(openSettingsFile(path)); }

void readSettings(const std::string& path, EffectSettings& settings) {
    const int fd = openSettingsFile(path);
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int code = errno;
            ::close(fd);
            throw CliError("cannot read settings file " + path + ": " + systemErrorText(code));
        }
        if (got == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (bytes.size() > kLargestSettingsFile) {
            ::close(fd);
            tooLarge(path);
        }
    }
    ::close(fd);
    parseSettings(path, bytes, settings);
}

}  // namespace granulix::cli
