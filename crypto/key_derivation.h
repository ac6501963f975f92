// The document key from a typed password or from a key file: the lower-case
// hex MD5 of the source bytes, whose 32 ASCII characters are the 32 key bytes.
// Keys are written straight into the caller's buffer, which the caller wipes
// (or installs); no copy of a key is left on the stack or the heap.
#pragma once

#include "document_key.h"

#include <filesystem>
#include <string_view>

namespace tavro {

// Key of a typed password: its code page 936 bytes (unmappable characters
// become '?'), without terminator, hashed with MD5. An empty password gives
// the MD5 of the empty message, never the zero key. Intermediate copies of
// the password bytes and of the key are wiped.
void DeriveKeyFromPassword(std::u16string_view text, DocumentKey& key);

// Key of a key file: MD5 of its whole content, read in binary; a read that
// fails part-way hashes the bytes read until then. The path is used as the
// file system names it (no code page conversion) and opened once, so a named
// pipe or a file replaced meanwhile is read as what was opened. Returns
// false, leaving key untouched, when the file cannot be opened or is a
// directory.
bool DeriveKeyFromFile(const std::filesystem::path& path, DocumentKey& key);

// As DeriveKeyFromFile, from a descriptor already open for reading, which is
// read to its end and left open. False (key untouched) for a directory.
bool DeriveKeyFromOpenFile(int fd, DocumentKey& key);

} // namespace tavro
