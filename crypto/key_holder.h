// One document key held in one place: move-only, wiped when it is dropped,
// replaced or moved from. Whoever holds the open document's key holds it
// as one of these; nothing else keeps a copy. KeyHolder holds a ".tvro"
// key, StrongKeyHolder the key of a strong document with its parameters.
#pragma once

#include "document_key.h"
#include "strong_format.h"

namespace tavro {

class KeyHolder {
public:
    // The all-zero key of a document whose password prompt was cancelled.
    KeyHolder() = default;
    explicit KeyHolder(const DocumentKey& key) : m_key(key) {}
    ~KeyHolder() { Wipe(); }

    KeyHolder(KeyHolder&& other) noexcept : m_key(other.m_key) { other.Wipe(); }
    KeyHolder& operator=(KeyHolder&& other) noexcept
    {
        if (this != &other) {
            m_key = other.m_key;
            other.Wipe();
        }
        return *this;
    }
    KeyHolder(const KeyHolder&) = delete;
    KeyHolder& operator=(const KeyHolder&) = delete;

    // The 32 key bytes, for the codec. Writers that need them on another
    // thread take a Copy(), which wipes itself in turn.
    const DocumentKey& bytes() const { return m_key; }
    // Filled in place by the key derivation, so no other copy is made.
    DocumentKey& bytes() { return m_key; }
    KeyHolder Copy() const { return KeyHolder(m_key); }

    // Whether both hold the same key, in time independent of where they differ.
    bool SameKey(const KeyHolder& other) const;

    // Zeroes the key (the all-zero key remains).
    void Wipe() noexcept;

private:
    DocumentKey m_key{};
};

// The 32 bytes Argon2id made for a strong document, with the parameters they
// were made under (key source, limits, salt): a later save under the same
// key writes those into its header and needs no new derivation. A re-key
// derives a new holder under fresh parameters (strong_key.h).
using StrongKey = std::array<std::uint8_t, 32>;

class StrongKeyHolder {
public:
    // No key yet (all zero): derive one with DeriveStrongKey.
    StrongKeyHolder() = default;
    ~StrongKeyHolder() { Wipe(); }

    StrongKeyHolder(StrongKeyHolder&& other) noexcept : m_key(other.m_key), m_parameters(other.m_parameters)
    {
        other.Wipe();
    }
    StrongKeyHolder& operator=(StrongKeyHolder&& other) noexcept
    {
        if (this != &other) {
            m_key = other.m_key;
            m_parameters = other.m_parameters;
            other.Wipe();
        }
        return *this;
    }
    StrongKeyHolder(const StrongKeyHolder&) = delete;
    StrongKeyHolder& operator=(const StrongKeyHolder&) = delete;

    const StrongKey& bytes() const { return m_key; }
    // Filled in place by the key derivation, so no other copy is made.
    StrongKey& bytes() { return m_key; }
    const StrongParameters& parameters() const { return m_parameters; }
    StrongParameters& parameters() { return m_parameters; }
    // For a writer on another thread; wipes itself in turn.
    StrongKeyHolder Copy() const;

    // Zeroes the key; the parameters (no secret) stay.
    void Wipe() noexcept;

private:
    StrongKey m_key{};
    StrongParameters m_parameters;
};

} // namespace tavro
