// The commands of tavro-cli, run on options already parsed and checked
// for consistency. Each returns its exit code or throws CliFailure.
#pragma once

#include "key_source.h"
#include "strong_format.h"

#include <optional>
#include <cstdint>
#include <string>

namespace tavro::cli {

enum class Command { Decrypt, Encrypt, Verify, Rekey, Versions, Restore };

struct Options {
    Command command = Command::Verify;
    // The document (decrypt, verify, rekey) or the UTF-8 text (encrypt);
    // "-" or, for encrypt, empty means standard input.
    std::string input;
    // Where decrypt or encrypt writes; empty means standard output (decrypt).
    std::string output;
    KeySource key;    // the document's key (for rekey: the old one)
    KeySource newKey; // rekey only
    // The format encrypt or rekey writes (--format); unset: encrypt goes by
    // the output's name, rekey keeps the document's format.
    std::optional<DocumentFormat> format;
    bool force = false;              // rekey: replace even after a doubtful read
    bool lossy = false;              // encrypt: write characters the code page lacks as '?'
    bool keepVersions = true;        // encrypt, rekey: keep the replaced document as a version
    bool purge = false;              // versions: remove the document's history
    std::uint64_t versionNumber = 0; // restore
};

int RunDecrypt(const Options& options);
int RunEncrypt(const Options& options);
int RunVerify(const Options& options);
int RunRekey(const Options& options);

} // namespace tavro::cli
