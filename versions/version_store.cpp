#include "version_store.h"

#include "document_file.h"
#include "strong_format.h"

#include "md5.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

namespace tavro {
namespace {

constexpr std::string_view kRecordName = "document";
constexpr std::string_view kRecordHeading = "tavro version history 1\n";
constexpr std::string_view kTemporaryPrefix = ".tmp-";
constexpr int kFolderCandidates = 8;
constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 24 * kHour;
constexpr std::int64_t kMonth = 30 * kDay;
constexpr std::size_t kCopyPiece = 1 << 20;

// A descriptor closed when it goes.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) {
            Reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void Reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

std::string Why(const std::string& what, int error) { return what + ": " + std::strerror(error); }

// Digits only, no sign, no leading zero, at most 18 of them (fits int64).
std::optional<std::int64_t> ParseDecimal(std::string_view digits)
{
    if (digits.empty() || digits.size() > 18 || (digits.size() > 1 && digits[0] == '0'))
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string Md5Hex(std::string_view text)
{
    Md5Context context;
    Md5Init(context);
    Md5Update(context, reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<std::uint32_t>(text.size()));
    return Md5HexDigest(context);
}

std::string FolderName(const std::string& canonical, int candidate)
{
    const std::string hash = Md5Hex(canonical);
    return candidate == 1 ? hash : hash + "-" + std::to_string(candidate);
}

std::string RandomSuffix()
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::uint8_t random[8] = {};
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        const auto seed = static_cast<std::uint64_t>(std::time(nullptr)) ^ static_cast<std::uint64_t>(::getpid()) << 20 ^
                          reinterpret_cast<std::uintptr_t>(&random);
        std::memcpy(random, &seed, sizeof random);
    }
    std::string suffix;
    for (std::uint8_t r : random)
        suffix += kLetters[r % (sizeof kLetters - 1)];
    return suffix;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Reads all of fd (from its current offset) into sink; false with errno set.
bool ReadAll(int fd, const std::function<void(std::span<const std::uint8_t>)>& sink)
{
    std::vector<std::uint8_t> buffer(kCopyPiece);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        sink({buffer.data(), static_cast<std::size_t>(got)});
    }
}

// Copies all of from into to: a reflink where the file system shares
// blocks, else the kernel's copy, else read and write. False with errno set.
bool CopyFile(int from, int to)
{
    if (::ioctl(to, FICLONE, from) == 0)
        return true;
    for (;;) {
        const ssize_t copied = ::copy_file_range(from, nullptr, to, nullptr, kCopyPiece, 0);
        if (copied == 0)
            return true;
        if (copied > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return false;
        break; // this pair of file systems: by hand, from where the kernel stopped
    }
    bool written = true;
    const bool read = ReadAll(from, [&](std::span<const std::uint8_t> piece) {
        written = written && WriteAll(to, piece.data(), piece.size());
    });
    return read && written;
}

// The path the document is at: symbolic links followed, also a dangling
// one to the file it names; a file that does not exist is named in its
// folder's canonical path.
bool CanonicalPath(const std::string& path, std::string& canonical, int& error)
{
    std::string current = path;
    for (int hops = 0;; ++hops) {
        struct stat info{};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            break;
        if (hops == 40) {
            error = ELOOP;
            return false;
        }
        std::vector<char> target(PATH_MAX + 1);
        const ssize_t length = ::readlink(current.c_str(), target.data(), PATH_MAX);
        if (length < 0) {
            error = errno;
            return false;
        }
        const std::string next(target.data(), static_cast<std::size_t>(length));
        const std::size_t slash = current.rfind('/');
        current = next.starts_with('/') || slash == std::string::npos ? next : current.substr(0, slash + 1) + next;
    }
    std::vector<char> resolved(PATH_MAX + 1);
    if (::realpath(current.c_str(), resolved.data()) != nullptr) {
        canonical = resolved.data();
        return true;
    }
    if (errno != ENOENT) {
        error = errno;
        return false;
    }
    const std::size_t slash = current.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : current.substr(0, slash);
    const std::string name = slash == std::string::npos ? current : current.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        error = EISDIR;
        return false;
    }
    if (::realpath(folder.c_str(), resolved.data()) == nullptr) {
        error = errno;
        return false;
    }
    canonical = std::string(resolved.data());
    canonical += (canonical == "/" ? "" : "/") + name;
    return true;
}

std::optional<std::string> ReadRecord(int folder)
{
    const Fd fd(::openat(folder, std::string(kRecordName).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info{};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size > static_cast<off_t>(kRecordHeading.size() + PATH_MAX))
        return std::nullopt;
    std::string bytes;
    if (!ReadAll(fd.get(), [&](std::span<const std::uint8_t> piece) { bytes.append(piece.begin(), piece.end()); }))
        return std::nullopt;
    return ParseHistoryRecord(bytes);
}

// A version found in a document's folder.
struct Entry {
    Version version;
    std::string name;
    nlink_t links = 0;
    mode_t mode = 0;
};

// The folder's versions, newest first, and (when wanted) its stale
// temporary files; whatever does not parse or is no regular file is left out.
std::vector<Entry> ReadEntries(int folder, std::vector<std::string>* temporaries = nullptr)
{
    std::vector<Entry> entries;
    DIR* dir = ::fdopendir(::dup(folder));
    if (dir == nullptr)
        return entries;
    ::rewinddir(dir);
    while (const dirent* item = ::readdir(dir)) {
        const std::string_view name = item->d_name;
        struct stat info{};
        if (::fstatat(folder, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (name.starts_with(kTemporaryPrefix)) {
            if (temporaries != nullptr && info.st_mtime < std::time(nullptr) - kHour)
                temporaries->emplace_back(name);
            continue;
        }
        std::optional<Version> version = ParseVersionName(name);
        if (!version)
            continue;
        version->size = static_cast<std::uint64_t>(info.st_size);
        version->modifiedAt = info.st_mtime;
        entries.push_back({*version, std::string(name), info.st_nlink, info.st_mode});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.version.number > b.version.number; });
    return entries;
}

// Which versions the bounds drop, oldest first out (see the header).
std::vector<const Entry*> Dropped(const std::vector<Entry>& newestFirst, std::int64_t now)
{
    std::vector<const Entry*> kept, dropped;
    std::set<std::int64_t> hours, days;
    for (const Entry& entry : newestFirst) {
        const std::int64_t keptAt = entry.version.keptAt;
        const std::int64_t age = std::max<std::int64_t>(0, now - keptAt);
        bool keep = kept.empty() || age < kHour;
        if (!keep && age < kDay)
            keep = hours.insert(keptAt / kHour).second;
        else if (!keep && age < kMonth)
            keep = days.insert(keptAt / kDay).second;
        (keep ? kept : dropped).push_back(&entry);
    }
    std::uint64_t largest = 0, total = 0;
    for (const Entry* entry : kept) {
        largest = std::max(largest, entry->version.size);
        total += entry->version.size;
    }
    const std::uint64_t budget = std::min(kMaxBytes, kSizeFactor * largest);
    while (kept.size() > 1 && (kept.size() > kMaxVersions || total > budget)) {
        total -= kept.back()->version.size;
        dropped.push_back(kept.back());
        kept.pop_back();
    }
    return dropped;
}

// Applies the bounds to a folder just added to, and gives versions that are
// no longer the document the store's own permission bits.
void Thin(int folder, std::int64_t now)
{
    std::vector<std::string> temporaries;
    const std::vector<Entry> entries = ReadEntries(folder, &temporaries);
    for (const Entry* entry : Dropped(entries, now))
        ::unlinkat(folder, entry->name.c_str(), 0);
    for (const std::string& name : temporaries)
        ::unlinkat(folder, name.c_str(), 0);
    for (const Entry& entry : entries) {
        if (entry.links != 1 || (entry.mode & 077) == 0)
            continue;
        const Fd fd(::openat(folder, entry.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd)
            ::fchmod(fd.get(), 0600); // gone by now, or not ours: nothing to do
    }
}

} // namespace

// --- Names and records ---------------------------------------------------------------

std::string VersionName(const Version& version)
{
    return std::to_string(version.number) + "-" + std::to_string(version.keptAt) + "-" +
           std::to_string(static_cast<unsigned>(version.origin));
}

std::optional<Version> ParseVersionName(std::string_view name)
{
    const std::size_t first = name.find('-');
    const std::size_t second = first == std::string_view::npos ? first : name.find('-', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const std::optional<std::int64_t> number = ParseDecimal(name.substr(0, first));
    const std::optional<std::int64_t> keptAt = ParseDecimal(name.substr(first + 1, second - first - 1));
    const std::optional<std::int64_t> origin = ParseDecimal(name.substr(second + 1));
    if (!number || *number < 1 || !keptAt || !origin || *origin < 1 || *origin > 255)
        return std::nullopt;
    Version version;
    version.number = static_cast<std::uint64_t>(*number);
    version.keptAt = *keptAt;
    version.origin = static_cast<VersionOrigin>(*origin);
    return version;
}

std::string HistoryRecord(std::string_view canonicalPath) { return std::string(kRecordHeading) + std::string(canonicalPath); }

std::optional<std::string> ParseHistoryRecord(std::string_view bytes)
{
    if (!bytes.starts_with(kRecordHeading))
        return std::nullopt;
    const std::string_view path = bytes.substr(kRecordHeading.size());
    if (path.empty() || path.front() != '/' || path.size() > PATH_MAX || path.find('\0') != std::string_view::npos)
        return std::nullopt;
    return std::string(path);
}

std::int64_t SystemSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string DefaultVersionRoot()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/')
        return std::string(data) + "/tavro/versions";
    std::string home;
    if (const char* variable = std::getenv("HOME"); variable != nullptr && variable[0] == '/') {
        home = variable;
    } else {
        passwd entry{};
        passwd* found = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
            found->pw_dir != nullptr && found->pw_dir[0] == '/')
            home = found->pw_dir;
    }
    return home.empty() ? std::string() : home + "/.local/share/tavro/versions";
}

// --- The store ---------------------------------------------------------------------

namespace {

// The store's root, opened; made (0700, with the folders leading to it)
// when create is set. Absent without create: ok, no descriptor.
Fd OpenRoot(const std::string& root, bool create, std::string& message)
{
    if (root.empty()) {
        message = "no version store: neither XDG_DATA_HOME nor a home folder is known";
        return Fd();
    }
    if (create) {
        for (std::size_t slash = root.find('/', 1);; slash = root.find('/', slash + 1)) {
            const std::string prefix = root.substr(0, slash);
            if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
                break; // the open below says why
            if (slash == std::string::npos)
                break;
        }
    }
    Fd fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        if (create || errno != ENOENT)
            message = Why("cannot open the version store " + root, errno);
        return Fd();
    }
    struct stat info{};
    if (::fstat(fd.get(), &info) != 0 || info.st_uid != ::geteuid()) {
        message = "the version store " + root + " does not belong to this user";
        return Fd();
    }
    if ((info.st_mode & 077) != 0)
        ::fchmod(fd.get(), 0700);
    return fd;
}

// The document's folder, or none (no history, or message set on failure).
Fd FindFolder(int root, const std::string& canonical)
{
    for (int candidate = 1; candidate <= kFolderCandidates; ++candidate) {
        Fd folder(::openat(root, FolderName(canonical, candidate).c_str(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder && ReadRecord(folder.get()) == canonical)
            return folder;
    }
    return Fd();
}

// Makes the document's folder in the first free name, its record written
// and synced before the folder takes that name.
Fd MakeFolder(int root, const std::string& canonical, std::string& message)
{
    for (int candidate = 1; candidate <= kFolderCandidates; ++candidate) {
        const std::string name = FolderName(canonical, candidate);
        struct stat info{};
        if (::fstatat(root, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
            continue; // another path's, or not ours to trust
        const std::string temporary = std::string(kTemporaryPrefix) + RandomSuffix();
        if (::mkdirat(root, temporary.c_str(), 0700) != 0) {
            message = Why("cannot make a folder in the version store", errno);
            return Fd();
        }
        bool written = false;
        {
            const Fd fresh(::openat(root, temporary.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            const Fd record(fresh ? ::openat(fresh.get(), std::string(kRecordName).c_str(),
                                             O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)
                                  : -1);
            const std::string bytes = HistoryRecord(canonical);
            written = record && WriteAll(record.get(), reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) &&
                      ::fsync(record.get()) == 0 && ::fsync(fresh.get()) == 0;
            if (!written)
                message = Why("cannot write a record in the version store", errno);
        }
        if (written && ::renameat2(root, temporary.c_str(), root, name.c_str(), RENAME_NOREPLACE) == 0) {
            ::fsync(root);
            return Fd(::openat(root, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        }
        const int error = errno;
        const Fd fresh(::openat(root, temporary.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (fresh)
            ::unlinkat(fresh.get(), std::string(kRecordName).c_str(), 0);
        ::unlinkat(root, temporary.c_str(), AT_REMOVEDIR);
        if (!written)
            return Fd();
        if (error != EEXIST) {
            message = Why("cannot name a folder in the version store", error);
            return Fd();
        }
        // Made meanwhile by another keep of this document, or of another.
        Fd other(::openat(root, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (other && ReadRecord(other.get()) == canonical)
            return other;
    }
    message = "the version store has no free folder name for this document";
    return Fd();
}

std::uint64_t NextNumber(int folder)
{
    const std::vector<Entry> entries = ReadEntries(folder);
    return entries.empty() ? 1 : entries.front().version.number + 1;
}

// A copy of the open document under a temporary name in folder, synced,
// with the document's times; its name, or empty with errno set.
std::string CopyIntoFolder(int document, const struct stat& info, int folder)
{
    const std::string temporary = std::string(kTemporaryPrefix) + RandomSuffix();
    const Fd copy(::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!copy)
        return {};
    const timespec times[2] = {info.st_atim, info.st_mtim};
    if (::lseek(document, 0, SEEK_SET) != 0 || !CopyFile(document, copy.get()) || ::futimens(copy.get(), times) != 0 ||
        ::fsync(copy.get()) != 0) {
        const int error = errno;
        ::unlinkat(folder, temporary.c_str(), 0);
        errno = error;
        return {};
    }
    return temporary;
}

// Resolves path for the store; message set on failure.
bool Canonical(const std::string& path, std::string& canonical, std::string& message)
{
    int error = 0;
    if (CanonicalPath(path, canonical, error))
        return true;
    message = Why("cannot resolve " + path, error);
    return false;
}

// The folder of an existing history: ok with no descriptor when there is none.
StoreStatus OpenHistory(const std::string& root, const std::string& path, std::string& canonical, Fd& rootFd, Fd& folder)
{
    StoreStatus status;
    if (!Canonical(path, canonical, status.message)) {
        status.ok = false;
        return status;
    }
    rootFd = OpenRoot(root, false, status.message);
    status.ok = status.message.empty();
    if (rootFd)
        folder = FindFolder(rootFd.get(), canonical);
    return status;
}

std::optional<Entry> FindEntry(int folder, std::uint64_t number)
{
    for (Entry& entry : ReadEntries(folder)) {
        if (entry.version.number == number)
            return std::move(entry);
    }
    return std::nullopt;
}

// Opens a version for reading: a regular file, never through a link.
Fd OpenVersion(int folder, const Entry& entry)
{
    Fd fd(::openat(folder, entry.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info{};
    if (fd && (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)))
        return Fd();
    return fd;
}

} // namespace

VersionStore::VersionStore(std::string root, VersionClock clock) : root_(std::move(root)), clock_(std::move(clock)) {}

KeepResult VersionStore::Keep(const std::string& path, VersionOrigin origin) const
{
    KeepResult result;
    auto fail = [&](const std::string& why) {
        result.outcome = KeepResult::Failed;
        result.message = "no version kept of " + path + ": " + why;
        return result;
    };
    std::string canonical, message;
    if (!Canonical(path, canonical, message))
        return fail(message);
    const Fd document(::open(canonical.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info{};
    if (!document) {
        if (errno == ENOENT)
            return result; // nothing there to replace
        return fail(Why("cannot open it", errno));
    }
    if (::fstat(document.get(), &info) != 0)
        return fail(Why("cannot read it", errno));
    if (!S_ISREG(info.st_mode))
        return result;

    const Fd root = OpenRoot(root_, true, message);
    if (!root)
        return fail(message);
    Fd folder = FindFolder(root.get(), canonical);
    if (!folder)
        folder = MakeFolder(root.get(), canonical, message);
    if (!folder)
        return fail(message);

    Version version;
    version.keptAt = std::max<std::int64_t>(0, clock_());
    version.origin = origin;
    // A hard link when the store shares the document's file system and the
    // document is ours to link; else a copy, complete before it is named.
    std::string copy;
    for (version.number = NextNumber(folder.get());; ++version.number) {
        const std::string name = VersionName(version);
        if (copy.empty() && ::linkat(AT_FDCWD, canonical.c_str(), folder.get(), name.c_str(), 0) == 0)
            break;
        if (copy.empty() && errno != EEXIST) {
            copy = CopyIntoFolder(document.get(), info, folder.get());
            if (copy.empty())
                return fail(Why("cannot copy it into " + root_, errno));
        }
        if (!copy.empty() && ::linkat(folder.get(), copy.c_str(), folder.get(), name.c_str(), 0) == 0) {
            ::unlinkat(folder.get(), copy.c_str(), 0);
            break;
        }
        if (errno != EEXIST) {
            const int error = errno;
            if (!copy.empty())
                ::unlinkat(folder.get(), copy.c_str(), 0);
            return fail(Why("cannot name it in " + root_, error));
        }
    }
    // The version lasts only if the document's bytes and the new name do.
    if ((copy.empty() && ::fsync(document.get()) != 0) || ::fsync(folder.get()) != 0) {
        const int error = errno;
        ::unlinkat(folder.get(), VersionName(version).c_str(), 0);
        return fail(Why("cannot sync it to disk", error));
    }
    Thin(folder.get(), version.keptAt);
    result.outcome = KeepResult::Kept;
    result.number = version.number;
    return result;
}

StoreStatus VersionStore::List(const std::string& path, std::vector<Version>& versions) const
{
    versions.clear();
    std::string canonical;
    Fd root, folder;
    StoreStatus status = OpenHistory(root_, path, canonical, root, folder);
    if (folder) {
        for (const Entry& entry : ReadEntries(folder.get()))
            versions.push_back(entry.version);
    }
    return status;
}

StoreStatus VersionStore::Read(const std::string& path, std::uint64_t number,
                               const std::function<void(std::span<const std::uint8_t>)>& sink) const
{
    std::string canonical;
    Fd root, folder;
    StoreStatus status = OpenHistory(root_, path, canonical, root, folder);
    if (!status.ok)
        return status;
    const std::optional<Entry> entry = folder ? FindEntry(folder.get(), number) : std::nullopt;
    const Fd version = entry ? OpenVersion(folder.get(), *entry) : Fd();
    if (!version)
        return {false, path + " has no version " + std::to_string(number)};
    if (!ReadAll(version.get(), sink))
        return {false, Why("cannot read version " + std::to_string(number) + " of " + path, errno)};
    return status;
}

StoreStatus VersionStore::Restore(const std::string& path, std::uint64_t number, VersionOrigin origin,
                                  KeepResult* kept) const
{
    std::string canonical;
    Fd root, folder;
    StoreStatus status = OpenHistory(root_, path, canonical, root, folder);
    if (!status.ok)
        return status;
    const std::optional<Entry> entry = folder ? FindEntry(folder.get(), number) : std::nullopt;
    const Fd version = entry ? OpenVersion(folder.get(), *entry) : Fd();
    if (!version)
        return {false, path + " has no version " + std::to_string(number)};

    // The bytes go to a temporary file beside the document, which then
    // takes its name in one rename.
    const std::size_t slash = canonical.rfind('/');
    const std::string documentFolder = slash == 0 ? "/" : canonical.substr(0, slash);
    std::string temporary = documentFolder + (slash == 0 ? "" : "/") + ".tavro-XXXXXX";
    const Fd output(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!output)
        return {false, Why("cannot write " + path, errno)};
    auto fail = [&](const std::string& why) {
        ::unlink(temporary.c_str());
        return StoreStatus{false, why};
    };
    struct stat existing{};
    const bool exists = ::stat(canonical.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    mode_t mode = 0;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (!CopyFile(version.get(), output.get()) || ::fchmod(output.get(), mode) != 0)
        return fail(Why("cannot write " + path, errno));
    if (exists) {
        // Keeping the owner needs privileges we may not have; the mode is what counts.
        [[maybe_unused]] const int ownerKept = ::fchown(output.get(), existing.st_uid, existing.st_gid);
    }
    if (::fsync(output.get()) != 0)
        return fail(Why("cannot sync " + path, errno));

    const KeepResult current = Keep(canonical, origin);
    if (kept != nullptr)
        *kept = current;
    if (current.outcome == KeepResult::Failed)
        return fail(current.message + "; the document was left as it is");
    if (::rename(temporary.c_str(), canonical.c_str()) != 0)
        return fail(Why("cannot replace " + path, errno));
    const Fd directory(::open(documentFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory && ::fsync(directory.get()) != 0 && errno != EINVAL)
        return {false, Why("restored but not synced to disk: " + path, errno)};
    return status;
}

StoreStatus VersionStore::Purge(const std::string& path, std::size_t* removed) const
{
    if (removed != nullptr)
        *removed = 0;
    std::string canonical;
    Fd root, folder;
    StoreStatus status = OpenHistory(root_, path, canonical, root, folder);
    if (!status.ok || !folder)
        return status;
    std::vector<std::string> names;
    if (DIR* dir = ::fdopendir(::dup(folder.get()))) {
        ::rewinddir(dir);
        while (const dirent* item = ::readdir(dir)) {
            if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
                names.emplace_back(item->d_name);
        }
        ::closedir(dir);
    }
    // The record last: a purge cut short leaves a history that is still found.
    std::stable_partition(names.begin(), names.end(), [](const std::string& name) { return name != kRecordName; });
    for (const std::string& name : names) {
        if (::unlinkat(folder.get(), name.c_str(), 0) == 0 && removed != nullptr && ParseVersionName(name))
            ++*removed;
    }
    for (int candidate = 1; candidate <= kFolderCandidates; ++candidate) {
        struct stat a{}, b{};
        const std::string name = FolderName(canonical, candidate);
        if (::fstatat(root.get(), name.c_str(), &a, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(folder.get(), &b) == 0 &&
            a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
            if (::unlinkat(root.get(), name.c_str(), AT_REMOVEDIR) != 0)
                return {false, Why("cannot remove the history of " + path, errno)};
            ::fsync(root.get());
        }
    }
    return status;
}

bool LooksLikeDocument(const std::string& path)
{
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size >= kDocumentHeaderSize && (size - kDocumentHeaderSize) % 16 == 0)
        return true;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    std::uint8_t start[kStrongMagic.size()] = {};
    const ssize_t got = ::read(fd, start, sizeof start);
    ::close(fd);
    return got == static_cast<ssize_t>(sizeof start) && DetectDocumentFormat(start) == DocumentFormat::Strong;
}

} // namespace tavro
