// The four commands of tavro-cli, run on options already parsed and checked
// for consistency. Each returns its exit code or throws CliFailure.
#pragma once

#include "key_source.h"
#include "strong_format.h"

#include <optional>
#include <string>

namespace tavro::cli {

enum class Command { Decrypt, Encrypt, Verify, Rekey };

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
};

int RunDecrypt(const Options& options);
int RunEncrypt(const Options& options);
int RunVerify(const Options& options);
int RunRekey(const Options& options);

} // namespace tavro::cli
