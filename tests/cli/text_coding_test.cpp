// tavro-cli's code page 936 by table against the converter (ICU) behind
// EncodeCodePage, which the editor's documents were always written with.
#include "text_coding.h"

#include "code_page.h"

#include <gtest/gtest.h>

#include <string>

using namespace tavro;

namespace {

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t c)
{
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
}

} // namespace

// Every code point but U+0000 and the surrogates, a run of 256 at a time:
// the bytes and the characters named lost are the converter's, and a
// carriage return is dropped.
TEST(Utf8ToCodePage, GivesTheConvertersBytesForEveryCodePoint)
{
    for (char32_t start = 0; start < 0x110000; start += 0x100) {
        std::string utf8;
        std::u16string utf16;
        for (char32_t c = std::max<char32_t>(start, 1); c < start + 0x100; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            AppendUtf8(utf8, c);
            if (c != U'\r')
                AppendUtf16(utf16, c);
        }
        const SecureBytes expected = EncodeCodePage(utf16);
        std::string bytes(utf8.size(), '\0');
        LossyCharacterSet lossy;
        bytes.resize(cli::Utf8ToCodePage({reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()},
                                         reinterpret_cast<std::uint8_t*>(bytes.data()), lossy));
        ASSERT_EQ(bytes, std::string(expected.begin(), expected.end())) << "from U+" << std::hex << static_cast<unsigned>(start);
        ASSERT_EQ(lossy.Characters(), LossyCharacters(utf16)) << "from U+" << std::hex << static_cast<unsigned>(start);
    }
}
