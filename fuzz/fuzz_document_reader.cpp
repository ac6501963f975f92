// The document reader on arbitrary file bytes: it must never read outside
// the input, and its verdict must agree with the key-less check. The first
// input byte picks the key (zero key or a derived one), the rest is the file.
#include "document_file.h"
#include "key_derivation.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    tavro::DocumentKey key = tavro::kZeroKey;
    if (data[0] & 1)
        tavro::DeriveKeyFromPassword(u"fuzz", key);
    const std::span<const std::uint8_t> file(data + 1, size - 1);

    const tavro::DecryptedDocument document = tavro::DecryptDocument(file, key);
    const tavro::DocumentCheck check = tavro::CheckDocument(file);
    // A sound verdict means the CRC matched; a CRC mismatch means it did not.
    if (check == tavro::DocumentCheck::Sound && !document.crcMatches)
        std::abort();
    if (check == tavro::DocumentCheck::CrcMismatch && document.crcMatches)
        std::abort();
    // Never more text than plaintext bytes.
    if (document.text.size() > file.size())
        std::abort();
    return 0;
}
