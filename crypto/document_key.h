// The 32-byte document key: either all zero (no password given) or the 32
// lower-case hex characters of an MD5 digest, used unchanged as the AES-256 key.
#pragma once

#include <array>
#include <cstdint>

namespace tavro {

using DocumentKey = std::array<std::uint8_t, 32>;

// The key of a document whose password prompt was cancelled.
inline constexpr DocumentKey kZeroKey{};

} // namespace tavro
