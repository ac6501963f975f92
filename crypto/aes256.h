// AES-256 (FIPS-197: Nk = 8, Nr = 14, 16-byte blocks), table-free.
//
// The context keeps only two 32-byte starting points of the key schedule;
// every block operation regenerates its round keys, stepping the schedule
// forwards while encrypting and backwards while decrypting. No S-box,
// round-key or multiplication table exists anywhere in this cipher, and the
// S-box is computed in constant time (no branch or address depends on a
// secret byte).
//
// Byte order is that of FIPS-197: byte k of a block is row k mod 4 of
// column k div 4; key-schedule word w0 is key bytes 0..3.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavro {

struct Aes256Context {
    std::uint8_t workKey[32];   // scratch of one block operation; meaningless between calls
    std::uint8_t firstKeys[32]; // w0..w7: the cipher key (round keys 0 and 1)
    std::uint8_t lastKeys[32];  // w56..w63: round key 14, then the 4 words the 7th step yields beyond it
};

// Zeroes the context, stores the key as firstKeys and steps a copy of it
// seven times forward (rcon 0x01..0x40) into lastKeys.
void Aes256Init(Aes256Context& context, const std::uint8_t key[32]);

// Encrypts one 16-byte block in place. Changes workKey only.
void Aes256EncryptBlock(Aes256Context& context, std::uint8_t block[16]);

// Decrypts one 16-byte block in place. Changes workKey only.
void Aes256DecryptBlock(Aes256Context& context, std::uint8_t block[16]);

// ECB over blockCount consecutive 16-byte blocks in place, on the fastest
// path this CPU offers (see Aes256SelectedPath). Round keys worked out for
// the call live in locals that are wiped before returning. They read
// firstKeys only and leave the context as it was.
void Aes256EncryptBlocks(Aes256Context& context, std::uint8_t* data, std::size_t blockCount);
void Aes256DecryptBlocks(Aes256Context& context, std::uint8_t* data, std::size_t blockCount);

// Implementations of the bulk calls. Every path gives identical results.
enum class Aes256Path {
    Portable, // table-free, constant-time C++ (bitsliced, eight blocks at a time)
    AesNi,    // x86-64 AES-NI, twelve blocks in flight
    Vaes,     // x86-64 VAES on 256-bit vectors, sixteen blocks in flight
};

// True when the running CPU can execute the path (Portable: always).
bool Aes256PathAvailable(Aes256Path path);

// The path Aes256EncryptBlocks/DecryptBlocks use, chosen once by CPU detection.
Aes256Path Aes256SelectedPath();

// Printable name of a path ("portable", "aes-ni", "vaes").
const char* Aes256PathName(Aes256Path path);

// The bulk calls on an explicit path. A path the CPU lacks is not executed:
// the portable path runs instead, with the same result.
void Aes256EncryptBlocksOn(Aes256Path path, Aes256Context& context, std::uint8_t* data,
                           std::size_t blockCount);
void Aes256DecryptBlocksOn(Aes256Path path, Aes256Context& context, std::uint8_t* data,
                           std::size_t blockCount);

// Wipes all three arrays of the context.
void Aes256Wipe(Aes256Context& context) noexcept;

namespace detail {

// The hardware paths (aes256_x86.cpp). They read only the cipher key
// (firstKeys); callers check Aes256HardwarePathAvailable first.
bool Aes256HardwarePathAvailable(Aes256Path path);
void Aes256EncryptBlocksHardware(Aes256Path path, const std::uint8_t key[32], std::uint8_t* data,
                                 std::size_t blockCount);
void Aes256DecryptBlocksHardware(Aes256Path path, const std::uint8_t key[32], std::uint8_t* data,
                                 std::size_t blockCount);

} // namespace detail

// --- Building blocks, exposed for tests ---

// One step of the Nk = 8 key expansion: replaces words w[i..i+7] in k by
// w[i+8..i+15]; uses rcon, then sets rcon = xtime(rcon).
void ExpandKeyForward(std::uint8_t k[32], std::uint8_t& rcon);

// The exact inverse of ExpandKeyForward: first divides rcon by x in GF(2^8),
// then replaces the eight words in k by the eight before them.
void ExpandKeyBackward(std::uint8_t k[32], std::uint8_t& rcon);

// The AES S-box and its inverse, computed (inverse in GF(2^8) by a fixed
// exponentiation, then the affine map) in constant time.
std::uint8_t SBoxForward(std::uint8_t x);
std::uint8_t SBoxInverse(std::uint8_t y);

} // namespace tavro
