#include "key_derivation.h"

#include "code_page.h"
#include "md5.h"
#include "secure_memory.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <string>
#include <system_error>

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

DocumentKey DeriveKeyFromPassword(std::u16string_view text)
{
    Md5Context context;
    Md5Init(context);
    {
        // Wiped when freed (SecureBytes).
        const SecureBytes bytes = EncodeCodePage(text);
        Feed(context, bytes.data(), bytes.size());
    }
    DocumentKey key;
    FinishKey(context, key);
    return key;
}

bool DeriveKeyFromFile(const std::filesystem::path& path, DocumentKey& key)
{
    // A directory opens for reading on Linux, and every read of it fails; it
    // would hash as an empty file. It is no key file: refuse it as a path
    // that cannot be opened, as the platforms that cannot open it at all do.
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return false;

    std::ifstream stream(path, std::ios::binary);
    if (!stream.is_open())
        return false;

    Md5Context context;
    Md5Init(context);
    Md5UpdateFromStream(context, stream); // also closes the stream
    FinishKey(context, key);
    return true;
}

} // namespace tavro
