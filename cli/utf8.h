// UTF-8 <-> UTF-16 for the text that crosses the command line's pipes and
// files. Documents carry UTF-16 text; only the core turns it into code page
// 936.
#pragma once

#include "secure_memory.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tavro::cli {

// UTF-16 text held in memory that is wiped before it is freed.
using SecureText = std::vector<char16_t, WipingAllocator<char16_t>>;

// Strict UTF-8 to UTF-16: overlong forms, surrogate code points, values
// above U+10FFFF and cut-off sequences are rejected. On failure returns
// false with errorOffset at the first byte of the bad sequence; out then
// holds the text before it.
bool Utf8ToUtf16(std::span<const std::uint8_t> in, SecureText& out, std::size_t& errorOffset);

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
SecureBytes Utf16ToUtf8(std::u16string_view text);

} // namespace tavro::cli
