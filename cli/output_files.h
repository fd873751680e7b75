// Replacing files without losing anything the user had. Every output is
// written under a hidden temporary name beside its target and renamed over
// it only when whole:
//   - a symbolic link is followed to its final target, which is replaced;
//     the link stays;
//   - the new file takes the permission bits (and, where allowed, the owner
//     and group) of the file it replaces; a new name gets 0666 less umask;
//   - a target without any write bit is refused unless `force` is given;
//     a folder or anything else that is not a plain file is refused;
//   - a set of files (a numbered picture sequence) is published all at once:
//     every target gets its new file and the old files it leaves out go, or
//     every target keeps its old one;
//   - an output that is the same file as one the command reads is refused
//     before anything is opened (sameFileRefused).
// Temporaries are listed in a registry so that a stopping program can
// remove them from another thread (removeTemporariesNow).
// Every failure is a CliError "cannot write NAME: REASON" with the reason
// the system gave at the point of failure.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace granulix::cli {

// `path` with every symbolic link in its last part followed to the end;
// `path` itself when it is not a link or does not exist.
std::filesystem::path finalTarget(const std::filesystem::path& path);

// What a replacement must carry over from the file it replaces.
struct ExistingFile {
    bool exists = false;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
};

// Throws unless the final target of `path` may be replaced (see above).
ExistingFile checkReplaceable(const std::filesystem::path& path, bool force);

// A file a command reads, named for messages: "clip A", "the settings file".
struct ReadFile {
    std::string role;
    std::string path;
};

// Throws a usage error when the file `output` names (after every link) is
// one of `inputs`, compared by device and inode; `option` says how the
// output was given ("-o", "--progress"). A name that does not exist yet is
// no file read.
void sameFileRefused(const std::string& option, const std::string& output,
                     const std::vector<ReadFile>& inputs);

// A hidden file beside the final target of a name, removed again unless
// commit() renames it over the target.
class PendingFile {
public:
    PendingFile(const std::string& target, bool force);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::string& path() const { return temporary_; }
    void commit();

private:
    std::string target_;
    std::filesystem::path final_;
    std::string temporary_;
    bool force_;
};

// Writes `bytes` to a PendingFile for `target` and commits it.
void replaceFile(const std::string& target, const std::vector<uint8_t>& bytes, bool force);

// A hidden folder in `directory` holding new files until publish() moves
// them all to their names in `directory`; removed with everything in it.
class StagingFolder {
public:
    // `what` names the output in messages.
    StagingFolder(const std::filesystem::path& directory, const std::string& what);
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    void write(const std::string& name, const std::vector<uint8_t>& bytes);
    // Names in `directory` whose old files go when publish() succeeds.
    void removeOnPublish(std::vector<std::string> names) { stale_ = std::move(names); }
    // All or nothing: on failure every target is as it was before.
    void publish(bool force);

private:
    std::filesystem::path directory_;
    std::filesystem::path folder_;
    std::vector<std::string> names_;
    std::vector<std::string> stale_;
};

// An exclusive lock on the final target of `path`, held until destroyed,
// for reading a file and replacing it without losing a change made by
// another process in between.
class LockedFile {
public:
    // Throws CliError("`whenMissing`: REASON") when the file cannot be opened,
    // and a usage error when it is not a plain file; opening never waits on
    // a named pipe.
    LockedFile(const std::string& path, const std::string& whenMissing);
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    std::vector<uint8_t> readAll() const;

private:
    std::string path_;
    int fd_ = -1;
};

// Removes every registered temporary; for a program about to end at once.
// Waits for a publication in progress to finish or roll back first.
void removeTemporariesNow();

// The text of an errno value.
std::string systemErrorText(int code);

// Writes all of `data` to `fd`; throws "cannot write `what`: REASON".
void writeAll(int fd, const uint8_t* data, std::size_t size, const std::string& what);

}  // namespace granulix::cli
