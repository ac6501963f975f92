// The encrypted document file (".tvro"), byte for byte:
//
//   offset 0  1 byte   pad count: filler bytes appended to the plaintext (0..15 as written)
//   offset 1  4 bytes  Crc32 of the cipher body, little-endian
//   offset 5  n bytes  AES-256 ECB ciphertext of (code page 936 text + filler), n = 16 * ceil(L / 16)
//
// No magic, version or key check: a wrong key yields unreadable text and is
// never detected; the CRC only catches accidental damage of the ciphertext.
// The plaintext is the text with every carriage return removed, converted to
// code page 936, with no terminator.
#pragma once

#include "document_key.h"
#include "read_judgement.h"
#include "secure_memory.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

inline constexpr std::size_t kDocumentHeaderSize = 5;

// Filler bytes that bring a plaintext of length bytes to whole 16-byte blocks: 0 to 15.
constexpr std::size_t PadCountFor(std::size_t length) { return (16 - length % 16) % 16; }

// Writes the 5 header bytes at header: the pad count, then the body CRC, little-endian.
void PutDocumentHeader(std::uint8_t* header, std::size_t padCount, std::uint32_t bodyCrc);

// Fills a buffer with filler bytes; any values are valid for every reader.
using FillerSource = std::function<void(std::uint8_t* data, std::size_t size)>;

// Filler from the operating system's random source.
void RandomFiller(std::uint8_t* data, std::size_t size);

// The complete bytes of the document file for text under key.
std::vector<std::uint8_t> EncryptDocument(std::u16string_view text, const DocumentKey& key,
                                          const FillerSource& filler = RandomFiller);

struct DecryptedDocument {
    std::u16string text;
    bool crcMatches = false; // stored CRC equals the CRC of the body read
    // Encoding the text again gives exactly the plaintext bytes it came
    // from. A wrong key or damage almost always breaks this (bytes that are
    // no code page 936 text, a 0x00 before the end); a document written by
    // EncryptDocument and read with its key always keeps it.
    bool textRoundTrips = false;
    // Every test of a clean read (read_judgement.h): clean() only when the
    // file is sound and its text looks like text a person wrote.
    ReadJudgement judgement;
};

// Text and CRC outcome of document file bytes under key. Never reads past
// the input:
// - 0 bytes: an empty document, CRC sound (a freshly created file);
// - 1 to 4 bytes: no complete header: empty text, CRC outcome false, no
//   round trip;
// - a body not a multiple of 16: the whole blocks are deciphered, the
//   partial block is dropped, the CRC is taken over the body as stored, and
//   the filler is counted from the end of the body as stored (so a body cut
//   short loses no text of its whole blocks);
// - a pad count beyond the deciphered bytes gives an empty text.
// The text ends at the first 0x00 byte of the plaintext.
DecryptedDocument DecryptDocument(std::span<const std::uint8_t> file, const DocumentKey& key);

// DecryptDocument that hands the text to sink in pieces, in order, instead
// of keeping it: the result's text stays empty, its verdicts are the same.
DecryptedDocument DecryptDocument(std::span<const std::uint8_t> file, const DocumentKey& key,
                                  const std::function<void(std::u16string_view text)>& sink);

// What a check of the header and CRC alone finds; needs no key.
enum class DocumentCheck {
    Sound,           // CRC matches (or a 0-byte file: an empty, never saved document)
    TruncatedHeader, // 1 to 4 bytes
    PartialBlock,    // body length not a multiple of 16
    BadPadCount,     // pad count above 15, or above the body length
    CrcMismatch,     // stored CRC differs from the CRC of the body
};

DocumentCheck CheckDocument(std::span<const std::uint8_t> file);

// One-line English description of a check result, for tools and logs.
const char* DocumentCheckMessage(DocumentCheck check);

} // namespace tavro
