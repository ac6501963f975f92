// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320, register starts at
// 0xFFFFFFFF, final complement), as used over the cipher body of a document.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavro {

// CRC-32 of length bytes. An empty input gives 0xFFFFFFFF, not 0: for a
// body of length 0 the loop and the final complement are both skipped, and
// every empty document on disk carries that value.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t length);

} // namespace tavro
