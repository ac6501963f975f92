// Code page 936 as a table: the bytes of each UTF-16 unit outside the
// surrogate range, taken once from the converter behind EncodeCodePage, so
// that hot loops (the save buffer, the reader's round-trip check) encode by
// lookup and still give the converter's bytes.
#pragma once

#include <array>
#include <cstdint>

namespace tavro {

// A value below 0x100 is one byte, a value from 0x8100 up is a lead byte
// (0x81..0xFE) and a trail byte, kUnmappedUnit a unit the code page lacks
// (written as '?'). Surrogates are all kUnmappedUnit: no character beyond
// the Basic Multilingual Plane is in the code page.
inline constexpr std::uint16_t kUnmappedUnit = 0xFFFF;
using CodePageUnitTable = std::array<std::uint16_t, 0x10000>;

const CodePageUnitTable& CodePageUnits();

inline bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }
inline bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

} // namespace tavro
