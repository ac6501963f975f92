// Writing a file all-or-nothing, in pieces. A target is never left
// half-written: the bytes go to a temporary file in the target's own folder,
// are flushed to the disk, and the temporary file then takes the target's
// name in one rename; on any failure the temporary file is removed and the
// target keeps its old content.
//
// Where the file system offers it the temporary file has no name at all
// (O_TMPFILE) until it is complete, so not even SIGKILL can leave a partial
// one behind; elsewhere it is ".tavro-XXXXXX", removed on failure and on
// SIGINT, SIGTERM and SIGHUP.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace tavro::cli {

// What is written decides the mode of a new file: plaintext is for its
// owner alone (0600); a document gets 0666 less the umask. An existing
// regular file keeps its permission bits (and its owner where allowed).
enum class Content { Document, Plaintext };

class AtomicOutput {
public:
    // Prepares the output for path, "-" meaning standard output. A symbolic
    // link is followed, also when dangling (the file it names is created);
    // an existing target that is not a regular file (a terminal, a pipe,
    // /dev/null) and "-" are written in place, since they cannot be renamed
    // over. input, when given, is the file being read: writing over it is
    // refused (CliFailure kExitUsage). Throws CliFailure(kExitIo) naming the
    // path on any failure.
    AtomicOutput(const std::string& path, Content content, const struct stat* input);
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    // Whether WriteAt can go back: true for the temporary file, false for
    // an output written in place.
    bool seekable() const { return inPlace_ < 0; }
    void Write(std::span<const std::uint8_t> bytes);
    void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // Syncs and puts the file in place of the target.
    void Commit();
    // Has Commit call check(target) as its very last step before the
    // finished file replaces the target (links followed), so that what it
    // checks has the least time to change; check throws to refuse, and the
    // target is then left as it is. A checked replace never creates the
    // target: a target gone by then fails the check, not the write.
    void CheckBeforeReplace(std::function<void(const std::string& target)> check)
    {
        checkBeforeReplace_ = std::move(check);
    }
    // Has Commit call keep(target) right before the rename that puts the
    // file in its place (after the check above), the moment to keep the
    // bytes about to go (a new file linked into place, and an output written
    // in place, have none).
    void SetBeforeReplace(std::function<void(const std::string& target)> keep) { keepBeforeReplace_ = std::move(keep); }

private:
    [[noreturn]] void Fail(int error) const;
    void BeforeReplace() const; // the check, then the keep

    std::string name_;     // for messages
    std::string target_;   // the path renamed over (links followed)
    std::string folder_;
    std::string temporary_; // the temporary file's name, while it has one
    int fd_ = -1;
    int inPlace_ = -1;     // the descriptor written in place, else -1
    bool named_ = false;   // the temporary file has a name (mkstemp)
    bool committed_ = false;
    bool announced_ = false;
    mode_t finalMode_ = 0600;
    std::optional<std::pair<uid_t, gid_t>> owner_;
    std::uint64_t written_ = 0; // bytes written to the temporary file
    std::uint64_t flushed_ = 0; // of which write-back was started
    std::function<void(const std::string&)> checkBeforeReplace_;
    std::function<void(const std::string&)> keepBeforeReplace_;
};

// A scratch file with no name, for bytes that must be held back before they
// can go out (a document bound for a pipe, whose header comes first).
class SpoolFile {
public:
    SpoolFile();
    ~SpoolFile();
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;
    void Write(std::span<const std::uint8_t> bytes);
    // Copies everything written, from the start, to output.
    void CopyTo(AtomicOutput& output);

private:
    int fd_ = -1;
};

// Writes all bytes to an open descriptor; false with errno set on failure.
bool WriteAll(int fd, std::span<const std::uint8_t> bytes);

} // namespace tavro::cli
