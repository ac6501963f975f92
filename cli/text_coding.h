// Text between UTF-8 and code page 936 for tavro-cli, by the tables the
// window codes with (code_page_units.h, code_page.h), so that the tool and
// the window store the same text as the same bytes.
#pragma once

#include "code_page_units.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace tavro::cli {

// Converts text, which must be strict UTF-8 (FindInvalidUtf8 found no
// fault) ending on a whole character, to code page 936 at out, which has
// room for text.size() bytes, and returns the bytes written. Carriage
// returns are dropped. A character the code page lacks becomes '?' for each
// of its UTF-16 units (a character beyond U+FFFF "??") and is named in
// lossy: the bytes EncodeCodePage gives for the same text without '\r'.
std::size_t Utf8ToCodePage(std::span<const std::uint8_t> text, std::uint8_t* out, LossyCharacterSet& lossy);

} // namespace tavro::cli
