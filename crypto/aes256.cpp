// AES-256, portable and table-free.
//
// Two independent constant-time formulations of the same cipher live here:
//
// - The per-block operations work byte by byte. The S-box inverts in GF(2^8)
//   as x^254 by a fixed square-and-multiply chain whose multiply masks
//   instead of branching. The round keys are regenerated on the fly from the
//   context's two 32-byte starting points of the schedule.
//
// - The portable bulk path is bitsliced: eight blocks are spread over eight
//   bit planes (one per bit of a byte) and every round is a fixed sequence of
//   AND, XOR, NOT and shifts on those planes. Its S-box inverts through the
//   composite field GF((2^4)^2); see BitslicedInverse. Round keys are worked
//   out once per call into locals that are wiped before returning.
//
// Neither has a lookup table, and no branch or memory address depends on the
// key or the data.
#include "aes256.h"

#include "secure_memory.h"

#include <cstring>

namespace tavro {
namespace {

// ---------------------------------------------------------------------------
// GF(2^8) byte arithmetic modulo x^8 + x^4 + x^3 + x + 1, branch-free.
// ---------------------------------------------------------------------------

// Multiplication by x: the reduction is masked in when bit 7 was set.
std::uint8_t XTime(std::uint8_t b)
{
    const unsigned v = b;
    return static_cast<std::uint8_t>((v << 1) ^ (0x1Bu & (0u - (v >> 7))));
}

// a * b: eight rounds of "add a when bit i of b is set, then a *= x", with the
// add done through an all-ones/all-zeros mask.
std::uint8_t GfMultiply(std::uint8_t a, std::uint8_t b)
{
    unsigned product = 0;
    unsigned shifted = a; // a * x^i, always below 0x100
    for (unsigned i = 0; i < 8; ++i) {
        product ^= shifted & (0u - ((static_cast<unsigned>(b) >> i) & 1u));
        shifted = (shifted << 1) ^ (0x11Bu & (0u - (shifted >> 7)));
    }
    return static_cast<std::uint8_t>(product);
}

// x^254, which is x^-1 for x != 0 and 0 for x = 0: 7 squarings and 4
// multiplications in a fixed order.
std::uint8_t GfInverse(std::uint8_t x)
{
    const std::uint8_t x2 = GfMultiply(x, x);
    const std::uint8_t x3 = GfMultiply(x2, x);
    const std::uint8_t x6 = GfMultiply(x3, x3);
    const std::uint8_t x12 = GfMultiply(x6, x6);
    const std::uint8_t x15 = GfMultiply(x12, x3);
    std::uint8_t x240 = x15;
    for (int i = 0; i < 4; ++i)
        x240 = GfMultiply(x240, x240);
    const std::uint8_t x252 = GfMultiply(x240, x12);
    return GfMultiply(x252, x2);
}

std::uint8_t RotateLeft8(std::uint8_t b, unsigned n)
{
    return static_cast<std::uint8_t>((b << n) | (b >> (8u - n)));
}

// ---------------------------------------------------------------------------
// Round functions on one 16-byte state (byte k = row k mod 4, column k div 4).
// ---------------------------------------------------------------------------

void SubBytes(std::uint8_t state[16])
{
    for (int i = 0; i < 16; ++i)
        state[i] = SBoxForward(state[i]);
}

void InvSubBytes(std::uint8_t state[16])
{
    for (int i = 0; i < 16; ++i)
        state[i] = SBoxInverse(state[i]);
}

// Row r moves left by r columns: new (r, c) = old (r, c + r mod 4).
void ShiftRows(std::uint8_t s[16])
{
    std::uint8_t t = s[1];
    s[1] = s[5], s[5] = s[9], s[9] = s[13], s[13] = t;
    t = s[2], s[2] = s[10], s[10] = t;
    t = s[6], s[6] = s[14], s[14] = t;
    t = s[15];
    s[15] = s[11], s[11] = s[7], s[7] = s[3], s[3] = t;
}

// Row r moves right by r columns: new (r, c) = old (r, c - r mod 4).
void InvShiftRows(std::uint8_t s[16])
{
    std::uint8_t t = s[13];
    s[13] = s[9], s[9] = s[5], s[5] = s[1], s[1] = t;
    t = s[2], s[2] = s[10], s[10] = t;
    t = s[6], s[6] = s[14], s[14] = t;
    t = s[3];
    s[3] = s[7], s[7] = s[11], s[11] = s[15], s[15] = t;
}

// Each column a0..a3 becomes 02*a_r ^ 03*a_(r+1) ^ a_(r+2) ^ a_(r+3), written
// as a_r ^ xtime(a_r ^ a_(r+1)) ^ (a0 ^ a1 ^ a2 ^ a3).
void MixColumns(std::uint8_t s[16])
{
    for (int c = 0; c < 16; c += 4) {
        const std::uint8_t a0 = s[c], a1 = s[c + 1], a2 = s[c + 2], a3 = s[c + 3];
        const std::uint8_t all = static_cast<std::uint8_t>(a0 ^ a1 ^ a2 ^ a3);
        s[c] = static_cast<std::uint8_t>(a0 ^ all ^ XTime(static_cast<std::uint8_t>(a0 ^ a1)));
        s[c + 1] = static_cast<std::uint8_t>(a1 ^ all ^ XTime(static_cast<std::uint8_t>(a1 ^ a2)));
        s[c + 2] = static_cast<std::uint8_t>(a2 ^ all ^ XTime(static_cast<std::uint8_t>(a2 ^ a3)));
        s[c + 3] = static_cast<std::uint8_t>(a3 ^ all ^ XTime(static_cast<std::uint8_t>(a3 ^ a0)));
    }
}

// The inverse column transform (coefficients 0e 0b 0d 09) equals the forward
// one after multiplying the column by 04*y^2 + 05, i.e. a_r ^= 04*(a_r ^ a_(r+2)).
void InvMixColumns(std::uint8_t s[16])
{
    for (int c = 0; c < 16; c += 4) {
        const std::uint8_t even = XTime(XTime(static_cast<std::uint8_t>(s[c] ^ s[c + 2])));
        const std::uint8_t odd = XTime(XTime(static_cast<std::uint8_t>(s[c + 1] ^ s[c + 3])));
        s[c] ^= even;
        s[c + 1] ^= odd;
        s[c + 2] ^= even;
        s[c + 3] ^= odd;
    }
    MixColumns(s);
}

void AddRoundKey(std::uint8_t state[16], const std::uint8_t roundKey[16])
{
    for (int i = 0; i < 16; ++i)
        state[i] ^= roundKey[i];
}

// ---------------------------------------------------------------------------
// The bitsliced bulk path.
//
// A group is kLanes * 4 blocks held in eight planes, plane b collecting bit b
// of every byte. A plane is a vector of kLanes 64-bit words (lanes); lane h
// carries blocks 4h..4h+3, and bit b of byte k of block 4h + j is bit 4k + j
// of lane h of plane b. With k = 4c + r (column c, row r) a lane reads, from
// bit 0 up: column 0 in bits 0..15, column 1 in 16..31 and so on; within a
// column, row r in the nibble at 4r; within a nibble, the four blocks.
//
// Only lane-wise operations are used (logic, and shifts within each 64-bit
// word); where the compiler has no vector registers it repeats them per lane.
// ---------------------------------------------------------------------------

using Word = std::uint64_t;
constexpr std::size_t kLanes = 2;
using Plane = Word __attribute__((vector_size(sizeof(Word) * kLanes)));
constexpr int kLaneBlocks = 4;
constexpr int kGroupBlocks = kLaneBlocks * kLanes;
constexpr std::size_t kLaneBytes = 16 * kLaneBlocks;
constexpr std::size_t kGroupBytes = 16 * kGroupBlocks;

struct PlaneState {
    Plane p[8];
};

// The 15 round keys, each repeated in all block positions.
struct BitslicedSchedule {
    PlaneState roundKey[15];
};

// p[0..7] as a little-endian number, whatever the host's byte order.
Word Load64(const std::uint8_t* p)
{
    Word w = 0;
    for (int i = 7; i >= 0; --i)
        w = (w << 8) | p[i];
    return w;
}

// The inverse of Load64.
void Store64(std::uint8_t* p, Word w)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(w >> (8 * i));
}

// For each pair w[i], w[i + distance] (i with the distance bit clear): the
// bits of w[i] at positions with bit s set trade places with the bits of
// w[i + distance] at positions with bit s clear; shift = 2^s and keep marks
// the positions with bit s clear. Indexing a bit by (word number, position),
// this swaps word-number bit "distance" with position bit s. Lane by lane.
void SwapIndexBits(Plane w[8], int distance, unsigned shift, Word keep)
{
    for (int i = 0; i < 8; ++i) {
        if ((i & distance) != 0)
            continue;
        const Plane t = ((w[i] >> shift) ^ w[i + distance]) & keep;
        w[i + distance] ^= t;
        w[i] ^= t << shift;
    }
}

// Loaded, word 4h + j of a lane holds bytes 8h..8h+7 of block j, so the index
// of bit b of byte k of block j is (word: k3 j1 j0, position: k2 k1 k0 b2 b1
// b0). Plane b wants it at (word: b2 b1 b0, position: k3 k2 k1 k0 j1 j0).
// Swapping word bit 2 in turn with position bits 5, 4, 3 and 2 walks k3..k0
// into place and brings b2 up; word bits 1 and 0 trade with position bits 1
// and 0.
void ToPlanes(Plane w[8])
{
    SwapIndexBits(w, 4, 32, 0x00000000FFFFFFFFull);
    SwapIndexBits(w, 4, 16, 0x0000FFFF0000FFFFull);
    SwapIndexBits(w, 4, 8, 0x00FF00FF00FF00FFull);
    SwapIndexBits(w, 4, 4, 0x0F0F0F0F0F0F0F0Full);
    SwapIndexBits(w, 2, 2, 0x3333333333333333ull);
    SwapIndexBits(w, 1, 1, 0x5555555555555555ull);
}

// The inverse of ToPlanes: each swap undoes itself, so they run in reverse.
void FromPlanes(Plane w[8])
{
    SwapIndexBits(w, 1, 1, 0x5555555555555555ull);
    SwapIndexBits(w, 2, 2, 0x3333333333333333ull);
    SwapIndexBits(w, 4, 4, 0x0F0F0F0F0F0F0F0Full);
    SwapIndexBits(w, 4, 8, 0x00FF00FF00FF00FFull);
    SwapIndexBits(w, 4, 16, 0x0000FFFF0000FFFFull);
    SwapIndexBits(w, 4, 32, 0x00000000FFFFFFFFull);
}

// kGroupBlocks consecutive blocks at in -> planes: bit b of byte k of block
// 4h + j becomes bit 4k + j of lane h of plane b.
void Pack(const std::uint8_t in[kGroupBytes], PlaneState& s)
{
    for (std::size_t lane = 0; lane < kLanes; ++lane)
        for (std::size_t i = 0; i < 8; ++i)
            s.p[i][lane] = Load64(in + kLaneBytes * lane + 16 * (i & 3) + 8 * (i >> 2));
    ToPlanes(s.p);
}

// The inverse of Pack; the state is consumed.
void Unpack(PlaneState& s, std::uint8_t out[kGroupBytes])
{
    FromPlanes(s.p);
    for (std::size_t lane = 0; lane < kLanes; ++lane)
        for (std::size_t i = 0; i < 8; ++i)
            Store64(out + kLaneBytes * lane + 16 * (i & 3) + 8 * (i >> 2), s.p[i][lane]);
}

// Rotates every lane right by n bits, 0 < n < 64.
Plane RotateRight64(Plane x, unsigned n)
{
    return (x >> n) | (x << (64u - n));
}

// Masks of the nibbles of row r in every column.
constexpr Word kRow0 = 0x000F000F000F000Full;
constexpr Word kRow1 = kRow0 << 4;
constexpr Word kRow2 = kRow0 << 8;
constexpr Word kRow3 = kRow0 << 12;

// Row r takes its nibble from column c + r: a right rotation by 16r bits.
void BitslicedShiftRows(PlaneState& s)
{
    for (Plane& x : s.p)
        x = (x & kRow0) | (RotateRight64(x, 16) & kRow1) | (RotateRight64(x, 32) & kRow2) |
            (RotateRight64(x, 48) & kRow3);
}

// Row r takes its nibble from column c - r: a left rotation by 16r bits.
void BitslicedInvShiftRows(PlaneState& s)
{
    for (Plane& x : s.p)
        x = (x & kRow0) | (RotateRight64(x, 48) & kRow1) | (RotateRight64(x, 32) & kRow2) |
            (RotateRight64(x, 16) & kRow3);
}

// Within every column, row r receives row r + 1 (mod 4): a right rotation of
// each 16-bit lane by one nibble.
Plane NextRow(Plane x)
{
    return ((x >> 4) & 0x0FFF0FFF0FFF0FFFull) | ((x << 12) & 0xF000F000F000F000ull);
}

// Within every column, row r receives row r + 2 (mod 4).
Plane RowAfterNext(Plane x)
{
    return ((x >> 8) & 0x00FF00FF00FF00FFull) | ((x << 8) & 0xFF00FF00FF00FF00ull);
}

// Multiplication of every byte by x, on planes: bit 7 wraps to bit 0 and is
// added to bits 1, 3 and 4 (x^8 = x^4 + x^3 + x + 1).
void BitslicedXTime(const Plane in[8], Plane out[8])
{
    const Plane top = in[7];
    out[7] = in[6];
    out[6] = in[5];
    out[5] = in[4];
    out[4] = in[3] ^ top;
    out[3] = in[2] ^ top;
    out[2] = in[1];
    out[1] = in[0] ^ top;
    out[0] = top;
}

// Row r of a column becomes 02*a_r ^ 03*a_(r+1) ^ a_(r+2) ^ a_(r+3)
// = xtime(u_r) ^ a_(r+1) ^ u_(r+2) with u = a ^ NextRow(a).
void BitslicedMixColumns(PlaneState& s)
{
    Plane next[8], u[8], doubled[8];
    for (int b = 0; b < 8; ++b) {
        next[b] = NextRow(s.p[b]);
        u[b] = s.p[b] ^ next[b];
    }
    BitslicedXTime(u, doubled);
    for (int b = 0; b < 8; ++b)
        s.p[b] = doubled[b] ^ next[b] ^ RowAfterNext(u[b]);
}

// As in InvMixColumns: a_r ^= 04*(a_r ^ a_(r+2)), then the forward transform.
void BitslicedInvMixColumns(PlaneState& s)
{
    Plane t[8], doubled[8], quadrupled[8];
    for (int b = 0; b < 8; ++b)
        t[b] = s.p[b] ^ RowAfterNext(s.p[b]);
    BitslicedXTime(t, doubled);
    BitslicedXTime(doubled, quadrupled);
    for (int b = 0; b < 8; ++b)
        s.p[b] ^= quadrupled[b];
    BitslicedMixColumns(s);
}

void BitslicedAddRoundKey(PlaneState& s, const PlaneState& roundKey)
{
    for (int b = 0; b < 8; ++b)
        s.p[b] ^= roundKey.p[b];
}

// GF(2^4) = GF(2)[z] / (z^4 + z^3 + 1); element bit i is the coefficient of z^i.
// Reduction: z^4 = z^3 + 1, z^5 = z^3 + z + 1, z^6 = z^3 + z^2 + z + 1.
void Gf16Multiply(const Plane a[4], const Plane b[4], Plane r[4])
{
    const Plane p0 = a[0] & b[0];
    const Plane p1 = (a[0] & b[1]) ^ (a[1] & b[0]);
    const Plane p2 = (a[0] & b[2]) ^ (a[1] & b[1]) ^ (a[2] & b[0]);
    const Plane p3 = (a[0] & b[3]) ^ (a[1] & b[2]) ^ (a[2] & b[1]) ^ (a[3] & b[0]);
    const Plane p4 = (a[1] & b[3]) ^ (a[2] & b[2]) ^ (a[3] & b[1]);
    const Plane p5 = (a[2] & b[3]) ^ (a[3] & b[2]);
    const Plane p6 = a[3] & b[3];
    const Plane p56 = p5 ^ p6;
    r[0] = p0 ^ p4 ^ p56;
    r[1] = p1 ^ p56;
    r[2] = p2 ^ p6;
    r[3] = p3 ^ p4 ^ p56;
}

// a^-1 in GF(2^4) (0 for 0), as the algebraic normal form of a^14.
void Gf16Inverse(const Plane a[4], Plane r[4])
{
    const Plane a01 = a[0] & a[1], a02 = a[0] & a[2], a03 = a[0] & a[3];
    const Plane a12 = a[1] & a[2], a13 = a[1] & a[3], a23 = a[2] & a[3];
    const Plane a012 = a01 & a[2], a013 = a01 & a[3], a023 = a02 & a[3], a123 = a12 & a[3];
    r[0] = a[0] ^ a01 ^ a[3] ^ a03 ^ a23 ^ a023 ^ a123;
    r[1] = a[2] ^ a12 ^ a012 ^ a[3] ^ a03 ^ a013 ^ a23 ^ a123;
    r[2] = a[1] ^ a01 ^ a[2] ^ a12 ^ a012 ^ a03 ^ a13 ^ a23 ^ a023;
    r[3] = a[1] ^ a02 ^ a12 ^ a03 ^ a013 ^ a023;
}

// Inversion in GF(2^8), written in the composite field GF(2^4)[Y] / (Y^2 + Y + z^3):
// c[0..3] is the low half a0 and c[4..7] the high half a1 of a1*Y + a0. With
// the norm d = z^3*a1^2 + a1*a0 + a0^2 (zero only for zero), the inverse is
// (a1*d^-1)*Y + (a0 + a1)*d^-1.
void BitslicedInverse(Plane c[8])
{
    const Plane* a0 = c;
    const Plane* a1 = c + 4;
    Plane product[4], d[4], dInverse[4], sum[4];
    Gf16Multiply(a0, a1, product);
    // z^3*a1^2 and a0^2 are linear in the bits; their sum plus the product:
    d[0] = (a1[1] ^ a1[2] ^ a1[3]) ^ (a0[0] ^ a0[2] ^ a0[3]) ^ product[0];
    d[1] = (a1[1] ^ a1[2]) ^ a0[3] ^ product[1];
    d[2] = (a1[2] ^ a1[3]) ^ (a0[1] ^ a0[3]) ^ product[2];
    d[3] = (a1[0] ^ a1[1]) ^ (a0[2] ^ a0[3]) ^ product[3];
    Gf16Inverse(d, dInverse);
    for (int i = 0; i < 4; ++i)
        sum[i] = a0[i] ^ a1[i];
    Gf16Multiply(a1, dInverse, c + 4);
    Gf16Multiply(sum, dInverse, c);
}

// SubBytes on planes. The composite field is tied to the AES field by
// z -> 0x51 and Y -> 0x42 (roots of z^4 + z^3 + 1 and of Y^2 + Y + z^3
// there), so its basis z^i * Y^j (i < 4, j < 2; bit 4j + i) is the AES-field
// elements 0x51^i * 0x42^j. Entry gives the coordinates of each byte in that
// basis; exit maps them back and applies the affine map, whose constant 0x63
// flips planes 0, 1, 5 and 6.
void BitslicedSubBytes(PlaneState& s)
{
    const Plane* x = s.p;
    Plane c[8];
    c[0] = x[0] ^ x[1] ^ x[2] ^ x[6] ^ x[7];
    c[1] = x[1] ^ x[2] ^ x[5] ^ x[6] ^ x[7];
    c[2] = x[2] ^ x[5];
    c[3] = x[3];
    c[4] = x[4] ^ x[6] ^ x[7];
    c[5] = x[2] ^ x[3];
    c[6] = x[1] ^ x[2] ^ x[3] ^ x[4] ^ x[5] ^ x[6];
    c[7] = x[1] ^ x[4] ^ x[6] ^ x[7];
    BitslicedInverse(c);
    s.p[0] = ~(c[0] ^ c[1] ^ c[4]);
    s.p[1] = ~(c[0] ^ c[2]);
    s.p[2] = c[0];
    s.p[3] = c[0] ^ c[1] ^ c[4] ^ c[6];
    s.p[4] = c[0] ^ c[3] ^ c[4];
    s.p[5] = ~(c[1] ^ c[3] ^ c[4]);
    s.p[6] = ~(c[4] ^ c[6] ^ c[7]);
    s.p[7] = c[2] ^ c[4] ^ c[5];
}

// InvSubBytes on planes: the inverse affine map and the basis change to the
// composite field in one step (the constant 0x63 becomes 0x66 there: planes
// 1, 2, 5 and 6 flip), the inversion, the basis change back.
void BitslicedInvSubBytes(PlaneState& s)
{
    const Plane* x = s.p;
    Plane c[8];
    c[0] = x[2];
    c[1] = ~(x[2] ^ x[4] ^ x[5]);
    c[2] = ~(x[1] ^ x[2]);
    c[3] = x[0] ^ x[2] ^ x[5];
    c[4] = x[0] ^ x[4] ^ x[5];
    c[5] = ~(x[0] ^ x[1] ^ x[2] ^ x[4] ^ x[5] ^ x[7]);
    c[6] = ~(x[0] ^ x[3]);
    c[7] = x[3] ^ x[4] ^ x[5] ^ x[6];
    BitslicedInverse(c);
    s.p[0] = c[0] ^ c[1] ^ c[2] ^ c[3] ^ c[5];
    s.p[1] = c[4] ^ c[7];
    s.p[2] = c[3] ^ c[5];
    s.p[3] = c[3];
    s.p[4] = c[1] ^ c[2] ^ c[7];
    s.p[5] = c[2] ^ c[3] ^ c[5];
    s.p[6] = c[1] ^ c[3] ^ c[4] ^ c[6];
    s.p[7] = c[2] ^ c[3] ^ c[6] ^ c[7];
}

[[gnu::flatten]] void BitslicedEncryptGroup(const BitslicedSchedule& keys, PlaneState& s)
{
    BitslicedAddRoundKey(s, keys.roundKey[0]);
    for (int round = 1; round < 14; ++round) {
        BitslicedSubBytes(s);
        BitslicedShiftRows(s);
        BitslicedMixColumns(s);
        BitslicedAddRoundKey(s, keys.roundKey[round]);
    }
    BitslicedSubBytes(s);
    BitslicedShiftRows(s);
    BitslicedAddRoundKey(s, keys.roundKey[14]);
}

[[gnu::flatten]] void BitslicedDecryptGroup(const BitslicedSchedule& keys, PlaneState& s)
{
    BitslicedAddRoundKey(s, keys.roundKey[14]);
    for (int round = 13; round > 0; --round) {
        BitslicedInvShiftRows(s);
        BitslicedInvSubBytes(s);
        BitslicedAddRoundKey(s, keys.roundKey[round]);
        BitslicedInvMixColumns(s);
    }
    BitslicedInvShiftRows(s);
    BitslicedInvSubBytes(s);
    BitslicedAddRoundKey(s, keys.roundKey[0]);
}

// Round keys 0..14 (key-schedule words w0..w59), stepped forward from the key.
void ExpandRoundKeys(const std::uint8_t key[32], std::uint8_t roundKeys[240])
{
    std::uint8_t k[32];
    std::memcpy(k, key, 32);
    std::memcpy(roundKeys, k, 32);
    std::uint8_t rcon = 0x01;
    for (std::size_t offset = 32; offset < 240; offset += 32) {
        ExpandKeyForward(k, rcon);
        std::memcpy(roundKeys + offset, k, offset + 32 <= 240 ? 32 : 240 - offset);
    }
    SecureWipe(k, sizeof k);
}

void ExpandBitslicedSchedule(const std::uint8_t key[32], BitslicedSchedule& keys)
{
    std::uint8_t roundKeys[240];
    std::uint8_t repeated[kGroupBytes];
    ExpandRoundKeys(key, roundKeys);
    for (int round = 0; round < 15; ++round) {
        for (int j = 0; j < kGroupBlocks; ++j)
            std::memcpy(repeated + 16 * j, roundKeys + 16 * round, 16);
        Pack(repeated, keys.roundKey[round]);
    }
    SecureWipe(roundKeys, sizeof roundKeys);
    SecureWipe(repeated, sizeof repeated);
}

using GroupFunction = void (*)(const BitslicedSchedule&, PlaneState&);

// Runs a whole buffer through the bitsliced cipher, a group at a time; a last
// group of fewer blocks goes through a zero-padded local copy.
void BitslicedBlocks(const Aes256Context& context, std::uint8_t* data, std::size_t blockCount,
                     GroupFunction group)
{
    if (blockCount == 0)
        return;
    BitslicedSchedule keys;
    PlaneState state;
    ExpandBitslicedSchedule(context.firstKeys, keys);
    std::size_t whole = blockCount / kGroupBlocks;
    for (std::size_t g = 0; g < whole; ++g, data += kGroupBytes) {
        Pack(data, state);
        group(keys, state);
        Unpack(state, data);
    }
    const std::size_t rest = (blockCount % kGroupBlocks) * 16;
    if (rest != 0) {
        std::uint8_t tail[kGroupBytes] = {};
        std::memcpy(tail, data, rest);
        Pack(tail, state);
        group(keys, state);
        Unpack(state, tail);
        std::memcpy(data, tail, rest);
        SecureWipe(tail, sizeof tail);
    }
    SecureWipe(&state, sizeof state);
    SecureWipe(&keys, sizeof keys);
}

} // namespace

// ---------------------------------------------------------------------------
// Public operations.
// ---------------------------------------------------------------------------

std::uint8_t SBoxForward(std::uint8_t x)
{
    const std::uint8_t b = GfInverse(x);
    return static_cast<std::uint8_t>(b ^ RotateLeft8(b, 1) ^ RotateLeft8(b, 2) ^ RotateLeft8(b, 3) ^
                                     RotateLeft8(b, 4) ^ 0x63);
}

std::uint8_t SBoxInverse(std::uint8_t y)
{
    const std::uint8_t t = static_cast<std::uint8_t>(y ^ 0x63);
    return GfInverse(static_cast<std::uint8_t>(RotateLeft8(t, 1) ^ RotateLeft8(t, 3) ^ RotateLeft8(t, 6)));
}

// Words are 4 bytes: k[4i..4i+3] is word i of the eight.
void ExpandKeyForward(std::uint8_t k[32], std::uint8_t& rcon)
{
    k[0] = static_cast<std::uint8_t>(k[0] ^ SBoxForward(k[29]) ^ rcon);
    k[1] ^= SBoxForward(k[30]);
    k[2] ^= SBoxForward(k[31]);
    k[3] ^= SBoxForward(k[28]);
    rcon = XTime(rcon);
    for (int i = 4; i < 16; ++i)
        k[i] ^= k[i - 4];
    for (int i = 16; i < 20; ++i)
        k[i] ^= SBoxForward(k[i - 4]);
    for (int i = 20; i < 32; ++i)
        k[i] ^= k[i - 4];
}

void ExpandKeyBackward(std::uint8_t k[32], std::uint8_t& rcon)
{
    for (int i = 31; i >= 20; --i)
        k[i] ^= k[i - 4];
    for (int i = 16; i < 20; ++i)
        k[i] ^= SBoxForward(k[i - 4]);
    for (int i = 15; i >= 4; --i)
        k[i] ^= k[i - 4];
    // Division by x: x * 0x8D = 1 modulo the AES polynomial.
    rcon = static_cast<std::uint8_t>((rcon >> 1) ^ (0x8Du & (0u - (rcon & 1u))));
    k[0] = static_cast<std::uint8_t>(k[0] ^ SBoxForward(k[29]) ^ rcon);
    k[1] ^= SBoxForward(k[30]);
    k[2] ^= SBoxForward(k[31]);
    k[3] ^= SBoxForward(k[28]);
}

void Aes256Init(Aes256Context& context, const std::uint8_t key[32])
{
    std::memset(&context, 0, sizeof context);
    std::memcpy(context.firstKeys, key, 32);
    std::memcpy(context.lastKeys, key, 32);
    std::uint8_t rcon = 0x01;
    for (int step = 0; step < 7; ++step)
        ExpandKeyForward(context.lastKeys, rcon);
}

// workKey holds words w(8i)..w(8i+7) after i forward steps: round key 2i in
// bytes 0..15, round key 2i + 1 in bytes 16..31.
void Aes256EncryptBlock(Aes256Context& context, std::uint8_t block[16])
{
    std::uint8_t* key = context.workKey;
    std::memcpy(key, context.firstKeys, 32);
    AddRoundKey(block, key);
    std::uint8_t rcon = 0x01;
    for (int round = 1; round < 14; ++round) {
        SubBytes(block);
        ShiftRows(block);
        MixColumns(block);
        if (round % 2 == 1) {
            AddRoundKey(block, key + 16);
        } else {
            ExpandKeyForward(key, rcon);
            AddRoundKey(block, key);
        }
    }
    SubBytes(block);
    ShiftRows(block);
    ExpandKeyForward(key, rcon);
    AddRoundKey(block, key);
}

// Starts from w56..w63 and steps backwards; each backward step uses the
// constant of the forward step it undoes (0x40 first, down to 0x01).
void Aes256DecryptBlock(Aes256Context& context, std::uint8_t block[16])
{
    std::uint8_t* key = context.workKey;
    std::memcpy(key, context.lastKeys, 32);
    AddRoundKey(block, key);
    InvShiftRows(block);
    InvSubBytes(block);
    std::uint8_t rcon = 0x80;
    for (int round = 13; round > 0; --round) {
        if (round % 2 == 1) {
            ExpandKeyBackward(key, rcon);
            AddRoundKey(block, key + 16);
        } else {
            AddRoundKey(block, key);
        }
        InvMixColumns(block);
        InvShiftRows(block);
        InvSubBytes(block);
    }
    AddRoundKey(block, key);
}

bool Aes256PathAvailable(Aes256Path path)
{
    return path == Aes256Path::Portable || detail::Aes256HardwarePathAvailable(path);
}

Aes256Path Aes256SelectedPath()
{
    static const Aes256Path selected = [] {
        if (Aes256PathAvailable(Aes256Path::Vaes))
            return Aes256Path::Vaes;
        if (Aes256PathAvailable(Aes256Path::AesNi))
            return Aes256Path::AesNi;
        return Aes256Path::Portable;
    }();
    return selected;
}

const char* Aes256PathName(Aes256Path path)
{
    switch (path) {
    case Aes256Path::Portable:
        return "portable";
    case Aes256Path::AesNi:
        return "aes-ni";
    case Aes256Path::Vaes:
        return "vaes";
    }
    return "unknown";
}

void Aes256EncryptBlocksOn(Aes256Path path, Aes256Context& context, std::uint8_t* data,
                           std::size_t blockCount)
{
    if (path != Aes256Path::Portable && detail::Aes256HardwarePathAvailable(path))
        detail::Aes256EncryptBlocksHardware(path, context.firstKeys, data, blockCount);
    else
        BitslicedBlocks(context, data, blockCount, BitslicedEncryptGroup);
}

void Aes256DecryptBlocksOn(Aes256Path path, Aes256Context& context, std::uint8_t* data,
                           std::size_t blockCount)
{
    if (path != Aes256Path::Portable && detail::Aes256HardwarePathAvailable(path))
        detail::Aes256DecryptBlocksHardware(path, context.firstKeys, data, blockCount);
    else
        BitslicedBlocks(context, data, blockCount, BitslicedDecryptGroup);
}

void Aes256EncryptBlocks(Aes256Context& context, std::uint8_t* data, std::size_t blockCount)
{
    Aes256EncryptBlocksOn(Aes256SelectedPath(), context, data, blockCount);
}

void Aes256DecryptBlocks(Aes256Context& context, std::uint8_t* data, std::size_t blockCount)
{
    Aes256DecryptBlocksOn(Aes256SelectedPath(), context, data, blockCount);
}

void Aes256Wipe(Aes256Context& context) noexcept
{
    SecureWipe(&context, sizeof context);
}

} // namespace tavro
