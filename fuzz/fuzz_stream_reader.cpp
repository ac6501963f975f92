// The streaming reader and writer against the whole-buffer codec: the same
// text, the same verdict and the same judgement whatever the piece sizes.
// The first two input bytes pick the piece sizes (1 to 256 bytes); the rest
// is used twice, as a document file to read and as UTF-16 text to write.
#include "document_file.h"
#include "document_stream.h"
#include "read_judgement.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Filler that depends only on its position, so both writers draw the same.
void CountingFiller(std::uint8_t* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(0xA0 + i);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t readPiece = 1 + data[0];
    const std::size_t writePiece = 1 + data[1];
    const std::span<const std::uint8_t> rest(data + 2, size - 2);
    tavro::DocumentKey key{};
    std::fill(key.begin(), key.end(), std::uint8_t{'7'});

    // Reading.
    const tavro::DecryptedDocument whole = tavro::DecryptDocument(rest, key);
    std::u16string streamed;
    tavro::DocumentReader reader(key, [&](std::u16string_view text) { streamed.append(text); });
    for (std::size_t at = 0; at < rest.size(); at += readPiece)
        reader.Read(rest.subspan(at, std::min(readPiece, rest.size() - at)));
    if (reader.Finish() != tavro::CheckDocument(rest) || reader.crcMatches() != whole.crcMatches ||
        streamed != whole.text)
        std::abort();
    // The judgement of the read, in pieces, equals the whole read's.
    tavro::JudgedReader judged(key, {});
    for (std::size_t at = 0; at < rest.size(); at += readPiece)
        judged.Read(rest.subspan(at, std::min(readPiece, rest.size() - at)));
    const tavro::ReadJudgement judgement = judged.Finish();
    if (judgement.doubts != whole.judgement.doubts || judgement.characters != whole.judgement.characters ||
        judgement.rare != whole.judgement.rare)
        std::abort();

    // Writing the bytes taken as UTF-16 (lone surrogates and carriage returns included).
    std::u16string text(rest.size() / 2, u'\0');
    std::memcpy(text.data(), rest.data(), text.size() * 2);
    const std::vector<std::uint8_t> expected = tavro::EncryptDocument(text, key, CountingFiller);
    std::vector<std::uint8_t> written(tavro::kDocumentHeaderSize);
    tavro::DocumentWriter writer(
        key, [&](std::span<const std::uint8_t> body) { written.insert(written.end(), body.begin(), body.end()); },
        CountingFiller);
    const std::size_t units = std::max<std::size_t>(1, writePiece / 2);
    for (std::size_t at = 0; at < text.size(); at += units)
        writer.Write(std::u16string_view(text).substr(at, units));
    const tavro::DocumentHeader header = writer.Finish();
    std::copy(header.begin(), header.end(), written.begin());
    if (written != expected)
        std::abort();
    return 0;
}
