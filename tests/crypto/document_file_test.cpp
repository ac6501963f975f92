#include "code_page.h"
#include "document_file.h"
#include "support/random_seed.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <random>

using namespace tavro;

namespace {

using Bytes = std::vector<std::uint8_t>;

DocumentKey KeyOf(const char (&text)[33])
{
    DocumentKey key{};
    std::copy_n(text, 32, key.begin());
    return key;
}

const DocumentKey kKey = KeyOf("0123456789abcdef0123456789abcdef");

void ZeroFiller(std::uint8_t* data, std::size_t size) { std::fill_n(data, size, std::uint8_t{0}); }

std::uint32_t StoredCrc(const Bytes& file)
{
    return static_cast<std::uint32_t>(file[1]) | static_cast<std::uint32_t>(file[2]) << 8 |
           static_cast<std::uint32_t>(file[3]) << 16 | static_cast<std::uint32_t>(file[4]) << 24;
}

// The body deciphered by OpenSSL, an implementation independent of ours.
Bytes OpenSslDecryptBody(const Bytes& file, const DocumentKey& key)
{
    Bytes out(file.size() - kDocumentHeaderSize + 16);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0, tail = 0;
    EVP_DecryptInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_DecryptUpdate(ctx, out.data(), &len, file.data() + kDocumentHeaderSize,
                      static_cast<int>(file.size() - kDocumentHeaderSize));
    EVP_DecryptFinal_ex(ctx, out.data() + len, &tail);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<std::size_t>(len + tail));
    return out;
}

std::u16string RandomChineseText(std::mt19937_64& rng, std::size_t length)
{
    std::u16string text;
    std::uniform_int_distribution<int> kind(0, 9), hanzi(0x4E00, 0x9FA5), ascii(0x20, 0x7E);
    for (std::size_t i = 0; i < length; ++i) {
        const int k = kind(rng);
        text += k == 0 ? u'\n' : k < 4 ? static_cast<char16_t>(ascii(rng)) : static_cast<char16_t>(hanzi(rng));
    }
    return text;
}

} // namespace

TEST(DocumentFile, EmptyTextIsTheFiveByteHeaderAlone)
{
    const Bytes file = EncryptDocument(u"", kKey);
    EXPECT_EQ(file, (Bytes{0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
    const DecryptedDocument read = DecryptDocument(file, kKey);
    EXPECT_EQ(read.text, u"");
    EXPECT_TRUE(read.crcMatches);
    EXPECT_EQ(CheckDocument(file), DocumentCheck::Sound);
}

TEST(DocumentFile, PadCountAndSizeFollowTheConvertedLength)
{
    struct Case { std::u16string text; std::uint8_t pad; std::size_t size; };
    const Case cases[] = {
        {u"0123456789abcdef", 0, 21},  // 16 bytes exactly
        {u"x", 15, 21},
        {u"0123456789abcdefg", 15, 37},
        {u"密码密码密码密码", 0, 21},  // 8 characters, 16 bytes in code page 936
        {u"密", 14, 21},
    };
    for (const Case& c : cases) {
        const Bytes file = EncryptDocument(c.text, kKey);
        EXPECT_EQ(file[0], c.pad);
        EXPECT_EQ(file.size(), c.size);
        EXPECT_EQ(DecryptDocument(file, kKey).text, c.text);
    }
}

TEST(DocumentFile, CarriageReturnsAreDroppedAndOpenSslReadsTheBody)
{
    const Bytes file = EncryptDocument(u"a\r\nb", kKey, ZeroFiller);
    ASSERT_EQ(file.size(), 21u);
    EXPECT_EQ(file[0], 13);
    Bytes expected{0x61, 0x0A, 0x62};
    expected.resize(16, 0x00);
    EXPECT_EQ(OpenSslDecryptBody(file, kKey), expected);
    const Bytes body(file.begin() + 5, file.end());
    EXPECT_EQ(StoredCrc(file), crc32(0, body.data(), static_cast<uInt>(body.size())));
    EXPECT_EQ(DecryptDocument(file, kKey).text, u"a\nb");
}

TEST(DocumentFile, RandomTextsRoundTripAndMatchTheOracles)
{
    std::mt19937_64 rng(test::TestSeed());
    for (int round = 0; round < 40; ++round) {
        DocumentKey key;
        for (auto& b : key)
            b = static_cast<std::uint8_t>(rng());
        const std::u16string text = RandomChineseText(rng, rng() % 3000);
        const Bytes file = EncryptDocument(text, key);
        const SecureBytes plain = EncodeCodePage(text);
        ASSERT_EQ(file.size(), 5 + (plain.size() + 15) / 16 * 16);
        const Bytes body(file.begin() + 5, file.end());
        ASSERT_EQ(StoredCrc(file), body.empty() ? 0xFFFFFFFFu : crc32(0, body.data(), static_cast<uInt>(body.size())));
        const Bytes deciphered = OpenSslDecryptBody(file, key);
        ASSERT_TRUE(std::equal(plain.begin(), plain.end(), deciphered.begin()));
        const DecryptedDocument read = DecryptDocument(file, key);
        ASSERT_TRUE(read.crcMatches);
        ASSERT_EQ(read.text, text);
    }
}

TEST(DocumentFile, EcbWritesDifferOnlyInTheLastBlock)
{
    const std::u16string text(100, u'字'); // 200 bytes: 12 whole blocks, then 8 bytes and filler
    const Bytes first = EncryptDocument(text, kKey, ZeroFiller);
    const Bytes second = EncryptDocument(text, kKey, [](std::uint8_t* d, std::size_t n) {
        std::fill_n(d, n, std::uint8_t{0xAA});
    });
    ASSERT_EQ(first.size(), second.size());
    const std::size_t lastBlock = first.size() - 16;
    EXPECT_TRUE(std::equal(first.begin() + 5, first.begin() + static_cast<std::ptrdiff_t>(lastBlock), second.begin() + 5));
    EXPECT_FALSE(std::equal(first.begin() + static_cast<std::ptrdiff_t>(lastBlock), first.end(), second.begin() + static_cast<std::ptrdiff_t>(lastBlock)));
}

TEST(DocumentFile, DamageSpoilsOnlyTheBlockItTouches)
{
    const std::u16string text(64, u'a');
    Bytes file = EncryptDocument(text, kKey);
    file[5 + 16 + 3] ^= 0x01; // inside block 1 (characters 16..31)
    const DecryptedDocument read = DecryptDocument(file, kKey);
    EXPECT_FALSE(read.crcMatches);
    EXPECT_EQ(CheckDocument(file), DocumentCheck::CrcMismatch);
    // Block 0 survives in the text; block 1 is garbage and may end the text early.
    ASSERT_GE(read.text.size(), 16u);
    EXPECT_EQ(read.text.substr(0, 16), text.substr(0, 16));
    EXPECT_NE(read.text, text);
    // Byte for byte, only block 1 deciphers differently (ECB).
    const Bytes deciphered = OpenSslDecryptBody(file, kKey);
    for (std::size_t i = 0; i < 64; ++i) {
        if (i / 16 != 1) {
            EXPECT_EQ(deciphered[i], 'a') << i;
        }
    }
}

TEST(DocumentFile, WrongKeyIsNotDetected)
{
    const Bytes file = EncryptDocument(u"秘密的笔记", kKey);
    const DecryptedDocument read = DecryptDocument(file, kZeroKey);
    EXPECT_TRUE(read.crcMatches);
    EXPECT_NE(read.text, u"秘密的笔记");
}

TEST(DocumentFile, ZeroBytesInTheBodyAreKept)
{
    // A long text's ciphertext holds NUL bytes; the body is never cut at them.
    std::mt19937_64 rng(test::TestSeed());
    const std::u16string text = RandomChineseText(rng, 4000);
    const Bytes file = EncryptDocument(text, kZeroKey);
    ASSERT_NE(std::find(file.begin() + 5, file.end(), 0), file.end());
    EXPECT_EQ(DecryptDocument(file, kZeroKey).text, text);
}

TEST(DocumentFile, ShortAndCutFilesAreReadWithoutOverrun)
{
    // 0 bytes: a document created but never saved.
    const DecryptedDocument empty = DecryptDocument(Bytes{}, kKey);
    EXPECT_TRUE(empty.crcMatches);
    EXPECT_EQ(empty.text, u"");
    // 1 to 4 bytes: no complete header.
    for (std::size_t n = 1; n < 5; ++n) {
        const Bytes stub(n, 0x07);
        const DecryptedDocument read = DecryptDocument(stub, kKey);
        EXPECT_FALSE(read.crcMatches);
        EXPECT_EQ(read.text, u"");
        EXPECT_EQ(CheckDocument(stub), DocumentCheck::TruncatedHeader);
    }
    // A body cut or extended off the block grid: whole blocks still decipher.
    const std::u16string text = u"0123456789abcdef0123";
    const Bytes file = EncryptDocument(text, kKey);
    Bytes longer = file;
    longer.insert(longer.end(), {1, 2, 3, 4, 5});
    EXPECT_EQ(DecryptDocument(longer, kKey).text.substr(0, text.size()), text);
    EXPECT_FALSE(DecryptDocument(longer, kKey).crcMatches);
    // Cut short: the first block is all text and is kept whole.
    Bytes cut(file.begin(), file.end() - 3);
    EXPECT_EQ(DecryptDocument(cut, kKey).text, text.substr(0, 16));
    EXPECT_FALSE(DecryptDocument(cut, kKey).crcMatches);
    EXPECT_EQ(CheckDocument(cut), DocumentCheck::CrcMismatch);
}

TEST(DocumentFile, PadCountsBeyondTheBodyGiveEmptyText)
{
    Bytes file = EncryptDocument(u"abc", kKey); // one block
    for (int pad : {16, 17, 255}) {
        file[0] = static_cast<std::uint8_t>(pad);
        EXPECT_EQ(DecryptDocument(file, kKey).text, u"");
        EXPECT_EQ(CheckDocument(file), DocumentCheck::BadPadCount);
    }
    file[0] = 14; // plausible pad counts are honoured as written
    EXPECT_EQ(DecryptDocument(file, kKey).text, u"ab");
}

TEST(DocumentFile, PartialBlockWithMatchingCrcIsReportedByTheCheck)
{
    Bytes file = EncryptDocument(u"abc", kKey);
    file.push_back(0x42);
    const auto crc = static_cast<std::uint32_t>(crc32(0, file.data() + 5, static_cast<uInt>(file.size() - 5)));
    for (int i = 0; i < 4; ++i)
        file[1 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
    EXPECT_EQ(CheckDocument(file), DocumentCheck::PartialBlock);
    EXPECT_TRUE(DecryptDocument(file, kKey).crcMatches);
    EXPECT_EQ(DecryptDocument(file, kKey).text.substr(0, 3), u"abc");
}

TEST(DocumentFile, EightMegabyteDocumentRoundTrips)
{
    std::mt19937_64 rng(test::TestSeed());
    const std::u16string text = RandomChineseText(rng, 4u << 20);
    const Bytes file = EncryptDocument(text, kKey);
    const DecryptedDocument read = DecryptDocument(file, kKey);
    EXPECT_TRUE(read.crcMatches);
    EXPECT_TRUE(read.text == text);
}

TEST(DocumentFile, OnlyTheRightKeyOnSoundBytesRoundTrips)
{
    // Text read back encodes to exactly the bytes it came from: what the
    // window needs to tell a document from garbage it must not save over.
    const std::u16string text = u"正确的文本内容, long enough to span blocks € ，。";
    const Bytes file = EncryptDocument(text, kKey);
    EXPECT_TRUE(DecryptDocument(file, kKey).textRoundTrips);
    EXPECT_TRUE(DecryptDocument(Bytes{}, kKey).textRoundTrips);                    // never saved
    EXPECT_TRUE(DecryptDocument(EncryptDocument(u"", kKey), kKey).textRoundTrips); // empty
    EXPECT_FALSE(DecryptDocument(file, kZeroKey).textRoundTrips);                  // wrong key
    EXPECT_FALSE(DecryptDocument(Bytes{0, 1, 2}, kKey).textRoundTrips);            // no header
    Bytes damaged = file;
    damaged[5 + 16] ^= 0x5A;
    EXPECT_FALSE(DecryptDocument(damaged, kKey).textRoundTrips);
}
