#include "key_holder.h"

#include "secure_memory.h"

namespace tavro {

bool KeyHolder::SameKey(const KeyHolder& other) const
{
    // Every byte is looked at, whatever the first difference.
    volatile std::uint8_t difference = 0;
    for (std::size_t i = 0; i < m_key.size(); ++i)
        difference = static_cast<std::uint8_t>(difference | (m_key[i] ^ other.m_key[i]));
    return difference == 0;
}

void KeyHolder::Wipe() noexcept
{
    SecureWipe(m_key.data(), m_key.size());
}

StrongKeyHolder StrongKeyHolder::Copy() const
{
    StrongKeyHolder copy;
    copy.m_key = m_key;
    copy.m_parameters = m_parameters;
    return copy;
}

void StrongKeyHolder::Wipe() noexcept
{
    SecureWipe(m_key.data(), m_key.size());
}

} // namespace tavro
