// The commands of tavro-cli on strong documents (".tvrs", strong_format.h).
// The commands in commands.h tell the format by the document's first bytes
// (or, for encrypt, by --format and the output's name) and hand over here.
#pragma once

#include "commands.h"
#include "input_file.h"
#include "unchanged_document.h"
#include "key_holder.h"
#include "secure_memory.h"

#include <span>
#include <string>

namespace tavro::cli {

// The format encrypt writes: --format, else strong for an output name
// ending in ".tvrs", else .tvro.
DocumentFormat EncryptFormat(const Options& options);

// The first bytes of document: as many as a strong header holds, fewer only
// at the end of the input. They are consumed from document's stream.
SecureBytes ReadDocumentStart(InputFile& document);

int RunStrongEncrypt(const Options& options);
// document has been read as far as start, the bytes ReadDocumentStart gave.
int RunStrongDecrypt(const Options& options, InputFile& document, std::span<const std::uint8_t> start);
int RunStrongVerify(const Options& options, InputFile& document, std::span<const std::uint8_t> start);
// Re-keys the strong document, into a strong one or (--format tvro) a .tvro one.
int RunStrongRekey(const Options& options, InputFile& document, const UnchangedDocument& unchanged);

// The key of a new strong document, from NEW-KEY (role New) or KEY: a fresh
// salt, the default limits, a derivation. A password is asked twice.
StrongKeyHolder ObtainNewStrongKey(const KeySource& source, KeyRole role, const std::string& document,
                                   StandardInput& input);

} // namespace tavro::cli
