#include "code_page.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
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

// Records each character the code page cannot represent, once, and writes
// nothing in its place: the lossy scan only wants to know which ones.
struct LossyScan {
    std::u32string found;
    void Add(char32_t c)
    {
        if (found.find(c) == std::u32string::npos)
            found.push_back(c);
    }
};

void RecordUnmappable(const void* context, UConverterFromUnicodeArgs*, const UChar*, int32_t,
                      UChar32 codePoint, UConverterCallbackReason reason, UErrorCode* status)
{
    if (reason > UCNV_IRREGULAR)
        return;
    *status = U_ZERO_ERROR;
    static_cast<LossyScan*>(const_cast<void*>(context))->Add(static_cast<char32_t>(codePoint));
}

} // namespace

std::u32string LossyCharacters(std::u16string_view text)
{
    LossyScan scan;
    if (text.empty())
        return scan.found;
    Converter converter = OpenConverter();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(converter.get(), RecordUnmappable, &scan, nullptr, nullptr, &status);
    // The bytes are thrown away: one small buffer, refilled until the text is used up.
    char buffer[4096];
    const UChar* source = text.data();
    const UChar* const sourceLimit = source + text.size();
    if (std::find(text.begin(), text.end(), u'\0') != text.end())
        scan.Add(U'\0');
    do {
        status = U_ZERO_ERROR;
        char* target = buffer;
        ucnv_fromUnicode(converter.get(), &target, buffer + sizeof buffer, &source, sourceLimit,
                         nullptr, /*flush=*/true, &status);
    } while (status == U_BUFFER_OVERFLOW_ERROR);
    if (U_FAILURE(status))
        throw std::runtime_error("code page 936 conversion failed");
    return scan.found;
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
    const auto end = std::find(piece.begin(), piece.end(), std::uint8_t{0});
    if (end != piece.end()) {
        ended_ = true;
        last = true;
    }
    const std::size_t length = static_cast<std::size_t>(end - piece.begin());
    if (length == 0 && !last)
        return 0;
    UChar* out = target;
    const char* source = reinterpret_cast<const char*>(piece.data());
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(converter_.get(), &out, out + length + 2, &source, source + length, nullptr, last, &status);
    if (U_FAILURE(status))
        throw std::runtime_error("code page 936 conversion failed");
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
