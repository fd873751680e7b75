#include "output_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <system_error>

#include "cli_error.h"

namespace granulix::cli {

namespace fs = std::filesystem;

namespace {

// Linux gives up on a chain of links after 40.
constexpr int kMaxLinkHops = 40;

CliError cannotWrite(const std::string& what, int code) {
    return CliError("cannot write " + what + ": " + systemErrorText(code));
}

// The temporaries a stopping program must remove. Whoever creates, fills or
// renames a registered path holds `lock`, so that removeTemporariesNow never
// meets half a change. Never destroyed: the stop thread may use it while
// the program exits.
struct Registry {
    std::mutex lock;
    std::vector<std::pair<std::string, bool>> paths;  // path, whether a folder

    void add(const std::string& path, bool folder) { paths.emplace_back(path, folder); }
    void drop(const std::string& path) {
        paths.erase(std::remove_if(paths.begin(), paths.end(),
                                   [&](const auto& entry) { return entry.first == path; }),
                    paths.end());
    }
};

Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

// Reading the mask means setting it for a moment, so it is read once, the
// first time an output is opened, before any render thread makes files.
mode_t processUmask() {
    static const mode_t mask = [] {
        const mode_t m = umask(0);
        umask(m);
        return m;
    }();
    return mask;
}

fs::path folderOf(const fs::path& path) {
    return path.parent_path().empty() ? fs::path(".") : path.parent_path();
}

// A fresh, exclusive, registered file beside `target`; the caller holds the
// registry's lock.
std::string makeTemporaryBeside(const fs::path& target, const std::string& what) {
    std::string name = (folderOf(target) / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(name.data());
    if (fd < 0) throw cannotWrite(what, errno);
    close(fd);
    registry().add(name, false);
    return name;
}

// Gives the file at `path` what the replaced file had, or the usual
// permissions of a new file.
void carryOver(const std::string& path, const ExistingFile& old, const std::string& what) {
    if (old.exists && chown(path.c_str(), old.owner, old.group) != 0) {
        // Only root may give a file away; keeping a group of one's own may
        // still be allowed, and a file that keeps neither is still written.
        [[maybe_unused]] const int groupKept = chown(path.c_str(), uid_t(-1), old.group);
    }
    const mode_t mode = old.exists ? (old.mode & 07777) : (0666 & ~processUmask());
    if (chmod(path.c_str(), mode) != 0) throw cannotWrite(what, errno);
}

bool sameFolder(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void copyFile(const std::string& from, const std::string& to, const std::string& what) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw cannotWrite(what, errno);
    const int out = ::open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out < 0) {
        const int code = errno;
        close(in);
        throw cannotWrite(what, code);
    }
    uint8_t buffer[1 << 16];
    int code = 0;
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) code = errno;
        if (n <= 0) break;
        try {
            writeAll(out, buffer, std::size_t(n), what);
        } catch (...) {
            close(in);
            close(out);
            throw;
        }
    }
    close(in);
    if (close(out) != 0 && code == 0) code = errno;
    if (code != 0) throw cannotWrite(what, code);
}

}  // namespace

std::string systemErrorText(int code) { return std::strerror(code); }

void writeAll(int fd, const uint8_t* data, std::size_t size, const std::string& what) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw cannotWrite(what, errno);
        }
        data += n;
        size -= std::size_t(n);
    }
}

fs::path finalTarget(const fs::path& path) {
    fs::path current = path;
    for (int hops = 0;; ++hops) {
        struct stat info;
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        if (hops == kMaxLinkHops) throw cannotWrite(path.string(), ELOOP);
        std::error_code error;
        const fs::path next = fs::read_symlink(current, error);
        if (error) throw cannotWrite(path.string(), error.value());
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
}

ExistingFile checkReplaceable(const fs::path& path, bool force) {
    const fs::path target = finalTarget(path);
    struct stat info;
    if (stat(target.c_str(), &info) != 0) {
        if (errno == ENOENT) return {};
        throw cannotWrite(path.string(), errno);
    }
    if (S_ISDIR(info.st_mode)) throw cannotWrite(path.string(), EISDIR);
    if (!S_ISREG(info.st_mode)) {
        throw CliError("cannot write " + path.string() + ": it is not a plain file");
    }
    if ((info.st_mode & 0222) == 0 && !force) {
        throw CliError("cannot write " + path.string() + ": it is read-only (--force replaces it)");
    }
    return {true, info.st_mode, info.st_uid, info.st_gid};
}

void sameFileRefused(const std::string& option, const std::string& output,
                     const std::vector<ReadFile>& inputs) {
    struct stat written;
    if (output.empty() || output == "-" || stat(output.c_str(), &written) != 0) return;
    for (const ReadFile& input : inputs) {
        struct stat read;
        if (input.path.empty() || stat(input.path.c_str(), &read) != 0) continue;
        if (read.st_dev == written.st_dev && read.st_ino == written.st_ino) {
            throw usageError(option + " " + output + " is the same file as " + input.role + " " +
                             input.path + ": choose another output");
        }
    }
}

PendingFile::PendingFile(const std::string& target, bool force)
    : target_(target), final_(finalTarget(target)), force_(force) {
    checkReplaceable(target, force);
    // The temporary stays private and writable until commit() gives it the
    // old file's mode: a read-only mode given now would stop its own writer.
    std::lock_guard<std::mutex> guard(registry().lock);
    temporary_ = makeTemporaryBeside(final_, target_);
}

PendingFile::~PendingFile() {
    if (temporary_.empty()) return;
    std::lock_guard<std::mutex> guard(registry().lock);
    unlink(temporary_.c_str());
    registry().drop(temporary_);
}

void PendingFile::commit() {
    // Looked at only now: the target may have changed while the new file was made.
    carryOver(temporary_, checkReplaceable(target_, force_), target_);
    std::lock_guard<std::mutex> guard(registry().lock);
    if (::rename(temporary_.c_str(), final_.c_str()) != 0) {
        const int code = errno;
        unlink(temporary_.c_str());
        registry().drop(temporary_);
        temporary_.clear();
        throw cannotWrite(target_, code);
    }
    registry().drop(temporary_);
    temporary_.clear();
}

namespace {

// Opens `path` with `flags` and writes all of `bytes`; failures name `what`.
void writeWholeFile(const std::string& path, int flags, const std::vector<uint8_t>& bytes,
                    const std::string& what) {
    const int fd = ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) throw cannotWrite(what, errno);
    try {
        writeAll(fd, bytes.data(), bytes.size(), what);
    } catch (...) {
        close(fd);
        throw;
    }
    if (close(fd) != 0) throw cannotWrite(what, errno);
}

}  // namespace

void replaceFile(const std::string& target, const std::vector<uint8_t>& bytes, bool force) {
    PendingFile file(target, force);
    writeWholeFile(file.path(), O_TRUNC, bytes, target);
    file.commit();
}

StagingFolder::StagingFolder(const fs::path& directory, const std::string& what)
    : directory_(directory) {
    std::string name = (directory / ".granulix-frames.XXXXXX").string();
    std::lock_guard<std::mutex> guard(registry().lock);
    if (!mkdtemp(name.data())) throw cannotWrite(what, errno);
    folder_ = name;
    registry().add(name, true);
    processUmask();  // needed by publish(), read now
}

StagingFolder::~StagingFolder() {
    if (folder_.empty()) return;
    std::lock_guard<std::mutex> guard(registry().lock);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
    registry().drop(folder_.string());
}

void StagingFolder::write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string what = (directory_ / name).string();
    std::lock_guard<std::mutex> guard(registry().lock);
    writeWholeFile((folder_ / name).string(), O_CREAT | O_TRUNC, bytes, what);
    names_.push_back(name);
}

void StagingFolder::publish(bool force) {
    struct Move {
        std::string shown;   // the name the user gave
        fs::path target;     // its final target
        std::string fresh;   // the new file, on the target's file system
        std::string backup;  // where the old file waits until all are in
        bool hasOld = false;
        bool elsewhere = false;  // through a link into another folder
        bool stale = false;      // an old file that goes, with no new one
        bool oldMoved = false;
        bool placed = false;
    };
    std::vector<Move> moves;
    std::lock_guard<std::mutex> guard(registry().lock);

    // Removes the temporaries made beside targets in other folders.
    auto dropElsewhere = [&] {
        for (const Move& m : moves) {
            if (!m.elsewhere) continue;
            if (!m.placed) unlink(m.fresh.c_str());
            if (!m.oldMoved) unlink(m.backup.c_str());
            registry().drop(m.fresh);
            registry().drop(m.backup);
        }
    };

    // First everything that can fail without changing what the user sees.
    try {
        const fs::path previous = folder_ / "previous";
        if (mkdir(previous.c_str(), 0700) != 0) throw cannotWrite(directory_.string(), errno);
        struct stat home;
        if (stat(directory_.c_str(), &home) != 0) throw cannotWrite(directory_.string(), errno);
        for (const std::string& name : names_) {
            Move m;
            m.shown = (directory_ / name).string();
            m.target = finalTarget(m.shown);
            const ExistingFile old = checkReplaceable(m.shown, force);
            m.hasOld = old.exists;
            m.fresh = (folder_ / name).string();
            carryOver(m.fresh, old, m.shown);
            struct stat there;
            if (stat(folderOf(m.target).c_str(), &there) != 0) throw cannotWrite(m.shown, errno);
            if (sameFolder(home, there)) {
                m.backup = (previous / name).string();
                moves.push_back(m);
                continue;
            }
            // A link leads to another folder: the new file and the place for
            // the old one go beside the target there.
            m.elsewhere = true;
            const std::string staged = m.fresh;
            m.fresh = makeTemporaryBeside(m.target, m.shown);
            moves.push_back(m);
            Move& away = moves.back();
            away.backup = makeTemporaryBeside(away.target, away.shown);
            if (::rename(staged.c_str(), away.fresh.c_str()) != 0) {
                if (errno != EXDEV) throw cannotWrite(away.shown, errno);
                copyFile(staged, away.fresh, away.shown);
                carryOver(away.fresh, old, away.shown);
            }
        }
        // Old files left out step aside first, so that a failure later
        // brings them back too. The name goes, a link rather than its target.
        std::vector<Move> leftOut;
        for (const std::string& name : stale_) {
            Move m;
            m.shown = (directory_ / name).string();
            m.target = m.shown;
            struct stat info;
            if (lstat(m.target.c_str(), &info) != 0) continue;
            if (S_ISREG(info.st_mode)) checkReplaceable(m.shown, force);
            m.hasOld = m.stale = true;
            m.backup = (previous / name).string();
            leftOut.push_back(m);
        }
        moves.insert(moves.begin(), leftOut.begin(), leftOut.end());
    } catch (...) {
        dropElsewhere();
        throw;
    }

    // Then the old files step aside and the new ones take their names; on
    // a failure everything goes back.
    for (std::size_t i = 0; i < moves.size(); ++i) {
        Move& m = moves[i];
        int code = 0;
        if (m.hasOld && ::rename(m.target.c_str(), m.backup.c_str()) != 0) code = errno;
        if (code == 0) m.oldMoved = m.hasOld;
        if (code == 0 && !m.stale && ::rename(m.fresh.c_str(), m.target.c_str()) != 0) {
            code = errno;
        }
        if (code == 0) {
            m.placed = !m.stale;
            continue;
        }
        bool restored = true;
        for (std::size_t j = i + 1; j-- > 0;) {
            Move& back = moves[j];
            if (back.oldMoved) {
                if (::rename(back.backup.c_str(), back.target.c_str()) == 0) {
                    back.oldMoved = false;
                    back.placed = false;
                } else {
                    restored = false;
                }
            } else if (back.placed && unlink(back.target.c_str()) == 0) {
                back.placed = false;
            }
        }
        dropElsewhere();
        if (!restored) {
            // Old files that could not go back stay where they wait.
            registry().drop(folder_.string());
            const std::string kept = folder_.string();
            folder_.clear();
            throw CliError("cannot write " + m.shown + ": " + systemErrorText(code) +
                           "; some earlier files are kept in " + kept);
        }
        throw cannotWrite(m.shown, code);
    }
    for (Move& m : moves) {
        if (m.oldMoved) unlink(m.backup.c_str());
        m.oldMoved = false;
    }
    dropElsewhere();
}

LockedFile::LockedFile(const std::string& path, const std::string& whenMissing)
    : path_(finalTarget(path).string()) {
    // The lock is on the file's inode; a replacement made while waiting for
    // it is a new inode, so the lock is taken again on that.
    for (;;) {
        // Not blocking: a named pipe would wait for a writer.
        fd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) throw CliError(whenMissing + ": " + systemErrorText(errno));
        struct stat kind;
        if (fstat(fd_, &kind) != 0 || !S_ISREG(kind.st_mode)) {
            close(fd_);
            throw usageError("cannot read " + path + ": it is not a plain file");
        }
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        int locked;
        while ((locked = flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            const int code = errno;
            close(fd_);
            throw CliError("cannot lock " + path + ": " + systemErrorText(code));
        }
        struct stat held, now;
        if (fstat(fd_, &held) == 0 && stat(path_.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
            held.st_ino == now.st_ino) {
            return;
        }
        close(fd_);
    }
}

LockedFile::~LockedFile() { close(fd_); }

std::vector<uint8_t> LockedFile::readAll() const {
    std::vector<uint8_t> bytes;
    uint8_t buffer[1 << 16];
    for (off_t offset = 0;;) {
        const ssize_t n = pread(fd_, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw CliError("cannot read " + path_ + ": " + systemErrorText(errno));
        if (n == 0) return bytes;
        bytes.insert(bytes.end(), buffer, buffer + n);
        offset += n;
    }
}

void removeTemporariesNow() {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (const auto& [path, folder] : r.paths) {
        std::error_code ignored;
        if (folder) {
            fs::remove_all(path, ignored);
        } else {
            fs::remove(path, ignored);
        }
    }
    r.paths.clear();
}

}  // namespace granulix::cli
