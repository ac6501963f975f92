#include "key_derivation.h"

#include "code_page.h"
#include "md5.h"
#include "secure_memory.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>

namespace tavro {
namespace {

// Key files are hashed in pieces of this size, between which progress is
// reported and the cancel flag is checked.
constexpr std::size_t kKeyFilePiece = 1 << 20;

// Feeds any number of bytes; Md5Update takes at most 2^32 - 1 per call.
void Feed(Md5Context& context, const std::uint8_t* bytes, std::size_t size)
{
    constexpr std::size_t kMaxPiece = std::numeric_limits<std::uint32_t>::max();
    while (size > 0) {
        const std::size_t piece = std::min(size, kMaxPiece);
        Md5Update(context, bytes, static_cast<std::uint32_t>(piece));
        bytes += piece;
        size -= piece;
    }
}

// Writes the 32 hex characters of the digest into key, then wipes the
// context and the hex text: both are the key itself, or lead to it.
void FinishKey(Md5Context& context, DocumentKey& key)
{
    std::string hex = Md5HexDigest(context);
    std::copy(hex.begin(), hex.end(), key.begin());
    SecureWipe(hex.data(), hex.size());
    SecureWipe(&context, sizeof context);
}

bool IsDevice(mode_t mode) { return S_ISCHR(mode) || S_ISBLK(mode); }

bool Raised(const std::atomic<bool>* cancel) { return cancel != nullptr && cancel->load(std::memory_order_relaxed); }

// How often a wait for a pipe's data looks at the cancel flag.
constexpr int kCancelCheckMs = 100;

// Waits until a pipe has data or its writers are gone (without a cancel
// flag, as long as that takes). A pipe that never had a writer reports
// neither, so it is waited on like one whose writer is slow.
KeyFileResult WaitReadable(int fd, const std::atomic<bool>* cancel)
{
    for (;;) {
        if (Raised(cancel))
            return {KeyFileStatus::Cancelled, 0};
        pollfd ready{fd, POLLIN, 0};
        const int count = ::poll(&ready, 1, cancel != nullptr ? kCancelCheckMs : -1);
        if (count > 0)
            return {KeyFileStatus::Derived, 0};
        if (count < 0 && errno != EINTR)
            return {KeyFileStatus::ReadError, errno};
    }
}

// Reads fd (open, O_NONBLOCK or not) to its end into consume; see ReadKeyFile.
KeyFileResult ReadOpenKeyFile(int fd, const KeyFileConsumer& consume, const KeyFileReading& reading)
{
    // A folder opens for reading on Linux and every read of it fails: it is
    // no key file, refused as a path that cannot be opened.
    struct stat info{};
    if (::fstat(fd, &info) != 0)
        return {KeyFileStatus::CannotOpen, errno};
    if (S_ISDIR(info.st_mode))
        return {KeyFileStatus::CannotOpen, EISDIR};
    if (IsDevice(info.st_mode)) // replaced by a device after the check by name
        return {KeyFileStatus::Device, 0};
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return {KeyFileStatus::CannotOpen, errno};

    // Only a regular file is sure to have data at once; anything else (a
    // pipe) is waited on in a way that can be cancelled.
    const bool regular = S_ISREG(info.st_mode);
    const std::uint64_t total = regular && info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    SecureBytes block(kKeyFilePiece);
    std::uint64_t done = 0;
    KeyFileResult result{KeyFileStatus::Derived, 0};
    for (;;) {
        if (Raised(reading.cancel)) {
            result = {KeyFileStatus::Cancelled, 0};
            break;
        }
        if (!regular) {
            result = WaitReadable(fd, reading.cancel);
            if (result.status != KeyFileStatus::Derived)
                break;
        }
        const ssize_t got = ::read(fd, block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            result = {KeyFileStatus::ReadError, errno};
            break;
        }
        if (got == 0)
            break;
        consume({block.data(), static_cast<std::size_t>(got)});
        done += static_cast<std::uint64_t>(got);
        if (reading.progress)
            reading.progress(done, total);
    }
    return result;
}

} // namespace

void DeriveKeyFromPassword(std::u16string_view text, DocumentKey& key)
{
    Md5Context context;
    Md5Init(context);
    {
        // Wiped when freed (SecureBytes).
        const SecureBytes bytes = EncodeCodePage(text);
        Feed(context, bytes.data(), bytes.size());
    }
    FinishKey(context, key);
}

KeyFileResult ReadKeyFileContent(const std::filesystem::path& path, const KeyFileConsumer& consume,
                                 const KeyFileReading& reading)
{
    // A device is refused before it is opened: it may never end (/dev/zero),
    // and opening some has effects of its own (a tape rewinds).
    struct stat info{};
    if (::stat(path.c_str(), &info) == 0 && IsDevice(info.st_mode))
        return {KeyFileStatus::Device, 0};
    // O_NONBLOCK: a named pipe opens at once, writer or not; the wait for
    // its data is then one that can be cancelled.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {KeyFileStatus::CannotOpen, errno};
    const KeyFileResult result = ReadOpenKeyFile(fd, consume, reading);
    ::close(fd);
    return result;
}

KeyFileResult ReadKeyFile(const std::filesystem::path& path, DocumentKey& key, const KeyFileReading& reading)
{
    Md5Context context;
    Md5Init(context);
    const KeyFileResult result = ReadKeyFileContent(
        path, [&context](std::span<const std::uint8_t> piece) { Feed(context, piece.data(), piece.size()); }, reading);
    if (result.status == KeyFileStatus::Derived)
        FinishKey(context, key);
    else
        SecureWipe(&context, sizeof context); // the state leads to the key
    return result;
}

bool DeriveKeyFromFile(const std::filesystem::path& path, DocumentKey& key)
{
    return ReadKeyFile(path, key).status == KeyFileStatus::Derived;
}

} // namespace tavro
