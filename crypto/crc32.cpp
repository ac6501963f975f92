#include "crc32.h"

#if defined(__x86_64__) || defined(__i386__)
#define TAVRO_CRC32_CLMUL 1
#include <immintrin.h>
#endif

namespace tavro {
namespace {

// Throughout, a CRC register is reflected: bit 0 holds the coefficient of the
// highest power, and message bytes enter least significant bit first. The
// functions below update a raw register; the initial value and the final
// complement are applied by the public entry points only.
constexpr std::uint32_t kReflectedPolynomial = 0xEDB88320;

// table[k][b]: the register change caused by byte b followed by k zero bytes.
// table[0] is the classic byte-at-a-time table; the other fifteen let one step
// absorb 16 bytes with independent lookups. 16 KB, computed at compile time.
struct SliceTables {
    std::uint32_t table[16][256];
};

constexpr SliceTables MakeSliceTables()
{
    SliceTables t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t reg = b;
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg >> 1) ^ ((reg & 1) ? kReflectedPolynomial : 0);
        t.table[0][b] = reg;
    }
    for (int k = 1; k < 16; ++k)
        for (int b = 0; b < 256; ++b) {
            const std::uint32_t prev = t.table[k - 1][b];
            t.table[k][b] = (prev >> 8) ^ t.table[0][prev & 0xff];
        }
    return t;
}

constexpr SliceTables kSlices = MakeSliceTables();

inline std::uint32_t LoadLittleEndian(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t UpdatePortable(std::uint32_t reg, const std::uint8_t* p, std::size_t n)
{
    const auto& t = kSlices.table;
    // Slicing by 16: byte i of the step is followed by 15 - i more bytes,
    // hence its lookup in table[15 - i]. The register folds into bytes 0..3.
    while (n >= 16) {
        const std::uint32_t w0 = LoadLittleEndian(p) ^ reg;
        const std::uint32_t w1 = LoadLittleEndian(p + 4);
        const std::uint32_t w2 = LoadLittleEndian(p + 8);
        const std::uint32_t w3 = LoadLittleEndian(p + 12);
        reg = t[15][w0 & 0xff] ^ t[14][(w0 >> 8) & 0xff] ^ t[13][(w0 >> 16) & 0xff] ^ t[12][w0 >> 24] ^
              t[11][w1 & 0xff] ^ t[10][(w1 >> 8) & 0xff] ^ t[9][(w1 >> 16) & 0xff] ^ t[8][w1 >> 24] ^
              t[7][w2 & 0xff] ^ t[6][(w2 >> 8) & 0xff] ^ t[5][(w2 >> 16) & 0xff] ^ t[4][w2 >> 24] ^
              t[3][w3 & 0xff] ^ t[2][(w3 >> 8) & 0xff] ^ t[1][(w3 >> 16) & 0xff] ^ t[0][w3 >> 24];
        p += 16;
        n -= 16;
    }
    for (; n > 0; --n, ++p)
        reg = (reg >> 8) ^ t[0][(reg ^ *p) & 0xff];
    return reg;
}

#if TAVRO_CRC32_CLMUL

// Carry-less folding. Sixteen message bytes loaded little-endian into a
// 128-bit lane are the polynomial X = L * x^64 + H, with L the low 64 bits
// (the earlier bytes) and H the high 64 bits, each reflected like the
// register. Moving X forward over D further message bits means adding
// X * x^D = L * x^(D+64) + H * x^D, and modulo the polynomial P that equals
// L * (x^(D+64) mod P) + H * (x^D mod P): fewer than 96 bits, which are added
// to the lane D bits further on. PCLMULQDQ on reflected operands yields the
// product times x, so the constants hold x^(D+63) mod P and x^(D-1) mod P.

// x^n mod P with bit d holding x^d (P = 0x104C11DB7, the unreflected polynomial).
constexpr std::uint32_t PowerOfXModP(unsigned n)
{
    std::uint32_t r = 1;
    for (unsigned i = 0; i < n; ++i)
        r = (r << 1) ^ ((r & 0x80000000u) ? 0x04C11DB7u : 0);
    return r;
}

constexpr std::uint32_t Reverse32(std::uint32_t v)
{
    std::uint32_t r = 0;
    for (int i = 0; i < 32; ++i)
        r |= ((v >> i) & 1u) << (31 - i);
    return r;
}

// A polynomial of degree below 32 as a reflected 64-bit operand: x^d at bit 63 - d.
constexpr std::uint64_t FoldConstant(unsigned power)
{
    return static_cast<std::uint64_t>(Reverse32(PowerOfXModP(power))) << 32;
}

// Low 64 bits: multiplier of the low (earlier) half; high 64 bits: of the high half.
constexpr std::uint64_t kFold512Low = FoldConstant(512 + 63);
constexpr std::uint64_t kFold512High = FoldConstant(512 - 1);
constexpr std::uint64_t kFold128Low = FoldConstant(128 + 63);
constexpr std::uint64_t kFold128High = FoldConstant(128 - 1);

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i x, __m128i constants)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(x, constants, 0x00), _mm_clmulepi64_si128(x, constants, 0x11));
}

__attribute__((target("pclmul,sse2"))) inline __m128i Load(const std::uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

__attribute__((target("pclmul,sse2"))) std::uint32_t UpdateClmul(std::uint32_t reg, const std::uint8_t* p,
                                                                  std::size_t n)
{
    if (n < 64)
        return UpdatePortable(reg, p, n);

    const __m128i fold512 = _mm_set_epi64x(static_cast<long long>(kFold512High), static_cast<long long>(kFold512Low));
    const __m128i fold128 = _mm_set_epi64x(static_cast<long long>(kFold128High), static_cast<long long>(kFold128Low));

    // Four lanes cover 64 consecutive bytes; the register enters the first
    // four message bytes, as the byte-at-a-time update would put it there.
    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = Load(p + 16);
    __m128i x2 = Load(p + 32);
    __m128i x3 = Load(p + 48);
    p += 64;
    n -= 64;

    // Invariant: the bytes consumed so far are congruent, modulo P, to
    // x0 * x^384 + x1 * x^256 + x2 * x^128 + x3, all aligned at their end.
    while (n >= 64) {
        x0 = _mm_xor_si128(Fold(x0, fold512), Load(p));
        x1 = _mm_xor_si128(Fold(x1, fold512), Load(p + 16));
        x2 = _mm_xor_si128(Fold(x2, fold512), Load(p + 32));
        x3 = _mm_xor_si128(Fold(x3, fold512), Load(p + 48));
        p += 64;
        n -= 64;
    }

    // Down to one lane, then absorb the remaining whole 16-byte pieces.
    x1 = _mm_xor_si128(x1, Fold(x0, fold128));
    x2 = _mm_xor_si128(x2, Fold(x1, fold128));
    x3 = _mm_xor_si128(x3, Fold(x2, fold128));
    while (n >= 16) {
        x3 = _mm_xor_si128(Fold(x3, fold128), Load(p));
        p += 16;
        n -= 16;
    }

    // The lane's 16 bytes, as a message run from a zero register, leave the
    // register the whole input would have left; the tail follows bytewise.
    alignas(16) std::uint8_t lane[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lane), x3);
    reg = UpdatePortable(0, lane, sizeof lane);
    return UpdatePortable(reg, p, n);
}

bool ClmulSupported()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
}

#else

bool ClmulSupported() { return false; }

#endif

using UpdateFunction = std::uint32_t (*)(std::uint32_t, const std::uint8_t*, std::size_t);

UpdateFunction Engine(Crc32Engine engine)
{
#if TAVRO_CRC32_CLMUL
    static const bool clmul = ClmulSupported();
    if (engine == Crc32Engine::CarrylessMultiply && clmul)
        return UpdateClmul;
#else
    (void)engine;
#endif
    return UpdatePortable;
}

} // namespace

bool Crc32EngineAvailable(Crc32Engine engine)
{
    switch (engine) {
    case Crc32Engine::Portable:
        return true;
    case Crc32Engine::CarrylessMultiply:
        return ClmulSupported();
    }
    return false;
}

std::uint32_t Crc32Using(Crc32Engine engine, const std::uint8_t* data, std::size_t length)
{
    if (length == 0)
        return 0xFFFFFFFF;
    return ~Engine(engine)(0xFFFFFFFF, data, length);
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t length)
{
    Crc32Stream crc;
    crc.Update(data, length);
    return crc.Value();
}

void Crc32Stream::Update(const std::uint8_t* data, std::size_t length)
{
    static const UpdateFunction best = Engine(Crc32Engine::CarrylessMultiply);
    if (length == 0)
        return;
    register_ = best(register_, data, length);
    fed_ = true;
}

} // namespace tavro
