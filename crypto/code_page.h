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

// The distinct characters of text that a save does not keep: U+0000 first
// when present (the reader's text ends there), then those code page 936
// cannot represent (they become '?'; an unpaired surrogate counts as its own
// unit) in the order of their first appearance. Empty when the text survives
// a save whole.
std::u32string LossyCharacters(std::u16string_view text);

// Code page 936 to UTF-16. The text ends at the first 0x00 byte, if any;
// byte sequences that are not valid code page 936 become U+FFFD.
std::u16string DecodeCodePage(std::span<const std::uint8_t> bytes);

} // namespace tavro
