#include "file_identity.h"

#include "md5.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tavro {
namespace {

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

FileIdentity FromStat(const struct stat& info)
{
    FileIdentity identity;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.size = info.st_size;
    identity.modified = info.st_mtim;
    identity.changed = info.st_ctim;
    return identity;
}

// MD5 of the first size bytes at fd; a file shorter than size by now
// digests what it has, which then differs from a digest taken before.
bool DigestContent(int fd, std::uint64_t size, std::array<std::uint8_t, 16>& digest)
{
    Md5Context context;
    Md5Init(context);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = ::pread(fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    Md5Update(context, buffer.data(), static_cast<std::uint32_t>(done));
    Md5Finalize(context);
    std::memcpy(digest.data(), context.digest, digest.size());
    return true;
}

bool SameMetadata(const FileIdentity& a, const FileIdentity& b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size && SameTime(a.modified, b.modified) &&
           SameTime(a.changed, b.changed);
}

} // namespace

bool operator==(const FileIdentity& a, const FileIdentity& b)
{
    return SameMetadata(a, b) && a.digested == b.digested && a.digest == b.digest;
}

std::optional<FileIdentity> ReadFileIdentity(int fd)
{
    struct stat info{};
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return std::nullopt;
    }
    FileIdentity identity = FromStat(info);
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size <= kIdentityDigestLimit) {
        if (!DigestContent(fd, size, identity.digest))
            return std::nullopt;
        identity.digested = true;
    }
    return identity;
}

FileCheck CheckFileIdentity(const std::filesystem::path& path, const FileIdentity& recorded)
{
    const auto failed = [](int error) {
        return error == ENOENT || error == ENOTDIR ? FileCheck{FileChange::Missing, 0}
                                                   : FileCheck{FileChange::Unreadable, error};
    };
    // The metadata first, by name: most changes show there without opening.
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0)
        return failed(errno);
    if (!S_ISREG(info.st_mode) || !SameMetadata(FromStat(info), recorded))
        return {FileChange::Changed, 0};
    if (!recorded.digested)
        return {FileChange::Unchanged, 0};

    // The content, through a descriptor whose own identity is taken again:
    // the name may have been given to another file since the stat.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return failed(errno);
    const std::optional<FileIdentity> opened = ReadFileIdentity(fd);
    const int error = errno;
    ::close(fd);
    if (!opened)
        return error == EINVAL ? FileCheck{FileChange::Changed, 0} : FileCheck{FileChange::Unreadable, error};
    return {*opened == recorded ? FileChange::Unchanged : FileChange::Changed, 0};
}

} // namespace tavro
