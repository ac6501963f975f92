// The key an open document is read and written under, whichever its
// format: a .tvro key (32 hex characters of an MD5, or all zero), or a
// strong key (Argon2id output with the salt and limits its file's header
// carries). Move-only and wiped like the holders it is made of.
//
// And how one is made from what the user gives (a typed password or a key
// file), for a document being opened (the strong header's parameters) or
// a key chosen now (fresh parameters): MakeSessionKey, which can take long
// (a large key file, Argon2id by design) and so runs off a window's UI
// thread, reporting progress and taking a cancel flag.
#pragma once

#include "key_derivation.h"
#include "key_holder.h"
#include "secure_memory.h"
#include "strong_format.h"

#include <filesystem>
#include <optional>
#include <string>

namespace tavro {

class SessionKey {
public:
    // A .tvro document's all-zero key (no password given).
    SessionKey() = default;
    explicit SessionKey(KeyHolder key) : m_tvro(std::move(key)) {}
    explicit SessionKey(StrongKeyHolder key) : m_format(DocumentFormat::Strong), m_strong(std::move(key)) {}

    DocumentFormat format() const { return m_format; }
    const KeyHolder& tvro() const { return m_tvro; }           // DocumentFormat::Tvro
    const StrongKeyHolder& strong() const { return m_strong; } // DocumentFormat::Strong
    // For a writer on another thread; wipes itself in turn.
    SessionKey Copy() const;
    // Whether other is the same key of the same format, in time independent
    // of where the keys differ.
    bool SameKey(const SessionKey& other) const;

private:
    DocumentFormat m_format = DocumentFormat::Tvro;
    KeyHolder m_tvro;
    StrongKeyHolder m_strong;
};

// What the user gave: a typed password (UTF-16, wiped when dropped) or a key file.
struct KeySecret {
    std::u16string password; // wiped by the destructor
    std::optional<std::filesystem::path> keyFile;
    KeySecret() = default;
    KeySecret(KeySecret&&) noexcept = default;
    KeySecret& operator=(KeySecret&&) noexcept = default;
    ~KeySecret() { SecureWipe(password.data(), password.size() * sizeof(char16_t)); }
};

// What key to make of a secret.
struct KeyRecipe {
    DocumentFormat format = DocumentFormat::Tvro;
    // Strong: the parameters of the document being opened (its header);
    // nothing for a key chosen now, which gets a fresh salt and the default limits.
    std::optional<StrongParameters> strongParameters;
};

// How making a key ended: as reading its key file ended (KeyFileStatus,
// Derived meaning the key is made), or Argon2id could not run (no memory
// for its limits): status CannotOpen with error ENOMEM.
KeyFileResult MakeSessionKey(const KeyRecipe& recipe, const KeySecret& secret, SessionKey& key,
                             const KeyFileReading& reading = {});

} // namespace tavro
