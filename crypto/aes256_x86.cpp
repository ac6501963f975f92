// The x86-64 hardware paths of the bulk calls: AES-NI on 128-bit registers
// (twelve blocks in flight) and VAES on 256-bit registers (two blocks per
// register, sixteen in flight). Every function that uses these instructions
// carries its own target attribute, so the file needs no special compiler
// flags, and the instructions are reached only after CPU detection has found
// them. On other architectures both paths report themselves unavailable.
//
// Round keys are worked out once per call into local arrays that are wiped
// before returning; nothing is kept between calls.
#include "aes256.h"

#include "secure_memory.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAVRO_AES256_X86 1
#include <cpuid.h>
#include <immintrin.h>
#else
#define TAVRO_AES256_X86 0
#include <cstdlib>
#endif

namespace tavro::detail {

#if TAVRO_AES256_X86
namespace {

struct CpuFeatures {
    bool aesNi = false;
    bool vaes = false; // VAES with AVX2, and the OS saves the 256-bit registers
};

CpuFeatures DetectCpu()
{
    CpuFeatures features;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0)
        return features;
    constexpr unsigned kAes = 1u << 25, kOsXsave = 1u << 27, kAvx = 1u << 28;
    features.aesNi = (ecx & kAes) != 0;
    if (!features.aesNi || (ecx & kOsXsave) == 0 || (ecx & kAvx) == 0)
        return features;
    // XCR0 bits 1 and 2: the OS saves and restores the SSE and AVX state.
    unsigned xcr0Low = 0, xcr0High = 0;
    __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0u));
    if ((xcr0Low & 0x6u) != 0x6u)
        return features;
    if (__get_cpuid_max(0, nullptr) < 7)
        return features;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    constexpr unsigned kAvx2 = 1u << 5;  // leaf 7, EBX
    constexpr unsigned kVaes = 1u << 9;  // leaf 7, ECX
    features.vaes = (ebx & kAvx2) != 0 && (ecx & kVaes) != 0;
    return features;
}

const CpuFeatures& Cpu()
{
    static const CpuFeatures features = DetectCpu();
    return features;
}

// Round keys of the (inverse) cipher as the instructions take them.
struct RoundKeys {
    __m128i key[15];
};

// [w0, w0^w1, w0^w1^w2, w0^w1^w2^w3] of the four words w0..w3 in x.
__attribute__((target("aes"))) inline __m128i PrefixXor(__m128i x)
{
    x = _mm_xor_si128(x, _mm_slli_si128(x, 4));
    return _mm_xor_si128(x, _mm_slli_si128(x, 8));
}

// One 8-word step of the schedule: low holds w(i)..w(i+3) and high
// w(i+4)..w(i+7) on entry, w(i+8)..w(i+11) and w(i+12)..w(i+15) on return.
// Dword 3 of keygenassist(x, rcon) is RotWord(SubWord(x.w3)) ^ rcon and
// dword 2 is SubWord(x.w3).
template <int Rcon>
__attribute__((target("aes"))) inline void ScheduleStep(__m128i& low, __m128i& high)
{
    low = _mm_xor_si128(PrefixXor(low), _mm_shuffle_epi32(_mm_aeskeygenassist_si128(high, Rcon), 0xFF));
    high = _mm_xor_si128(PrefixXor(high), _mm_shuffle_epi32(_mm_aeskeygenassist_si128(low, 0), 0xAA));
}

// Round keys 0..14 of the forward cipher from the 32-byte key.
__attribute__((target("aes"))) void ExpandEncryptionKeys(const std::uint8_t key[32], RoundKeys& keys)
{
    __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
    __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key + 16));
    keys.key[0] = low, keys.key[1] = high;
    ScheduleStep<0x01>(low, high), keys.key[2] = low, keys.key[3] = high;
    ScheduleStep<0x02>(low, high), keys.key[4] = low, keys.key[5] = high;
    ScheduleStep<0x04>(low, high), keys.key[6] = low, keys.key[7] = high;
    ScheduleStep<0x08>(low, high), keys.key[8] = low, keys.key[9] = high;
    ScheduleStep<0x10>(low, high), keys.key[10] = low, keys.key[11] = high;
    ScheduleStep<0x20>(low, high), keys.key[12] = low, keys.key[13] = high;
    // The seventh step: only round key 14 (w56..w59) is needed.
    keys.key[14] = _mm_xor_si128(PrefixXor(low),
                                 _mm_shuffle_epi32(_mm_aeskeygenassist_si128(high, 0x40), 0xFF));
}

// Round keys of the equivalent inverse cipher that aesdec expects: the forward
// keys in reverse order, InvMixColumns applied to all but the outer two.
__attribute__((target("aes"))) void ExpandDecryptionKeys(const std::uint8_t key[32], RoundKeys& keys)
{
    RoundKeys forward;
    ExpandEncryptionKeys(key, forward);
    keys.key[0] = forward.key[14];
    for (int i = 1; i < 14; ++i)
        keys.key[i] = _mm_aesimc_si128(forward.key[14 - i]);
    keys.key[14] = forward.key[0];
    SecureWipe(&forward, sizeof forward);
}

// --- AES-NI ---

// Twelve blocks keep both AES units of current cores busy (eight fall a few
// per cent short); with one round key they fit the sixteen xmm registers.
constexpr std::size_t kAesNiLanes = 12;

template <bool Encrypt>
__attribute__((target("aes"))) inline __m128i Round(__m128i block, __m128i key)
{
    return Encrypt ? _mm_aesenc_si128(block, key) : _mm_aesdec_si128(block, key);
}

template <bool Encrypt>
__attribute__((target("aes"))) inline __m128i LastRound(__m128i block, __m128i key)
{
    return Encrypt ? _mm_aesenclast_si128(block, key) : _mm_aesdeclast_si128(block, key);
}

template <bool Encrypt>
__attribute__((target("aes"))) inline void AesNiOneBlock(const RoundKeys& keys, std::uint8_t* data)
{
    auto* p = reinterpret_cast<__m128i*>(data);
    __m128i b = _mm_xor_si128(_mm_loadu_si128(p), keys.key[0]);
    for (int r = 1; r < 14; ++r)
        b = Round<Encrypt>(b, keys.key[r]);
    _mm_storeu_si128(p, LastRound<Encrypt>(b, keys.key[14]));
}

template <bool Encrypt>
__attribute__((target("aes"))) void AesNiBlocks(const RoundKeys& keys, std::uint8_t* data, std::size_t blockCount)
{
    std::size_t i = 0;
    for (; i + kAesNiLanes <= blockCount; i += kAesNiLanes) {
        auto* p = reinterpret_cast<__m128i*>(data + 16 * i);
        __m128i b[kAesNiLanes];
#pragma GCC unroll 12
        for (std::size_t j = 0; j < kAesNiLanes; ++j)
            b[j] = _mm_xor_si128(_mm_loadu_si128(p + j), keys.key[0]);
#pragma GCC unroll 13
        for (int r = 1; r < 14; ++r) {
            const __m128i k = keys.key[r];
#pragma GCC unroll 12
            for (std::size_t j = 0; j < kAesNiLanes; ++j)
                b[j] = Round<Encrypt>(b[j], k);
        }
#pragma GCC unroll 12
        for (std::size_t j = 0; j < kAesNiLanes; ++j)
            _mm_storeu_si128(p + j, LastRound<Encrypt>(b[j], keys.key[14]));
    }
    for (; i < blockCount; ++i)
        AesNiOneBlock<Encrypt>(keys, data + 16 * i);
}

// --- VAES on 256-bit registers ---

constexpr std::size_t kVaesLanes = 8; // registers in flight, two blocks each

struct WideRoundKeys {
    __m256i key[15]; // each round key in both 128-bit halves
};

template <bool Encrypt>
__attribute__((target("aes,avx2,vaes"))) inline __m256i WideRound(__m256i blocks, __m256i key)
{
    return Encrypt ? _mm256_aesenc_epi128(blocks, key) : _mm256_aesdec_epi128(blocks, key);
}

template <bool Encrypt>
__attribute__((target("aes,avx2,vaes"))) inline __m256i WideLastRound(__m256i blocks, __m256i key)
{
    return Encrypt ? _mm256_aesenclast_epi128(blocks, key) : _mm256_aesdeclast_epi128(blocks, key);
}

template <bool Encrypt>
__attribute__((target("aes,avx2,vaes"))) void VaesBlocks(const RoundKeys& keys, std::uint8_t* data,
                                                        std::size_t blockCount)
{
    WideRoundKeys wide;
    for (int r = 0; r < 15; ++r)
        wide.key[r] = _mm256_broadcastsi128_si256(keys.key[r]);

    std::size_t i = 0;
    for (; i + 2 * kVaesLanes <= blockCount; i += 2 * kVaesLanes) {
        auto* p = reinterpret_cast<__m256i*>(data + 16 * i);
        __m256i b[kVaesLanes];
#pragma GCC unroll 8
        for (std::size_t j = 0; j < kVaesLanes; ++j)
            b[j] = _mm256_xor_si256(_mm256_loadu_si256(p + j), wide.key[0]);
#pragma GCC unroll 13
        for (int r = 1; r < 14; ++r) {
            const __m256i k = wide.key[r];
#pragma GCC unroll 8
            for (std::size_t j = 0; j < kVaesLanes; ++j)
                b[j] = WideRound<Encrypt>(b[j], k);
        }
#pragma GCC unroll 8
        for (std::size_t j = 0; j < kVaesLanes; ++j)
            _mm256_storeu_si256(p + j, WideLastRound<Encrypt>(b[j], wide.key[14]));
    }
    for (; i + 2 <= blockCount; i += 2) {
        auto* p = reinterpret_cast<__m256i*>(data + 16 * i);
        __m256i b = _mm256_xor_si256(_mm256_loadu_si256(p), wide.key[0]);
        for (int r = 1; r < 14; ++r)
            b = WideRound<Encrypt>(b, wide.key[r]);
        _mm256_storeu_si256(p, WideLastRound<Encrypt>(b, wide.key[14]));
    }
    if (i < blockCount)
        AesNiOneBlock<Encrypt>(keys, data + 16 * i);
    SecureWipe(&wide, sizeof wide);
}

template <bool Encrypt>
void HardwareBlocks(Aes256Path path, const std::uint8_t key[32], std::uint8_t* data, std::size_t blockCount)
{
    if (blockCount == 0)
        return;
    RoundKeys keys;
    if (Encrypt)
        ExpandEncryptionKeys(key, keys);
    else
        ExpandDecryptionKeys(key, keys);
    if (path == Aes256Path::Vaes)
        VaesBlocks<Encrypt>(keys, data, blockCount);
    else
        AesNiBlocks<Encrypt>(keys, data, blockCount);
    SecureWipe(&keys, sizeof keys);
}

} // namespace

bool Aes256HardwarePathAvailable(Aes256Path path)
{
    switch (path) {
    case Aes256Path::AesNi:
        return Cpu().aesNi;
    case Aes256Path::Vaes:
        return Cpu().vaes;
    case Aes256Path::Portable:
        break;
    }
    return false;
}

void Aes256EncryptBlocksHardware(Aes256Path path, const std::uint8_t key[32], std::uint8_t* data,
                                 std::size_t blockCount)
{
    HardwareBlocks<true>(path, key, data, blockCount);
}

void Aes256DecryptBlocksHardware(Aes256Path path, const std::uint8_t key[32], std::uint8_t* data,
                                 std::size_t blockCount)
{
    HardwareBlocks<false>(path, key, data, blockCount);
}

#else // not x86-64: no hardware path, and the calls below are never reached

bool Aes256HardwarePathAvailable(Aes256Path)
{
    return false;
}

void Aes256EncryptBlocksHardware(Aes256Path, const std::uint8_t*, std::uint8_t*, std::size_t)
{
    std::abort();
}

void Aes256DecryptBlocksHardware(Aes256Path, const std::uint8_t*, std::uint8_t*, std::size_t)
{
    std::abort();
}

#endif

} // namespace tavro::detail
