// The strong format against libsodium used directly from the format's
// description (never through our writer or reader): files built here with
// crypto_pwhash and secretstream calls must equal ours byte for byte, each
// side must read the other's, and every kind of damage must be told apart,
// with only authenticated text handed out.
#include "strong_format.h"
#include "strong_key.h"
#include "strong_stream.h"

#include "support/hex.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

using namespace tavro;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr StrongLimits kTiny{1, 8}; // the smallest cost a reader takes
constexpr std::size_t kPiece = 65536;
constexpr std::size_t kRecord = kPiece + 17;

Bytes Utf8(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Exactly size bytes of UTF-8 text: three-byte characters, so that records
// end inside characters (65,536 is not a multiple of 3 or of 9).
Bytes TextOfSize(std::size_t size)
{
    const std::string_view pattern = "中文ab\n";
    Bytes text(size);
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<std::uint8_t>(pattern[i % pattern.size()]);
    return text;
}

void Counting(std::uint8_t start, std::uint8_t* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(start + i);
}

// ---- libsodium alone, from the layout ---------------------------------------

StrongKey SodiumKey(const Bytes& secret, const StrongSalt& salt, StrongLimits limits)
{
    StrongKey key{};
    EXPECT_EQ(crypto_pwhash(key.data(), key.size(), reinterpret_cast<const char*>(secret.data()), secret.size(),
                            salt.data(), limits.opsLimit, std::size_t{limits.memLimitKiB} * 1024,
                            crypto_pwhash_ALG_ARGON2ID13),
              0);
    return key;
}

// The file for text: header fields byte by byte, then one record per 65,536
// bytes, the first authenticating the header. With a fixed stream header the
// push state is the one init_pull makes from it; else init_push draws one.
// emptyFinal: a text of whole pieces ends with an extra empty final record.
// firstTag: the first record's tag instead of the one the format asks for.
Bytes SodiumWrite(const StrongKey& key, std::uint8_t source, StrongLimits limits, const StrongSalt& salt,
                  const Bytes& text, const std::optional<Bytes>& fixedStreamHeader = {}, bool emptyFinal = false,
                  std::optional<unsigned char> firstTag = {})
{
    Bytes file = {0x89, 'T', 'V', 'R', 'S', 0x0D, 0x0A, 0x1A, 1, source};
    for (std::uint32_t value : {limits.opsLimit, limits.memLimitKiB}) {
        for (int i = 0; i < 4; ++i)
            file.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    file.insert(file.end(), salt.begin(), salt.end());
    crypto_secretstream_xchacha20poly1305_state state;
    std::uint8_t header[crypto_secretstream_xchacha20poly1305_HEADERBYTES];
    if (fixedStreamHeader) {
        std::copy(fixedStreamHeader->begin(), fixedStreamHeader->end(), header);
        crypto_secretstream_xchacha20poly1305_init_pull(&state, header, key.data());
    } else {
        crypto_secretstream_xchacha20poly1305_init_push(&state, header, key.data());
    }
    file.insert(file.end(), header, header + sizeof header);
    const Bytes additional = file;
    EXPECT_EQ(additional.size(), 58u);

    std::vector<std::pair<std::size_t, std::size_t>> pieces; // offset, size
    for (std::size_t at = 0; at < text.size(); at += kPiece)
        pieces.emplace_back(at, std::min(kPiece, text.size() - at));
    if (pieces.empty() || emptyFinal)
        pieces.emplace_back(text.size(), 0);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const auto [at, size] = pieces[i];
        Bytes record(size + crypto_secretstream_xchacha20poly1305_ABYTES);
        crypto_secretstream_xchacha20poly1305_push(
            &state, record.data(), nullptr, text.data() + at, size, i == 0 ? additional.data() : nullptr,
            i == 0 ? additional.size() : 0,
            i == 0 && firstTag                  ? *firstTag
            : i + 1 == pieces.size() ? crypto_secretstream_xchacha20poly1305_TAG_FINAL
                                     : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
        file.insert(file.end(), record.begin(), record.end());
    }
    return file;
}

// The text of file as libsodium reads it: records of 65,553 bytes, the last
// shorter or equal, TAG_MESSAGE on all but the last, TAG_FINAL on that one.
std::optional<Bytes> SodiumRead(const StrongKey& key, const Bytes& file)
{
    if (file.size() < 58)
        return std::nullopt;
    crypto_secretstream_xchacha20poly1305_state state;
    crypto_secretstream_xchacha20poly1305_init_pull(&state, file.data() + 34, key.data());
    Bytes text;
    for (std::size_t at = 58; at < file.size();) {
        const std::size_t size = std::min(kRecord, file.size() - at);
        if (size < crypto_secretstream_xchacha20poly1305_ABYTES)
            return std::nullopt;
        Bytes piece(size - crypto_secretstream_xchacha20poly1305_ABYTES);
        unsigned char tag = 0;
        if (crypto_secretstream_xchacha20poly1305_pull(&state, piece.data(), nullptr, &tag, file.data() + at, size,
                                                       at == 58 ? file.data() : nullptr, at == 58 ? 58 : 0) != 0)
            return std::nullopt;
        at += size;
        if (tag != (at == file.size() ? crypto_secretstream_xchacha20poly1305_TAG_FINAL
                                      : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE))
            return std::nullopt;
        text.insert(text.end(), piece.begin(), piece.end());
    }
    return text;
}

// ---- Ours, in pieces --------------------------------------------------------

StrongKeyHolder Holder(const StrongKey& key, StrongKeySource source, const StrongSalt& salt)
{
    StrongKeyHolder holder;
    holder.bytes() = key;
    holder.parameters() = {source, kTiny, salt};
    return holder;
}

Bytes WriteInPieces(const StrongKeyHolder& key, const Bytes& text, std::size_t piece, const RandomSource& random = {})
{
    Bytes file;
    StrongWriter writer(key, [&](std::span<const std::uint8_t> bytes) { file.insert(file.end(), bytes.begin(), bytes.end()); },
                        random);
    for (std::size_t at = 0; at < text.size(); at += piece)
        writer.WritePlaintext(std::span(text).subspan(at, std::min(piece, text.size() - at)));
    writer.Finish();
    EXPECT_EQ(writer.fileSize(), file.size());
    return file;
}

struct Read {
    StrongCheck check;
    Bytes text;
};

Read ReadInPieces(const StrongKeyHolder& key, const Bytes& file, std::size_t piece)
{
    Read result;
    StrongReader reader(key, [&](std::span<const std::uint8_t> bytes) {
        result.text.insert(result.text.end(), bytes.begin(), bytes.end());
    });
    for (std::size_t at = 0; at < file.size(); at += piece)
        reader.Read(std::span(file).subspan(at, std::min(piece, file.size() - at)));
    result.check = reader.Finish();
    EXPECT_EQ(reader.textSize(), result.text.size());
    return result;
}

const StrongSalt kSalt = [] {
    StrongSalt salt;
    Counting(0x10, salt.data(), salt.size());
    return salt;
}();
const StrongKey kKey = [] {
    StrongKey key;
    Counting(0x40, key.data(), key.size());
    return key;
}();

} // namespace

// ---- Interoperability -------------------------------------------------------

// A given secret, salt, limits, stream header and text give these bytes:
// ours equal libsodium's own calls, and a digest pins them over time.
TEST(StrongFormat, FixedVectorsEqualTheFileLibsodiumBuilds)
{
    struct Case {
        const char* name;
        StrongKeySource source;
        std::string secret; // a password, or a key file's content
        std::size_t textSize;
        const char* digest; // BLAKE2b-256 of the whole file
    };
    const std::vector<Case> cases = {
        {"password, two records", StrongKeySource::Password, "密码 pass", 70000,
         "409f24263990821c6d10471dec2252f4fafa21e457e735aaf705941b9ad8ecd2"},
        {"key file, empty text", StrongKeySource::KeyFile, std::string("key\0file\r\n", 10), 0,
         "f82ba29c184f255ebae87bd2d982142081a6f4f70fc2312d6f99f155f7a84f9a"},
    };
    const std::string keyFile = testing::TempDir() + "tavro-strong-vector.key";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes text = TextOfSize(c.textSize);
        Bytes streamHeader(24);
        Counting(0xA0, streamHeader.data(), streamHeader.size());

        // libsodium alone: the password's UTF-8 bytes, or BLAKE2b-512 of the file.
        Bytes secret = Utf8(c.secret);
        if (c.source == StrongKeySource::KeyFile) {
            Bytes digest(64);
            crypto_generichash(digest.data(), digest.size(), secret.data(), secret.size(), nullptr, 0);
            secret = digest;
        }
        const Bytes expected = SodiumWrite(SodiumKey(secret, kSalt, kTiny), static_cast<std::uint8_t>(c.source),
                                           kTiny, kSalt, text, streamHeader);

        // Ours: parameters with the salt drawn from a pinned source, the key
        // from the password or from the key file on disk.
        const StrongParameters parameters =
            NewStrongParameters(c.source, kTiny, [](std::uint8_t* data, std::size_t size) { Counting(0x10, data, size); });
        StrongKeyHolder key;
        if (c.source == StrongKeySource::Password) {
            ASSERT_TRUE(DeriveStrongKey(Utf8(c.secret), parameters, key));
            StrongKeyHolder fromUtf16;
            ASSERT_TRUE(DeriveStrongKeyFromPassword(u"密码 pass", parameters, fromUtf16));
            EXPECT_EQ(fromUtf16.bytes(), key.bytes());
        } else {
            std::ofstream(keyFile, std::ios::binary) << c.secret;
            SecureBytes digest;
            ASSERT_EQ(DigestKeyFile(keyFile, digest).status, KeyFileStatus::Derived);
            ASSERT_TRUE(DeriveStrongKey(digest, parameters, key));
        }
        const Bytes ours = WriteInPieces(key, text, 4096, [](std::uint8_t* data, std::size_t size) {
            Counting(0xA0, data, size);
        });
        EXPECT_EQ(ours, expected);
        std::uint8_t digest[32];
        crypto_generichash(digest, sizeof digest, ours.data(), ours.size(), nullptr, 0);
        EXPECT_EQ(test::Hex(digest, sizeof digest), c.digest);
    }
    std::remove(keyFile.c_str());
}

// Each side reads what the other wrote with libsodium's random stream
// header, including the empty final record another writer may add after a
// text of whole pieces.
TEST(StrongFormat, OursAndLibsodiumReadEachOther)
{
    const StrongKeyHolder key = Holder(kKey, StrongKeySource::Password, kSalt);
    struct Case {
        std::size_t size;
        bool emptyFinal;
    };
    for (const Case c : {Case{0, false}, Case{kPiece, false}, Case{kPiece, true}, Case{100000, false}}) {
        SCOPED_TRACE(std::to_string(c.size) + (c.emptyFinal ? " + empty final record" : ""));
        const Bytes text = TextOfSize(c.size);
        const Read read = ReadInPieces(key, SodiumWrite(kKey, 1, kTiny, kSalt, text, {}, c.emptyFinal), 1 << 20);
        EXPECT_EQ(read.check, StrongCheck::Sound);
        EXPECT_TRUE(read.text == text);
        EXPECT_EQ(SodiumRead(kKey, WriteInPieces(key, text, 1 << 20)), text);
    }
}

// ---- Round trips ------------------------------------------------------------

TEST(StrongStream, RoundTripsAtPieceBoundariesWhateverThePieceSizes)
{
    const StrongKeyHolder key = Holder(kKey, StrongKeySource::KeyFile, kSalt);
    struct Pieces {
        std::size_t write, read;
    };
    const std::vector<Pieces> pieces = {{1, kRecord}, {kPiece, 1}, {7, kRecord + 1}, {100000, 17}, {1 << 20, 1 << 20}};
    for (std::size_t size : {0, 1, 65535, 65536, 65537, 200000}) {
        const Bytes text = TextOfSize(size);
        // One record per piece, the last holding what remains: a text of whole
        // pieces gets no empty record after them.
        const std::size_t records = std::max<std::size_t>(1, (size + kPiece - 1) / kPiece);
        for (const Pieces p : pieces) {
            SCOPED_TRACE(std::to_string(size) + " bytes written by " + std::to_string(p.write) + ", read by " +
                         std::to_string(p.read));
            const Bytes file = WriteInPieces(key, text, p.write);
            EXPECT_EQ(file.size(), 58 + size + 17 * records);
            const Read read = ReadInPieces(key, file, p.read);
            EXPECT_EQ(read.check, StrongCheck::Sound);
            EXPECT_TRUE(read.text == text);
        }
    }
}

// UTF-16 in: pairs cut between pieces or between the writer's own slices are
// joined, unpaired halves become U+FFFD and are counted. UTF-16 out:
// characters cut by a record's end are joined, bytes that are not UTF-8
// become U+FFFD and are counted.
TEST(StrongStream, Utf16TextCrossesPiecesSlicesAndRecordsWhole)
{
    const StrongKeyHolder key = Holder(kKey, StrongKeySource::Password, kSalt);
    const auto writeUtf16 = [&](const std::vector<std::u16string_view>& pieces, std::uint64_t& replaced) {
        Bytes file;
        StrongWriter writer(key, [&](std::span<const std::uint8_t> b) { file.insert(file.end(), b.begin(), b.end()); });
        for (std::u16string_view piece : pieces)
            writer.Write(piece);
        writer.Finish();
        replaced = writer.replacedUnits();
        return ReadInPieces(key, file, 1 << 20).text;
    };
    const auto readUtf16 = [&](const Bytes& plaintext, std::uint64_t& invalid) {
        std::u16string text;
        StrongReader reader(key, [&](std::u16string_view piece) { text.append(piece); });
        reader.Read(WriteInPieces(key, plaintext, 1 << 20));
        EXPECT_EQ(reader.Finish(), StrongCheck::Sound);
        invalid = reader.invalidUtf8();
        return text;
    };

    const std::u16string text = u"中文\U0001F600€a\n";
    const Bytes utf8 = Utf8("中文\U0001F600€a\n");
    std::uint64_t count = 0;
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        SCOPED_TRACE(cut);
        const std::u16string_view all(text);
        EXPECT_EQ(writeUtf16({all.substr(0, cut), all.substr(cut)}, count), utf8);
        EXPECT_EQ(count, 0u);
    }
    EXPECT_EQ(writeUtf16({u"a\xD83D", u"b\xDE00", u"\xD83D"}, count), Utf8("a\uFFFDb\uFFFD\uFFFD"));
    EXPECT_EQ(count, 3u);

    // "😀a" repeated: the writer's slices of 16,384 units end on a high surrogate.
    std::u16string pairs;
    std::string pairsUtf8;
    while (pairs.size() < 60000) {
        pairs += u"\U0001F600a";
        pairsUtf8 += "\U0001F600a";
    }
    EXPECT_TRUE(writeUtf16({pairs}, count) == Utf8(pairsUtf8));
    EXPECT_EQ(count, 0u);

    // Three-byte characters across two record ends; then bytes that are no UTF-8.
    const Bytes chinese = TextOfSize(140000 / 9 * 9);
    std::u16string expected;
    for (std::size_t i = 0; i < chinese.size() / 9; ++i)
        expected += u"中文ab\n";
    EXPECT_TRUE(readUtf16(chinese, count) == expected);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(readUtf16({'a', 0xFF, 'b', 0xE4, 0xB8}, count), u"a\uFFFDb\uFFFD");
    EXPECT_EQ(count, 2u);
}

// A plain save under the same key keeps the salt and limits and draws a new
// stream header; new parameters draw a new salt.
TEST(StrongStream, ResaveKeepsSaltAndLimitsButNeverTheStreamHeader)
{
    const StrongKeyHolder key = Holder(kKey, StrongKeySource::Password, kSalt);
    const Bytes first = WriteInPieces(key, Utf8("text"), 100);
    const Bytes second = WriteInPieces(key, Utf8("text"), 100);
    EXPECT_TRUE(std::equal(first.begin(), first.begin() + 34, second.begin()));
    EXPECT_FALSE(std::equal(first.begin() + 34, first.begin() + 58, second.begin() + 34));
    EXPECT_NE(NewStrongParameters(StrongKeySource::Password).salt, NewStrongParameters(StrongKeySource::Password).salt);
}

// ---- Damage -----------------------------------------------------------------

// Wrong key, damage, truncation and appended bytes: each has its verdict,
// at any piece size, and the text handed out is that of the records that
// authenticated before the fault.
TEST(StrongStream, EachFaultHasItsVerdictAndOnlyAuthenticatedTextComesOut)
{
    const StrongKeyHolder key = Holder(kKey, StrongKeySource::Password, kSalt);
    StrongKey otherKey = kKey;
    otherKey[0] ^= 1;
    const StrongKeyHolder wrongKey = Holder(otherKey, StrongKeySource::Password, kSalt);
    const Bytes text = TextOfSize(140000); // records of 65,536, 65,536 and 8,928 bytes
    const Bytes file = WriteInPieces(key, text, 1 << 20);
    const Bytes full = WriteInPieces(key, TextOfSize(kPiece), 1 << 20); // one full final record

    const auto cut = [](const Bytes& bytes, std::size_t size) { return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)); };
    const auto flip = [](Bytes bytes, std::size_t at) {
        bytes[at] ^= 0x20;
        return bytes;
    };
    const auto append = [](Bytes bytes) {
        bytes.push_back(0);
        return bytes;
    };
    struct Case {
        const char* name;
        Bytes file;
        bool wrongKey;
        StrongCheck check;
        std::size_t text;
    };
    const std::vector<Case> cases = {
        {"sound", file, false, StrongCheck::Sound, 140000},
        {"wrong key", file, true, StrongCheck::WrongKey, 0},
        {"header cut to 5 bytes", cut(file, 5), false, StrongCheck::ShortHeader, 0},
        {"header cut to 57 bytes", cut(file, 57), false, StrongCheck::ShortHeader, 0},
        {"no record", cut(file, 58), false, StrongCheck::MissingEnd, 0},
        {"first record cut below 17 bytes", cut(file, 58 + 16), false, StrongCheck::MissingEnd, 0},
        {"first record cut inside", cut(file, 58 + 1000), false, StrongCheck::WrongKey, 0},
        {"cut after the first record", cut(file, 58 + kRecord), false, StrongCheck::MissingEnd, kPiece},
        {"second record cut inside", cut(file, 58 + kRecord + 20), false, StrongCheck::DamagedRecord, kPiece},
        {"cut after the second record", cut(file, 58 + 2 * kRecord), false, StrongCheck::MissingEnd, 2 * kPiece},
        {"last byte cut", cut(file, file.size() - 1), false, StrongCheck::DamagedRecord, 2 * kPiece},
        {"second record flipped", flip(file, 58 + kRecord + 100), false, StrongCheck::DamagedRecord, kPiece},
        {"version flipped", flip(file, 8), false, StrongCheck::UnknownVersion, 0},
        {"byte after a short final record", append(file), false, StrongCheck::DamagedRecord, 2 * kPiece},
        {"byte after a full final record", append(full), false, StrongCheck::TrailingBytes, kPiece},
        {"first record tagged PUSH, a tag no writer uses",
         SodiumWrite(kKey, 1, kTiny, kSalt, text, {}, false, crypto_secretstream_xchacha20poly1305_TAG_PUSH), false,
         StrongCheck::DamagedRecord, 0},
        {"not this format", Utf8("\x05plain .tvro bytes, long enough for a header of 58 bytes......"), false,
         StrongCheck::NotStrong, 0},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {std::size_t{1} << 20, std::size_t{4093}}) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            const Read read = ReadInPieces(c.wrongKey ? wrongKey : key, c.file, piece);
            EXPECT_EQ(read.check, c.check) << StrongCheckMessage(read.check);
            EXPECT_EQ(read.text.size(), c.text);
            EXPECT_TRUE(std::equal(read.text.begin(), read.text.end(), text.begin()));
        }
    }
}

// Every byte of a one-record file is covered: the header as additional
// data of the first record, the rest as the record itself.
TEST(StrongStream, EveryFlippedByteOfASmallFileIsCaughtBeforeAnyText)
{
    const StrongKeyHolder key = Holder(kKey, StrongKeySource::Password, kSalt);
    const Bytes file = WriteInPieces(key, Utf8("forty bytes of text in a one-record file"), 100);
    for (std::size_t at = 0; at < file.size(); ++at) {
        for (const int bit : {0x01, 0x80}) {
            Bytes damaged = file;
            damaged[at] = static_cast<std::uint8_t>(damaged[at] ^ bit);
            const Read read = ReadInPieces(key, damaged, 1 << 20);
            EXPECT_NE(read.check, StrongCheck::Sound) << "byte " << at;
            EXPECT_TRUE(read.text.empty()) << "byte " << at;
        }
    }
}
