#include "md5.h"

#include "secure_memory.h"

#include <cstring>

namespace tavro {
namespace {

// T[i] = floor(2^32 * |sin(i + 1)|), i = 0..63, the additive constants of RFC 1321.
constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr std::uint32_t RotateLeft(std::uint32_t value, int bits)
{
    return (value << bits) | (value >> (32 - bits));
}

// The four auxiliary functions, one per round.
constexpr std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & y) | (~x & z); }
constexpr std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & z) | (y & ~z); }
constexpr std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }
constexpr std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (x | ~z); }

// One operation: a = b + ((a + Fn(b, c, d) + word + T[i]) <<< shift).
template <std::uint32_t (*Fn)(std::uint32_t, std::uint32_t, std::uint32_t)>
inline void Step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, std::uint32_t word,
                 int shift, std::uint32_t sine)
{
    a = b + RotateLeft(a + Fn(b, c, d) + word + sine, shift);
}

inline std::uint32_t LoadLittleEndian(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void StoreLittleEndian(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

} // namespace

void Md5Init(Md5Context& context)
{
    context.state[0] = 0x67452301;
    context.state[1] = 0xefcdab89;
    context.state[2] = 0x98badcfe;
    context.state[3] = 0x10325476;
    context.bitCount[0] = 0;
    context.bitCount[1] = 0;
    context.finalized = false;
}

void Md5Transform(Md5Context& context, const std::uint8_t block[64])
{
    // The block as sixteen little-endian words X[0..15].
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = LoadLittleEndian(block + 4 * i);

    std::uint32_t a = context.state[0];
    std::uint32_t b = context.state[1];
    std::uint32_t c = context.state[2];
    std::uint32_t d = context.state[3];

    // Round 1: words in order 0..15, shifts 7, 12, 17, 22.
    for (int i = 0; i < 16; i += 4) {
        Step<F>(a, b, c, d, x[i + 0], 7, kSine[i + 0]);
        Step<F>(d, a, b, c, x[i + 1], 12, kSine[i + 1]);
        Step<F>(c, d, a, b, x[i + 2], 17, kSine[i + 2]);
        Step<F>(b, c, d, a, x[i + 3], 22, kSine[i + 3]);
    }
    // Round 2: word (1 + 5i) mod 16, shifts 5, 9, 14, 20.
    for (int i = 0; i < 16; i += 4) {
        Step<G>(a, b, c, d, x[(1 + 5 * i) % 16], 5, kSine[16 + i]);
        Step<G>(d, a, b, c, x[(6 + 5 * i) % 16], 9, kSine[17 + i]);
        Step<G>(c, d, a, b, x[(11 + 5 * i) % 16], 14, kSine[18 + i]);
        Step<G>(b, c, d, a, x[(16 + 5 * i) % 16], 20, kSine[19 + i]);
    }
    // Round 3: word (5 + 3i) mod 16, shifts 4, 11, 16, 23.
    for (int i = 0; i < 16; i += 4) {
        Step<H>(a, b, c, d, x[(5 + 3 * i) % 16], 4, kSine[32 + i]);
        Step<H>(d, a, b, c, x[(8 + 3 * i) % 16], 11, kSine[33 + i]);
        Step<H>(c, d, a, b, x[(11 + 3 * i) % 16], 16, kSine[34 + i]);
        Step<H>(b, c, d, a, x[(14 + 3 * i) % 16], 23, kSine[35 + i]);
    }
    // Round 4: word 7i mod 16, shifts 6, 10, 15, 21.
    for (int i = 0; i < 16; i += 4) {
        Step<I>(a, b, c, d, x[(7 * i) % 16], 6, kSine[48 + i]);
        Step<I>(d, a, b, c, x[(7 + 7 * i) % 16], 10, kSine[49 + i]);
        Step<I>(c, d, a, b, x[(14 + 7 * i) % 16], 15, kSine[50 + i]);
        Step<I>(b, c, d, a, x[(21 + 7 * i) % 16], 21, kSine[51 + i]);
    }

    context.state[0] += a;
    context.state[1] += b;
    context.state[2] += c;
    context.state[3] += d;

    // The words are message bytes (a password, a key file): no copy stays on the stack.
    SecureWipe(x, sizeof x);
}

void Md5Update(Md5Context& context, const std::uint8_t* bytes, std::uint32_t length)
{
    if (length == 0)
        return;

    // Bytes already waiting in buffer.
    const std::uint32_t index = (context.bitCount[0] >> 3) & 0x3f;

    // 64-bit bit count: length * 8 split over the two words, carry included.
    const std::uint32_t lowBits = length << 3;
    context.bitCount[0] += lowBits;
    if (context.bitCount[0] < lowBits)
        ++context.bitCount[1];
    context.bitCount[1] += length >> 29;

    const std::uint32_t room = 64 - index;
    if (length < room) {
        std::memcpy(context.buffer + index, bytes, length);
        return;
    }

    std::memcpy(context.buffer + index, bytes, room);
    Md5Transform(context, context.buffer);
    std::uint32_t done = room;
    for (; length - done >= 64; done += 64)
        Md5Transform(context, bytes + done);
    std::memcpy(context.buffer, bytes + done, length - done);
}

void Md5UpdateFromStream(Md5Context& context, std::ifstream& stream)
{
    if (!stream)
        return;

    // End of file and a failing read both end the input; neither may throw
    // out of here whatever exception mask the caller had set.
    stream.exceptions(std::ios::goodbit);

    char block[1024];
    while (stream.good()) {
        stream.read(block, sizeof block);
        const std::streamsize got = stream.gcount();
        if (got > 0)
            Md5Update(context, reinterpret_cast<const std::uint8_t*>(block), static_cast<std::uint32_t>(got));
    }
    SecureWipe(block, sizeof block);

    // close() marks the stream failed itself when closing fails.
    stream.close();
}

void Md5Finalize(Md5Context& context)
{
    // The message length in bits, low word first, each word little-endian;
    // taken before the padding changes bitCount.
    std::uint8_t length[8];
    StoreLittleEndian(length, context.bitCount[0]);
    StoreLittleEndian(length + 4, context.bitCount[1]);

    // 0x80 then zeros, up to 56 bytes modulo 64, so that the length ends a block.
    static constexpr std::uint8_t kPadding[64] = {0x80};
    const std::uint32_t index = (context.bitCount[0] >> 3) & 0x3f;
    const std::uint32_t padLength = index < 56 ? 56 - index : 120 - index;
    Md5Update(context, kPadding, padLength);
    Md5Update(context, length, 8);

    for (int i = 0; i < 4; ++i)
        StoreLittleEndian(context.digest + 4 * i, context.state[i]);
    context.finalized = true;

    // The buffer still holds the last message bytes.
    SecureWipe(context.buffer, sizeof context.buffer);
}

std::string Md5HexDigest(Md5Context& context)
{
    if (!context.finalized)
        Md5Finalize(context);

    static constexpr char kHex[] = "0123456789abcdef";
    std::string text(32, '\0');
    for (std::size_t i = 0; i < 16; ++i) {
        text[2 * i] = kHex[context.digest[i] >> 4];
        text[2 * i + 1] = kHex[context.digest[i] & 0x0f];
    }
    return text;
}

} // namespace tavro
