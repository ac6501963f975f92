// The strong document file (".tvrs"), byte for byte; integers little-endian:
//
//   offset  0   8 bytes  magic 89 54 56 52 53 0D 0A 1A ("\x89TVRS\r\n\x1a")
//   offset  8   1 byte   version, 1
//   offset  9   1 byte   key source: 1 password, 2 key file
//   offset 10   4 bytes  Argon2id opslimit
//   offset 14   4 bytes  Argon2id memlimit in KiB
//   offset 18  16 bytes  salt
//   offset 34  24 bytes  crypto_secretstream_xchacha20poly1305 header
//   offset 58            records
//
// The key is Argon2id (libsodium crypto_pwhash, ALG_ARGON2ID13, 32 bytes)
// of the password's UTF-8 bytes or of the 64-byte BLAKE2b digest of the key
// file's whole content, under the salt and limits above.
//
// The plaintext is the text in UTF-8, cut into pieces of 65,536 bytes. Each
// piece is one secretstream record of the piece's length + 17 bytes. Every
// record but the last holds a full piece and carries TAG_MESSAGE; the last
// carries TAG_FINAL and holds the rest: a text whose length is a multiple
// of 65,536 ends with its last full piece, an empty text is one empty
// record (an empty final record after a full one is also read). The first
// record authenticates bytes 0-57 as additional data, so no header byte can
// change unnoticed once the key is known.
//
// A file whose first 8 bytes are the magic is this format whatever its name;
// anything else is a ".tvro" document (document_file.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace tavro {

inline constexpr std::array<std::uint8_t, 8> kStrongMagic{0x89, 'T', 'V', 'R', 'S', 0x0D, 0x0A, 0x1A};
inline constexpr std::uint8_t kStrongVersion = 1;
inline constexpr std::size_t kStrongSaltSize = 16;
inline constexpr std::size_t kStrongStreamHeaderSize = 24;
inline constexpr std::size_t kStrongStreamHeaderOffset = 34;
inline constexpr std::size_t kStrongHeaderSize = 58;
inline constexpr std::size_t kStrongPieceSize = 65536;
inline constexpr std::size_t kStrongRecordOverhead = 17;
inline constexpr std::size_t kStrongRecordSize = kStrongPieceSize + kStrongRecordOverhead;

enum class StrongKeySource : std::uint8_t { Password = 1, KeyFile = 2 };

// Argon2id cost: passes over memLimitKiB KiB of memory.
struct StrongLimits {
    std::uint32_t opsLimit = 3;
    std::uint32_t memLimitKiB = 65536;
    bool operator==(const StrongLimits&) const = default;
};

// New documents: 3 passes over 64 MiB.
inline constexpr StrongLimits kStrongDefaultLimits{3, 65536};
// The range a reader takes, checked before anything is derived, so that a
// hostile header cannot make the program spend gigabytes or minutes.
inline constexpr StrongLimits kStrongMinLimits{1, 8};
inline constexpr StrongLimits kStrongMaxLimits{10, 1u << 20};

// Whether both limits lie in the reader's range (bounds included).
bool StrongLimitsAllowed(StrongLimits limits);

using StrongSalt = std::array<std::uint8_t, kStrongSaltSize>;

// The header fields a key is derived under (everything but the magic, the
// version and the secretstream header).
struct StrongParameters {
    StrongKeySource source = StrongKeySource::Password;
    StrongLimits limits = kStrongDefaultLimits;
    StrongSalt salt{};
    bool operator==(const StrongParameters&) const = default;
};

// Fills size bytes at data with random bytes.
using RandomSource = std::function<void(std::uint8_t* data, std::size_t size)>;

// libsodium's randombytes_buf: the system's random source. Aborts when
// libsodium cannot start (no random source): no salt may be made without one.
void SystemRandom(std::uint8_t* data, std::size_t size);

// Parameters of a new key (a new document, or a re-key): source and limits
// as given, a fresh salt from random.
StrongParameters NewStrongParameters(StrongKeySource source, StrongLimits limits = kStrongDefaultLimits,
                                     const RandomSource& random = SystemRandom);

enum class DocumentFormat { Tvro, Strong };

// The reader a file needs, from its first bytes (8, or the whole file when
// shorter): the magic means the strong format, anything else ".tvro".
DocumentFormat DetectDocumentFormat(std::span<const std::uint8_t> fileStart);

// The verdict on a strong document. The first five come from the header
// alone (no key needed); the rest from reading the records with a key.
enum class StrongCheck {
    Sound,
    ShortHeader,      // the file ends inside the 58-byte header
    NotStrong,        // the first 8 bytes are not the magic
    UnknownVersion,   // a version other than 1
    UnknownKeySource, // a key source other than 1 or 2
    LimitsRefused,    // Argon2id limits outside the reader's range
    WrongKey,         // the first record fails: wrong password or key file, or a damaged header
    DamagedRecord,    // a later record fails, or carries a tag no writer uses
    MissingEnd,       // the file ends before its final record (cut short, or a record cut)
    TrailingBytes,    // bytes follow the final record
};

// One-line English description of a verdict, for tools and logs.
const char* StrongCheckMessage(StrongCheck check);

// The parameters of fileStart's header (its first 58 bytes; fewer give
// ShortHeader). Returns Sound and fills parameters, or the first header
// fault found, leaving parameters untouched.
StrongCheck ParseStrongHeader(std::span<const std::uint8_t> fileStart, StrongParameters& parameters);

// Writes the 58 header bytes at header.
void PutStrongHeader(std::uint8_t* header, const StrongParameters& parameters,
                     std::span<const std::uint8_t, kStrongStreamHeaderSize> streamHeader);

// libsodium initialised, once for the process, from any thread. False when
// it cannot be (no random source); nothing of the format works then.
bool SodiumReady();

} // namespace tavro
