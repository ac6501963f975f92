// The streaming reader and writer against the whole-buffer codec, at the
// piece boundaries where a streaming codec goes wrong: a double-byte
// character or a surrogate pair cut in two, a CR LF cut in two, the filler
// starting or ending exactly at a boundary.
#include "code_page.h"
#include "crc32.h"
#include "document_file.h"
#include "document_stream.h"
#include "support/random_seed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace tavro;

namespace {

using Bytes = std::vector<std::uint8_t>;

const DocumentKey kKey = [] {
    DocumentKey key{};
    std::fill(key.begin(), key.end(), std::uint8_t{'c'});
    return key;
}();

void CountingFiller(std::uint8_t* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(0xE0 + i);
}

// The file the streaming writer makes from text cut at the given unit positions.
Bytes WriteInPieces(std::u16string_view text, const std::vector<std::size_t>& cuts)
{
    Bytes file(kDocumentHeaderSize);
    DocumentWriter writer(
        kKey, [&](std::span<const std::uint8_t> body) { file.insert(file.end(), body.begin(), body.end()); },
        CountingFiller);
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        writer.Write(text.substr(from, cut - from));
        from = cut;
    }
    writer.Write(text.substr(from));
    const DocumentHeader header = writer.Finish();
    std::copy(header.begin(), header.end(), file.begin());
    return file;
}

struct Read {
    std::u16string text;
    DocumentCheck check;
    bool crcMatches;
};

// What the streaming reader gives for file cut at the given byte positions.
Read ReadInPieces(const Bytes& file, const std::vector<std::size_t>& cuts)
{
    Read result;
    DocumentReader reader(kKey, [&](std::u16string_view text) { result.text.append(text); });
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        reader.Read(std::span(file).subspan(from, cut - from));
        from = cut;
    }
    reader.Read(std::span(file).subspan(from));
    result.check = reader.Finish();
    result.crcMatches = reader.crcMatches();
    return result;
}

void ExpectReadAsWhole(const Bytes& file, const std::vector<std::size_t>& cuts)
{
    const DecryptedDocument whole = DecryptDocument(file, kKey);
    const Read streamed = ReadInPieces(file, cuts);
    EXPECT_EQ(streamed.text, whole.text);
    EXPECT_EQ(streamed.check, CheckDocument(file));
    EXPECT_EQ(streamed.crcMatches, whole.crcMatches);
}

} // namespace

TEST(DocumentStream, TextCutAtEveryUnitWritesTheSameFile)
{
    // Chinese (two bytes each), a surrogate pair (two units, "??"), CR LF
    // pairs whose CR is dropped, and a lone surrogate at the very end.
    const std::u16string text = u"中文\r\n测试€\U0001F600ab\r\n第三行\r\n\xD83D";
    const Bytes expected = EncryptDocument(text, kKey, CountingFiller);
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(WriteInPieces(text, {cut}), expected);
    }
    std::vector<std::size_t> everyUnit(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        everyUnit[i] = i;
    EXPECT_EQ(WriteInPieces(text, everyUnit), expected);
}

TEST(DocumentStream, FileCutAtEveryByteReadsAsWhole)
{
    // 26 bytes of text: a double-byte character straddles the first block
    // boundary, and 6 filler bytes start inside the second block.
    const std::u16string text = u"abcdefghijklmno中文字\n末尾";
    const Bytes file = EncryptDocument(text, kKey, CountingFiller);
    ASSERT_EQ(file[0], 6);
    for (std::size_t cut = 0; cut <= file.size(); ++cut) {
        SCOPED_TRACE(cut);
        ExpectReadAsWhole(file, {cut});
    }
    for (std::size_t a = 0; a <= file.size(); a += 3) {
        for (std::size_t b = a; b <= file.size(); b += 5)
            ExpectReadAsWhole(file, {a, b});
    }
}

TEST(DocumentStream, FillerEndingOrStartingAtAPieceBoundary)
{
    struct Case {
        const char* name;
        std::u16string text;
        std::size_t cutFromEnd; // piece boundary this many bytes before the end of the file
    };
    const std::vector<Case> cases = {
        {"filler ends the file exactly at a boundary", u"0123456789", 0},
        {"boundary where the filler starts", u"0123456789", 6},
        {"boundary one byte into the filler", u"0123456789", 5},
        {"no filler, boundary at the last block", u"0123456789abcdef", 16},
        {"filler of 15, boundary before it", u"x", 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = EncryptDocument(c.text, kKey, CountingFiller);
        ExpectReadAsWhole(file, {file.size() - c.cutFromEnd});
        EXPECT_EQ(ReadInPieces(file, {file.size() - c.cutFromEnd}).text, c.text);
    }
}

TEST(DocumentStream, DamagedFilesGiveTheCheckVerdictAtAnyPieceSize)
{
    const Bytes sound = EncryptDocument(u"四十个字节的文本，或者三个块。0123456789", kKey, CountingFiller);
    std::vector<std::pair<const char*, Bytes>> files;
    files.emplace_back("sound", sound);
    Bytes flipped = sound;
    flipped[20] ^= 0x40;
    files.emplace_back("body byte flipped", flipped);
    Bytes badPad = sound;
    badPad[0] = 16;
    files.emplace_back("pad count 16", badPad);
    Bytes partial = sound;
    partial.push_back(0x55);
    const std::uint32_t crc = Crc32(partial.data() + 5, partial.size() - 5);
    for (int i = 0; i < 4; ++i)
        partial[static_cast<std::size_t>(1 + i)] = static_cast<std::uint8_t>(crc >> (8 * i));
    files.emplace_back("partial block with matching CRC", partial);
    files.emplace_back("body cut short", Bytes(sound.begin(), sound.end() - 7));
    files.emplace_back("header cut short", Bytes(sound.begin(), sound.begin() + 3));
    files.emplace_back("empty", Bytes{});

    for (const auto& [name, file] : files) {
        SCOPED_TRACE(name);
        for (std::size_t piece : {1u, 2u, 5u, 16u, 17u, 1000u}) {
            std::vector<std::size_t> cuts;
            for (std::size_t at = piece; at < file.size(); at += piece)
                cuts.push_back(at);
            ExpectReadAsWhole(file, cuts);
        }
    }
}

TEST(DocumentStream, RandomTextsAndPieceSizesAgreeWithTheWholeBufferCodec)
{
    std::mt19937_64 rng(test::TestSeed());
    for (int round = 0; round < 40; ++round) {
        std::u16string text(rng() % 3000, u'\0');
        for (char16_t& unit : text)
            unit = rng() % 4 == 0 ? static_cast<char16_t>(u'\r' + rng() % 2 * 3)
                                  : static_cast<char16_t>(0x20 + rng() % 0xFFD0);
        std::vector<std::size_t> cuts;
        for (std::size_t at = rng() % 50; at < text.size(); at += 1 + rng() % 700)
            cuts.push_back(at);
        const Bytes file = WriteInPieces(text, cuts);
        ASSERT_EQ(file, EncryptDocument(text, kKey, CountingFiller));
        std::vector<std::size_t> byteCuts;
        for (std::size_t at = rng() % 40; at < file.size(); at += 1 + rng() % 900)
            byteCuts.push_back(at);
        ExpectReadAsWhole(file, byteCuts);
    }
}

TEST(CodePageStream, DoubleByteCharacterCutAtEveryPositionDecodesAsWhole)
{
    // Lead bytes 0x81..0xFE with trail bytes on both sides of 0x7F, the euro
    // sign, an invalid pair and a lead byte cut off by the end.
    const Bytes bytes = {0xD6, 0xD0, 'a', 0x81, 0x40, 0xFE, 0xFE, 0x80, 0xB5, 0xDA, 0x81, 0x7F, 0xC4};
    const std::u16string whole = DecodeCodePage(bytes);
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::u16string text;
        CodePageDecoder decoder;
        decoder.Decode(std::span(bytes).first(cut), false, text);
        decoder.Decode(std::span(bytes).subspan(cut), true, text);
        EXPECT_EQ(text, whole);
    }
}

TEST(Crc32Stream, PiecesGiveTheCrcOfTheWhole)
{
    Bytes body(1000);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<std::uint8_t>(i * 7 + 3);
    for (std::size_t cut : {0u, 1u, 15u, 64u, 65u, 999u, 1000u}) {
        Crc32Stream crc;
        crc.Update(body.data(), cut);
        crc.Update(body.data() + cut, body.size() - cut);
        EXPECT_EQ(crc.Value(), Crc32(body.data(), body.size())) << cut;
    }
    EXPECT_EQ(Crc32Stream().Value(), 0xFFFFFFFFu) << "nothing fed: the empty-body value";
}
