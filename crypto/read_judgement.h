// Whether a document was read cleanly or the read is doubtful: a wrong key,
// a damaged file or a file that is no document at all. The format has no key
// check, so a wrong key is told from the right one only by what it yields:
// random bytes, which seldom make text a person wrote. The judgement works
// on the text as the streaming reader hands it out, piece by piece, and
// holds nothing of it but a few counters (and the round-trip comparison's
// short unmatched tail).
//
// A read is clean only when every test passes:
//   header      the file is 0 bytes (an empty document) or has all 5 header bytes
//   CRC         the stored CRC-32 matches the cipher body
//   blocks      the body is whole 16-byte blocks
//   pad count   0..15, and 0 for an empty body: what a writer produces
//   round trip  the text encodes back to exactly the plaintext bytes, and
//               there is no 0x00 byte in them (see CodePageMatch)
//   characters  no control character but tab, line feed and carriage return
//               (C0, DEL, C1), no U+FFFD, no private-use character, no
//               unassigned code point (noncharacters and lone surrogates
//               included)
//   rare share  at most one character in kRareShareDivisor is rare (below)
//
// Rare characters. Code page 936 holds GB2312 (the characters and symbols a
// Simplified Chinese input method writes) and, beyond it, the 14,000 rare
// ideographs GBK adds (traditional and archaic forms). Ordinary are: printable
// ASCII, tab, line feed, carriage return, the euro sign, every GB2312
// character and the GBK symbols (lead bytes 0xA8-0xA9, trail bytes below 0xA1,
// where 〇 lives). Rare is every other character that is no hard failure: the
// GBK ideographs, and any character outside the code page. Random bytes
// decode to rare ideographs in 59% of their double-byte pairs, real
// Simplified Chinese text almost never: a text of fewer than kRareShareDivisor
// characters may hold no rare character, a longer one one per
// kRareShareDivisor characters. So a short note of random bytes has to be
// made of ordinary characters alone to pass, which from 16 bytes up is rarer
// than one in a thousand (see bench/read_judgement_bench.cpp). The price:
// traditional Chinese, or a short note with a rare ideograph, reads as
// doubtful.
#pragma once

#include "code_page_match.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tavro {

// Each test that can fail, as a bit of ReadJudgement::doubts.
enum class ReadDoubt : std::uint32_t {
    HeaderCutShort = 1u << 0, // 1 to 4 bytes
    PartialBlock = 1u << 1,   // body length not a multiple of 16
    PadCount = 1u << 2,       // pad count above 15, or above 0 for an empty body
    Crc = 1u << 3,            // stored CRC differs from the CRC of the body
    RoundTrip = 1u << 4,      // the text does not encode back to the plaintext bytes
    Control = 1u << 5,        // a control character other than tab, line feed, carriage return
    Replacement = 1u << 6,    // U+FFFD
    PrivateUse = 1u << 7,     // U+E000-U+F8FF, planes 15 and 16
    Unassigned = 1u << 8,     // an unassigned code point, a noncharacter or a lone surrogate
    RareShare = 1u << 9,      // more than one character in kRareShareDivisor is rare
};

// The tests of the file's shape and CRC, which need no key.
inline constexpr std::uint32_t kFileDoubts = 0xF;

// At most one rare character per this many characters.
inline constexpr std::uint64_t kRareShareDivisor = 16;

struct ReadJudgement {
    std::uint32_t doubts = 0;      // ReadDoubt bits of every test that failed
    std::uint64_t characters = 0;  // code points of the text
    std::uint64_t rare = 0;        // of which rare

    bool clean() const { return doubts == 0; }
    bool Has(ReadDoubt doubt) const { return (doubts & static_cast<std::uint32_t>(doubt)) != 0; }
};

// One short English phrase naming a failed test, e.g. "the stored CRC-32
// does not match the cipher body".
const char* ReadDoubtMessage(ReadDoubt doubt);

// The phrases of every bit in doubts, in the order of the enum, joined by
// "; "; empty when there is none.
std::string DescribeDoubts(std::uint32_t doubts);

// ReadJudge, CodePageDecoder and UTF-8 in one pass by table, for a reader
// that decodes pieces of the plaintext apart (tavro-cli, on two cores):
// each piece starts on a character and ends on one, or where the text ends.
// Covers the characters whose bytes CodePageDecodeUnits holds and that
// encode back to those bytes. Writes the piece's text as UTF-8 at out, which
// has room for 3 bytes per plaintext byte and 1 more, sets written and
// judgement (what a ReadJudge over the piece alone has reached before
// Finish: the character tests, the counts) and returns true. Returns false
// at the first byte it does not cover (0x00, a pair the table lacks, a lead
// byte at the end): the caller then decodes the piece the general way.
bool DecodeAndJudgeByTable(std::span<const std::uint8_t> plaintext, std::uint8_t* out, std::size_t& written,
                           ReadJudgement& judgement);

// The text tests over a read in pieces. Give it the text and the plaintext
// bytes it was decoded from (the reader's two sinks), in any interleaving,
// then the file's shape. JudgedReader (document_stream.h) wires it to a
// reader; DecryptDocument (document_file.h) judges every read.
class ReadJudge {
public:
    void AddText(std::u16string_view text);
    void AddPlaintext(std::span<const std::uint8_t> bytes);
    // The judgement of the whole read, given the file's size, its pad count
    // and whether its CRC matched; nothing may be added afterwards.
    ReadJudgement Finish(std::size_t fileSize, std::uint8_t padCount, bool crcMatches);

private:
    CodePageMatch match_;
    std::uint32_t doubts_ = 0;
    std::uint64_t characters_ = 0;
    std::uint64_t rare_ = 0;
    char16_t heldHigh_ = 0; // a high surrogate waiting for its pair
    bool nulMet_ = false;   // the plaintext held a 0x00 byte: the text ended there
};

} // namespace tavro
