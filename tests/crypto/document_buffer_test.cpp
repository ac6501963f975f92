#include "code_page.h"
#include "document_buffer.h"
#include "document_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace tavro;
using namespace std::string_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

const DocumentKey kKey = [] {
    DocumentKey key{};
    const char text[] = "0123456789abcdef0123456789abcdef";
    std::copy_n(text, 32, key.begin());
    return key;
}();

void ZeroFiller(std::uint8_t* data, std::size_t size) { std::fill_n(data, size, std::uint8_t{0}); }

Bytes Sealed(DocumentBuffer& buffer)
{
    buffer.Seal(kKey, ZeroFiller);
    return {buffer.file().begin(), buffer.file().end()};
}

// Every UTF-16 unit once, in order: the table against the converter itself,
// surrogates included (only U+DBFF U+DC00 form a pair there).
std::u16string EveryUnit()
{
    std::u16string text;
    for (std::uint32_t unit = 0; unit < 0x10000; ++unit)
        text.push_back(static_cast<char16_t>(unit));
    return text;
}

} // namespace

// The file built piece by piece is the one EncryptDocument writes for the
// whole text, and the characters it notes are the ones LossyCharacters names.
TEST(DocumentBuffer, GivesEncryptDocumentsBytesAndNamesTheLossyCharacters)
{
    const std::u16string cases[] = {
        u"",
        u"abc",
        u"第一行\r\n第二行 €，。",
        u"a\U0001F600béc \u0915d\U0001F600\u0915",
        u"x\xD800y\xDC00",
        u"ab\0cd"s,
        u"\xD83D",
        EveryUnit(),
    };
    for (const std::u16string& text : cases) {
        SCOPED_TRACE(testing::PrintToString(text.size()));
        DocumentBuffer buffer(text.size());
        ASSERT_TRUE(buffer.Append(text));
        EXPECT_EQ(buffer.LossyCharacters(), LossyCharacters(text));
        EXPECT_EQ(buffer.lossless(), LossyCharacters(text).empty());
        const auto expected = EncryptDocument(text, kKey, ZeroFiller);
        EXPECT_EQ(Sealed(buffer), Bytes(expected.begin(), expected.end()));
    }
}

TEST(DocumentBuffer, LinesAppendedApartReadAsOneTextAndTheRoomIsKept)
{
    const std::u16string lines[] = {u"密码本", u"", u"line \U0001F600", u"end"};
    std::u16string whole;
    DocumentBuffer buffer(20);
    for (std::size_t i = 0; i < std::size(lines); ++i) {
        if (i > 0) {
            ASSERT_TRUE(buffer.AppendLineBreak());
            whole += u'\n';
        }
        ASSERT_TRUE(buffer.Append(lines[i]));
        whole += lines[i];
    }
    EXPECT_EQ(buffer.plaintextSize(), EncodeCodePage(whole).size());
    // Room for 20 units at two bytes each: 40 bytes, 19 of them used.
    EXPECT_FALSE(buffer.Append(u"eleven unit"));
    EXPECT_EQ(buffer.plaintextSize(), EncodeCodePage(whole).size());
    const auto expected = EncryptDocument(whole, kKey, ZeroFiller);
    EXPECT_EQ(Sealed(buffer), Bytes(expected.begin(), expected.end()));
    EXPECT_FALSE(buffer.AppendLineBreak()) << "sealed";
}
