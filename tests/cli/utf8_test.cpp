// tavro-cli's UTF-8: the bulk check on every engine this machine runs, the
// pieces read from a stream and the byte offsets of faults, counted from the
// start of the input (a byte order mark included), and the streaming encoder.
#include "utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace tavro::cli;

namespace {

std::span<const std::uint8_t> Bytes(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::vector<Utf8Engine> Engines()
{
    std::vector<Utf8Engine> engines;
    for (Utf8Engine engine : {Utf8Engine::Portable, Utf8Engine::Avx2}) {
        if (Utf8EngineAvailable(engine))
            engines.push_back(engine);
    }
    return engines;
}

struct Pieces {
    std::string text;           // the pieces joined
    std::uint64_t faultAt = 0; // 1-based input offset of the first fault, 0 for none
};

// Reads input through Utf8Pieces in reads of 4 bytes at most that also end
// at cuts, checking each piece as encrypt does: a piece that did not end on
// a whole character fails the check.
Pieces ReadInPieces(const std::string& input, std::vector<std::size_t> cuts)
{
    cuts.push_back(input.size());
    std::size_t at = 0;
    std::size_t cut = 0;
    Utf8Pieces pieces(
        [&](std::span<std::uint8_t> buffer) {
            while (cut < cuts.size() && cuts[cut] <= at)
                ++cut;
            const std::size_t end = cut < cuts.size() ? std::min(cuts[cut], at + buffer.size()) : at;
            std::copy(input.begin() + static_cast<std::ptrdiff_t>(at), input.begin() + static_cast<std::ptrdiff_t>(end),
                      buffer.begin());
            const std::size_t got = end - at;
            at = end;
            return got;
        },
        4);
    Pieces result;
    tavro::SecureBytes piece;
    std::uint64_t offset = 0;
    while (pieces.Next(piece, offset)) {
        const std::size_t bad = FindInvalidUtf8(piece);
        if (bad < piece.size()) {
            result.faultAt = offset + bad + 1;
            return result;
        }
        result.text.append(piece.begin(), piece.end());
    }
    return result;
}

} // namespace

// Sequences at the edges of each rule (Unicode's table of well-formed
// UTF-8, and every error class of the bulk check), placed at every offset
// around the 32-byte blocks of the vector engine, between ASCII and between
// Chinese characters.
TEST(Utf8, EveryEngineFindsTheFirstFaultWhereverItLies)
{
    struct Case {
        const char* sequence;
        std::size_t faultAt; // offset of the fault in the sequence; npos: valid
    };
    constexpr std::size_t kValid = std::string::npos;
    const Case cases[] = {
        {"\xC2\x80", kValid},         {"\xDF\xBF", kValid},         {"\xE0\xA0\x80", kValid},
        {"\xED\x9F\xBF", kValid},     {"\xEE\x80\x80", kValid},     {"\xEF\xBF\xBF", kValid},
        {"\xF0\x90\x80\x80", kValid}, {"\xF4\x8F\xBF\xBF", kValid}, {"\xE4\xB8\xAD", kValid},
        {"\x80", 0},                  // a continuation byte alone
        {"\xE4\xB8\xAD\x80", 3},      // one continuation too many
        {"\xC0\x80", 0},              // overlong, two bytes
        {"\xC1\xBF", 0},
        {"\xE0\x9F\xBF", 0},          // overlong, three bytes
        {"\xED\xA0\x80", 0},          // a surrogate
        {"\xED\xBF\xBF", 0},
        {"\xF0\x8F\xBF\xBF", 0},      // overlong, four bytes
        {"\xF4\x90\x80\x80", 0},      // above U+10FFFF
        {"\xF5\x80\x80\x80", 0},
        {"\xF8\x88\x80\x80\x80", 0},
        {"\xFF", 0},
        {"\xC2" "a", 0},              // cut short by ASCII
        {"\xE4\xB8" "a", 0},
        {"\xF0\x9F\x98" "a", 0},
        {"\xE4\xE4\xB8\xAD", 0},      // cut short by another lead
    };
    const std::string fillers[] = {"a", "\xE4\xB8\xAD"};
    for (const std::string& filler : fillers) {
        for (const Case& c : cases) {
            for (std::size_t before = 0; before < 36; ++before) {
                std::string text;
                while (text.size() < before)
                    text += filler;
                const std::size_t at = text.size();
                text += c.sequence;
                for (int i = 0; i < 40; ++i)
                    text += filler;
                const bool valid = c.faultAt == kValid;
                SCOPED_TRACE(testing::PrintToString(c.sequence) + " at " + std::to_string(at));
                for (Utf8Engine engine : Engines())
                    ASSERT_EQ(IsUtf8Using(engine, Bytes(text)), valid) << static_cast<int>(engine);
                ASSERT_EQ(FindInvalidUtf8(Bytes(text)), valid ? text.size() : at + c.faultAt);
                // Cut off by the end of the input.
                const std::string cutOff = text.substr(0, at + std::string(c.sequence).size() - 1);
                if (valid && cutOff.size() > at) {
                    for (Utf8Engine engine : Engines())
                        ASSERT_FALSE(IsUtf8Using(engine, Bytes(cutOff))) << static_cast<int>(engine);
                }
            }
        }
    }
}

TEST(Utf8, EnginesAgreeOnRandomBytes)
{
    std::mt19937 rng(18);
    const std::uint8_t pool[] = {0x41, 0x0A, 0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2,
                                 0xDF, 0xE0, 0xE4, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0xB8, 0xAD};
    for (int round = 0; round < 20000; ++round) {
        std::string text(std::uniform_int_distribution<std::size_t>(0, 70)(rng), 'a');
        for (char& c : text) {
            if (rng() % 3 == 0)
                c = static_cast<char>(pool[rng() % sizeof pool]);
        }
        const bool portable = IsUtf8Using(Utf8Engine::Portable, Bytes(text));
        for (Utf8Engine engine : Engines())
            ASSERT_EQ(IsUtf8Using(engine, Bytes(text)), portable) << testing::PrintToString(text);
        tavro::cli::SecureText units;
        std::size_t errorOffset = 0;
        ASSERT_EQ(Utf8ToUtf16(Bytes(text), units, errorOffset), portable);
        ASSERT_EQ(FindInvalidUtf8(Bytes(text)), portable ? text.size() : errorOffset);
    }
}

TEST(Utf8Pieces, ReadsCutAnywhereGiveWholeCharactersAndTheTextWithoutItsMark)
{
    // A byte order mark, then one-, two-, three- and four-byte characters.
    const std::string input = "\xEF\xBB\xBF" "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z\r\n";
    const std::string expected = input.substr(3);
    for (std::size_t cut = 0; cut <= input.size(); ++cut) {
        SCOPED_TRACE(cut);
        const Pieces read = ReadInPieces(input, {cut});
        EXPECT_EQ(read.faultAt, 0u);
        EXPECT_EQ(read.text, expected);
    }
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < input.size(); ++i)
        everyByte.push_back(i);
    EXPECT_EQ(ReadInPieces(input, everyByte).text, expected);
    EXPECT_EQ(ReadInPieces("\xEF\xBB\xBF", {1, 2}).text, "");
    EXPECT_EQ(ReadInPieces("ab\xEF\xBB\xBF", {}).text, "ab\xEF\xBB\xBF") << "a mark later on is text";
}

TEST(Utf8Pieces, FaultsAreCountedFromTheStartOfTheInput)
{
    struct Case {
        const char* name;
        std::string input;
        std::uint64_t offset;
    };
    const Case cases[] = {
        {"bad byte after a byte order mark", "\xEF\xBB\xBF" "ok \xFF", 7},
        {"overlong NUL", "ab\xC0\x80", 3},
        {"surrogate code point", "\xED\xA0\x80", 1},
        {"sequence cut by the end", "abc\xE4\xB8", 4},
        {"half a byte order mark is text", "\xEF\xBB", 1},
        {"after a piece of several characters", "\xE4\xB8\xAD\xE4\xB8\xAD" "ab\x80", 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t cut = 0; cut <= c.input.size(); ++cut)
            EXPECT_EQ(ReadInPieces(c.input, {cut}).faultAt, c.offset) << "cut at " << cut;
    }
}

TEST(Utf8Encoder, SurrogatePairCutBetweenPiecesIsJoined)
{
    const auto encode = [](Utf8Encoder& encoder, std::u16string_view piece, bool last) {
        std::string out(Utf8Encoder::Room(piece.size()), '\0');
        out.resize(encoder.Encode(piece, last, reinterpret_cast<std::uint8_t*>(out.data())));
        return out;
    };
    const std::u16string text = u"x\U0001F600y\u00E9\u4E2D";
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        Utf8Encoder encoder;
        const std::u16string_view all(text);
        const std::string first = encode(encoder, all.substr(0, cut), false);
        EXPECT_EQ(first + encode(encoder, all.substr(cut), true), "x\xF0\x9F\x98\x80y\xC3\xA9\xE4\xB8\xAD") << cut;
    }
    Utf8Encoder encoder;
    EXPECT_EQ(encode(encoder, u"\xD83D", false), "");
    EXPECT_EQ(encode(encoder, u"", true), "\xEF\xBF\xBD") << "a lone high surrogate at the end";
    EXPECT_EQ(encode(encoder, u"a\xDC00" u"bcdefghijk\xD800", true), "a\xEF\xBF\xBD" "bcdefghijk\xEF\xBF\xBD");
}
