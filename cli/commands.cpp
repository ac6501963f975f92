#include "commands.h"

#include "atomic_file.h"
#include "document_file.h"
#include "exit_codes.h"
#include "utf8.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tavro::cli {
namespace {

// The core hands decrypted text back in a plain std::u16string; it is
// wiped here as soon as the command is done with it.
class WipedOnExit {
public:
    explicit WipedOnExit(std::u16string& text) : text_(text) {}
    ~WipedOnExit() { SecureWipe(text_.data(), text_.size() * sizeof(char16_t)); }
    WipedOnExit(const WipedOnExit&) = delete;
    WipedOnExit& operator=(const WipedOnExit&) = delete;

private:
    std::u16string& text_;
};

std::string DisplayName(const std::string& path) { return path.empty() || path == "-" ? "standard input" : path; }

void WarnDamaged(const std::string& document, std::span<const std::uint8_t> file)
{
    const std::string line = "tavro-cli: warning: " + document + ": " + DocumentCheckMessage(CheckDocument(file)) +
                             "; the text was written but may be incomplete or wrong\n";
    std::fputs(line.c_str(), stderr);
}

// Whether text, written again under the key it was read with, gives back the
// document's own bytes: the same length and pad count, and the same cipher
// blocks except the last (whose filler is random). Text that fails this would
// lose something on re-encryption: bytes that are not code page 936 (shown as
// U+FFFD) or cut at a 0x00 byte, which is what a wrong key produces.
bool SurvivesReencryption(std::span<const std::uint8_t> file, std::u16string_view text, const DocumentKey& key)
{
    if (file.empty())
        return text.empty();
    if (text.find(u'\uFFFD') != std::u16string_view::npos)
        return false;
    const std::vector<std::uint8_t> again = EncryptDocument(text, key);
    if (again.size() != file.size() || again[0] != file[0])
        return false;
    constexpr std::size_t kBlock = 16;
    const std::size_t compared = file.size() - kDocumentHeaderSize - std::min(file.size() - kDocumentHeaderSize, kBlock);
    return std::equal(file.begin() + kDocumentHeaderSize,
                      file.begin() + static_cast<std::ptrdiff_t>(kDocumentHeaderSize + compared),
                      again.begin() + kDocumentHeaderSize);
}

} // namespace

int RunDecrypt(const Options& options)
{
    const SecureBytes file = ReadWholeFile(options.input);
    StandardInput input;
    ScopedKey key;
    ObtainKey(options.key, KeyRole::Current, KeyUse::Open, DisplayName(options.input), input, key.key);

    DecryptedDocument document = DecryptDocument(file, key.key);
    WipedOnExit wipe(document.text);
    const SecureBytes utf8 = Utf16ToUtf8(document.text);
    WriteFileAtomically(options.output.empty() ? "-" : options.output, utf8);

    if (!document.crcMatches) {
        WarnDamaged(DisplayName(options.input), file);
        return kExitDamaged;
    }
    return kExitOk;
}

int RunEncrypt(const Options& options)
{
    StandardInput input;
    ScopedKey key;
    ObtainKey(options.key, KeyRole::Current, KeyUse::Write, options.output, input, key.key);

    const bool fromStdin = options.input.empty() || options.input == "-";
    const SecureBytes utf8 = fromStdin ? input.ReadRest() : ReadWholeFile(options.input);
    // A byte order mark, as some Windows editors write, is not part of the text.
    std::span<const std::uint8_t> body(utf8);
    if (body.size() >= 3 && body[0] == 0xEF && body[1] == 0xBB && body[2] == 0xBF)
        body = body.subspan(3);

    SecureText text;
    std::size_t errorOffset = 0;
    if (!Utf8ToUtf16(body, text, errorOffset))
        throw CliFailure(kExitIo, DisplayName(options.input) + " is not valid UTF-8 (byte " +
                                      std::to_string(errorOffset + 1 + (utf8.size() - body.size())) + ")");

    // Carriage returns are removed by the codec itself, as the editor saves.
    const std::vector<std::uint8_t> document = EncryptDocument({text.data(), text.size()}, key.key);
    WriteFileAtomically(options.output, document);
    return kExitOk;
}

int RunVerify(const Options& options)
{
    const SecureBytes file = ReadWholeFile(options.input);
    const DocumentCheck check = CheckDocument(file);
    const std::string line = DisplayName(options.input) + ": " + DocumentCheckMessage(check);
    if (check != DocumentCheck::Sound)
        throw CliFailure(kExitDamaged, line);
    if (std::printf("%s\n", line.c_str()) < 0 || std::fflush(stdout) != 0)
        throw CliFailure(kExitIo, std::string("cannot write standard output: ") + std::strerror(errno));
    return kExitOk;
}

int RunRekey(const Options& options)
{
    const SecureBytes file = ReadWholeFile(options.input);
    const DocumentCheck check = CheckDocument(file);
    if (check != DocumentCheck::Sound)
        throw CliFailure(kExitDamaged, options.input + ": " + DocumentCheckMessage(check) + "; left unchanged");

    StandardInput input;
    ScopedKey oldKey;
    ScopedKey newKey;
    ObtainKey(options.key, KeyRole::Current, KeyUse::Open, options.input, input, oldKey.key);
    ObtainKey(options.newKey, KeyRole::New, KeyUse::Write, options.input, input, newKey.key);

    DecryptedDocument document = DecryptDocument(file, oldKey.key);
    WipedOnExit wipe(document.text);
    if (!SurvivesReencryption(file, document.text, oldKey.key))
        throw CliFailure(kExitDamaged, options.input +
                                           ": the old key does not give back clean text (most likely it is the wrong "
                                           "key); left unchanged");

    const std::vector<std::uint8_t> rekeyed = EncryptDocument(document.text, newKey.key);
    WriteFileAtomically(options.input, rekeyed);
    return kExitOk;
}

} // namespace tavro::cli
