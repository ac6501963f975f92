// MD5 (RFC 1321), bit for bit.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace tavro {

struct Md5Context {
    std::uint32_t state[4];    // chaining words A, B, C, D
    std::uint32_t bitCount[2]; // message length in bits, low word first
    std::uint8_t buffer[64];   // tail not yet compressed: (bitCount[0] / 8) mod 64 bytes
    std::uint8_t digest[16];   // valid once finalized
    bool finalized;
};

// Sets the RFC 1321 chaining values, a zero bit count, finalized = false.
void Md5Init(Md5Context& context);

// Feeds length bytes; a length of 0 changes nothing.
void Md5Update(Md5Context& context, const std::uint8_t* bytes, std::uint32_t length);

// Feeds the whole content of an open binary stream in 1024-byte reads, then
// closes it. A stream already failed on entry is returned at once, neither
// read nor closed. A read that fails part-way ends the input like end of
// file: the bytes so far count. Never throws for stream errors.
void Md5UpdateFromStream(Md5Context& context, std::ifstream& stream);

// Compresses one 64-byte block (sixteen little-endian words) into state.
void Md5Transform(Md5Context& context, const std::uint8_t block[64]);

// Appends the padding and the 64-bit length, writes digest (state words
// A, B, C, D, each little-endian), sets finalized and wipes buffer.
// Feed nothing after it: a context yields one digest.
void Md5Finalize(Md5Context& context);

// The digest as exactly 32 lower-case hex characters; finalizes first if needed.
std::string Md5HexDigest(Md5Context& context);

} // namespace tavro
