// The one place where text becomes bytes and back: Windows code page 936
// (ICU "windows-936-2000", where 0x80 is the euro sign), so documents and
// passwords match those made on a Simplified Chinese Windows system.
#pragma once

#include "secure_memory.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tavro {

// UTF-16 to code page 936. A character the code page cannot represent
// (unpaired surrogates included) becomes '?' (0x3F). No terminator is added.
SecureBytes EncodeCodePage(std::u16string_view text);

// Code page 936 to UTF-16. The text ends at the first 0x00 byte, if any;
// byte sequences that are not valid code page 936 become U+FFFD.
std::u16string DecodeCodePage(std::span<const std::uint8_t> bytes);

} // namespace tavro
