#include "document_file.h"

#include "crc32.h"
#include "document_stream.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

namespace tavro {

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

void PutDocumentHeader(std::uint8_t* header, std::size_t padCount, std::uint32_t bodyCrc)
{
    header[0] = static_cast<std::uint8_t>(padCount);
    for (int i = 0; i < 4; ++i)
        header[1 + i] = static_cast<std::uint8_t>(bodyCrc >> (8 * i));
}

std::vector<std::uint8_t> EncryptDocument(std::u16string_view text, const DocumentKey& key,
                                          const FillerSource& filler)
{
    // The body is appended behind a reserved header, which is filled last.
    std::vector<std::uint8_t> file(kDocumentHeaderSize);
    DocumentWriter writer(
        key, [&file](std::span<const std::uint8_t> body) { file.insert(file.end(), body.begin(), body.end()); },
        filler);
    writer.Write(text);
    const DocumentHeader header = writer.Finish();
    std::copy(header.begin(), header.end(), file.begin());
    return file;
}

DecryptedDocument DecryptDocument(std::span<const std::uint8_t> file, const DocumentKey& key)
{
    std::u16string text;
    // Each byte gives at most one UTF-16 unit; the pages are touched only as filled.
    text.reserve(file.size() > kDocumentHeaderSize ? file.size() - kDocumentHeaderSize : 0);
    DecryptedDocument result =
        DecryptDocument(file, key, [&text](std::u16string_view piece) { text.append(piece); });
    result.text = std::move(text);
    return result;
}

DecryptedDocument DecryptDocument(std::span<const std::uint8_t> file, const DocumentKey& key,
                                  const std::function<void(std::u16string_view text)>& sink)
{
    DecryptedDocument result;
    JudgedReader reader(key, [&sink](std::u16string_view text) { sink(text); });
    reader.Read(file);
    result.judgement = reader.Finish();
    result.crcMatches = reader.crcMatches();
    // A header cut short is damage whatever its text.
    result.textRoundTrips = !result.judgement.Has(ReadDoubt::RoundTrip) &&
                            !result.judgement.Has(ReadDoubt::HeaderCutShort);
    return result;
}

DocumentCheck CheckDocument(std::span<const std::uint8_t> file)
{
    DocumentChecker checker;
    checker.Read(file);
    return checker.Finish();
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
