#include "code_page.h"
#include "code_page_match.h"

#include <gtest/gtest.h>
#include <unicode/ucnv.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

using tavro::DecodeCodePage;
using tavro::EncodeCodePage;
using namespace std::string_literals;
using namespace std::string_view_literals;

namespace {

std::vector<std::uint8_t> Encode(std::u16string_view text)
{
    const auto bytes = EncodeCodePage(text);
    return {bytes.begin(), bytes.end()};
}

std::u16string Decode(std::vector<std::uint8_t> bytes) { return DecodeCodePage(bytes); }

} // namespace

TEST(CodePage, EncodesAsWindowsCodePage936)
{
    EXPECT_EQ(Encode(u"abc\n"), (std::vector<std::uint8_t>{0x61, 0x62, 0x63, 0x0A}));
    EXPECT_EQ(Encode(u"密码"), (std::vector<std::uint8_t>{0xC3, 0xDC, 0xC2, 0xEB}));
    EXPECT_EQ(Encode(u"€"), (std::vector<std::uint8_t>{0x80}));
    EXPECT_EQ(Encode(u"，。"), (std::vector<std::uint8_t>{0xA3, 0xAC, 0xA1, 0xA3}));
    EXPECT_TRUE(Encode(u"").empty());
}

TEST(CodePage, UnrepresentableBecomesOneQuestionMarkPerUtf16Unit)
{
    EXPECT_EQ(Encode(u"a\u0E01b"), (std::vector<std::uint8_t>{0x61, 0x3F, 0x62}));   // Thai
    EXPECT_EQ(Encode(u"\U0001F600"), (std::vector<std::uint8_t>{0x3F, 0x3F}));         // emoji
    EXPECT_EQ(Encode(u"x\xD800y"), (std::vector<std::uint8_t>{0x78, 0x3F, 0x79}));      // lone high
    EXPECT_EQ(Encode(u"x\xDC00"), (std::vector<std::uint8_t>{0x78, 0x3F}));            // lone low at end
    EXPECT_EQ(Encode(u"\xD800"), (std::vector<std::uint8_t>{0x3F}));
}

TEST(CodePage, DecodingEndsAtTheFirstNulByte)
{
    EXPECT_EQ(Decode({0x61, 0x00, 0x62}), u"a");
    EXPECT_EQ(Decode({0x00, 0x61}), u"");
    EXPECT_EQ(Decode({}), u"");
    EXPECT_EQ(Decode({0xC3, 0xDC, 0xC2, 0xEB, 0x80}), u"密码€");
}

TEST(CodePage, InvalidBytesDoNotSwallowTheTextAround)
{
    // 0x81 0x30 is no valid pair: the lead byte is replaced, '0' survives;
    // a lead byte cut off at the end is replaced as well.
    EXPECT_EQ(Decode({0x41, 0x81, 0x30, 0x42, 0xA1}), u"A\uFFFD0B\uFFFD");
}

TEST(CodePage, EveryDoubleByteCharacterRoundTrips)
{
    // Every valid pair decodes to one character that encodes back to the pair.
    int pairs = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F)
                continue;
            const std::vector<std::uint8_t> pair{static_cast<std::uint8_t>(lead),
                                                 static_cast<std::uint8_t>(trail)};
            const std::u16string text = Decode(pair);
            ASSERT_EQ(text.size(), 1u) << std::hex << lead << ' ' << trail;
            if (text[0] == u'\uFFFD')
                continue; // unassigned in this code page
            ASSERT_EQ(Encode(text), pair) << std::hex << lead << ' ' << trail;
            ++pairs;
        }
    }
    EXPECT_GT(pairs, 21000); // GBK assigns some 21 886 pairs
}

// The decoder reads whole characters by table and hands the rest to the
// converter; in pieces of any size it must give the converter's own text,
// invalid and cut-off sequences included.
TEST(CodePage, DecoderInPiecesGivesTheConvertersTextForAnyBytes)
{
    std::mt19937 rng(11);
    UErrorCode status = U_ZERO_ERROR;
    UConverter* oracle = ucnv_open("windows-936-2000", &status);
    ASSERT_TRUE(U_SUCCESS(status));
    // Valid pairs, ASCII, low bytes, lone leads, 0x80, 0xFF, 0x7F trails,
    // and 0x00, where the text ends (also when the next piece brings more).
    const std::vector<std::uint8_t> pool{0x41, 0x0A, 0x30, 0x3F, 0x40, 0x7E, 0x7F, 0x80, 0x81,
                                         0xA1, 0xC3, 0xDC, 0xFE, 0xFF, 0xA3, 0xAC, 0x00};
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::uint8_t> bytes(std::uniform_int_distribution<std::size_t>(0, 40)(rng));
        for (std::uint8_t& b : bytes)
            b = pool[std::uniform_int_distribution<std::size_t>(0, pool.size() - 1)(rng)];
        std::u16string expected(bytes.size() + 2, u'\0');
        status = U_ZERO_ERROR;
        ucnv_resetToUnicode(oracle);
        expected.resize(static_cast<std::size_t>(
            ucnv_toUChars(oracle, expected.data(), static_cast<int32_t>(expected.size()),
                          reinterpret_cast<const char*>(bytes.data()), static_cast<int32_t>(bytes.size()), &status)));
        ASSERT_TRUE(U_SUCCESS(status));
        expected.resize(std::min(expected.size(), expected.find(u'\0')));
        tavro::CodePageDecoder decoder;
        std::u16string text;
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t size = std::min(bytes.size() - at, std::uniform_int_distribution<std::size_t>(0, 7)(rng));
            decoder.Decode(std::span(bytes).subspan(at, size), false, text);
            at += size;
        }
        decoder.Decode({}, true, text);
        ASSERT_EQ(text, expected) << testing::PrintToString(bytes);
    }
    ucnv_close(oracle);
}

// Where tavro-cli cuts a document's text to decode the pieces apart: after
// any byte below 0x80, a character of its own or a trail byte, so a
// character ends there whatever came before it.
TEST(CodePage, PiecesCutAfterAByteBelow0x80DecodeOnTheirOwnAsTheWholeDoes)
{
    std::mt19937 rng(936);
    const std::vector<std::uint8_t> pool{0x41, 0x0A, 0x30, 0x3F, 0x40, 0x7E, 0x7F, 0x80, 0x81,
                                         0xA1, 0xC3, 0xDC, 0xFE, 0xFF, 0xA3, 0xAC, 0x5C, 0x60};
    for (int round = 0; round < 5000; ++round) {
        std::vector<std::uint8_t> bytes(std::uniform_int_distribution<std::size_t>(1, 40)(rng));
        for (std::uint8_t& b : bytes)
            b = pool[std::uniform_int_distribution<std::size_t>(0, pool.size() - 1)(rng)];
        std::u16string pieces;
        std::size_t from = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if ((bytes[i] < 0x80 && rng() % 2 == 0) || i + 1 == bytes.size()) {
                tavro::CodePageDecoder decoder;
                decoder.Decode(std::span(bytes).subspan(from, i + 1 - from), /*last=*/true, pieces);
                from = i + 1;
            }
        }
        ASSERT_EQ(pieces, Decode(bytes)) << testing::PrintToString(bytes);
    }
}

// The reader's round-trip check: text and bytes in pieces, either side
// ahead, agree exactly when EncodeCodePage of the text is the bytes.
TEST(CodePage, MatchAgreesWithEncodeCodePageWhateverThePieces)
{
    const std::u16string texts[] = {u"", u"abc", u"第一行\r\n第二行 €", u"a\U0001F600b\xD800" u"z\xDC00", u"x\xD83D",
                                    u"\u0E01\u00AD"};
    for (const std::u16string& text : texts) {
        const auto encoded = EncodeCodePage(text);
        const std::vector<std::uint8_t> right(encoded.begin(), encoded.end());
        std::vector<std::uint8_t> longer = right, shorter = right, changed = right;
        longer.push_back(0x41);
        if (!shorter.empty())
            shorter.pop_back();
        if (!changed.empty())
            changed[changed.size() / 2] ^= 0x01;
        // Not a structured binding: the lambdas below capture bytes, and
        // clang before 16 refuses to capture a binding.
        struct Case {
            const std::vector<std::uint8_t>* bytes;
            bool matches;
        };
        const Case cases[] = {{&right, true}, {&longer, false}, {&shorter, text.empty()}, {&changed, text.empty()}};
        for (const Case& c : cases) {
            const std::vector<std::uint8_t>* const bytes = c.bytes;
            for (const std::size_t piece : {1u, 2u, 3u, 64u}) {
                for (const bool textFirst : {false, true}) {
                    SCOPED_TRACE(testing::PrintToString(bytes->size()) + " " + std::to_string(piece) +
                                 (textFirst ? " text first" : " bytes first"));
                    tavro::CodePageMatch match;
                    // Alternating pieces, one side a piece ahead of the other.
                    for (std::size_t at = 0; at < std::max(text.size(), bytes->size()) + piece; at += piece) {
                        const auto addText = [&] {
                            if (at < text.size())
                                match.AddText(std::u16string_view(text).substr(at, piece));
                        };
                        const auto addBytes = [&] {
                            if (at < bytes->size())
                                match.AddBytes(std::span(*bytes).subspan(at, std::min(piece, bytes->size() - at)));
                        };
                        textFirst ? (addText(), addBytes()) : (addBytes(), addText());
                    }
                    EXPECT_EQ(match.Finish(), c.matches);
                }
            }
        }
    }
}

TEST(CodePage, LossyCharactersNameEachCharacterASaveWouldNotKeep)
{
    using tavro::LossyCharacters;
    struct Case {
        std::u16string_view text;
        std::u32string lossy;
    } const cases[] = {
        {u"", U""},
        {u"纯文本 abc € ，。\n", U""},
        // Distinct, in order of first appearance; a pair is one character.
        {u"a\U0001F600b\u00E9c \u0915d\U0001F600\uD55C", U"\U0001F600\u0915\uD55C"},
        {u"x\xD800y", U"\xD800"},      // an unpaired surrogate is named by itself
        {u"a\0b\u0E01"sv, U"\0\u0E01"s}, // U+0000 first: the reader's text ends there
    };
    for (const Case& c : cases)
        EXPECT_EQ(LossyCharacters(c.text), c.lossy) << c.lossy.size();
    // Longer than the scan's buffer: the tail is scanned too.
    std::u16string longText(20000, u'字');
    longText += u"\u0E01";
    EXPECT_EQ(LossyCharacters(longText), U"\u0E01");
}
