// The one place where text becomes bytes and back: Windows code page 936
// (ICU "windows-936-2000", where 0x80 is the euro sign), so documents and
// passwords match those made on a Simplified Chinese Windows system.
#pragma once

#include "secure_memory.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

struct UConverter;

namespace tavro {

// UTF-16 to code page 936. A character the code page cannot represent
// (unpaired surrogates included) becomes '?' (0x3F). No terminator is added.
SecureBytes EncodeCodePage(std::u16string_view text);

// The distinct characters of text that a save does not keep: U+0000 first
// when present (the reader's text ends there), then those code page 936
// cannot represent (they become '?'; an unpaired surrogate counts as its own
// unit) in the order of their first appearance. Empty when the text survives
// a save whole.
std::u32string LossyCharacters(std::u16string_view text);

// Code page 936 to UTF-16. The text ends at the first 0x00 byte, if any;
// byte sequences that are not valid code page 936 become U+FFFD.
std::u16string DecodeCodePage(std::span<const std::uint8_t> bytes);

struct ConverterCloser {
    void operator()(UConverter* converter) const noexcept;
};

// EncodeCodePage over text that arrives in pieces. A surrogate pair split
// between two pieces is kept in the converter until its second half comes,
// so the bytes appended for all pieces equal EncodeCodePage of them joined.
class CodePageEncoder {
public:
    CodePageEncoder();
    // Appends the bytes of piece to out; last flushes what is held back.
    void Encode(std::u16string_view piece, bool last, SecureBytes& out);

private:
    std::unique_ptr<UConverter, ConverterCloser> converter_;
};

// DecodeCodePage over bytes that arrive in pieces. A double-byte character
// split between two pieces is completed with the next one, and everything
// from the first 0x00 byte on is ignored, so the text appended for all
// pieces equals DecodeCodePage of them joined.
class CodePageDecoder {
public:
    CodePageDecoder();
    // Appends the UTF-16 of piece to out, which it does not clear; last
    // flushes what is held back (an incomplete character becomes U+FFFD).
    template <class Text>
    void Decode(std::span<const std::uint8_t> piece, bool last, Text& out)
    {
        const std::size_t before = out.size();
        // Each byte yields at most one UTF-16 unit; a held-back lead byte one more.
        out.resize(before + piece.size() + 2);
        const std::size_t made = DecodeInto(piece, last, out.data() + before);
        out.resize(before + made);
    }
    bool ended() const { return ended_; } // a 0x00 byte was met

private:
    std::size_t DecodeInto(std::span<const std::uint8_t> piece, bool last, char16_t* target);

    std::unique_ptr<UConverter, ConverterCloser> converter_;
    bool converterHolds_ = false; // the converter may hold part of a character
    bool ended_ = false;
};

} // namespace tavro
