#include "code_page_match.h"

#include "code_page_units.h"

#include <algorithm>

namespace tavro {

void CodePageMatch::Put(std::uint8_t byte)
{
    if (m_bytesDone < m_bytes.size()) {
        if (m_bytes[m_bytesDone++] != byte)
            m_differs = true;
    } else {
        m_encoded.push_back(byte);
    }
}

void CodePageMatch::DropMatchedBytes()
{
    // What is left is the tail of the last piece: the move is short.
    DropFront(m_bytes, m_bytesDone);
    m_bytesDone = 0;
}

void CodePageMatch::AddText(std::u16string_view text)
{
    const CodePageUnitTable& units = CodePageUnits();
    const std::uint8_t* const bytes = m_bytes.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n && !m_differs) {
        // The common case inline, on locals: units of the table while at
        // least two bytes wait to be compared.
        std::size_t done = m_bytesDone;
        const std::size_t size = m_bytes.size();
        bool differs = false;
        if (m_heldHigh == 0) {
            for (; i < n && done + 2 <= size; ++i) {
                const char16_t c = text[i];
                if (IsSurrogate(c))
                    break;
                const std::uint16_t unit = units[c];
                if (unit < 0x100) {
                    differs |= bytes[done++] != unit;
                } else if (unit != kUnmappedUnit) {
                    differs |= bytes[done] != (unit >> 8) || bytes[done + 1] != (unit & 0xFF);
                    done += 2;
                } else {
                    differs |= bytes[done++] != '?';
                }
            }
        }
        m_bytesDone = done;
        m_differs = m_differs || differs;
        if (i < n && !m_differs)
            AddUnit(text[i++]);
    }
    DropMatchedBytes();
}

void CodePageMatch::AddUnit(char16_t c)
{
    if (m_heldHigh != 0) {
        const bool pair = IsLowSurrogate(c);
        m_heldHigh = 0;
        Put('?');
        if (pair) {
            Put('?');
            return;
        }
    }
    if (IsHighSurrogate(c)) {
        m_heldHigh = c;
        return;
    }
    const std::uint16_t unit = CodePageUnits()[c];
    if (unit < 0x100) {
        Put(static_cast<std::uint8_t>(unit));
    } else if (unit != kUnmappedUnit) {
        Put(static_cast<std::uint8_t>(unit >> 8));
        Put(static_cast<std::uint8_t>(unit));
    } else {
        Put('?');
    }
}

void CodePageMatch::AddBytes(std::span<const std::uint8_t> bytes)
{
    if (m_differs)
        return;
    // First against encoded text that ran ahead, then kept for the text to come.
    const std::size_t common = std::min(bytes.size(), m_encoded.size());
    if (!std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(common), m_encoded.begin())) {
        m_differs = true;
        return;
    }
    DropFront(m_encoded, common);
    AppendBytes(m_bytes, bytes.subspan(common));
}

bool CodePageMatch::Finish()
{
    if (m_heldHigh != 0) {
        m_heldHigh = 0;
        Put('?');
        DropMatchedBytes();
    }
    return !m_differs && m_bytes.empty() && m_encoded.empty();
}

} // namespace tavro
