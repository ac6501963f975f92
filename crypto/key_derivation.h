// The document key from a typed password or from a key file: the lower-case
// hex MD5 of the source bytes, whose 32 ASCII characters are the 32 key bytes.
// Keys are written straight into the caller's buffer, which the caller wipes
// (or installs); no copy of a key is left on the stack or the heap.
#pragma once

#include "document_key.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string_view>

namespace tavro {

// Key of a typed password: its code page 936 bytes (unmappable characters
// become '?'), without terminator, hashed with MD5. An empty password gives
// the MD5 of the empty message, never the zero key. Intermediate copies of
// the password bytes and of the key are wiped.
void DeriveKeyFromPassword(std::u16string_view text, DocumentKey& key);

// How reading a key file ended.
enum class KeyFileStatus {
    Derived,    // the key is the MD5 of the whole content
    CannotOpen, // error: errno of the failed open or fstat (EISDIR for a folder)
    ReadError,  // error: errno of the failed read; the bytes before it make no key
    Device,     // a character or block device (/dev/zero, a disk, a terminal): never opened
    Cancelled,  // the cancel flag was raised before the end
};

struct KeyFileResult {
    KeyFileStatus status = KeyFileStatus::CannotOpen;
    int error = 0; // errno for CannotOpen and ReadError, else 0
};

// Bytes hashed so far, and the file's size when known (a regular file),
// else 0. done passes total when the file grows while it is read.
using KeyFileProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

struct KeyFileReading {
    KeyFileProgress progress;                 // after each piece, on the reading thread
    const std::atomic<bool>* cancel = nullptr; // checked before each piece and while a pipe is waited on
};

// Receives a key file's content in pieces, in order.
using KeyFileConsumer = std::function<void(std::span<const std::uint8_t> piece)>;

// Reads the whole content of the key file at path into consume, with the
// refusals, errors, waiting, progress and cancel ReadKeyFile describes
// below (status Derived: read to its end). Every key-file format reads
// through this: what fails here fails for each of them alike.
KeyFileResult ReadKeyFileContent(const std::filesystem::path& path, const KeyFileConsumer& consume,
                                 const KeyFileReading& reading = {});

// Key of a key file: MD5 of its whole content, read in binary; the key is
// written only when the status is Derived, and left untouched otherwise.
// The path is used as the file system names it (no code page conversion)
// and opened once, so a named pipe or a file replaced meanwhile is read as
// what was opened. A named pipe is opened without waiting for a writer; its
// data are then waited for in steps of at most 0.1 s between which the
// cancel flag is checked (without a flag, until its writer closes it). A
// read error is an error, never the end of the key. Blocks the calling
// thread for as long as the file takes: a caller with a window runs it on
// a worker thread and offers to cancel.
KeyFileResult ReadKeyFile(const std::filesystem::path& path, DocumentKey& key, const KeyFileReading& reading = {});

// ReadKeyFile without progress or cancel: true when the key was derived,
// false (key untouched) for every other outcome.
bool DeriveKeyFromFile(const std::filesystem::path& path, DocumentKey& key);

} // namespace tavro
