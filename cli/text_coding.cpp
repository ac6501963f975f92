#include "text_coding.h"

#include <bit>

#if defined(__x86_64__)
#define TAVRO_TEXT_SSE2 1
#include <emmintrin.h>
#endif

namespace tavro::cli {

std::size_t Utf8ToCodePage(std::span<const std::uint8_t> text, std::uint8_t* const out, LossyCharacterSet& lossy)
{
    const CodePageUnitTable& units = CodePageUnits();
    const std::uint8_t* const in = text.data();
    const std::size_t n = text.size();
    std::size_t i = 0;
    std::size_t written = 0;
    while (i < n) {
        const std::uint8_t lead = in[i];
        if (lead < 0x80) {
#if TAVRO_TEXT_SSE2
            // From an ASCII byte on, the ASCII bytes that follow up to a
            // carriage return, sixteen at a time at most (SSE2, which every
            // x86-64 runs).
            if (i + 16 <= n) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
                const __m128i returns = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r'));
                const auto stops = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(bytes, returns)));
                const auto run = static_cast<std::size_t>(std::countr_zero(stops | 0x10000u));
                if (run > 0) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + written), bytes);
                    written += run;
                    i += run;
                    continue;
                }
            }
#endif
            // ASCII is the same in the code page.
            if (lead != '\r')
                out[written++] = lead;
            ++i;
            continue;
        }
        char32_t c;
        if (lead < 0xE0) {
            c = (lead & 0x1Fu) << 6 | (in[i + 1] & 0x3Fu);
            i += 2;
        } else if (lead < 0xF0) {
            c = (lead & 0x0Fu) << 12 | (in[i + 1] & 0x3Fu) << 6 | (in[i + 2] & 0x3Fu);
            i += 3;
        } else {
            // Beyond the Basic Multilingual Plane: never in the code page,
            // and two UTF-16 units.
            c = (lead & 0x07u) << 18 | (in[i + 1] & 0x3Fu) << 12 | (in[i + 2] & 0x3Fu) << 6 | (in[i + 3] & 0x3Fu);
            i += 4;
            lossy.Note(c);
            out[written++] = '?';
            out[written++] = '?';
            continue;
        }
        const std::uint16_t bytes = units[c];
        if (bytes < 0x100) {
            out[written++] = static_cast<std::uint8_t>(bytes);
        } else if (bytes != kUnmappedUnit) {
            out[written++] = static_cast<std::uint8_t>(bytes >> 8);
            out[written++] = static_cast<std::uint8_t>(bytes);
        } else {
            lossy.Note(c);
            out[written++] = '?';
        }
    }
    return written;
}

} // namespace tavro::cli
