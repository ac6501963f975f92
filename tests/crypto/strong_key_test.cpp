// The strong format's key and header: hostile limits refused before any
// derivation, key files hashed whole or not at all, the format told by its
// magic alone, and the key holder leaving nothing behind.
#include "strong_format.h"
#include "strong_key.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

using namespace tavro;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A sound header under limits, with the magic, version 1 and a password.
Bytes HeaderWith(StrongLimits limits)
{
    Bytes header(kStrongHeaderSize);
    PutStrongHeader(header.data(), {StrongKeySource::Password, limits, {}}, std::array<std::uint8_t, 24>{});
    return header;
}

} // namespace

// The bounds are in the range, one step beyond them is not; a header asking
// beyond is refused as such, and the derivation refuses on its own too.
TEST(StrongKey, LimitsBeyondTheReadersRangeAreRefusedBeforeDeriving)
{
    struct Case {
        StrongLimits limits;
        bool allowed;
    };
    const std::vector<Case> cases = {
        {{1, 8}, true},        {{10, 1u << 20}, true}, {{3, 65536}, true},       {{0, 8}, false},
        {{11, 8}, false},      {{1, 7}, false},        {{1, (1u << 20) + 1}, false}, {{0xFFFFFFFF, 0xFFFFFFFF}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.limits.opsLimit) + " passes, " + std::to_string(c.limits.memLimitKiB) + " KiB");
        EXPECT_EQ(StrongLimitsAllowed(c.limits), c.allowed);
        StrongParameters parameters;
        EXPECT_EQ(ParseStrongHeader(HeaderWith(c.limits), parameters),
                  c.allowed ? StrongCheck::Sound : StrongCheck::LimitsRefused);
        if (c.allowed) {
            EXPECT_EQ(parameters.limits, c.limits);
        } else {
            // Cheap for libsodium where it would accept them (11 passes of 8 KiB).
            StrongKeyHolder key;
            key.bytes().fill(0x55);
            EXPECT_FALSE(DeriveStrongKey(Bytes{'p', 'w'}, {StrongKeySource::Password, c.limits, {}}, key));
            EXPECT_EQ(key.bytes(), StrongKey{});
        }
    }
}

TEST(StrongKey, HeaderFieldsReadBackAndUnknownValuesAreRefused)
{
    const StrongParameters written{StrongKeySource::KeyFile, {2, 4096}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
    Bytes header(kStrongHeaderSize);
    PutStrongHeader(header.data(), written, std::array<std::uint8_t, 24>{});
    StrongParameters read;
    ASSERT_EQ(ParseStrongHeader(header, read), StrongCheck::Sound);
    EXPECT_EQ(read, written);

    struct Case {
        std::size_t at;
        std::uint8_t value;
        StrongCheck check;
    };
    for (const Case c : {Case{8, 2, StrongCheck::UnknownVersion}, Case{9, 0, StrongCheck::UnknownKeySource},
                         Case{9, 3, StrongCheck::UnknownKeySource}, Case{0, 0x88, StrongCheck::NotStrong}}) {
        Bytes bad = header;
        bad[c.at] = c.value;
        EXPECT_EQ(ParseStrongHeader(bad, read), c.check) << "byte " << c.at << " = " << int{c.value};
    }
    EXPECT_EQ(ParseStrongHeader(std::span(header).first(57), read), StrongCheck::ShortHeader);
}

// The magic decides, not the name or the rest: eight bytes exactly.
TEST(StrongKey, FormatIsToldByTheMagicAlone)
{
    const Bytes magic(kStrongMagic.begin(), kStrongMagic.end());
    Bytes changed = magic;
    changed[7] ^= 1;
    struct Case {
        Bytes start;
        DocumentFormat format;
    };
    for (const Case& c : {Case{magic, DocumentFormat::Strong}, Case{Bytes(magic.begin(), magic.end() - 1), DocumentFormat::Tvro},
                          Case{changed, DocumentFormat::Tvro}, Case{{}, DocumentFormat::Tvro}}) {
        EXPECT_EQ(DetectDocumentFormat(c.start), c.format) << c.start.size() << " bytes";
    }
}

// The digest is BLAKE2b-512 of every byte, across read pieces; a failing
// read is an error and leaves no digest, never the digest of fewer bytes.
TEST(StrongKey, KeyFileDigestCoversTheWholeFileOrFails)
{
    const std::string path = testing::TempDir() + "tavro-strong-key-test.key";
    Bytes content(200000);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>(i * 31 + i / 977);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                static_cast<std::streamsize>(content.size()));
    Bytes expected(64);
    crypto_generichash(expected.data(), expected.size(), content.data(), content.size(), nullptr, 0);

    SecureBytes digest;
    ASSERT_EQ(DigestKeyFile(path, digest).status, KeyFileStatus::Derived);
    EXPECT_TRUE(std::equal(digest.begin(), digest.end(), expected.begin(), expected.end()));

    // The failures are the .tvro key files' own (key_derivation.h); a read
    // error part-way leaves no digest.
    EXPECT_EQ(DigestKeyFile("/proc/self/mem", digest).status, KeyFileStatus::ReadError);
    EXPECT_TRUE(digest.empty());
    EXPECT_EQ(DigestKeyFile("/dev/zero", digest).status, KeyFileStatus::Device);
    EXPECT_EQ(DigestKeyFile(testing::TempDir(), digest).error, EISDIR);
    EXPECT_EQ(DigestKeyFile(path + ".missing", digest).error, ENOENT);
    EXPECT_TRUE(digest.empty());
    std::remove(path.c_str());
}

// One owner: a move leaves zeros behind and takes the parameters along.
TEST(StrongKey, HolderMovesItsKeyAndParametersAndWipesWhatItLeaves)
{
    StrongKeyHolder held;
    ASSERT_TRUE(DeriveStrongKey(Bytes{'p', 'w'}, {StrongKeySource::KeyFile, {1, 8}, {7}}, held));
    const StrongKey key = held.bytes();
    ASSERT_NE(key, StrongKey{});
    StrongKeyHolder copy = held.Copy();
    StrongKeyHolder moved = std::move(held);
    EXPECT_EQ(held.bytes(), StrongKey{}); // NOLINT(bugprone-use-after-move): the point of the test
    EXPECT_EQ(moved.bytes(), key);
    EXPECT_EQ(moved.parameters(), copy.parameters());
    copy = std::move(moved);
    EXPECT_EQ(moved.bytes(), StrongKey{}); // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(copy.bytes(), key);
}
