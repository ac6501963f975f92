// The key of a strong document: Argon2id (libsodium crypto_pwhash,
// ALG_ARGON2ID13) of a secret under the header's salt and limits. The
// secret is a password's UTF-8 bytes (key source 1) or the 64-byte BLAKE2b
// digest of a key file's whole content (key source 2). Everything here is
// thread-safe and keeps no state between calls: the window derives off its
// UI thread, where Argon2id's deliberate cost (a fraction of a second at
// the default limits) does not freeze it.
#pragma once

#include "key_derivation.h"
#include "key_holder.h"
#include "secure_memory.h"
#include "strong_format.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

namespace tavro {

inline constexpr std::size_t kKeyFileDigestSize = 64;

// BLAKE2b-512 (crypto_generichash, no key) of the key file at path, read
// as ReadKeyFileContent reads it (key_derivation.h: devices refused, a
// pipe waited on, progress, cancel). digest holds the 64 bytes when the
// status is Derived and is empty otherwise: a read that fails part-way is
// an error, never a shorter file.
KeyFileResult DigestKeyFile(const std::filesystem::path& path, SecureBytes& digest,
                            const KeyFileReading& reading = {});

// Derives the key of secret under parameters into key (bytes and
// parameters). False, with the key bytes zero, when the limits are outside
// the reader's range (refused before any memory is taken) or Argon2id
// fails (not enough memory).
bool DeriveStrongKey(std::span<const std::uint8_t> secret, const StrongParameters& parameters,
                     StrongKeyHolder& key);

// DeriveStrongKey of a password held as UTF-16 (as the window holds it):
// its UTF-8 bytes, made in wiped memory; an unpaired surrogate becomes
// U+FFFD, as StrongWriter writes it.
bool DeriveStrongKeyFromPassword(std::u16string_view password, const StrongParameters& parameters,
                                 StrongKeyHolder& key);

} // namespace tavro
