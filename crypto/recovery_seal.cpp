#include "recovery_seal.h"

#include "secure_memory.h"
#include "strong_format.h"

#include <sodium.h>

#include <array>
#include <bit>
#include <cstring>

namespace tavro {
namespace {

constexpr char kMagic[8] = {'T', 'V', 'R', 'R', 'C', 'V', '1', '\n'};
constexpr std::size_t kNonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
static_assert(kRecoveryOverhead == sizeof kMagic + kNonceSize + crypto_aead_xchacha20poly1305_ietf_ABYTES);

// The copy's own key; wiped by the caller.
std::array<std::uint8_t, 32> CopyKey(const SessionKey& key)
{
    const std::uint8_t* bytes = key.format() == DocumentFormat::Strong ? key.strong().bytes().data()
                                                                       : key.tvro().bytes().data();
    static constexpr char kLabel[] = "tavro recovery copy";
    std::array<std::uint8_t, 32> derived{};
    crypto_generichash(derived.data(), derived.size(), reinterpret_cast<const unsigned char*>(kLabel),
                       sizeof kLabel - 1, bytes, 32);
    return derived;
}

std::vector<std::uint8_t> AdditionalData(std::string_view documentPath)
{
    std::vector<std::uint8_t> data(sizeof kMagic + documentPath.size());
    std::memcpy(data.data(), kMagic, sizeof kMagic);
    if (!documentPath.empty())
        std::memcpy(data.data() + sizeof kMagic, documentPath.data(), documentPath.size());
    return data;
}

} // namespace

std::vector<std::uint8_t> SealRecoveryCopy(const SessionKey& key, std::string_view documentPath,
                                           std::u16string_view text)
{
    // UTF-16LE on this little-endian machine is the string's own bytes.
    static_assert(std::endian::native == std::endian::little);
    const std::size_t plainSize = text.size() * sizeof(char16_t);
    std::vector<std::uint8_t> out(sizeof kMagic + kNonceSize + plainSize + crypto_aead_xchacha20poly1305_ietf_ABYTES);
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    std::uint8_t* nonce = out.data() + sizeof kMagic;
    SystemRandom(nonce, kNonceSize);
    std::array<std::uint8_t, 32> copyKey = CopyKey(key);
    const std::vector<std::uint8_t> ad = AdditionalData(documentPath);
    unsigned long long sealed = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(nonce + kNonceSize, &sealed,
                                               reinterpret_cast<const unsigned char*>(text.data()), plainSize,
                                               ad.data(), ad.size(), nullptr, nonce, copyKey.data());
    SecureWipe(copyKey.data(), copyKey.size());
    return out;
}

std::optional<std::u16string> OpenRecoveryCopy(const SessionKey& key, std::string_view documentPath,
                                               std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kRecoveryOverhead || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 ||
        (bytes.size() - kRecoveryOverhead) % sizeof(char16_t) != 0)
        return std::nullopt;
    if (!SodiumReady())
        return std::nullopt;
    const std::uint8_t* nonce = bytes.data() + sizeof kMagic;
    const std::size_t sealedSize = bytes.size() - sizeof kMagic - kNonceSize;
    std::u16string text((sealedSize - crypto_aead_xchacha20poly1305_ietf_ABYTES) / sizeof(char16_t), u'\0');
    std::array<std::uint8_t, 32> copyKey = CopyKey(key);
    const std::vector<std::uint8_t> ad = AdditionalData(documentPath);
    unsigned long long opened = 0;
    const int result = crypto_aead_xchacha20poly1305_ietf_decrypt(
        reinterpret_cast<unsigned char*>(text.data()), &opened, nullptr, nonce + kNonceSize, sealedSize, ad.data(),
        ad.size(), nonce, copyKey.data());
    SecureWipe(copyKey.data(), copyKey.size());
    if (result != 0)
        return std::nullopt;
    return text;
}

} // namespace tavro
