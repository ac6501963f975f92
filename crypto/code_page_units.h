// Code page 936 as tables: the bytes of each UTF-16 unit outside the
// surrogate range, taken once from the converter behind EncodeCodePage, so
// that hot loops (the save buffer, the reader's round-trip check) encode by
// lookup and still give the converter's bytes; and the unit of each
// character the converter decodes, for the readers' hot loops.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tavro {

// A value below 0x100 is one byte, a value from 0x8100 up is a lead byte
// (0x81..0xFE) and a trail byte, kUnmappedUnit a unit the code page lacks
// (written as '?'). Surrogates are all kUnmappedUnit: no character beyond
// the Basic Multilingual Plane is in the code page.
inline constexpr std::uint16_t kUnmappedUnit = 0xFFFF;
using CodePageUnitTable = std::array<std::uint16_t, 0x10000>;

const CodePageUnitTable& CodePageUnits();

// The other way: the UTF-16 unit the converter behind DecodeCodePage gives
// for each byte 0x01-0x80 (at its value: 0x80 is the euro sign) and each
// lead/trail pair (at lead * 256 + trail, from 0x8140 up), decoded one
// character at a time; kUnmappedUnit where it reports an error or gives
// anything but one unit (U+FFFD and surrogates included). Such bytes are
// left to the converter itself.
const CodePageUnitTable& CodePageDecodeUnits();

inline bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }
inline bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The code point of a high and a low surrogate.
inline char32_t SurrogatePairCodePoint(char16_t high, char16_t low)
{
    return 0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
}

// The distinct characters a save loses: each named once, in the order of
// its first appearance, with U+0000 (where the reader's text ends) first.
// The names are wiped when the set goes.
class LossyCharacterSet {
public:
    LossyCharacterSet() = default;
    LossyCharacterSet(LossyCharacterSet&&) noexcept = default;
    LossyCharacterSet& operator=(LossyCharacterSet&& other) noexcept;
    ~LossyCharacterSet();

    void Note(char32_t c); // a character the code page lacks
    void NoteNul() { m_hasNul = true; }
    bool empty() const { return m_lossy.empty() && !m_hasNul; }
    std::u32string Characters() const;

private:
    bool m_hasNul = false;
    std::u32string m_lossy;                  // U+0000 excluded
    std::unique_ptr<std::uint64_t[]> m_seen; // a bit per code point, made at the first loss
};

// What becomes of line breaks and carriage returns while a text is encoded.
// An editor's document holds a paragraph separator (U+2029) between its
// blocks and may hold line separators (U+2028) inside one; a string holds '\n'.
enum class LineBreakStyle {
    AsIs,       // every unit as it is, '\r' dropped: a document's text given as a string
    EditorLf,   // '\n', U+2028 and U+2029 as 0x0A, '\r' dropped: a document's text from the editor
    EditorCrLf, // '\n', U+2028 and U+2029 as 0x0D 0x0A, '\r' dropped: exported plain text
};

// Encodes text by table at out, which has room for two bytes per unit, and
// returns the number of bytes written. A unit the code page lacks becomes
// '?', a surrogate pair "??", and each is named once in lossy; U+0000 is
// encoded and noted (a reader's text ends there).
std::size_t EncodeUnits(std::u16string_view text, LineBreakStyle style, std::uint8_t* out,
                        LossyCharacterSet& lossy);

} // namespace tavro
