// A recovery copy's bytes: text the editor could not store in its document
// when it was ended (a signal, the desktop session's end), sealed under a key
// made from that document's own key, so only someone who opens the document
// can read it. Every character is kept, whatever the document's format can hold.
//
// Layout (all of it authenticated):
//   0   8   magic "TVRRCV1\n"
//   8   24  nonce, random
//   32  n   XChaCha20-Poly1305 (IETF AEAD) of the text as UTF-16LE, then
//           its 16-byte tag; the additional data is the magic followed by
//           the document's path, so a copy answers for one document only
// Key: BLAKE2b-256 (crypto_generichash) over "tavro recovery copy", keyed
// with the document's 32 key bytes (a .tvro key's hex digits or a strong key).
#pragma once

#include "session_key.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

inline constexpr std::size_t kRecoveryOverhead = 8 + 24 + 16;

// The sealed bytes of text for the document at documentPath under key.
std::vector<std::uint8_t> SealRecoveryCopy(const SessionKey& key, std::string_view documentPath,
                                           std::u16string_view text);

// The text of a copy sealed for documentPath under key; nullopt when the
// bytes are not such a copy (another key, another document, damage).
// The caller wipes the text.
std::optional<std::u16string> OpenRecoveryCopy(const SessionKey& key, std::string_view documentPath,
                                               std::span<const std::uint8_t> bytes);

} // namespace tavro
