// Where the document key comes from: a password line on standard input, a
// key file, no password (the all-zero key), or a password typed at a
// terminal prompt without echo. A password is never taken from the command
// line, where other users could read it in the process list.
#pragma once

#include "document_key.h"
#include "key_holder.h"
#include "secure_memory.h"
#include "strong_format.h"

#include <string>

namespace tavro::cli {

enum class KeySourceKind {
    NotGiven,   // prompt, when standard input is a terminal
    PasswordStdin, // the next line of standard input
    KeyFile,       // MD5 of a file's content
    NoPassword,    // the all-zero key
};

struct KeySource {
    KeySourceKind kind = KeySourceKind::NotGiven;
    std::string keyFile;
};

// Standard input, read without buffering ahead, so that what follows a
// password line is still there for the document text.
class StandardInput {
public:
    // The next line without its line ending (LF, or CR LF). False when the
    // input ends before the line has a single byte.
    bool ReadLine(SecureBytes& line);
    // Everything up to the end of the input.
    SecureBytes ReadRest();
    bool IsTerminal() const;
};

// What a key is for: opening an existing document, or writing a document
// under a key chosen now (a typed password is then asked twice).
enum class KeyUse { Open, Write };

// Which of rekey's two keys is meant; plain commands have only the current one.
enum class KeyRole { Current, New };

// Fills key from source; document names the file in prompts. Throws CliFailure: kExitUsage when
// no source was given and there is no terminal to prompt on, when standard
// input ends before the password line, or when typed passwords differ;
// kExitIo when the key file or standard input cannot be read or the
// password is not valid UTF-8.
void ObtainKey(const KeySource& source, KeyRole role, KeyUse use, const std::string& document,
               StandardInput& input, DocumentKey& key);

// The secret a strong document's key is derived from (strong_key.h): a
// password's UTF-8 bytes as typed, or the BLAKE2b-512 digest of a key
// file's whole content. Returns which of the two it is. Throws as ObtainKey
// does, and kExitUsage for NoPassword (the strong format has no document
// without a key); a key file that cannot be read to its end is kExitIo.
StrongKeySource ObtainStrongSecret(const KeySource& source, KeyRole role, KeyUse use, const std::string& document,
                                   StandardInput& input, SecureBytes& secret);

} // namespace tavro::cli
