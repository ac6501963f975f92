#include "strong_format.h"

#include <sodium.h>

#include <algorithm>
#include <cstdlib>

namespace tavro {
namespace {

constexpr std::size_t kVersionOffset = 8;
constexpr std::size_t kSourceOffset = 9;
constexpr std::size_t kOpsOffset = 10;
constexpr std::size_t kMemOffset = 14;
constexpr std::size_t kSaltOffset = 18;

std::uint32_t GetLittleEndian32(const std::uint8_t* in)
{
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

void PutLittleEndian32(std::uint8_t* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

} // namespace

bool StrongLimitsAllowed(StrongLimits limits)
{
    return limits.opsLimit >= kStrongMinLimits.opsLimit && limits.opsLimit <= kStrongMaxLimits.opsLimit &&
           limits.memLimitKiB >= kStrongMinLimits.memLimitKiB && limits.memLimitKiB <= kStrongMaxLimits.memLimitKiB;
}

bool SodiumReady()
{
    // sodium_init is safe to call from several threads; the static makes it
    // run once and remembers its outcome.
    static const bool ready = ::sodium_init() >= 0;
    return ready;
}

void SystemRandom(std::uint8_t* data, std::size_t size)
{
    if (!SodiumReady())
        std::abort(); // no random source: nothing secret may be made
    ::randombytes_buf(data, size);
}

StrongParameters NewStrongParameters(StrongKeySource source, StrongLimits limits, const RandomSource& random)
{
    StrongParameters parameters;
    parameters.source = source;
    parameters.limits = limits;
    random(parameters.salt.data(), parameters.salt.size());
    return parameters;
}

DocumentFormat DetectDocumentFormat(std::span<const std::uint8_t> fileStart)
{
    return fileStart.size() >= kStrongMagic.size() &&
                   std::equal(kStrongMagic.begin(), kStrongMagic.end(), fileStart.begin())
               ? DocumentFormat::Strong
               : DocumentFormat::Tvro;
}

StrongCheck ParseStrongHeader(std::span<const std::uint8_t> fileStart, StrongParameters& parameters)
{
    if (DetectDocumentFormat(fileStart) != DocumentFormat::Strong)
        return fileStart.size() < kStrongMagic.size() &&
                       std::equal(fileStart.begin(), fileStart.end(), kStrongMagic.begin())
                   ? StrongCheck::ShortHeader
                   : StrongCheck::NotStrong;
    if (fileStart.size() < kStrongHeaderSize)
        return StrongCheck::ShortHeader;
    if (fileStart[kVersionOffset] != kStrongVersion)
        return StrongCheck::UnknownVersion;
    const std::uint8_t source = fileStart[kSourceOffset];
    if (source != static_cast<std::uint8_t>(StrongKeySource::Password) &&
        source != static_cast<std::uint8_t>(StrongKeySource::KeyFile))
        return StrongCheck::UnknownKeySource;
    const StrongLimits limits{GetLittleEndian32(&fileStart[kOpsOffset]), GetLittleEndian32(&fileStart[kMemOffset])};
    if (!StrongLimitsAllowed(limits))
        return StrongCheck::LimitsRefused;

    parameters.source = static_cast<StrongKeySource>(source);
    parameters.limits = limits;
    std::copy_n(&fileStart[kSaltOffset], kStrongSaltSize, parameters.salt.begin());
    return StrongCheck::Sound;
}

void PutStrongHeader(std::uint8_t* header, const StrongParameters& parameters,
                     std::span<const std::uint8_t, kStrongStreamHeaderSize> streamHeader)
{
    std::copy(kStrongMagic.begin(), kStrongMagic.end(), header);
    header[kVersionOffset] = kStrongVersion;
    header[kSourceOffset] = static_cast<std::uint8_t>(parameters.source);
    PutLittleEndian32(header + kOpsOffset, parameters.limits.opsLimit);
    PutLittleEndian32(header + kMemOffset, parameters.limits.memLimitKiB);
    std::copy(parameters.salt.begin(), parameters.salt.end(), header + kSaltOffset);
    std::copy(streamHeader.begin(), streamHeader.end(), header + kStrongStreamHeaderOffset);
}

const char* StrongCheckMessage(StrongCheck check)
{
    switch (check) {
    case StrongCheck::Sound:
        return "sound: every record authenticates under the key";
    case StrongCheck::ShortHeader:
        return "damaged: the file is shorter than its 58-byte header";
    case StrongCheck::NotStrong:
        return "not a strong document: the file does not start with its magic bytes";
    case StrongCheck::UnknownVersion:
        return "damaged, or made by a newer program: unknown format version";
    case StrongCheck::UnknownKeySource:
        return "damaged: the header names no known key source";
    case StrongCheck::LimitsRefused:
        return "refused: the header asks for key derivation limits outside 1-10 passes and 8 KiB-1 GiB";
    case StrongCheck::WrongKey:
        return "wrong password or key file, or the header is damaged";
    case StrongCheck::DamagedRecord:
        return "damaged: a record after the first does not authenticate";
    case StrongCheck::MissingEnd:
        return "damaged: the file ends before its final record";
    case StrongCheck::TrailingBytes:
        return "damaged: bytes follow the final record";
    }
    return "unknown";
}

} // namespace tavro
