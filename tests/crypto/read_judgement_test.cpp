// The judgement of a read: each test fails alone on its own fault, real
// text never fails any, and a wrong password on a short note is caught from
// 16 bytes up.
#include "code_page.h"
#include "document_file.h"
#include "document_stream.h"
#include "key_derivation.h"
#include "read_judgement.h"
#include "support/password_key.h"

#include <gtest/gtest.h>
#include <unicode/ustring.h>
#include <zlib.h>

#include <algorithm>
#include <random>

using namespace tavro;
using tavro::test::PasswordKey;

namespace {

using Bytes = std::vector<std::uint8_t>;

const DocumentKey kKey = PasswordKey(u"right");

// Filler that reads as text, so that a read which takes some of it for text
// (a pad count changed, a body cut short) fails only the test at stake.
void LetterFiller(std::uint8_t* data, std::size_t size) { std::fill_n(data, size, std::uint8_t{'x'}); }

Bytes Document(std::u16string_view text) { return EncryptDocument(text, kKey, LetterFiller); }

// A document of plaintext bytes as given, bypassing the code page.
Bytes DocumentOfBytes(const Bytes& plaintext)
{
    Bytes file(kDocumentHeaderSize);
    DocumentWriter writer(
        kKey, [&](std::span<const std::uint8_t> body) { file.insert(file.end(), body.begin(), body.end()); },
        LetterFiller);
    writer.WritePlaintext(plaintext);
    const DocumentHeader header = writer.Finish();
    std::copy(header.begin(), header.end(), file.begin());
    return file;
}

Bytes WithCrc(Bytes file)
{
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), file.data() + kDocumentHeaderSize,
                            static_cast<uInt>(file.size() - kDocumentHeaderSize));
    for (int i = 0; i < 4; ++i)
        file[static_cast<std::size_t>(1 + i)] = static_cast<std::uint8_t>(crc >> (8 * i));
    return file;
}

Bytes Flipped(Bytes file, std::size_t at, std::uint8_t mask)
{
    file[at] ^= mask;
    return file;
}

std::uint32_t Bit(ReadDoubt doubt) { return static_cast<std::uint32_t>(doubt); }

// --- Each test alone ---------------------------------------------------------------

struct FileCase {
    const char* name;
    Bytes file;
    std::uint32_t doubts;
    friend void PrintTo(const FileCase& c, std::ostream* out) { *out << c.name; }
};

class JudgementOfFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(JudgementOfFile, NamesExactlyTheTestThatFails)
{
    const DecryptedDocument read = DecryptDocument(GetParam().file, kKey);
    EXPECT_EQ(read.judgement.doubts, GetParam().doubts) << DescribeDoubts(read.judgement.doubts);
    // The same through the streaming reader, a byte at a time.
    JudgedReader reader(kKey, {});
    for (std::uint8_t byte : GetParam().file)
        reader.Read({&byte, 1});
    EXPECT_EQ(reader.Finish().doubts, GetParam().doubts);
}

const Bytes kNote = Document(u"pin 4711, door 2580"); // 19 bytes: pad 13, 37-byte file
const Bytes kEightyBody = Document(u"银行卡密码：六位数字，不要写在卡上。另附门禁卡和信箱的号码，各四位数。"); // 85-byte file

INSTANTIATE_TEST_SUITE_P(
    Doubts, JudgementOfFile,
    ::testing::Values(
        FileCase{"Clean", kNote, 0}, FileCase{"EmptyDocument", {}, 0},
        FileCase{"EmptyTextAsWritten", Document(u""), 0},
        FileCase{"HeaderCutShort", Bytes(kNote.begin(), kNote.begin() + 3), Bit(ReadDoubt::HeaderCutShort)},
        FileCase{"CrcFlipped", Flipped(kNote, 2, 0x40), Bit(ReadDoubt::Crc)},
        // One more byte of filler 'x' is read as text: only the length is wrong.
        FileCase{"PartialBlock", WithCrc([] { Bytes f = kNote; f.push_back(0x5A); return f; }()),
                 Bit(ReadDoubt::PartialBlock)},
        FileCase{"PadCountSixteen", [] { Bytes f = kNote; f[0] = 16; return f; }(), Bit(ReadDoubt::PadCount)},
        FileCase{"PadCountOfEmptyBody", {0x01, 0xFF, 0xFF, 0xFF, 0xFF}, Bit(ReadDoubt::PadCount)},
        // The pad count's high bit flipped: the text reads as empty.
        FileCase{"PadCountHighBitFlipped", Flipped(kEightyBody, 0, 0x80), Bit(ReadDoubt::PadCount)},
        // A 0x00 byte ends the text: what follows would be lost by a save.
        FileCase{"NulInPlaintext", DocumentOfBytes({'a', 'b', 0x00, 'c'}), Bit(ReadDoubt::RoundTrip)},
        FileCase{"ControlCharacter", Document(u"bell\u0007"), Bit(ReadDoubt::Control)},
        FileCase{"PrivateUse", Document(u"user-defined \uE000 character, long enough"), Bit(ReadDoubt::PrivateUse)},
        FileCase{"RareInAShortNote", Document(u"繁體"), Bit(ReadDoubt::RareShare)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadJudgement, PlainTextFileIsNoDocument)
{
    const std::string notes = "shopping list\nmilk, eggs, bread\nbank 14:00\n";
    const DecryptedDocument read = DecryptDocument(Bytes(notes.begin(), notes.end()), kKey);
    EXPECT_TRUE(read.judgement.Has(ReadDoubt::Crc));
    EXPECT_TRUE(read.judgement.Has(ReadDoubt::PartialBlock));
    EXPECT_FALSE(read.judgement.clean());
}

// The character tests, on text whose bytes are its own encoding (so the
// round trip holds), in pieces of one unit and one byte against whole.
struct TextCase {
    const char* name;
    std::u16string text;
    std::uint32_t doubts;
    friend void PrintTo(const TextCase& c, std::ostream* out) { *out << c.name; }
};

class JudgementOfText : public ::testing::TestWithParam<TextCase> {};

ReadJudgement Judge(std::u16string_view text, std::size_t piece)
{
    const SecureBytes bytes = EncodeCodePage(text);
    ReadJudge judge;
    for (std::size_t at = 0; at < text.size(); at += piece)
        judge.AddText(text.substr(at, piece));
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        judge.AddPlaintext(std::span(bytes).subspan(at, std::min(piece, bytes.size() - at)));
    const std::size_t body = (bytes.size() + 15) / 16 * 16;
    return judge.Finish(kDocumentHeaderSize + body, static_cast<std::uint8_t>(body - bytes.size()), true);
}

TEST_P(JudgementOfText, NamesExactlyTheTestThatFailsInAnyPieces)
{
    const TextCase& c = GetParam();
    const ReadJudgement whole = Judge(c.text, c.text.size() + 1);
    EXPECT_EQ(whole.doubts, c.doubts) << DescribeDoubts(whole.doubts);
    const ReadJudgement single = Judge(c.text, 1);
    EXPECT_EQ(single.doubts, whole.doubts);
    EXPECT_EQ(single.characters, whole.characters);
    EXPECT_EQ(single.rare, whole.rare);
}

const std::u16string kFifteen = u"fifteen chars, ";
const std::u16string kFourteen = u"fourteen chars";

INSTANTIATE_TEST_SUITE_P(
    Doubts, JudgementOfText,
    ::testing::Values(
        TextCase{"TabAndLineBreaksAreText", u"a\tb\r\nc\n", 0},
        TextCase{"EscapeIsControl", u"\x1B[0m", Bit(ReadDoubt::Control)},
        TextCase{"DeleteIsControl", u"a\x7F", Bit(ReadDoubt::Control)},
        TextCase{"C1IsControl", u"a\x85", Bit(ReadDoubt::Control)},
        TextCase{"Replacement", u"a\uFFFD", Bit(ReadDoubt::Replacement)},
        TextCase{"PrivateUseOfTheByte0xFF", u"a\uF8F5", Bit(ReadDoubt::PrivateUse)},
        TextCase{"PrivateUsePlane15", kFifteen + u"\U000F0000", Bit(ReadDoubt::PrivateUse)},
        TextCase{"Noncharacter", u"a\uFFFF", Bit(ReadDoubt::Unassigned)},
        TextCase{"LoneHighSurrogate", u"a\xD83D" u"b", Bit(ReadDoubt::Unassigned)},
        TextCase{"LoneHighSurrogateAtTheEnd", u"ab\xD83D", Bit(ReadDoubt::Unassigned)},
        TextCase{"LoneLowSurrogate", u"a\xDE00", Bit(ReadDoubt::Unassigned)},
        // One rare character is allowed per 16 characters, a pair counting as one.
        TextCase{"OneRareInSixteen", kFifteen + u"為", 0},
        TextCase{"OneRareInFifteen", kFourteen + u"為", Bit(ReadDoubt::RareShare)},
        TextCase{"PairInSixteen", kFifteen + u"\U0001F600", 0},
        TextCase{"PairInFifteen", kFourteen + u"\U0001F600", Bit(ReadDoubt::RareShare)},
        TextCase{"GbkSymbolIsOrdinary", u"二〇二四年", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// --- One pass by table ---------------------------------------------------------------

std::string Utf8Of(std::u16string_view text)
{
    std::string utf8(text.size() * 3 + 1, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8(utf8.data(), static_cast<int32_t>(utf8.size()), &length, text.data(),
                static_cast<int32_t>(text.size()), &status);
    EXPECT_TRUE(U_SUCCESS(status));
    utf8.resize(static_cast<std::size_t>(length));
    return utf8;
}

// What the decoder and the judge make of plaintext: its text as UTF-8 and
// the judgement of it alone (the share of rare characters left out).
std::pair<std::string, ReadJudgement> DecodedAndJudged(std::span<const std::uint8_t> plaintext)
{
    const std::u16string text = DecodeCodePage(plaintext);
    ReadJudge judge;
    judge.AddText(text);
    judge.AddPlaintext(plaintext);
    ReadJudgement judgement = judge.Finish(0, 0, true);
    judgement.doubts &= ~Bit(ReadDoubt::RareShare);
    return {Utf8Of(text), judgement};
}

::testing::AssertionResult SameAsDecoderAndJudge(const Bytes& plaintext)
{
    std::string utf8(3 * plaintext.size() + 1, '\0');
    std::size_t written = 0;
    ReadJudgement fast;
    if (!DecodeAndJudgeByTable(plaintext, reinterpret_cast<std::uint8_t*>(utf8.data()), written, fast))
        return ::testing::AssertionFailure() << "not covered";
    utf8.resize(written);
    const auto [expected, judgement] = DecodedAndJudged(plaintext);
    if (utf8 != expected || fast.doubts != judgement.doubts || fast.characters != judgement.characters ||
        fast.rare != judgement.rare)
        return ::testing::AssertionFailure() << "differs: " << DescribeDoubts(fast.doubts) << " / "
                                             << DescribeDoubts(judgement.doubts) << ", " << fast.rare << " / "
                                             << judgement.rare << " rare";
    return ::testing::AssertionSuccess();
}

// Every single byte and lead/trail pair alone: covered exactly when it is
// one character that encodes back to itself (a byte above 0x80 alone is
// left to the decoder: 0xFF is one), and then decoded and judged as the
// decoder and the judge do; then all of them in one text, with runs of ASCII
// of every length between them.
TEST(ReadJudgement, OnePassByTableAgreesWithTheDecoderAndTheJudge)
{
    std::vector<Bytes> characters;
    for (unsigned index = 1; index <= 0xFEFE; ++index) {
        const unsigned lead = index >> 8, trail = index & 0xFF;
        if (index > 0xFF && (lead < 0x81 || trail < 0x40 || trail == 0xFF))
            continue;
        const Bytes bytes = index <= 0xFF ? Bytes{static_cast<std::uint8_t>(index)}
                                          : Bytes{static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail)};
        const std::u16string text = DecodeCodePage(bytes);
        const bool oneCharacter = text.size() == 1 && text[0] != u'\uFFFD';
        const bool roundTrips = !DecodedAndJudged(bytes).second.Has(ReadDoubt::RoundTrip);
        std::string utf8(8, '\0');
        std::size_t written = 0;
        ReadJudgement judgement;
        const bool covered =
            DecodeAndJudgeByTable(bytes, reinterpret_cast<std::uint8_t*>(utf8.data()), written, judgement);
        const bool leadAlone = index > 0x80 && index <= 0xFF;
        ASSERT_EQ(covered, oneCharacter && roundTrips && !leadAlone) << std::hex << index;
        if (covered) {
            ASSERT_TRUE(SameAsDecoderAndJudge(bytes)) << std::hex << index;
            characters.push_back(bytes);
        }
    }
    EXPECT_GT(characters.size(), 21000u);
    std::mt19937 rng(936);
    std::shuffle(characters.begin(), characters.end(), rng);
    Bytes text;
    std::size_t run = 0;
    for (const Bytes& character : characters) {
        text.insert(text.end(), character.begin(), character.end());
        if (rng() % 64 == 0)
            text.insert(text.end(), run++ % 40, 'a');
    }
    EXPECT_TRUE(SameAsDecoderAndJudge(text));
    text.push_back(0xC3); // a lead byte at the end
    EXPECT_FALSE(SameAsDecoderAndJudge(text));
}

// --- Real text -----------------------------------------------------------------------

TEST(ReadJudgement, RealTextIsNeverDoubted)
{
    const std::u16string samples[] = {
        u"1",
        u"pin 4711",
        u"123456",
        u"wifi: Sunflower-2024!\nrouter admin / k#T]9q~\nbank card 6222 0202 1234 5678, pin 0815\n",
        u"qwerty\npassword1\n1qaz@WSX\nP@ssw0rd!\n88888888\n",
        u"今天下午三点在会议室开会，记得带上季度报告和笔记本电脑。",
        u"春天来了，河边的柳树发出了嫩绿的新芽。孩子们在草地上放风筝，笑声传得很远。"
        u"妈妈说，等到周末，我们一起去郊外看桃花，顺便买些新鲜的草莓回来。\n"
        u"第二天一早，天还没亮，爷爷就起床了。他在院子里打太极拳，动作缓慢而有力。"
        u"“早睡早起身体好”，这是他常挂在嘴边的一句话。",
        u"二〇二四年三月十五日 星期五 晴\n读书笔记：《红楼梦》第三回——林黛玉进贾府。\n"
        u"要点：①人物出场顺序；②环境描写；③细节（衣着、言谈）。价格：€12.50，约合人民币九十六元。",
        u"Dear Anna,\n\nThanks for the notes from Tuesday's meeting. I've moved the review to Friday at 10:30; "
        u"the room is booked (B-204). Could you bring the Q3 figures? See you then.\n\n-- Tom",
        u"#include <stdio.h>\n\nint main(void)\n{\n\tfor (int i = 0; i < 10; ++i)\n\t\tprintf(\"%d\\n\", i * i);\n"
        u"\treturn 0; /* done */\n}\n",
        u"def parse(line):\r\n    key, _, value = line.partition('=')\r\n    return key.strip(), value.strip()\r\n",
        u"ΑΒΓ αβγ АБВ абв ぁあぃ ァアィ ─│┌┐ āáǎà",
    };
    for (const std::u16string& text : samples) {
        const DecryptedDocument read = DecryptDocument(EncryptDocument(text, kKey), kKey);
        EXPECT_TRUE(read.judgement.clean()) << DescribeDoubts(read.judgement.doubts) << " in sample of "
                                            << text.size() << " units";
    }
}

// --- Wrong passwords ----------------------------------------------------------------

// A fixed sample of wrong passwords on notes of 16, 32 and 48 bytes: random
// bytes pass the old round-trip guard this often (13%, 4%, 1%); the
// judgement catches every one.
TEST(ReadJudgement, WrongPasswordOnAShortNoteIsCaughtFromSixteenBytes)
{
    std::mt19937 rng(15);
    const std::u16string note = u"银行卡 pin 4711; 门禁 2580 信箱 1234 phone 13800138000";
    for (std::size_t bytes : {16, 32, 48}) {
        std::u16string text = note;
        while (EncodeCodePage(text).size() > bytes)
            text.pop_back();
        const Bytes file = EncryptDocument(text, kKey);
        ASSERT_EQ(file.size(), kDocumentHeaderSize + (bytes + 15) / 16 * 16);
        int accepted = 0;
        for (int i = 0; i < 1000; ++i) {
            std::u16string password;
            for (int n = 0; n < 8; ++n)
                password += static_cast<char16_t>(0x21 + rng() % 94);
            accepted += DecryptDocument(file, PasswordKey(password)).judgement.clean();
        }
        EXPECT_EQ(accepted, 0) << bytes << "-byte note";
    }
}

} // namespace
