// UTF-8 for the text that crosses the command line's pipes and files:
// strict checks of whole strings (passwords) and of text in bulk (documents,
// read in pieces that end on whole characters), and UTF-16 to UTF-8 for
// what decrypt writes. "Strict" excludes overlong forms, surrogate code
// points, values above U+10FFFF, stray continuation bytes and sequences cut
// off by the end.
#pragma once

#include "secure_memory.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace tavro::cli {

// UTF-16 text held in memory that is wiped before it is freed.
using SecureText = std::vector<char16_t, WipingAllocator<char16_t>>;

// Strict UTF-8 to UTF-16. On failure returns false with errorOffset at the
// first byte of the bad sequence; out then holds the text before it.
bool Utf8ToUtf16(std::span<const std::uint8_t> in, SecureText& out, std::size_t& errorOffset);

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
SecureBytes Utf16ToUtf8(std::u16string_view text);

// The offset of the first byte of the first sequence in bytes that is not
// strict UTF-8, or bytes.size() when all of it is. Checked in bulk by the
// fastest engine this CPU runs; only a failed check looks for the offset.
std::size_t FindInvalidUtf8(std::span<const std::uint8_t> bytes);

// The engines behind FindInvalidUtf8's bulk check. All give the same answer;
// each is reachable so that every one can be tested on the machine at hand.
enum class Utf8Engine {
    Portable, // a sequence at a time, 8 ASCII bytes per step; runs anywhere
    Avx2,     // x86 AVX2: 32 bytes per step by three nibble lookups (Keiser and Lemire)
};
bool Utf8EngineAvailable(Utf8Engine engine);
// Whether bytes are strict UTF-8 to their end, by engine (the portable one
// when engine is not available).
bool IsUtf8Using(Utf8Engine engine, std::span<const std::uint8_t> bytes);

// Where a buffer filled from a stream can end a piece of whole characters:
// before the last character when the buffer cuts it off, else at its end.
// Bytes that are no UTF-8 stay in the piece, where the check finds them.
std::size_t Utf8PieceEnd(std::span<const std::uint8_t> buffer);

// UTF-8 text read from an input in pieces that end on whole characters
// (Utf8PieceEnd), each with the input offset of its first byte; a leading
// byte order mark is left out (the offsets still count it).
class Utf8Pieces {
public:
    // Reads up to buffer.size() bytes; 0 only at the end of the input.
    using Read = std::function<std::size_t(std::span<std::uint8_t> buffer)>;

    Utf8Pieces(Read read, std::size_t readSize) : read_(std::move(read)), readSize_(readSize) {}

    // Replaces piece with the next piece, which may be empty, and sets
    // offset; false once the input has ended and all of it was handed out.
    bool Next(SecureBytes& piece, std::uint64_t& offset);

private:
    Read read_;
    std::size_t readSize_;
    SecureBytes carry_;        // a character cut off by the last read
    std::uint64_t offset_ = 0; // input offset of carry_[0]
    bool atStart_ = true;      // whether a byte order mark may still come
    bool ended_ = false;
};

// Utf16ToUtf8 over text that arrives in pieces: a surrogate pair split
// between two pieces is joined.
class Utf8Encoder {
public:
    // The room Encode needs for a piece of units UTF-16 units.
    static constexpr std::size_t Room(std::size_t units) { return 3 * units + 4; }
    // Writes the UTF-8 of piece at out, which has Room(piece.size()) bytes,
    // and returns the bytes written; last: nothing follows.
    std::size_t Encode(std::u16string_view piece, bool last, std::uint8_t* out);

private:
    char16_t pendingHigh_ = 0;
};

} // namespace tavro::cli
