#include "read_judgement.h"

#include "code_page_units.h"
#include "document_file.h"

#include <unicode/uchar.h>

#include <array>
#include <bit>
#include <cstring>
#include <memory>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace tavro {
namespace {

constexpr std::size_t kBlockSize = 16;

// What one UTF-16 unit says about a text, in a byte: the character tests it
// fails (kControl..kUnassigned, in the order of their ReadDoubt bits), or
// kRare, or nothing (ordinary). Surrogates are marked kSurrogate and judged
// in pairs.
constexpr std::uint8_t kControl = 1u << 0;
constexpr std::uint8_t kReplacement = 1u << 1;
constexpr std::uint8_t kPrivateUse = 1u << 2;
constexpr std::uint8_t kUnassigned = 1u << 3;
constexpr std::uint8_t kSurrogate = 1u << 6;
constexpr std::uint8_t kRare = 1u << 7;
constexpr std::uint8_t kFailures = 0x0F;
static_assert(static_cast<std::uint32_t>(ReadDoubt::Control) == 1u << 5 &&
                  static_cast<std::uint32_t>(ReadDoubt::Unassigned) == 1u << 8,
              "the character tests are four consecutive bits from bit 5");
constexpr std::uint32_t Doubts(std::uint8_t verdicts) { return static_cast<std::uint32_t>(verdicts & kFailures) << 5; }

using UnitVerdicts = std::array<std::uint8_t, 0x10000>;

// Ordinary beyond ASCII: the euro sign, GB2312 (lead and trail bytes
// 0xA1-0xFE, lead at most 0xF7) and the GBK symbols (lead 0xA8-0xA9, trail
// below 0xA1). The user-defined rows inside these ranges decode to private
// use and are caught before this is asked.
bool OrdinaryInCodePage(std::uint16_t unit)
{
    if (unit == 0x80)
        return true;
    if (unit < 0x100 || unit == kUnmappedUnit)
        return false;
    const unsigned lead = unit >> 8;
    const unsigned trail = unit & 0xFF;
    const bool gb2312 = lead >= 0xA1 && lead <= 0xF7 && trail >= 0xA1;
    const bool gbkSymbol = (lead == 0xA8 || lead == 0xA9) && trail < 0xA1;
    return gb2312 || gbkSymbol;
}

// The verdict on a code point by its Unicode category alone: what is left
// for characters beyond the code page's own classes.
std::uint8_t CategoryVerdict(UChar32 c)
{
    switch (u_charType(c)) {
    case U_PRIVATE_USE_CHAR:
        return kPrivateUse;
    case U_UNASSIGNED: // noncharacters included
        return kUnassigned;
    case U_CONTROL_CHAR:
        return kControl;
    default:
        return 0;
    }
}

std::uint8_t UnitVerdict(const CodePageUnitTable& units, char16_t c)
{
    if (c == u'\t' || c == u'\n' || c == u'\r')
        return 0;
    if (IsSurrogate(c))
        return kSurrogate;
    if (c == 0xFFFD)
        return kReplacement;
    if (const std::uint8_t verdict = CategoryVerdict(c); verdict != 0)
        return verdict; // control, private use or unassigned
    return c < 0x80 || OrdinaryInCodePage(units[c]) ? 0 : kRare;
}

UnitVerdicts MakeUnitVerdicts()
{
    const CodePageUnitTable& units = CodePageUnits();
    UnitVerdicts verdicts{};
    for (std::uint32_t c = 0; c < 0x10000; ++c)
        verdicts[c] = UnitVerdict(units, static_cast<char16_t>(c));
    return verdicts;
}

const UnitVerdicts& Verdicts()
{
    static const std::unique_ptr<const UnitVerdicts> verdicts = std::make_unique<const UnitVerdicts>(MakeUnitVerdicts());
    return *verdicts;
}

// What DecodeAndJudgeByTable knows of the bytes at an index (a byte up to
// 0x80, or lead * 256 + trail): the UTF-8 of their character, and in meta
// its length less one (bits 0-1), the character tests it fails (bits 2-5,
// kControl..kUnassigned), whether it is rare (bit 6) and whether it is
// covered at all (bit 7): a character CodePageDecodeUnits holds whose unit
// encodes back to the same bytes.
struct TableCharacter {
    std::uint8_t utf8[3];
    std::uint8_t meta;
};
constexpr std::uint8_t kCovered = 0x80;
using CharacterTable = std::array<TableCharacter, 0x10000>;

CharacterTable MakeCharacterTable()
{
    const CodePageUnitTable& decode = CodePageDecodeUnits();
    const CodePageUnitTable& encode = CodePageUnits();
    const UnitVerdicts& verdicts = Verdicts();
    CharacterTable table{};
    for (std::uint32_t index = 0; index < 0x10000; ++index) {
        const std::uint32_t c = decode[index];
        if (c == kUnmappedUnit || encode[c] != index)
            continue;
        TableCharacter& entry = table[index];
        std::uint8_t length = 3;
        if (c < 0x80) {
            entry.utf8[0] = static_cast<std::uint8_t>(c);
            length = 1;
        } else if (c < 0x800) {
            entry.utf8[0] = static_cast<std::uint8_t>(0xC0 | c >> 6);
            entry.utf8[1] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
            length = 2;
        } else {
            entry.utf8[0] = static_cast<std::uint8_t>(0xE0 | c >> 12);
            entry.utf8[1] = static_cast<std::uint8_t>(0x80 | (c >> 6 & 0x3F));
            entry.utf8[2] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        }
        const std::uint8_t verdict = verdicts[c];
        entry.meta = static_cast<std::uint8_t>(kCovered | (length - 1) | (verdict & kFailures) << 2 | (verdict >> 7) << 6);
    }
    return table;
}

const CharacterTable& TableCharacters()
{
    static const std::unique_ptr<const CharacterTable> table =
        std::make_unique<const CharacterTable>(MakeCharacterTable());
    return *table;
}

// A character beyond the Basic Multilingual Plane: never in the code page,
// so rare unless its category fails outright.
std::uint8_t SupplementaryVerdict(char16_t high, char16_t low)
{
    const std::uint8_t verdict = CategoryVerdict(static_cast<UChar32>(SurrogatePairCodePoint(high, low)));
    return verdict != 0 ? verdict : kRare;
}

constexpr std::uint32_t Bits(ReadDoubt doubt) { return static_cast<std::uint32_t>(doubt); }

constexpr ReadDoubt kAllDoubts[] = {
    ReadDoubt::HeaderCutShort, ReadDoubt::PartialBlock, ReadDoubt::PadCount,    ReadDoubt::Crc,
    ReadDoubt::RoundTrip,      ReadDoubt::Control,      ReadDoubt::Replacement, ReadDoubt::PrivateUse,
    ReadDoubt::Unassigned,     ReadDoubt::RareShare,
};

} // namespace

const char* ReadDoubtMessage(ReadDoubt doubt)
{
    switch (doubt) {
    case ReadDoubt::HeaderCutShort:
        return "the file is shorter than its 5-byte header";
    case ReadDoubt::PartialBlock:
        return "the cipher body is not a whole number of 16-byte blocks";
    case ReadDoubt::PadCount:
        return "the pad count in the header is not one a writer produces";
    case ReadDoubt::Crc:
        return "the stored CRC-32 does not match the cipher body";
    case ReadDoubt::RoundTrip:
        return "the text does not encode back to the bytes it was read from";
    case ReadDoubt::Control:
        return "the text holds control characters";
    case ReadDoubt::Replacement:
        return "the text holds replacement characters (U+FFFD)";
    case ReadDoubt::PrivateUse:
        return "the text holds private-use characters";
    case ReadDoubt::Unassigned:
        return "the text holds unassigned code points";
    case ReadDoubt::RareShare:
        return "too many of its characters are ones real text rarely uses";
    }
    return "unknown";
}

std::string DescribeDoubts(std::uint32_t doubts)
{
    std::string description;
    for (ReadDoubt doubt : kAllDoubts) {
        if ((doubts & static_cast<std::uint32_t>(doubt)) == 0)
            continue;
        if (!description.empty())
            description += "; ";
        description += ReadDoubtMessage(doubt);
    }
    return description;
}

bool DecodeAndJudgeByTable(std::span<const std::uint8_t> plaintext, std::uint8_t* const out, std::size_t& written,
                           ReadJudgement& judgement)
{
    const CharacterTable& table = TableCharacters();
    const std::uint8_t* const in = plaintext.data();
    const std::size_t n = plaintext.size();
    std::uint8_t* o = out;
    std::uint8_t seen = 0; // the metas of all characters, or-ed
    std::uint64_t rare = 0;
    std::uint64_t characters = 0;
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t lead = in[i];
#if defined(__x86_64__)
        // From an ASCII byte on, the printable ones that follow, up to
        // sixteen at a time (SSE2, which every x86-64 runs): ordinary
        // characters, the same in UTF-8.
        if (lead < 0x80 && i + 16 <= n) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            const __m128i printable = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(0x1F)),
                                                    _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x7F)));
            const auto run = static_cast<std::size_t>(
                std::countr_zero(~static_cast<unsigned>(_mm_movemask_epi8(printable))));
            if (run > 0) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o), bytes);
                o += run;
                i += run;
                characters += run;
                continue;
            }
        }
#endif
        // A byte up to 0x80 is a character of its own, any other a lead byte.
        const bool pair = lead > 0x80;
        if (pair && i + 1 == n)
            return false;
        const TableCharacter& character = table[pair ? static_cast<std::uint32_t>(lead << 8 | in[i + 1]) : lead];
        const std::uint8_t meta = character.meta;
        if (meta < kCovered)
            return false;
        // Its UTF-8 and its meta after it, which the next character overwrites.
        std::memcpy(o, &character, sizeof character);
        o += 1 + (meta & 3);
        i += 1 + pair;
        seen |= meta;
        rare += meta >> 6 & 1;
        ++characters;
    }
    written = static_cast<std::size_t>(o - out);
    judgement = ReadJudgement{Doubts(static_cast<std::uint8_t>(seen >> 2 & kFailures)), characters, rare};
    return true;
}

// --- ReadJudge ---------------------------------------------------------------

void ReadJudge::AddText(std::u16string_view text)
{
    match_.AddText(text);
    const UnitVerdicts& verdicts = Verdicts();
    // Without surrogates, each unit is one character judged by the table
    // alone: the common case, without a branch.
    std::uint8_t seen = 0;
    std::uint64_t rare = 0;
    for (const char16_t c : text) {
        const std::uint8_t verdict = verdicts[c];
        seen |= verdict;
        rare += verdict >> 7;
    }
    if ((seen & kSurrogate) == 0 && heldHigh_ == 0) {
        doubts_ |= Doubts(seen);
        rare_ += rare;
        characters_ += text.size();
        return;
    }
    // Again, a character at a time, pairing the surrogates.
    for (const char16_t c : text) {
        std::uint8_t verdict = verdicts[c];
        if (heldHigh_ != 0 && IsLowSurrogate(c)) {
            verdict = SupplementaryVerdict(heldHigh_, c);
            heldHigh_ = 0;
        } else {
            if (heldHigh_ != 0) {
                doubts_ |= Doubts(kUnassigned); // a high surrogate left alone
                ++characters_;
                heldHigh_ = 0;
            }
            if (IsHighSurrogate(c)) {
                heldHigh_ = c;
                continue;
            }
            if (IsLowSurrogate(c))
                verdict = kUnassigned;
        }
        ++characters_;
        rare_ += verdict >> 7;
        doubts_ |= Doubts(verdict);
    }
}

void ReadJudge::AddPlaintext(std::span<const std::uint8_t> bytes)
{
    // The text ends at a 0x00 byte: no text gives it back, and the bytes
    // after it are not compared.
    if (nulMet_)
        return;
    nulMet_ = std::memchr(bytes.data(), 0, bytes.size()) != nullptr;
    if (!nulMet_)
        match_.AddBytes(bytes);
}

ReadJudgement ReadJudge::Finish(std::size_t fileSize, std::uint8_t padCount, bool crcMatches)
{
    ReadJudgement judgement;
    std::uint32_t doubts = doubts_;
    if (fileSize > 0 && fileSize < kDocumentHeaderSize) {
        doubts |= Bits(ReadDoubt::HeaderCutShort);
    } else if (fileSize > 0) {
        const std::size_t bodySize = fileSize - kDocumentHeaderSize;
        if (!crcMatches)
            doubts |= Bits(ReadDoubt::Crc);
        if (bodySize % kBlockSize != 0)
            doubts |= Bits(ReadDoubt::PartialBlock);
        if (padCount >= kBlockSize || padCount > bodySize)
            doubts |= Bits(ReadDoubt::PadCount);
    }
    if (heldHigh_ != 0) {
        doubts |= Doubts(kUnassigned);
        ++characters_;
        heldHigh_ = 0;
    }
    if (nulMet_ || !match_.Finish())
        doubts |= Bits(ReadDoubt::RoundTrip);
    if (rare_ * kRareShareDivisor > characters_)
        doubts |= Bits(ReadDoubt::RareShare);
    judgement.doubts = doubts;
    judgement.characters = characters_;
    judgement.rare = rare_;
    return judgement;
}

} // namespace tavro
