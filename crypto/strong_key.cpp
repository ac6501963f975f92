#include "strong_key.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unicode/ustring.h>

#include <cerrno>

namespace tavro {
namespace {

// Fuzz builds derive at the smallest cost whatever the header says, so that
// the fuzzer explores the reader instead of waiting in Argon2id. Files made
// at the smallest limits give the same key in every build.
StrongLimits EffectiveLimits(StrongLimits limits)
{
#ifdef TAVRO_FUZZ_TINY_ARGON2
    (void)limits;
    return kStrongMinLimits;
#else
    return limits;
#endif
}

} // namespace

KeyFileResult DigestKeyFile(const std::filesystem::path& path, SecureBytes& digest, const KeyFileReading& reading)
{
    digest.clear();
    if (!SodiumReady())
        return {KeyFileStatus::CannotOpen, ENOSYS};
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, kKeyFileDigestSize);
    const KeyFileResult result = ReadKeyFileContent(
        path,
        [&state](std::span<const std::uint8_t> piece) {
            crypto_generichash_update(&state, piece.data(), static_cast<unsigned long long>(piece.size()));
        },
        reading);
    if (result.status == KeyFileStatus::Derived) {
        digest.resize(kKeyFileDigestSize);
        crypto_generichash_final(&state, digest.data(), digest.size());
    }
    ::sodium_memzero(&state, sizeof state);
    return result;
}

bool DeriveStrongKey(std::span<const std::uint8_t> secret, const StrongParameters& parameters,
                     StrongKeyHolder& key)
{
    key.Wipe();
    if (!StrongLimitsAllowed(parameters.limits) || !SodiumReady())
        return false;
    const StrongLimits limits = EffectiveLimits(parameters.limits);
    static const char kNothing = 0; // libsodium is not handed a null password
    const char* password = secret.empty() ? &kNothing : reinterpret_cast<const char*>(secret.data());
    if (::crypto_pwhash(key.bytes().data(), key.bytes().size(), password, secret.size(), parameters.salt.data(),
                        limits.opsLimit, static_cast<std::size_t>(limits.memLimitKiB) * 1024,
                        crypto_pwhash_ALG_ARGON2ID13) != 0) {
        key.Wipe();
        return false;
    }
    key.parameters() = parameters;
    return true;
}

bool DeriveStrongKeyFromPassword(std::u16string_view password, const StrongParameters& parameters,
                                 StrongKeyHolder& key)
{
    // Each UTF-16 unit gives at most 3 UTF-8 bytes.
    if (password.size() > (std::size_t{1} << 24)) {
        key.Wipe();
        return false;
    }
    SecureBytes utf8(password.size() * 3 + 1);
    std::int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(reinterpret_cast<char*>(utf8.data()), static_cast<std::int32_t>(utf8.size()), &length,
                       password.data(), static_cast<std::int32_t>(password.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) {
        key.Wipe();
        return false;
    }
    return DeriveStrongKey({utf8.data(), static_cast<std::size_t>(length)}, parameters, key);
}

} // namespace tavro
