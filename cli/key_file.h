// A key file read for the tool: every failure is an error naming the file,
// and a long read shows how far it has come.
#pragma once

#include "document_key.h"
#include "secure_memory.h"

#include <string>

namespace tavro::cli {

// Fills key with the key of the file at path (crypto's ReadKeyFile).
// Throws CliFailure(kExitIo) naming the file when it cannot be opened or
// read, or is a device. When stderr is a terminal and the read takes more
// than a second, a progress line is drawn there and erased at the end;
// SIGINT ends the tool as anywhere else (no file is written yet).
void KeyFromFile(const std::string& path, DocumentKey& key);

// The same for a strong document's key file: the BLAKE2b digest of its
// content (strong_key.h's DigestKeyFile), with the same errors and progress.
void DigestFromFile(const std::string& path, SecureBytes& digest);

} // namespace tavro::cli
