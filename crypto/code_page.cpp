#include "code_page.h"

#include "code_page_units.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

namespace tavro {
namespace {

// ICU's "windows-936-2000": the GBK table of Windows code page 936, with the
// euro sign at 0x80.
constexpr const char* kConverterName = "windows-936-2000";

using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter OpenConverter()
{
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open(kConverterName, &status));
    if (U_FAILURE(status) || !converter)
        throw std::runtime_error("code page 936 converter unavailable");
    return converter;
}

// What the code page cannot represent becomes '?', one per UTF-16 unit as on
// Windows: a character outside the Basic Multilingual Plane gives "??".
void QuestionMarkPerUnit(const void*, UConverterFromUnicodeArgs* args, const UChar*,
                         int32_t length, UChar32, UConverterCallbackReason reason,
                         UErrorCode* status)
{
    if (reason > UCNV_IRREGULAR)
        return; // reset, close or clone: nothing to write
    *status = U_ZERO_ERROR;
    static constexpr char kMarks[] = "??";
    for (int32_t written = 0; written < length && U_SUCCESS(*status); written += 2)
        ucnv_cbFromUWriteBytes(args, kMarks, std::min<int32_t>(2, length - written), 0, status);
}

} // namespace

std::u32string LossyCharacters(std::u16string_view text)
{
    // By the table the converter's bytes were taken from: what it lacks
    // becomes '?', a surrogate pair is one character, a lone surrogate its own.
    const CodePageUnitTable& units = CodePageUnits();
    LossyCharacterSet lossy;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(text[i + 1]))
            lossy.Note(SurrogatePairCodePoint(c, text[++i]));
        else if (c == u'\0')
            lossy.NoteNul();
        else if (units[c] == kUnmappedUnit)
            lossy.Note(c);
    }
    return lossy.Characters();
}

void ConverterCloser::operator()(UConverter* converter) const noexcept { ucnv_close(converter); }

CodePageEncoder::CodePageEncoder() : converter_(OpenConverter())
{
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(converter_.get(), QuestionMarkPerUnit, nullptr, nullptr, nullptr, &status);
}

void CodePageEncoder::Encode(std::u16string_view piece, bool last, SecureBytes& out)
{
    if (piece.empty() && !last)
        return;
    const std::size_t before = out.size();
    // Every UTF-16 unit becomes at most two bytes in this double-byte code
    // page; a high surrogate held back from the previous piece, two more.
    out.resize(before + (piece.size() + 1) * static_cast<std::size_t>(ucnv_getMaxCharSize(converter_.get())));
    char* target = reinterpret_cast<char*>(out.data() + before);
    char* const targetLimit = reinterpret_cast<char*>(out.data() + out.size());
    const UChar* source = piece.data();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_fromUnicode(converter_.get(), &target, targetLimit, &source, source + piece.size(), nullptr, last,
                     &status);
    if (U_FAILURE(status))
        throw std::runtime_error("code page 936 conversion failed");
    out.resize(static_cast<std::size_t>(target - reinterpret_cast<char*>(out.data())));
}

CodePageDecoder::CodePageDecoder() : converter_(OpenConverter()) {}

std::size_t CodePageDecoder::DecodeInto(std::span<const std::uint8_t> piece, bool last, char16_t* target)
{
    if (ended_)
        return 0;
    // The text ends at the first NUL byte.
    const auto nul = std::find(piece.begin(), piece.end(), std::uint8_t{0});
    if (nul != piece.end()) {
        ended_ = true;
        last = true;
    }
    const CodePageUnitTable& units = CodePageDecodeUnits();
    const std::uint8_t* p = piece.data();
    const std::uint8_t* const end = p + (nul - piece.begin());
    UChar* out = target;
    while (p < end) {
        // Whole characters by table while the converter holds nothing.
        if (!converterHolds_) {
            while (p < end) {
                if (*p <= 0x80 && units[*p] != kUnmappedUnit) {
                    *out++ = static_cast<char16_t>(units[*p++]);
                } else if (end - p >= 2 && units[static_cast<std::size_t>(p[0] << 8 | p[1])] != kUnmappedUnit) {
                    *out++ = static_cast<char16_t>(units[static_cast<std::size_t>(p[0] << 8 | p[1])]);
                    p += 2;
                } else {
                    break;
                }
            }
            if (p == end)
                break;
        }
        // The rest through the converter, up to and including the next byte
        // below 0x40: no trail byte is that low, so the converter has
        // finished every character there and holds nothing more.
        const std::uint8_t* stop = std::find_if(p, end, [](std::uint8_t b) { return b < 0x40; });
        converterHolds_ = stop == end;
        if (stop != end)
            ++stop;
        const char* source = reinterpret_cast<const char*>(p);
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(converter_.get(), &out, out + (stop - p) + 2, &source,
                       reinterpret_cast<const char*>(stop), nullptr, false, &status);
        if (U_FAILURE(status))
            throw std::runtime_error("code page 936 conversion failed");
        p = stop;
    }
    if (last && converterHolds_) {
        // An incomplete character at the end becomes U+FFFD.
        const char* source = reinterpret_cast<const char*>(end);
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(converter_.get(), &out, out + 2, &source, source, nullptr, true, &status);
        if (U_FAILURE(status))
            throw std::runtime_error("code page 936 conversion failed");
        converterHolds_ = false;
    }
    return static_cast<std::size_t>(out - target);
}

SecureBytes EncodeCodePage(std::u16string_view text)
{
    SecureBytes bytes;
    if (text.empty())
        return bytes;
    CodePageEncoder encoder;
    encoder.Encode(text, /*last=*/true, bytes);
    return bytes;
}

std::u16string DecodeCodePage(std::span<const std::uint8_t> bytes)
{
    std::u16string text;
    if (bytes.empty() || bytes[0] == 0)
        return text;
    CodePageDecoder decoder;
    decoder.Decode(bytes, /*last=*/true, text);
    return text;
}

} // namespace tavro
