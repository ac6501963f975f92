#include "session_key.h"

#include "strong_key.h"

#include <cerrno>

namespace tavro {

SessionKey SessionKey::Copy() const
{
    if (m_format == DocumentFormat::Strong)
        return SessionKey(m_strong.Copy());
    return SessionKey(m_tvro.Copy());
}

bool SessionKey::SameKey(const SessionKey& other) const
{
    if (m_format != other.m_format)
        return false;
    if (m_format == DocumentFormat::Tvro)
        return m_tvro.SameKey(other.m_tvro);
    // The parameters are no secret; the key bytes are compared whole.
    volatile std::uint8_t difference = 0;
    for (std::size_t i = 0; i < m_strong.bytes().size(); ++i)
        difference = static_cast<std::uint8_t>(difference | (m_strong.bytes()[i] ^ other.m_strong.bytes()[i]));
    return difference == 0 && m_strong.parameters() == other.m_strong.parameters();
}

KeyFileResult MakeSessionKey(const KeyRecipe& recipe, const KeySecret& secret, SessionKey& key,
                             const KeyFileReading& reading)
{
    if (recipe.format == DocumentFormat::Tvro) {
        KeyHolder made;
        if (secret.keyFile) {
            const KeyFileResult result = ReadKeyFile(*secret.keyFile, made.bytes(), reading);
            if (result.status != KeyFileStatus::Derived)
                return result;
        } else {
            DeriveKeyFromPassword(secret.password, made.bytes());
        }
        key = SessionKey(std::move(made));
        return {KeyFileStatus::Derived, 0};
    }

    const StrongKeySource source = secret.keyFile ? StrongKeySource::KeyFile : StrongKeySource::Password;
    const StrongParameters parameters =
        recipe.strongParameters ? *recipe.strongParameters : NewStrongParameters(source);
    StrongKeyHolder made;
    bool derived = false;
    if (secret.keyFile) {
        SecureBytes digest;
        const KeyFileResult result = DigestKeyFile(*secret.keyFile, digest, reading);
        if (result.status != KeyFileStatus::Derived)
            return result;
        derived = DeriveStrongKey(digest, parameters, made);
    } else {
        derived = DeriveStrongKeyFromPassword(secret.password, parameters, made);
    }
    if (!derived)
        return {KeyFileStatus::CannotOpen, ENOMEM};
    key = SessionKey(std::move(made));
    return {KeyFileStatus::Derived, 0};
}

} // namespace tavro
