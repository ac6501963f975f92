// UTF-8 <-> UTF-16 for the text that crosses the command line's pipes and
// files. Documents carry UTF-16 text; only the core turns it into code page
// 936. Whole strings (passwords) and streams in pieces (documents) use the
// same strict rules.
#pragma once

#include "secure_memory.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tavro::cli {

// UTF-16 text held in memory that is wiped before it is freed.
using SecureText = std::vector<char16_t, WipingAllocator<char16_t>>;

// Strict UTF-8 to UTF-16: overlong forms, surrogate code points, values
// above U+10FFFF and cut-off sequences are rejected. On failure returns
// false with errorOffset at the first byte of the bad sequence; out then
// holds the text before it.
bool Utf8ToUtf16(std::span<const std::uint8_t> in, SecureText& out, std::size_t& errorOffset);

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
SecureBytes Utf16ToUtf8(std::u16string_view text);

// Utf8ToUtf16 over an input that arrives in pieces, for document text: a
// leading byte order mark is dropped, and U+0000 is refused as well (a
// .tvro document's text ends at its first 0x00 byte, so it cannot be
// stored) unless allowNul (a strong document keeps it).
class Utf8Decoder {
public:
    enum class Problem { None, Invalid, Nul };

    explicit Utf8Decoder(bool allowNul = false) : allowNul_(allowNul) {}

    // Decodes the longest prefix of in that ends on a character boundary
    // into out (which it replaces) and returns its length; the caller hands
    // the rest in again at the front of the next piece. With last, in is the
    // end of the input and all of it must decode. Returns 0 with problem()
    // set on bad input; errorOffset() is then the 1-based position of the
    // offending byte counted from the start of the input.
    std::size_t Decode(std::span<const std::uint8_t> in, bool last, SecureText& out);

    Problem problem() const { return problem_; }
    std::uint64_t errorOffset() const { return errorOffset_; }

private:
    bool allowNul_ = false;
    std::uint64_t consumed_ = 0; // input bytes before the current piece
    bool atStart_ = true;
    Problem problem_ = Problem::None;
    std::uint64_t errorOffset_ = 0;
};

// Utf16ToUtf8 over text that arrives in pieces: a surrogate pair split
// between two pieces is joined.
class Utf8Encoder {
public:
    // Replaces out with the UTF-8 of piece; last: nothing follows.
    void Encode(std::u16string_view piece, bool last, SecureBytes& out);

private:
    char16_t pendingHigh_ = 0;
};

} // namespace tavro::cli
