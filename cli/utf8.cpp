#include "utf8.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#define TAVRO_UTF8_X86 1
#include <immintrin.h>
#endif

namespace tavro::cli {
namespace {

// Writes cp as UTF-16 at out; returns the units written.
std::size_t PutUtf16(char16_t* out, char32_t cp)
{
    if (cp < 0x10000) {
        out[0] = static_cast<char16_t>(cp);
        return 1;
    }
    cp -= 0x10000;
    out[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    return 2;
}

// Writes cp as UTF-8 at out; returns the bytes written.
inline std::size_t PutUtf8(std::uint8_t* out, char32_t cp)
{
    if (cp < 0x80) {
        out[0] = static_cast<std::uint8_t>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<std::uint8_t>(0xC0 | (cp >> 6));
        out[1] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<std::uint8_t>(0xE0 | (cp >> 12));
        out[1] = static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<std::uint8_t>(0xF0 | (cp >> 18));
    out[1] = static_cast<std::uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
    return 4;
}

enum class Step { Done, Incomplete, Invalid };

// The sequence that starts with lead at in[i]: its length, and whether the
// bytes that follow (as many as in holds) fit it. The allowed range of the
// second byte is what excludes overlong forms, surrogates and values beyond
// U+10FFFF. Incomplete: in ends inside a sequence that is valid so far.
Step CheckSequence(std::span<const std::uint8_t> in, std::size_t i, std::size_t& length)
{
    const std::uint8_t lead = in[i];
    std::uint8_t low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return Step::Invalid;
    }
    const std::size_t available = std::min(length, in.size() - i);
    if (available >= 2 && (in[i + 1] < low || in[i + 1] > high))
        return Step::Invalid;
    for (std::size_t k = 2; k < available; ++k) {
        if ((in[i + k] & 0xC0) != 0x80)
            return Step::Invalid;
    }
    return available < length ? Step::Incomplete : Step::Done;
}

// Decodes in[0..] to out as far as it is valid. i ends at the first byte not
// decoded; written counts the units made.
Step DecodeUtf8(std::span<const std::uint8_t> in, char16_t* out, std::size_t& i, std::size_t& written)
{
    while (i < in.size()) {
        const std::uint8_t lead = in[i];
        if (lead < 0x80) {
            out[written++] = lead;
            ++i;
            continue;
        }
        std::size_t length = 0;
        if (const Step step = CheckSequence(in, i, length); step != Step::Done)
            return step;
        char32_t cp = lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k)
            cp = (cp << 6) | (in[i + k] & 0x3Fu);
        written += PutUtf16(out + written, cp);
        i += length;
    }
    return Step::Done;
}

// The portable check: the offset of the first bad sequence, or the size.
std::size_t FirstInvalidPortable(std::span<const std::uint8_t> in)
{
    const std::size_t size = in.size();
    std::size_t i = 0;
    while (i < size) {
        // Eight ASCII bytes at a time.
        std::uint64_t word;
        while (i + 8 <= size && (std::memcpy(&word, in.data() + i, 8), (word & 0x8080808080808080u) == 0))
            i += 8;
        if (i == size)
            break;
        if (in[i] < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        if (CheckSequence(in, i, length) != Step::Done)
            return i;
        i += length;
    }
    return size;
}

#if TAVRO_UTF8_X86

// Keiser and Lemire, "Validating UTF-8 in less than one instruction per
// byte" (2021): every byte is checked with the one before it by three
// 16-entry lookups (the high and low nibble of the previous byte, the high
// nibble of this one), whose AND is non-zero exactly where the pair breaks
// a rule; the lengths of three- and four-byte sequences are checked apart.
constexpr std::uint8_t kTooShort = 1 << 0;   // a lead byte followed by ASCII or another lead
constexpr std::uint8_t kTooLong = 1 << 1;    // ASCII followed by a continuation byte
constexpr std::uint8_t kOverlong3 = 1 << 2;  // E0 80..9F
constexpr std::uint8_t kTooLarge = 1 << 3;   // F4 90..BF, F5..FF 90..BF
constexpr std::uint8_t kSurrogate = 1 << 4;  // ED A0..BF
constexpr std::uint8_t kOverlong2 = 1 << 5;  // C0..C1 80..BF
constexpr std::uint8_t kTooLarge1000 = 1 << 6; // F5..FF 80..8F
constexpr std::uint8_t kOverlong4 = 1 << 6;  // F0 80..8F
constexpr std::uint8_t kTwoConts = 1 << 7;   // a continuation byte after another
constexpr std::uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

constexpr std::uint8_t kByte1High[16] = {
    kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, // 0_______
    kTwoConts, kTwoConts, kTwoConts, kTwoConts,                                     // 10______
    kTooShort | kOverlong2,                                                         // 1100____
    kTooShort,                                                                      // 1101____
    kTooShort | kOverlong3 | kSurrogate,                                            // 1110____
    kTooShort | kTooLarge | kTooLarge1000 | kOverlong4,                             // 1111____
};
constexpr std::uint8_t kByte1Low[16] = {
    kCarry | kOverlong3 | kOverlong2 | kOverlong4, // ____0000
    kCarry | kOverlong2,                           // ____0001
    kCarry,                                        // ____0010
    kCarry,                                        // ____0011
    kCarry | kTooLarge,                            // ____0100
    kCarry | kTooLarge | kTooLarge1000,            // ____0101 .. ____1100
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000,
    kCarry | kTooLarge | kTooLarge1000 | kSurrogate, // ____1101
    kCarry | kTooLarge | kTooLarge1000,              // ____1110
    kCarry | kTooLarge | kTooLarge1000,              // ____1111
};
constexpr std::uint8_t kByte2High[16] = {
    kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, // 0_______
    kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4,             // 1000____
    kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,                              // 1001____
    kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,                              // 101_____
    kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
    kTooShort, kTooShort, kTooShort, kTooShort, // 11______
};
// A block that ends inside a sequence: its last three bytes above these.
constexpr std::uint8_t kIncompleteAbove[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0 - 1, 0xE0 - 1, 0xC0 - 1,
};

__attribute__((target("avx2"))) inline __m256i Lookup(const std::uint8_t (&table)[16], __m256i nibbles)
{
    const __m256i both = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
    return _mm256_shuffle_epi8(both, nibbles);
}

struct Avx2Check {
    __m256i error;
    __m256i previous;
    __m256i previousIncomplete;
};

__attribute__((target("avx2"))) inline void CheckBlock(Avx2Check& check, __m256i in)
{
    if (_mm256_movemask_epi8(in) == 0) {
        // All ASCII: only a sequence the block before left open is wrong.
        check.error = _mm256_or_si256(check.error, check.previousIncomplete);
    } else {
        const __m256i nibble = _mm256_set1_epi8(0x0F);
        // The block shifted by one, two and three bytes, the previous block's end in front.
        const __m256i joined = _mm256_permute2x128_si256(check.previous, in, 0x21);
        const __m256i prev1 = _mm256_alignr_epi8(in, joined, 15);
        const __m256i prev2 = _mm256_alignr_epi8(in, joined, 14);
        const __m256i prev3 = _mm256_alignr_epi8(in, joined, 13);
        const __m256i special =
            _mm256_and_si256(_mm256_and_si256(Lookup(kByte1High, _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble)),
                                              Lookup(kByte1Low, _mm256_and_si256(prev1, nibble))),
                             Lookup(kByte2High, _mm256_and_si256(_mm256_srli_epi16(in, 4), nibble)));
        // Bytes two after a three- or four-byte lead, or three after a
        // four-byte lead, must be continuations: exactly those may carry
        // kTwoConts and nothing else.
        const __m256i third = _mm256_subs_epu8(prev2, _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
        const __m256i fourth = _mm256_subs_epu8(prev3, _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
        const __m256i must = _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
        check.error = _mm256_or_si256(check.error, _mm256_xor_si256(must, special));
        check.previousIncomplete =
            _mm256_subs_epu8(in, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kIncompleteAbove)));
    }
    check.previous = in;
}

__attribute__((target("avx2"))) bool IsUtf8Avx2(std::span<const std::uint8_t> bytes)
{
    Avx2Check check{_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
    const std::uint8_t* p = bytes.data();
    std::size_t n = bytes.size();
    for (; n >= 32; p += 32, n -= 32) {
        CheckBlock(check, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
        // Stop early on a fault, but not at every block.
        if (((p - bytes.data()) & 0xFFF) == 0 && !_mm256_testz_si256(check.error, check.error))
            return false;
    }
    // The tail, followed by zeros: ASCII, which ends any sequence cut off.
    alignas(32) std::uint8_t tail[32] = {};
    std::memcpy(tail, p, n);
    CheckBlock(check, _mm256_load_si256(reinterpret_cast<const __m256i*>(tail)));
    const __m256i error = _mm256_or_si256(check.error, check.previousIncomplete);
    return _mm256_testz_si256(error, error) != 0;
}

bool Avx2Supported()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

#else

bool Avx2Supported() { return false; }

#endif

// Writes text as UTF-8 at out, which has Utf8Encoder::Room(text.size())
// bytes; a high surrogate at the end is left in pendingHigh unless last.
std::size_t EncodeUtf16(std::u16string_view text, bool last, char16_t& pendingHigh, std::uint8_t* out)
{
    std::size_t written = 0;
    std::size_t i = 0;
    const std::size_t n = text.size();
    if (pendingHigh != 0) {
        if (n > 0 && text[0] >= 0xDC00 && text[0] <= 0xDFFF) {
            written += PutUtf8(out, 0x10000 + ((pendingHigh - 0xD800u) << 10) + (text[0] - 0xDC00u));
            i = 1;
        } else if (n > 0 || last) {
            written += PutUtf8(out, 0xFFFD);
        } else {
            return 0;
        }
        pendingHigh = 0;
    }
    while (i < n) {
        std::uint32_t cp = text[i];
#if TAVRO_UTF8_X86
        // From an ASCII unit on, eight at a time while all are ASCII (SSE2,
        // which every x86-64 runs).
        if (cp < 0x80 && i + 8 <= n) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
            const __m128i high = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) == 0xFFFF) {
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out + written), _mm_packus_epi16(units, units));
                written += 8;
                i += 8;
                continue;
            }
        }
#endif
        if (cp - 0xD800u >= 0x800u) {
            if constexpr (std::endian::native == std::endian::little) {
                // A unit of the Basic Multilingual Plane: all of its forms
                // made, the right one chosen without a branch, four bytes
                // stored (the room has one to spare).
                const std::uint32_t two = cp >= 0x80, three = cp >= 0x800;
                const std::uint32_t form3 =
                    (0xE0 | cp >> 12) | (0x80 | (cp >> 6 & 0x3F)) << 8 | (0x80 | (cp & 0x3F)) << 16;
                const std::uint32_t form2 = (0xC0 | cp >> 6) | (0x80 | (cp & 0x3F)) << 8;
                const std::uint32_t form = three ? form3 : two ? form2 : cp;
                std::memcpy(out + written, &form, 4);
                written += 1 + two + three;
            } else {
                written += PutUtf8(out + written, cp);
            }
            ++i;
            continue;
        }
        if (cp <= 0xDBFF && i + 1 == n && !last) {
            pendingHigh = static_cast<char16_t>(cp);
            break;
        }
        if (cp <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else {
            cp = 0xFFFD;
        }
        written += PutUtf8(out + written, cp);
        ++i;
    }
    return written;
}

} // namespace

bool Utf8ToUtf16(std::span<const std::uint8_t> in, SecureText& out, std::size_t& errorOffset)
{
    out.resize(in.size());
    std::size_t i = 0;
    std::size_t written = 0;
    const Step step = DecodeUtf8(in, out.data(), i, written);
    out.resize(written);
    if (step != Step::Done) {
        errorOffset = i;
        return false;
    }
    return true;
}

SecureBytes Utf16ToUtf8(std::u16string_view text)
{
    SecureBytes out(Utf8Encoder::Room(text.size()));
    char16_t pendingHigh = 0;
    out.resize(EncodeUtf16(text, /*last=*/true, pendingHigh, out.data()));
    return out;
}

bool Utf8EngineAvailable(Utf8Engine engine)
{
    switch (engine) {
    case Utf8Engine::Portable:
        return true;
    case Utf8Engine::Avx2:
        return Avx2Supported();
    }
    return false;
}

bool IsUtf8Using(Utf8Engine engine, std::span<const std::uint8_t> bytes)
{
#if TAVRO_UTF8_X86
    static const bool avx2 = Avx2Supported();
    if (engine == Utf8Engine::Avx2 && avx2)
        return IsUtf8Avx2(bytes);
#else
    (void)engine;
#endif
    return FirstInvalidPortable(bytes) == bytes.size();
}

std::size_t FindInvalidUtf8(std::span<const std::uint8_t> bytes)
{
    if (IsUtf8Using(Utf8Engine::Avx2, bytes))
        return bytes.size();
    return FirstInvalidPortable(bytes);
}

std::size_t Utf8PieceEnd(std::span<const std::uint8_t> buffer)
{
    const std::size_t size = buffer.size();
    for (std::size_t back = 1; back <= 4 && back <= size; ++back) {
        const std::uint8_t byte = buffer[size - back];
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: the character starts further back
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? size - back : size;
    }
    return size;
}

bool Utf8Pieces::Next(SecureBytes& piece, std::uint64_t& offset)
{
    if (ended_)
        return false;
    const std::size_t carried = carry_.size();
    piece.resize(carried + readSize_);
    std::copy(carry_.begin(), carry_.end(), piece.begin());
    const std::size_t got = read_({piece.data() + carried, readSize_});
    ended_ = got == 0;
    piece.resize(carried + got);
    offset = offset_;
    std::size_t cut = ended_ ? piece.size() : Utf8PieceEnd(piece);
    if (atStart_ && cut > 0) {
        // A byte order mark, as some Windows editors write, is not part of
        // the text. Its lead byte starts a three-byte character, so a piece
        // cut before it is empty: the mark is judged once it is whole.
        static constexpr std::uint8_t kMark[] = {0xEF, 0xBB, 0xBF};
        atStart_ = false;
        if (piece.size() >= 3 && std::equal(kMark, kMark + 3, piece.begin())) {
            DropFront(piece, 3);
            offset += 3;
            offset_ += 3;
            cut -= 3;
        }
    }
    carry_.assign(piece.begin() + static_cast<std::ptrdiff_t>(cut), piece.end());
    piece.resize(cut);
    offset_ += cut;
    return true;
}

std::size_t Utf8Encoder::Encode(std::u16string_view piece, bool last, std::uint8_t* out)
{
    return EncodeUtf16(piece, last, pendingHigh_, out);
}

} // namespace tavro::cli
