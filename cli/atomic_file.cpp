#include "atomic_file.h"

#include "exit_codes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tavro::cli {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error)
{
    throw CliFailure(kExitIo, what + " " + path + ": " + std::strerror(error));
}

// Closes a descriptor on scope exit unless released.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports the result: close can be the first to report a
    // failed write on some file systems.
    int Close()
    {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Removes the temporary file unless the rename has consumed it.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    ~TemporaryFile()
    {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }
    void Release() { path_.clear(); }

private:
    std::string path_;
};

mode_t NewFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

void WriteInPlace(int fd, const std::string& name, std::span<const std::uint8_t> bytes)
{
    if (!WriteAll(fd, bytes))
        Fail("cannot write", name, errno);
}

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

SecureBytes ReadWholeFile(const std::string& path)
{
    const bool isStdin = path == "-";
    const std::string name = isStdin ? "standard input" : path;
    FileDescriptor owned(isStdin ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const int fd = isStdin ? STDIN_FILENO : owned.get();
    if (fd < 0)
        Fail("cannot read", name, errno);

    struct stat info{};
    if (::fstat(fd, &info) != 0)
        Fail("cannot read", name, errno);
    if (S_ISDIR(info.st_mode))
        Fail("cannot read", name, EISDIR);

    SecureBytes content;
    if (S_ISREG(info.st_mode) && info.st_size > 0)
        content.reserve(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t size = 0;
    for (;;) {
        if (content.capacity() - size < 4096)
            content.reserve(content.capacity() * 2 + 65536);
        content.resize(content.capacity());
        const ssize_t got = ::read(fd, content.data() + size, content.size() - size);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            Fail("cannot read", name, errno);
        }
        if (got == 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    content.resize(size);
    return content;
}

void WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes)
{
    if (path == "-") {
        WriteInPlace(STDOUT_FILENO, "standard output", bytes);
        return;
    }

    fs::path target(path);
    struct stat existing{};
    bool exists = ::stat(path.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT)
        Fail("cannot write", path, errno);
    if (exists && S_ISDIR(existing.st_mode))
        Fail("cannot write", path, EISDIR);
    if (exists && !S_ISREG(existing.st_mode)) {
        FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
        if (fd.get() < 0)
            Fail("cannot write", path, errno);
        WriteInPlace(fd.get(), path, bytes);
        if (fd.Close() != 0)
            Fail("cannot write", path, errno);
        return;
    }
    if (exists) {
        // Replace the file a symbolic link names, not the link itself.
        std::error_code error;
        const fs::path resolved = fs::canonical(target, error);
        if (!error)
            target = resolved;
    }

    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string temporaryName = (folder / ".tavro-XXXXXX").string();
    FileDescriptor fd(::mkstemp(temporaryName.data()));
    if (fd.get() < 0)
        Fail("cannot write", path, errno);
    TemporaryFile temporary(temporaryName);

    if (exists) {
        if (::fchmod(fd.get(), existing.st_mode & 07777) != 0)
            Fail("cannot write", path, errno);
        // Keeping the owner needs privileges we may not have; the permission
        // bits above are what decides who can read the document.
        [[maybe_unused]] const int ownerKept = ::fchown(fd.get(), existing.st_uid, existing.st_gid);
    } else if (::fchmod(fd.get(), NewFileMode()) != 0) {
        Fail("cannot write", path, errno);
    }

    WriteInPlace(fd.get(), path, bytes);
    if (::fsync(fd.get()) != 0)
        Fail("cannot write", path, errno);
    if (fd.Close() != 0)
        Fail("cannot write", path, errno);
    if (::rename(temporary.path().c_str(), target.c_str()) != 0)
        Fail("cannot write", path, errno);
    temporary.Release();

    // Make the rename itself durable. File systems that cannot sync a
    // folder say EINVAL; the data are on disk either way.
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0 && ::fsync(directory.get()) != 0 && errno != EINVAL)
        Fail("written but not synced to disk:", path, errno);
}

} // namespace tavro::cli
