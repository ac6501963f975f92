#include "code_page_units.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include "secure_memory.h"

#include <stdexcept>
#include <utility>

namespace tavro {
namespace {

// Marks the unit in hand as one the code page lacks. The converter's own
// callbacks would skip some of them silently (soft hyphen, joiners): the
// writer's callback is called for those too, and so is this one.
void MarkUnmapped(const void* context, UConverterFromUnicodeArgs*, const UChar*, int32_t, UChar32,
                  UConverterCallbackReason reason, UErrorCode* status)
{
    if (reason > UCNV_IRREGULAR)
        return;
    *status = U_ZERO_ERROR;
    *static_cast<bool*>(const_cast<void*>(context)) = true;
}

// Asked once of the converter behind EncodeCodePage, one unit at a time:
// the code page maps each unit on its own, with no state between them, so
// the table gives the converter's bytes for any text.
CodePageUnitTable MakeUnitTable()
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open("windows-936-2000", &status);
    if (U_FAILURE(status) || converter == nullptr)
        throw std::runtime_error("code page 936 converter unavailable");
    bool unmapped = false;
    ucnv_setFromUCallBack(converter, MarkUnmapped, &unmapped, nullptr, nullptr, &status);
    CodePageUnitTable table{};
    for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
        const auto c = static_cast<UChar>(unit);
        table[unit] = kUnmappedUnit;
        if (IsSurrogate(c))
            continue;
        char bytes[4];
        status = U_ZERO_ERROR;
        unmapped = false;
        const int32_t length = ucnv_fromUChars(converter, bytes, sizeof bytes, &c, 1, &status);
        const auto first = static_cast<std::uint8_t>(bytes[0]);
        if (U_FAILURE(status) || unmapped)
            continue;
        if (length == 1)
            table[unit] = first;
        else if (length == 2 && first >= 0x81)
            table[unit] = static_cast<std::uint16_t>(first << 8 | static_cast<std::uint8_t>(bytes[1]));
        else
            throw std::runtime_error("unexpected code page 936 mapping");
    }
    ucnv_close(converter);
    return table;
}

// Asked once of the same converter, a character at a time.
CodePageUnitTable MakeDecodeTable()
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open("windows-936-2000", &status);
    if (U_FAILURE(status) || converter == nullptr)
        throw std::runtime_error("code page 936 converter unavailable");
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    const auto decode = [converter](const char* bytes, int32_t length) -> std::uint16_t {
        UChar out[4];
        UErrorCode error = U_ZERO_ERROR;
        ucnv_resetToUnicode(converter);
        const int32_t made = ucnv_toUChars(converter, out, 4, bytes, length, &error);
        return U_SUCCESS(error) && made == 1 && out[0] != 0xFFFD && !IsSurrogate(out[0]) ? out[0] : kUnmappedUnit;
    };
    CodePageUnitTable table;
    table.fill(kUnmappedUnit);
    for (int byte = 1; byte <= 0x80; ++byte) {
        const char single = static_cast<char>(byte);
        table[static_cast<std::size_t>(byte)] = decode(&single, 1);
    }
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            table[static_cast<std::size_t>(lead << 8 | trail)] = decode(pair, 2);
        }
    }
    ucnv_close(converter);
    return table;
}

} // namespace

const CodePageUnitTable& CodePageUnits()
{
    static const CodePageUnitTable table = MakeUnitTable();
    return table;
}

const CodePageUnitTable& CodePageDecodeUnits()
{
    static const CodePageUnitTable table = MakeDecodeTable();
    return table;
}

LossyCharacterSet::~LossyCharacterSet() { SecureWipe(m_lossy.data(), m_lossy.size() * sizeof(char32_t)); }

LossyCharacterSet& LossyCharacterSet::operator=(LossyCharacterSet&& other) noexcept
{
    if (this != &other) {
        SecureWipe(m_lossy.data(), m_lossy.size() * sizeof(char32_t));
        m_hasNul = other.m_hasNul;
        m_lossy = std::move(other.m_lossy);
        m_seen = std::move(other.m_seen);
    }
    return *this;
}

void LossyCharacterSet::Note(char32_t c)
{
    constexpr char32_t kCodePoints = 0x110000;
    if (!m_seen)
        m_seen = std::make_unique<std::uint64_t[]>(kCodePoints / 64); // zeroed
    std::uint64_t& word = m_seen[c / 64];
    const std::uint64_t bit = std::uint64_t{1} << (c % 64);
    if ((word & bit) == 0) {
        word |= bit;
        m_lossy.push_back(c);
    }
}

namespace {

template <LineBreakStyle Style>
std::size_t EncodeUnitsAs(std::u16string_view text, std::uint8_t* const start, LossyCharacterSet& lossy)
{
    const CodePageUnitTable& units = CodePageUnits();
    std::uint8_t* out = start;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = text[i];
        if (IsSurrogate(c)) {
            // No character beyond the Basic Multilingual Plane is in the code
            // page: a pair gives "??" and names its code point, a lone
            // surrogate gives '?' and names itself.
            if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(text[i + 1])) {
                lossy.Note(SurrogatePairCodePoint(c, text[i + 1]));
                *out++ = '?';
                ++i;
            } else {
                lossy.Note(c);
            }
            *out++ = '?';
            continue;
        }
        if (c == u'\r')
            continue;
        if constexpr (Style != LineBreakStyle::AsIs) {
            if (c == u'\n' || c == u'\u2028' || c == u'\u2029') {
                if constexpr (Style == LineBreakStyle::EditorCrLf)
                    *out++ = 0x0D;
                *out++ = 0x0A;
                continue;
            }
        }
        if (c == 0)
            lossy.NoteNul();
        const std::uint16_t bytes = units[c];
        if (bytes < 0x100) {
            *out++ = static_cast<std::uint8_t>(bytes);
        } else if (bytes != kUnmappedUnit) {
            *out++ = static_cast<std::uint8_t>(bytes >> 8);
            *out++ = static_cast<std::uint8_t>(bytes);
        } else {
            lossy.Note(c);
            *out++ = '?';
        }
    }
    return static_cast<std::size_t>(out - start);
}

} // namespace

std::size_t EncodeUnits(std::u16string_view text, LineBreakStyle style, std::uint8_t* out,
                        LossyCharacterSet& lossy)
{
    switch (style) {
    case LineBreakStyle::EditorLf: return EncodeUnitsAs<LineBreakStyle::EditorLf>(text, out, lossy);
    case LineBreakStyle::EditorCrLf: return EncodeUnitsAs<LineBreakStyle::EditorCrLf>(text, out, lossy);
    case LineBreakStyle::AsIs: break;
    }
    return EncodeUnitsAs<LineBreakStyle::AsIs>(text, out, lossy);
}

std::u32string LossyCharacterSet::Characters() const
{
    std::u32string characters;
    if (m_hasNul)
        characters.push_back(U'\0');
    return characters + m_lossy;
}

} // namespace tavro
