// Whether a file is still the one that was read. Before a write replaces a
// document, its writer checks that nobody else (another program, another
// window, a copy put back) wrote, moved or removed it since it was read;
// else the replace would silently throw their text away.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>

namespace tavro {

// Files up to this size are also compared by content: a rewrite of the same
// length within one tick of the file system's clock leaves every time
// stamp as it was. Larger files are compared by their metadata alone.
inline constexpr std::uint64_t kIdentityDigestLimit = 1 << 20;

// What a regular file was when it was read. Two identities are equal when
// every field is.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{}; // st_mtim, with nanoseconds
    // st_ctim: a writer that puts the modification time back (cp -p,
    // rsync -t, tar) cannot put this back. A change of owner or mode also
    // moves it, and then counts as a change: the safe side.
    timespec changed{};
    bool digested = false;              // size <= kIdentityDigestLimit
    std::array<std::uint8_t, 16> digest{}; // MD5 of the content, when digested
};

bool operator==(const FileIdentity& a, const FileIdentity& b);

// The identity of the regular file open at fd, taken before or while it is
// read; the content is read with pread (the file offset does not move).
// nullopt with errno set when fstat or a read fails, EINVAL when fd is not
// a regular file.
std::optional<FileIdentity> ReadFileIdentity(int fd);

enum class FileChange {
    Unchanged,  // the same file with the same content
    Changed,    // written, replaced, or its metadata changed
    Missing,    // nothing at path any more (removed or moved away)
    Unreadable, // path could not be examined; error says why
};

struct FileCheck {
    FileChange change = FileChange::Unreadable;
    int error = 0; // errno, for Unreadable
};

// Compares what is at path now with recorded; symbolic links are followed.
// Meant to run as late as possible, right before the rename that replaces
// the file: what happens between this check and the rename (a window of
// microseconds) goes unseen, as does a writer that keeps the old file open
// and writes into it after the rename. Only a lock that every writer
// honours could close that window, and POSIX has none that other programs
// must obey.
FileCheck CheckFileIdentity(const std::filesystem::path& path, const FileIdentity& recorded);

} // namespace tavro
