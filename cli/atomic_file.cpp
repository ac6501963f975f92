#include "atomic_file.h"

#include "document_file.h"
#include "exit_codes.h"
#include "input_file.h"
#include "secure_memory.h"
#include "temporary_cleanup.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace tavro::cli {
namespace {

namespace fs = std::filesystem;

// Test hooks, read from the environment: a descriptor told (one byte) once
// the first bytes are in the temporary file, so a test can signal the tool
// at that point; and a switch that makes the temporary file a named one,
// as on file systems without O_TMPFILE.
void AnnounceFirstWrite()
{
    const char* fd = std::getenv("TAVRO_CLI_TEST_READY_FD");
    if (fd == nullptr)
        return;
    const int ready = std::atoi(fd);
    [[maybe_unused]] const ssize_t told = ::write(ready, "w", 1);
    ::close(ready);
}

bool NamedTemporaryForced() { return std::getenv("TAVRO_CLI_TEST_NAMED_TEMP") != nullptr; }

mode_t NewFileMode(Content content)
{
    if (content == Content::Plaintext)
        return 0600;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

// The path that path leads to through symbolic links, dangling ones
// included: a link to a missing file leads to that file's path.
std::string FollowLinks(const std::string& path, int& error)
{
    fs::path current(path);
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info{};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return current.string();
        std::vector<char> target(PATH_MAX + 1);
        const ssize_t length = ::readlink(current.c_str(), target.data(), PATH_MAX);
        if (length < 0) {
            error = errno;
            return {};
        }
        const fs::path next(std::string(target.data(), static_cast<std::size_t>(length)));
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    error = ELOOP;
    return {};
}

// A fresh ".tavro-XXXXXX" name in folder (not created).
std::string TemporaryName(const std::string& folder)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uint8_t random[6];
    RandomFiller(random, sizeof random);
    std::string name = folder + "/.tavro-";
    for (std::uint8_t r : random)
        name += kLetters[r % (sizeof kLetters - 1)];
    return name;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

} // namespace

bool WriteAll(int fd, std::span<const std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// --- AtomicOutput ---------------------------------------------------------------

AtomicOutput::AtomicOutput(const std::string& path, Content content, const struct stat* input)
    : name_(path == "-" ? "standard output" : path)
{
    auto refuseIfInput = [&](const struct stat& info) {
        if (input != nullptr && S_ISREG(info.st_mode) && SameFile(info, *input))
            throw CliFailure(kExitUsage, "the output " + name_ +
                                             " is the input file; writing it would destroy what is being read");
    };
    if (path == "-") {
        // A closed standard output has a read-only stand-in (see
        // ReserveStandardStreams): refused before any work is done.
        const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
        if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY)
            throw CliFailure(kExitIo, "cannot write standard output: it is closed or not open for writing");
        struct stat info{};
        if (::fstat(STDOUT_FILENO, &info) == 0)
            refuseIfInput(info);
        inPlace_ = STDOUT_FILENO;
        return;
    }

    int error = 0;
    target_ = FollowLinks(path, error);
    if (error != 0)
        Fail(error);
    struct stat existing{};
    const bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT)
        Fail(errno);
    if (exists && S_ISDIR(existing.st_mode))
        Fail(EISDIR);
    if (exists)
        refuseIfInput(existing);
    if (exists && !S_ISREG(existing.st_mode)) {
        inPlace_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
        if (inPlace_ < 0)
            Fail(errno);
        return;
    }

    const fs::path targetPath(target_);
    folder_ = targetPath.has_parent_path() ? targetPath.parent_path().string() : ".";
    if (!NamedTemporaryForced())
        fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        if (!NamedTemporaryForced() && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            Fail(errno);
        std::string temporary = folder_ + "/.tavro-XXXXXX";
        CleanupSignalsBlocked blocked;
        fd_ = ::mkstemp(temporary.data());
        if (fd_ < 0)
            Fail(errno);
        ArmCleanup(temporary);
        temporary_ = temporary;
        named_ = true;
    }

    // The temporary file stays 0600 while it is written; it takes its final
    // mode (and owner) only once complete.
    finalMode_ = exists ? existing.st_mode & 07777 : NewFileMode(content);
    if (exists)
        owner_ = std::make_pair(existing.st_uid, existing.st_gid);
}

AtomicOutput::~AtomicOutput()
{
    if (!committed_ && named_) {
        ::unlink(temporary_.c_str());
        DisarmCleanup();
    }
    if (fd_ >= 0)
        ::close(fd_); // an unnamed temporary file vanishes with its descriptor
    if (inPlace_ > STDERR_FILENO)
        ::close(inPlace_);
}

void AtomicOutput::Fail(int error) const
{
    throw CliFailure(kExitIo, "cannot write " + name_ + ": " + std::strerror(error));
}

void AtomicOutput::Write(std::span<const std::uint8_t> bytes)
{
    if (!WriteAll(seekable() ? fd_ : inPlace_, bytes))
        Fail(errno);
    if (seekable()) {
        // Start the write-back of every full stretch now, so that the sync
        // at the end has little left to wait for and dirty pages stay few.
        written_ += bytes.size();
        constexpr std::uint64_t kStretch = 8 << 20;
        if (written_ - flushed_ >= kStretch) {
            ::sync_file_range(fd_, static_cast<off_t>(flushed_), static_cast<off_t>(written_ - flushed_),
                              SYNC_FILE_RANGE_WRITE);
            flushed_ = written_;
        }
    }
    if (!announced_ && !bytes.empty()) {
        announced_ = true;
        AnnounceFirstWrite();
    }
}

void AtomicOutput::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written =
            ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            Fail(errno);
        done += static_cast<std::size_t>(written);
    }
}

void AtomicOutput::BeforeReplace() const
{
    if (checkBeforeReplace_)
        checkBeforeReplace_(target_);
    if (keepBeforeReplace_)
        keepBeforeReplace_(target_);
}

void AtomicOutput::Commit()
{
    committed_ = true;
    if (!seekable()) {
        if (inPlace_ > STDERR_FILENO) {
            const int fd = inPlace_;
            inPlace_ = -1;
            if (::close(fd) != 0)
                Fail(errno);
        }
        return;
    }
    committed_ = false;
    if (::fchmod(fd_, finalMode_) != 0)
        Fail(errno);
    if (owner_) {
        // Keeping the owner needs privileges we may not have; the permission
        // bits above are what decides who can read the file.
        [[maybe_unused]] const int ownerKept = ::fchown(fd_, owner_->first, owner_->second);
    }
    if (::fsync(fd_) != 0)
        Fail(errno);

    if (named_) {
        BeforeReplace();
        if (::rename(temporary_.c_str(), target_.c_str()) != 0)
            Fail(errno);
        DisarmCleanup();
        named_ = false;
    } else {
        // The unnamed file gets a name: the target's own when it is new (an
        // atomic create that never replaces), else a temporary name that is
        // then renamed over the target. A checked replace takes the second
        // way whatever is there, so that its check comes last.
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        if (checkBeforeReplace_ ||
            ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (!checkBeforeReplace_ && errno != EEXIST)
                Fail(errno);
            for (;;) {
                const std::string temporary = TemporaryName(folder_);
                CleanupSignalsBlocked blocked;
                if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                    ArmCleanup(temporary);
                    temporary_ = temporary;
                    named_ = true;
                    break;
                }
                if (errno != EEXIST)
                    Fail(errno);
            }
            BeforeReplace();
            if (::rename(temporary_.c_str(), target_.c_str()) != 0)
                Fail(errno);
            DisarmCleanup();
            named_ = false;
        }
    }
    committed_ = true;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0)
        Fail(errno);

    // Make the rename itself durable. File systems that cannot sync a
    // folder say EINVAL; the data are on disk either way.
    const int directory = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        const bool synced = ::fsync(directory) == 0 || errno == EINVAL;
        ::close(directory);
        if (!synced)
            throw CliFailure(kExitIo, "written but not synced to disk: " + name_ + ": " + std::strerror(errno));
    }
}

// --- SpoolFile ------------------------------------------------------------------

SpoolFile::SpoolFile()
{
    const char* base = std::getenv("TMPDIR");
    const std::string folder = base != nullptr && *base != '\0' ? base : "/tmp";
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        std::string temporary = folder + "/.tavro-XXXXXX";
        CleanupSignalsBlocked blocked;
        fd_ = ::mkstemp(temporary.data());
        if (fd_ >= 0)
            ::unlink(temporary.c_str());
    }
    if (fd_ < 0)
        throw CliFailure(kExitIo, "cannot make a scratch file in " + folder + ": " + std::strerror(errno));
}

SpoolFile::~SpoolFile() { ::close(fd_); }

void SpoolFile::Write(std::span<const std::uint8_t> bytes)
{
    if (!WriteAll(fd_, bytes))
        throw CliFailure(kExitIo, std::string("cannot write a scratch file: ") + std::strerror(errno));
}

void SpoolFile::CopyTo(AtomicOutput& output)
{
    SecureBytes buffer(kPieceSize);
    for (off_t offset = 0;;) {
        const ssize_t got = ::pread(fd_, buffer.data(), buffer.size(), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw CliFailure(kExitIo, std::string("cannot read a scratch file: ") + std::strerror(errno));
        if (got == 0)
            return;
        output.Write({buffer.data(), static_cast<std::size_t>(got)});
        offset += got;
    }
}

} // namespace tavro::cli
