// AES-256: published vectors, the S-box and key-schedule building blocks, the
// context's invariants, and every way of running the cipher (per block, the
// portable bulk path, AES-NI, VAES) against OpenSSL on random keys and
// lengths. Random cases print their seed; TAVRO_TEST_SEED=<seed> repeats a run.
#include "aes256.h"

#include "support/random_seed.h"

#include "support/hex.h"
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Key = std::array<std::uint8_t, 32>;

Bytes FromHex(std::string_view hex)
{
    auto nibble = [](char c) {
        return static_cast<std::uint8_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    };
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    return bytes;
}

Key KeyFromHex(std::string_view hex)
{
    const Bytes bytes = FromHex(hex);
    Key key{};
    std::copy(bytes.begin(), bytes.end(), key.begin());
    return key;
}

std::string ToHex(const std::uint8_t* bytes, std::size_t size) { return tavro::test::Hex(bytes, size); }

std::string ToHex(const Bytes& bytes) { return ToHex(bytes.data(), bytes.size()); }

// The oracle: OpenSSL's AES-256-ECB without padding.
Bytes OpensslEcb(bool encrypt, const Key& key, const Bytes& in)
{
    Bytes out(in.size() + 16);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int length = 0;
    int final = 0;
    const bool ok = ctx != nullptr &&
                    EVP_CipherInit_ex(ctx, EVP_aes_256_ecb(), nullptr, key.data(), nullptr, encrypt ? 1 : 0) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                    EVP_CipherUpdate(ctx, out.data(), &length, in.data(), static_cast<int>(in.size())) == 1 &&
                    EVP_CipherFinal_ex(ctx, out.data() + length, &final) == 1;
    EVP_CIPHER_CTX_free(ctx);
    EXPECT_TRUE(ok) << "OpenSSL failed";
    out.resize(static_cast<std::size_t>(length + final));
    return out;
}

// One way of running the cipher over a buffer of whole blocks, in place.
struct Way {
    std::string name;
    std::function<void(Aes256Context&, std::uint8_t*, std::size_t)> encrypt;
    std::function<void(Aes256Context&, std::uint8_t*, std::size_t)> decrypt;
};

const Aes256Path kAllPaths[] = {Aes256Path::Portable, Aes256Path::AesNi, Aes256Path::Vaes};

// The per-block operations, then every bulk path this CPU can run, then the
// automatically selected one.
std::vector<Way> AvailableWays()
{
    std::vector<Way> ways;
    ways.push_back({"per-block",
                    [](Aes256Context& c, std::uint8_t* d, std::size_t n) {
                        for (std::size_t i = 0; i < n; ++i)
                            Aes256EncryptBlock(c, d + 16 * i);
                    },
                    [](Aes256Context& c, std::uint8_t* d, std::size_t n) {
                        for (std::size_t i = 0; i < n; ++i)
                            Aes256DecryptBlock(c, d + 16 * i);
                    }});
    for (Aes256Path path : kAllPaths) {
        if (!Aes256PathAvailable(path))
            continue;
        ways.push_back({Aes256PathName(path),
                        [path](Aes256Context& c, std::uint8_t* d, std::size_t n) {
                            Aes256EncryptBlocksOn(path, c, d, n);
                        },
                        [path](Aes256Context& c, std::uint8_t* d, std::size_t n) {
                            Aes256DecryptBlocksOn(path, c, d, n);
                        }});
    }
    ways.push_back({"selected", Aes256EncryptBlocks, Aes256DecryptBlocks});
    return ways;
}

Bytes RunWay(const Way& way, bool encrypt, const Key& key, Bytes data)
{
    Aes256Context context;
    Aes256Init(context, key.data());
    (encrypt ? way.encrypt : way.decrypt)(context, data.data(), data.size() / 16);
    return data;
}

Bytes RandomBytes(std::mt19937_64& rng, std::size_t size)
{
    Bytes bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(rng());
    return bytes;
}

Key RandomKey(std::mt19937_64& rng)
{
    Key key;
    for (auto& b : key)
        b = static_cast<std::uint8_t>(rng());
    return key;
}

// --- Published vectors ---

// FIPS-197 Appendix A.3 / SP 800-38A F.1.5 key.
const Key kSp800Key = KeyFromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");

TEST(Aes256Vectors, Fips197AppendixC3)
{
    const Key key = KeyFromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const Bytes plain = FromHex("00112233445566778899aabbccddeeff");
    const Bytes cipher = FromHex("8ea2b7ca516745bfeafc49904b496089");
    for (const Way& way : AvailableWays()) {
        SCOPED_TRACE(way.name);
        EXPECT_EQ(ToHex(RunWay(way, true, key, plain)), ToHex(cipher));
        EXPECT_EQ(ToHex(RunWay(way, false, key, cipher)), ToHex(plain));
    }
}

// F.1.5 (encrypt) and F.1.6 (decrypt): four blocks under one key.
TEST(Aes256Vectors, Sp80038aEcbAes256)
{
    const Bytes plain = FromHex("6bc1bee22e409f96e93d7e117393172a"
                                "ae2d8a571e03ac9c9eb76fac45af8e51"
                                "30c81c46a35ce411e5fbc1191a0a52ef"
                                "f69f2445df4f9b17ad2b417be66c3710");
    const Bytes cipher = FromHex("f3eed1bdb5d2a03c064b5a7e3db181f8"
                                 "591ccb10d410ed26dc5ba74a31362870"
                                 "b6ed21b99ca6f4f9f153e7b1beafed1d"
                                 "23304b7a39f9f3ff067d8d8f9e24ecc7");
    for (const Way& way : AvailableWays()) {
        SCOPED_TRACE(way.name);
        EXPECT_EQ(ToHex(RunWay(way, true, kSp800Key, plain)), ToHex(cipher));
        EXPECT_EQ(ToHex(RunWay(way, false, kSp800Key, cipher)), ToHex(plain));
    }
}

// The all-zero key (documents without a password) is an ordinary key.
TEST(Aes256Vectors, AllZeroKey)
{
    const Key zero{};
    const Bytes block(16, 0);
    Bytes blocks(16 * 11, 0);
    for (std::size_t i = 0; i < blocks.size(); ++i)
        blocks[i] = static_cast<std::uint8_t>(i * 7);
    for (const Way& way : AvailableWays()) {
        SCOPED_TRACE(way.name);
        EXPECT_EQ(ToHex(RunWay(way, true, zero, block)), "dc95c078a2408989ad48a21492842087");
        const Bytes cipher = RunWay(way, true, zero, blocks);
        EXPECT_EQ(ToHex(cipher), ToHex(OpensslEcb(true, zero, blocks)));
        EXPECT_EQ(ToHex(RunWay(way, false, zero, cipher)), ToHex(blocks));
    }
}

// --- Key schedule ---

// After Init with the A.3 key, firstKeys is the key and lastKeys begins with
// w56..w59 of the published expansion; the first forward step yields w8..w15.
TEST(Aes256KeySchedule, MatchesTheFips197A3Expansion)
{
    Aes256Context context;
    Aes256Init(context, kSp800Key.data());
    EXPECT_EQ(ToHex(context.firstKeys, 32), ToHex(kSp800Key.data(), 32));
    EXPECT_EQ(ToHex(context.lastKeys, 16), "fe4890d1e6188d0b046df344706c631e");
    EXPECT_EQ(ToHex(context.workKey, 32), std::string(64, '0'));

    std::uint8_t k[32];
    std::memcpy(k, kSp800Key.data(), 32);
    std::uint8_t rcon = 0x01;
    ExpandKeyForward(k, rcon);
    EXPECT_EQ(ToHex(k, 32), "9ba354118e6925afa51a8b5f2067fcdea8b09c1a93d194cdbe49846eb75d5b9a");
    EXPECT_EQ(rcon, 0x02);
}

// Seven steps forward from firstKeys reach lastKeys and seven steps back,
// starting from rcon 0x80, return to firstKeys with rcon 0x01: the
// decryption's walk through the schedule.
TEST(Aes256KeySchedule, LastKeysAndFirstKeysAreSevenStepsApart)
{
    std::mt19937_64 rng(test::TestSeed() ^ 0x5C4ED);
    for (int trial = 0; trial < 20; ++trial) {
        const Key key = RandomKey(rng);
        Aes256Context context;
        Aes256Init(context, key.data());

        std::uint8_t k[32];
        std::memcpy(k, context.lastKeys, 32);
        std::uint8_t rcon = 0x80;
        for (int step = 0; step < 7; ++step)
            ExpandKeyBackward(k, rcon);
        EXPECT_EQ(ToHex(k, 32), ToHex(key.data(), 32));
        EXPECT_EQ(rcon, 0x01);
    }
}

// ExpandKeyBackward undoes ExpandKeyForward for any 32 bytes and every round
// constant, including the register's value after the seventh step.
TEST(Aes256KeySchedule, BackwardUndoesForward)
{
    std::mt19937_64 rng(test::TestSeed() ^ 0xBAC);
    const std::uint8_t constants[] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36};
    for (std::uint8_t start : constants) {
        for (int trial = 0; trial < 10; ++trial) {
            const Bytes original = RandomBytes(rng, 32);
            std::uint8_t k[32];
            std::memcpy(k, original.data(), 32);
            std::uint8_t rcon = start;
            ExpandKeyForward(k, rcon);
            EXPECT_NE(ToHex(k, 32), ToHex(original));
            ExpandKeyBackward(k, rcon);
            EXPECT_EQ(ToHex(k, 32), ToHex(original)) << "rcon " << int{start};
            EXPECT_EQ(rcon, start);
        }
    }
}

// --- S-box ---

// GF(2^8) product by shift and add; the test's own, independent of the cipher.
std::uint8_t SlowMultiply(std::uint8_t a, std::uint8_t b)
{
    unsigned product = 0, x = a;
    for (; b != 0; b >>= 1, x = (x & 0x80) != 0 ? (x << 1) ^ 0x11b : x << 1)
        if ((b & 1) != 0)
            product ^= x;
    return static_cast<std::uint8_t>(product);
}

TEST(Aes256SBox, FixedValues)
{
    EXPECT_EQ(SBoxForward(0x00), 0x63);
    EXPECT_EQ(SBoxInverse(0x63), 0x00);
    EXPECT_EQ(SBoxForward(0x53), 0xed); // FIPS-197 5.1.1
    EXPECT_EQ(SBoxInverse(0xed), 0x53);
    EXPECT_EQ(SBoxForward(0x01), 0x7c);
    EXPECT_EQ(SBoxForward(0xff), 0x16);
}

// Over all 256 values: the two are inverse permutations, and the forward box
// is the affine map of the multiplicative inverse (checked by multiplying
// back with an independent multiply).
TEST(Aes256SBox, InversePermutationsOfTheFieldInverse)
{
    std::array<bool, 256> seen{};
    for (unsigned v = 0; v < 256; ++v) {
        const auto x = static_cast<std::uint8_t>(v);
        const std::uint8_t y = SBoxForward(x);
        EXPECT_FALSE(seen[y]) << "SBoxForward repeats " << int{y};
        seen[y] = true;
        EXPECT_EQ(SBoxInverse(y), x);
        EXPECT_EQ(SBoxForward(SBoxInverse(x)), x);

        // Undo the affine map: t = y ^ 0x63, b = rotl1(t) ^ rotl3(t) ^ rotl6(t).
        const unsigned t = y ^ 0x63u;
        auto rotl = [](unsigned value, unsigned n) { return ((value << n) | (value >> (8 - n))) & 0xffu; };
        const auto inverse = static_cast<std::uint8_t>(rotl(t, 1) ^ rotl(t, 3) ^ rotl(t, 6));
        EXPECT_EQ(SlowMultiply(x, inverse), x == 0 ? 0 : 1) << "x = " << v;
    }
}

// --- The context ---

// Block operations change workKey only; bulk calls change nothing at all.
TEST(Aes256Context, KeysSurviveAnyNumberOfOperations)
{
    std::mt19937_64 rng(test::TestSeed() ^ 0xC0);
    const Key key = RandomKey(rng);
    Aes256Context context;
    Aes256Init(context, key.data());
    const Aes256Context initial = context;

    Bytes data = RandomBytes(rng, 16 * 37);
    for (int i = 0; i < 5; ++i) {
        Aes256EncryptBlock(context, data.data());
        Aes256DecryptBlock(context, data.data() + 16);
    }
    EXPECT_EQ(std::memcmp(context.firstKeys, initial.firstKeys, 32), 0);
    EXPECT_EQ(std::memcmp(context.lastKeys, initial.lastKeys, 32), 0);

    const Aes256Context beforeBulk = context;
    for (Aes256Path path : kAllPaths) {
        Aes256EncryptBlocksOn(path, context, data.data(), 37);
        Aes256DecryptBlocksOn(path, context, data.data(), 37);
        EXPECT_EQ(std::memcmp(&context, &beforeBulk, sizeof context), 0) << Aes256PathName(path);
    }
}

// One context serves encryption and decryption in any order, each call giving
// what a fresh context (and OpenSSL) gives.
TEST(Aes256Context, InterleavedEncryptAndDecrypt)
{
    std::mt19937_64 rng(test::TestSeed() ^ 0x1E);
    const Key key = RandomKey(rng);
    const Bytes plain = RandomBytes(rng, 16 * 8);
    const Bytes cipher = OpensslEcb(true, key, plain);

    Aes256Context shared;
    Aes256Init(shared, key.data());
    for (std::size_t i = 0; i < 8; ++i) {
        std::uint8_t block[16];
        std::memcpy(block, plain.data() + 16 * i, 16);
        Aes256EncryptBlock(shared, block);
        EXPECT_EQ(ToHex(block, 16), ToHex(cipher.data() + 16 * i, 16)) << "block " << i;

        std::uint8_t other[16];
        std::memcpy(other, cipher.data() + 16 * (7 - i), 16);
        Aes256DecryptBlock(shared, other);
        EXPECT_EQ(ToHex(other, 16), ToHex(plain.data() + 16 * (7 - i), 16)) << "block " << 7 - i;

        Aes256DecryptBlock(shared, block);
        EXPECT_EQ(ToHex(block, 16), ToHex(plain.data() + 16 * i, 16)) << "block " << i;
    }
}

TEST(Aes256Context, WipeClearsEverything)
{
    Aes256Context context;
    Aes256Init(context, kSp800Key.data());
    std::uint8_t block[16] = {};
    Aes256EncryptBlock(context, block);
    Aes256Wipe(context);
    const Aes256Context zero{};
    EXPECT_EQ(std::memcmp(&context, &zero, sizeof context), 0);
}

// --- Paths ---

TEST(Aes256Paths, SelectionAndNames)
{
    EXPECT_TRUE(Aes256PathAvailable(Aes256Path::Portable));
    EXPECT_TRUE(Aes256PathAvailable(Aes256SelectedPath()));
    // The hardware is used when it is there, the wider path first.
    if (Aes256PathAvailable(Aes256Path::Vaes)) {
        EXPECT_EQ(Aes256SelectedPath(), Aes256Path::Vaes);
    } else if (Aes256PathAvailable(Aes256Path::AesNi)) {
        EXPECT_EQ(Aes256SelectedPath(), Aes256Path::AesNi);
    }
    EXPECT_STREQ(Aes256PathName(Aes256Path::Portable), "portable");
    EXPECT_STREQ(Aes256PathName(Aes256Path::AesNi), "aes-ni");
    EXPECT_STREQ(Aes256PathName(Aes256Path::Vaes), "vaes");
    for (Aes256Path path : kAllPaths)
        std::printf("path %-8s %s\n", Aes256PathName(path),
                    Aes256PathAvailable(path) ? "available" : "not available on this CPU");
}

// A path the CPU lacks must still give the right answer (the portable one).
TEST(Aes256Paths, UnavailablePathFallsBack)
{
    const Bytes plain = FromHex("6bc1bee22e409f96e93d7e117393172a");
    for (Aes256Path path : kAllPaths) {
        Aes256Context context;
        Aes256Init(context, kSp800Key.data());
        Bytes data = plain;
        Aes256EncryptBlocksOn(path, context, data.data(), 1);
        EXPECT_EQ(ToHex(data), "f3eed1bdb5d2a03c064b5a7e3db181f8") << Aes256PathName(path);
    }
}

// --- Random keys and lengths against OpenSSL ---

// Block counts around the group sizes of the paths (8 for the bitsliced path,
// 12 for AES-NI, 16 and 2 for VAES), then random lengths up to 10,000 bytes.
std::vector<std::size_t> BlockCounts(std::mt19937_64& rng, int randomCount)
{
    std::vector<std::size_t> counts = {0, 1, 2, 3, 7, 8, 9, 11, 12, 13, 15, 16, 17, 18, 23, 24, 25, 31, 33, 625};
    for (int i = 0; i < randomCount; ++i)
        counts.push_back(static_cast<std::size_t>(rng() % 626));
    return counts;
}

TEST(Aes256Random, EveryWayMatchesOpenssl)
{
    const std::uint64_t seed = test::TestSeed();
    for (const Way& way : AvailableWays()) {
        std::mt19937_64 rng(seed);
        // The per-block calls are the slow reference shape; fewer random lengths.
        const int randomCount = way.name == "per-block" ? 12 : 40;
        for (std::size_t blocks : BlockCounts(rng, randomCount)) {
            SCOPED_TRACE(way.name + ", " + std::to_string(blocks) + " blocks");
            const Key key = RandomKey(rng);
            const Bytes plain = RandomBytes(rng, 16 * blocks);
            const Bytes expected = OpensslEcb(true, key, plain);

            // Exactly sized, so the sanitizers see any access past the end.
            Aes256Context context;
            Aes256Init(context, key.data());
            Bytes data = plain;
            way.encrypt(context, data.data(), blocks);
            ASSERT_EQ(ToHex(data), ToHex(expected));
            way.decrypt(context, data.data(), blocks);
            ASSERT_EQ(ToHex(data), ToHex(plain));

            // At an odd address inside guard bytes that must stay untouched.
            Bytes guarded(16 * blocks + 33, 0xA5);
            std::copy(plain.begin(), plain.end(), guarded.begin() + 1);
            way.encrypt(context, guarded.data() + 1, blocks);
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), guarded.begin() + 1));
            ASSERT_EQ(guarded.front(), 0xA5);
            ASSERT_TRUE(std::all_of(guarded.begin() + 1 + static_cast<std::ptrdiff_t>(16 * blocks), guarded.end(),
                                    [](std::uint8_t b) { return b == 0xA5; }));
        }
    }
}

} // namespace
} // namespace tavro
