// The document key from a typed password or from a key file: the lower-case
// hex MD5 of the source bytes, whose 32 ASCII characters are the 32 key bytes.
#pragma once

#include "document_key.h"

#include <filesystem>
#include <string_view>

namespace tavro {

// Key of a typed password: its code page 936 bytes (unmappable characters
// become '?'), without terminator, hashed with MD5. An empty password gives
// the MD5 of the empty message, never the zero key.
DocumentKey DeriveKeyFromPassword(std::u16string_view text);

// Key of a key file: MD5 of its whole content, read in binary. The path is
// used as the file system names it. Returns false, leaving key untouched,
// when the file cannot be opened.
bool DeriveKeyFromFile(const std::filesystem::path& path, DocumentKey& key);

} // namespace tavro
