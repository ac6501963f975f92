#include "crc32.h"

#include "support/random_seed.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string_view>
#include <vector>

using tavro::Crc32;
using tavro::Crc32Engine;
using tavro::Crc32EngineAvailable;
using tavro::Crc32Using;

namespace {

// The oracle: zlib's crc32, which is the same CRC except that it gives 0 for
// an empty input.
std::uint32_t ZlibCrc(const std::uint8_t* data, std::size_t size)
{
    return static_cast<std::uint32_t>(crc32_z(0, data, size));
}

const std::uint8_t* Bytes(std::string_view text) { return reinterpret_cast<const std::uint8_t*>(text.data()); }

std::vector<std::uint8_t> RandomBytes(std::mt19937_64& rng, std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(rng());
    return bytes;
}

const char* Name(Crc32Engine engine)
{
    return engine == Crc32Engine::Portable ? "Portable" : "CarrylessMultiply";
}

} // namespace

namespace tavro {
// Names the engine in failure messages of the parameterised tests.
void PrintTo(Crc32Engine engine, std::ostream* out) { *out << Name(engine); }
} // namespace tavro

// Every engine runs every case below; one this CPU lacks is skipped, loudly.
class Crc32EngineTest : public ::testing::TestWithParam<Crc32Engine> {
protected:
    void SetUp() override
    {
        if (!Crc32EngineAvailable(GetParam()))
            GTEST_SKIP() << Name(GetParam()) << " engine not available on this CPU";
    }
    std::uint32_t Crc(const std::uint8_t* data, std::size_t size) const { return Crc32Using(GetParam(), data, size); }
};

INSTANTIATE_TEST_SUITE_P(AllEngines, Crc32EngineTest,
                         ::testing::Values(Crc32Engine::Portable, Crc32Engine::CarrylessMultiply),
                         [](const auto& info) { return std::string(Name(info.param)); });

TEST_P(Crc32EngineTest, CheckValueAndEmptyBody)
{
    EXPECT_EQ(Crc(Bytes("123456789"), 9), 0xCBF43926u);
    // The empty body: neither loop nor final complement, unlike zlib's 0.
    EXPECT_EQ(Crc(nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Crc(Bytes("x"), 0), 0xFFFFFFFFu);
    // A single zero byte is an ordinary input, not the empty rule.
    const std::uint8_t zero = 0;
    EXPECT_EQ(Crc(&zero, 1), 0xD202EF8Du);
}

TEST_P(Crc32EngineTest, EverySingleByteMatchesZlib)
{
    for (unsigned b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        ASSERT_EQ(Crc(&byte, 1), ZlibCrc(&byte, 1)) << "byte " << b;
    }
}

TEST_P(Crc32EngineTest, EveryLengthUpTo600AtEveryAlignmentMatchesZlib)
{
    // Crosses each boundary of the bulk paths: the 16-byte step, the 64-byte
    // minimum and step of the folding path, and every length of tail.
    std::mt19937_64 rng(tavro::test::TestSeed());
    const auto buffer = RandomBytes(rng, 600 + 16);
    for (std::size_t offset = 0; offset < 16; ++offset)
        for (std::size_t size = 1; size <= 600; ++size)
            ASSERT_EQ(Crc(buffer.data() + offset, size), ZlibCrc(buffer.data() + offset, size))
                << "offset " << offset << ", size " << size;
}

TEST_P(Crc32EngineTest, RandomLengthsAndMisalignedStartsMatchZlib)
{
    std::mt19937_64 rng(tavro::test::TestSeed() ^ 0x637263);
    for (int round = 0; round < 200; ++round) {
        const std::size_t offset = rng() % 64;
        const std::size_t size = 1 + rng() % 70000;
        const auto buffer = RandomBytes(rng, offset + size);
        ASSERT_EQ(Crc(buffer.data() + offset, size), ZlibCrc(buffer.data() + offset, size))
            << "round " << round << ", offset " << offset << ", size " << size;
    }
}

TEST_P(Crc32EngineTest, LargeBodiesMatchZlib)
{
    std::mt19937_64 rng(tavro::test::TestSeed() ^ 0x626967);
    // An 8 MB body plus odd sizes, random and with long runs of one value
    // (the cipher of a zero-filled text repeats, so runs do occur).
    for (const std::size_t size : {std::size_t{8} << 20, (std::size_t{3} << 20) + 13}) {
        const auto random = RandomBytes(rng, size);
        EXPECT_EQ(Crc(random.data(), size), ZlibCrc(random.data(), size)) << size;
        const std::vector<std::uint8_t> run(size, 0xFF);
        EXPECT_EQ(Crc(run.data(), size), ZlibCrc(run.data(), size)) << size;
    }
}

TEST(Crc32, DefaultEngineMatchesZlibAndThePortableEngine)
{
    EXPECT_EQ(Crc32(Bytes("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0xFFFFFFFFu);

    std::mt19937_64 rng(tavro::test::TestSeed() ^ 0x646566);
    for (int round = 0; round < 100; ++round) {
        const std::size_t size = 1 + rng() % 20000;
        const auto data = RandomBytes(rng, size);
        const std::uint32_t crc = Crc32(data.data(), size);
        ASSERT_EQ(crc, ZlibCrc(data.data(), size)) << "size " << size;
        ASSERT_EQ(crc, Crc32Using(Crc32Engine::Portable, data.data(), size)) << "size " << size;
    }
}
