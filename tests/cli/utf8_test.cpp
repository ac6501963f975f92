// The streaming UTF-8 decoder and encoder of tavro-cli at piece boundaries,
// and the byte offsets it reports, counted from the start of the input
// (a byte order mark included).
#include "utf8.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace tavro::cli;
using tavro::SecureBytes;

namespace {

struct Decoded {
    std::u16string text;
    Utf8Decoder::Problem problem = Utf8Decoder::Problem::None;
    std::uint64_t offset = 0;
};

// Runs the decoder as encrypt does: each piece is appended behind the bytes
// the previous one left undecoded. cuts are the input positions where a
// piece ends.
Decoded DecodeInPieces(const std::string& input, std::vector<std::size_t> cuts)
{
    cuts.push_back(input.size());
    Decoded result;
    Utf8Decoder decoder;
    SecureText units;
    std::string buffer;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const bool last = i == cuts.size();
        if (!last) {
            buffer += input.substr(from, cuts[i] - from);
            from = cuts[i];
        }
        const std::size_t used = decoder.Decode(
            {reinterpret_cast<const std::uint8_t*>(buffer.data()), buffer.size()}, last, units);
        if (decoder.problem() != Utf8Decoder::Problem::None) {
            result.problem = decoder.problem();
            result.offset = decoder.errorOffset();
            return result;
        }
        result.text.append(units.data(), units.size());
        buffer.erase(0, used);
    }
    return result;
}

} // namespace

TEST(Utf8Decoder, CharacterCutAtEveryPositionDecodesAsWhole)
{
    // A byte order mark, then one-, two-, three- and four-byte characters.
    const std::string input = "\xEF\xBB\xBF" "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z\r\n";
    const std::u16string expected = u"a\u00E9\u4E2D\U0001F600z\r\n";
    for (std::size_t cut = 0; cut <= input.size(); ++cut) {
        SCOPED_TRACE(cut);
        const Decoded decoded = DecodeInPieces(input, {cut});
        EXPECT_EQ(decoded.problem, Utf8Decoder::Problem::None);
        EXPECT_EQ(decoded.text, expected);
    }
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < input.size(); ++i)
        everyByte.push_back(i);
    EXPECT_EQ(DecodeInPieces(input, everyByte).text, expected);
}

TEST(Utf8Decoder, ReportsTheOffendingByteCountedFromTheStart)
{
    using P = Utf8Decoder::Problem;
    struct Case {
        const char* name;
        std::string input;
        P problem;
        std::uint64_t offset;
    };
    const std::vector<Case> cases = {
        {"bad byte after a byte order mark", "\xEF\xBB\xBF" "ok \xFF", P::Invalid, 7},
        {"overlong NUL", "ab\xC0\x80", P::Invalid, 3},
        {"surrogate code point", "\xED\xA0\x80", P::Invalid, 1},
        {"sequence cut by the end", "abc\xE4\xB8", P::Invalid, 4},
        {"NUL byte", std::string("before\0after", 12), P::Nul, 7},
        {"NUL after a byte order mark", std::string("\xEF\xBB\xBF" "ab\0", 6), P::Nul, 6},
        {"half a byte order mark is text", "\xEF\xBB", P::Invalid, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t cut = 0; cut <= c.input.size(); ++cut) {
            const Decoded decoded = DecodeInPieces(c.input, {cut});
            EXPECT_EQ(decoded.problem, c.problem) << "cut at " << cut;
            EXPECT_EQ(decoded.offset, c.offset) << "cut at " << cut;
        }
    }
}

TEST(Utf8Encoder, SurrogatePairCutBetweenPiecesIsJoined)
{
    const std::u16string text = u"x\U0001F600y";
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        Utf8Encoder encoder;
        SecureBytes out;
        std::string utf8;
        encoder.Encode(std::u16string_view(text).substr(0, cut), false, out);
        utf8.append(out.begin(), out.end());
        encoder.Encode(std::u16string_view(text).substr(cut), true, out);
        utf8.append(out.begin(), out.end());
        EXPECT_EQ(utf8, "x\xF0\x9F\x98\x80y") << cut;
    }
    Utf8Encoder encoder;
    SecureBytes out;
    encoder.Encode(u"\xD83D", false, out);
    EXPECT_TRUE(out.empty());
    encoder.Encode(u"", true, out);
    EXPECT_EQ(std::string(out.begin(), out.end()), "\xEF\xBF\xBD") << "a lone high surrogate at the end";
}
