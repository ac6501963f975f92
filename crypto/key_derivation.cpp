#include "key_derivation.h"

#include "code_page.h"
#include "md5.h"
#include "secure_memory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <string>

namespace tavro {
namespace {

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

bool DeriveKeyFromOpenFile(int fd, DocumentKey& key)
{
    // A directory opens for reading on Linux, and every read of it fails; it
    // would hash as an empty file. It is no key file: refuse it as a path
    // that cannot be opened, as the platforms that cannot open it at all do.
    struct stat info{};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))
        return false;

    Md5Context context;
    Md5Init(context);
    std::array<std::uint8_t, 65536> block;
    for (;;) {
        const ssize_t got = ::read(fd, block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break; // end of file, or a failing read: the bytes so far count
        Feed(context, block.data(), static_cast<std::size_t>(got));
    }
    SecureWipe(block.data(), block.size());
    FinishKey(context, key);
    return true;
}

bool DeriveKeyFromFile(const std::filesystem::path& path, DocumentKey& key)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool derived = DeriveKeyFromOpenFile(fd, key);
    ::close(fd);
    return derived;
}

} // namespace tavro
