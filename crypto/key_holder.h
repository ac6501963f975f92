// One document key held in one place: move-only, wiped when it is dropped,
// replaced or moved from. Whoever holds the open document's key holds it
// as one of these; nothing else keeps a copy.
#pragma once

#include "document_key.h"

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

} // namespace tavro
