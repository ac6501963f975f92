// Lower-case hex text of bytes, for test messages and oracles.
#pragma once

#include <cstddef>
#include <string>

namespace tavro::test {

inline std::string Hex(const unsigned char* bytes, std::size_t size)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0f];
    }
    return text;
}

} // namespace tavro::test
