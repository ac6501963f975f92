#include "code_page.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace tavro {
namespace {

// ICU's "windows-936-2000": the GBK table of Windows code page 936, with the
// euro sign at 0x80.
constexpr const char* kConverterName = "windows-936-2000";

struct ConverterCloser {
    void operator()(UConverter* converter) const noexcept { ucnv_close(converter); }
};
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

SecureBytes EncodeCodePage(std::u16string_view text)
{
    SecureBytes bytes;
    if (text.empty())
        return bytes;
    Converter converter = OpenConverter();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(converter.get(), QuestionMarkPerUnit, nullptr, nullptr, nullptr,
                          &status);
    // Every UTF-16 unit becomes at most two bytes in this double-byte code page.
    bytes.resize(text.size() * static_cast<std::size_t>(ucnv_getMaxCharSize(converter.get())));
    char* target = reinterpret_cast<char*>(bytes.data());
    char* const targetLimit = target + bytes.size();
    const UChar* source = text.data();
    ucnv_fromUnicode(converter.get(), &target, targetLimit, &source, source + text.size(), nullptr,
                     /*flush=*/true, &status);
    if (U_FAILURE(status))
        throw std::runtime_error("code page 936 conversion failed");
    bytes.resize(static_cast<std::size_t>(target - reinterpret_cast<char*>(bytes.data())));
    return bytes;
}

std::u16string DecodeCodePage(std::span<const std::uint8_t> bytes)
{
    // The text ends at the first NUL byte.
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    const std::size_t length = static_cast<std::size_t>(end - bytes.begin());
    std::u16string text;
    if (length == 0)
        return text;
    Converter converter = OpenConverter();
    // Each byte yields at most one UTF-16 unit.
    text.resize(length);
    UChar* target = text.data();
    const char* source = reinterpret_cast<const char*>(bytes.data());
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(converter.get(), &target, target + text.size(), &source, source + length,
                   nullptr, /*flush=*/true, &status);
    if (U_FAILURE(status))
        throw std::runtime_error("code page 936 conversion failed");
    text.resize(static_cast<std::size_t>(target - text.data()));
    return text;
}

} // namespace tavro
