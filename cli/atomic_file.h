// Reading whole files and writing them all-or-nothing. A target is never
// left half-written: the bytes go to a temporary file in the target's own
// folder, are flushed to the disk, and the temporary file is then renamed
// over the target; on any failure the temporary file is removed and the
// target keeps its old content.
#pragma once

#include "secure_memory.h"

#include <cstdint>
#include <span>
#include <string>

namespace tavro::cli {

// The whole content of a file, or of standard input for "-". Throws
// CliFailure(kExitIo) naming the path when it cannot be read.
SecureBytes ReadWholeFile(const std::string& path);

// Replaces the file at path with exactly bytes, atomically:
// - an existing regular file keeps its permission bits (and its owner
//   where allowed); a new one gets 0666 less the umask;
// - a symbolic link is followed, so the file it names is replaced;
// - "-", and an existing target that is not a regular file (a terminal,
//   a pipe, /dev/stdout), is written in place, since it cannot be renamed over.
// Throws CliFailure(kExitIo) naming the path on any failure.
void WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

// Writes all bytes to an open descriptor; false with errno set on failure.
bool WriteAll(int fd, std::span<const std::uint8_t> bytes);

} // namespace tavro::cli
