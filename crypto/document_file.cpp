#include "document_file.h"

#include "aes256.h"
#include "code_page.h"
#include "crc32.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

namespace tavro {
namespace {

constexpr std::size_t kBlockSize = 16;

void PutLittleEndian32(std::uint8_t* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetLittleEndian32(const std::uint8_t* in)
{
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

// The plaintext of a document: the text without carriage returns, in code page 936.
SecureBytes PlaintextOf(std::u16string_view text)
{
    if (text.find(u'\r') == std::u16string_view::npos)
        return EncodeCodePage(text);
    std::vector<char16_t, WipingAllocator<char16_t>> withoutReturns;
    withoutReturns.reserve(text.size());
    std::copy_if(text.begin(), text.end(), std::back_inserter(withoutReturns),
                 [](char16_t c) { return c != u'\r'; });
    return EncodeCodePage({withoutReturns.data(), withoutReturns.size()});
}

} // namespace

void RandomFiller(std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t got = getrandom(data, size, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            // No kernel source: any values are valid filler.
            std::random_device device;
            for (; size > 0; --size)
                *data++ = static_cast<std::uint8_t>(device());
            return;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
    }
}

std::vector<std::uint8_t> EncryptDocument(std::u16string_view text, const DocumentKey& key,
                                          const FillerSource& filler)
{
    const SecureBytes plaintext = PlaintextOf(text);
    const std::size_t length = plaintext.size();
    const std::size_t padCount = (kBlockSize - length % kBlockSize) % kBlockSize;
    const std::size_t bodySize = length + padCount;

    // The plaintext is copied straight behind the header and enciphered there.
    std::vector<std::uint8_t> file(kDocumentHeaderSize + bodySize);
    std::uint8_t* body = file.data() + kDocumentHeaderSize;
    std::copy(plaintext.begin(), plaintext.end(), body);
    if (padCount > 0)
        filler(body + length, padCount);

    Aes256Context context;
    Aes256Init(context, key.data());
    Aes256EncryptBlocks(context, body, bodySize / kBlockSize);
    Aes256Wipe(context);

    file[0] = static_cast<std::uint8_t>(padCount);
    PutLittleEndian32(file.data() + 1, Crc32(body, bodySize));
    return file;
}

DecryptedDocument DecryptDocument(std::span<const std::uint8_t> file, const DocumentKey& key)
{
    DecryptedDocument result;
    if (file.empty()) {
        result.crcMatches = true; // a created but never saved document
        result.textRoundTrips = true;
        return result;
    }
    if (file.size() < kDocumentHeaderSize)
        return result; // no complete header: nothing to decipher

    const std::size_t padCount = file[0];
    const std::span<const std::uint8_t> body = file.subspan(kDocumentHeaderSize);
    result.crcMatches = Crc32(body.data(), body.size()) == GetLittleEndian32(file.data() + 1);

    // A trailing partial block cannot be deciphered and is dropped.
    const std::size_t wholeBlocks = body.size() / kBlockSize;
    SecureBytes plaintext(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(wholeBlocks * kBlockSize));
    Aes256Context context;
    Aes256Init(context, key.data());
    Aes256DecryptBlocks(context, plaintext.data(), wholeBlocks);
    Aes256Wipe(context);

    // The filler sits at the end of the body as stored. When the body was
    // cut short the filler went with the lost partial block, and every whole
    // block left is text: nothing of it is dropped.
    const std::size_t textLength =
        padCount >= body.size() ? 0 : std::min(plaintext.size(), body.size() - padCount);
    result.text = DecodeCodePage({plaintext.data(), textLength});
    const SecureBytes again = EncodeCodePage(result.text);
    result.textRoundTrips = again.size() == textLength &&
                            std::equal(again.begin(), again.end(), plaintext.begin());
    return result;
}

DocumentCheck CheckDocument(std::span<const std::uint8_t> file)
{
    if (file.empty())
        return DocumentCheck::Sound;
    if (file.size() < kDocumentHeaderSize)
        return DocumentCheck::TruncatedHeader;
    const std::span<const std::uint8_t> body = file.subspan(kDocumentHeaderSize);
    if (Crc32(body.data(), body.size()) != GetLittleEndian32(file.data() + 1))
        return DocumentCheck::CrcMismatch;
    if (body.size() % kBlockSize != 0)
        return DocumentCheck::PartialBlock;
    if (file[0] >= kBlockSize || file[0] > body.size())
        return DocumentCheck::BadPadCount;
    return DocumentCheck::Sound;
}

const char* DocumentCheckMessage(DocumentCheck check)
{
    switch (check) {
    case DocumentCheck::Sound:
        return "sound: the stored CRC-32 matches the cipher body";
    case DocumentCheck::TruncatedHeader:
        return "damaged: the file is shorter than its 5-byte header";
    case DocumentCheck::PartialBlock:
        return "damaged: the cipher body is not a whole number of 16-byte blocks";
    case DocumentCheck::BadPadCount:
        return "damaged: the pad count in the header is larger than any writer produces";
    case DocumentCheck::CrcMismatch:
        return "damaged: the stored CRC-32 does not match the cipher body";
    }
    return "unknown";
}

} // namespace tavro
