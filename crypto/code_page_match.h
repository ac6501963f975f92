// Whether a text encodes to exactly the given code page 936 bytes, both
// arriving in pieces, without holding either whole: bytes are compared as
// soon as both sides have them, and only the side that runs ahead keeps its
// unmatched tail. The text is encoded as EncodeCodePage does ('\r' kept,
// '?' for each unit the code page lacks, "??" for a surrogate pair).
#pragma once

#include "secure_memory.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace tavro {

class CodePageMatch {
public:
    void AddText(std::u16string_view text);
    void AddBytes(std::span<const std::uint8_t> bytes);
    // True when the whole text encodes to all the bytes, no more, no less.
    bool Finish();

private:
    void AddUnit(char16_t c);
    void Put(std::uint8_t byte);
    void DropMatchedBytes();

    SecureBytes m_bytes;        // bytes not yet compared, from m_bytesDone on
    std::size_t m_bytesDone = 0;
    SecureBytes m_encoded;      // encoded text that ran ahead of the bytes
    char16_t m_heldHigh = 0;    // a high surrogate waiting for its pair
    bool m_differs = false;
};

} // namespace tavro
