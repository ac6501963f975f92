#include "strong_commands.h"
#include "versions.h"

#include "atomic_file.h"
#include "code_page.h"
#include "document_stream.h"
#include "exit_codes.h"
#include "strong_key.h"
#include "strong_stream.h"
#include "two_stages.h"
#include "utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace tavro::cli {
namespace {

// Argon2id limits of new keys. Tests set TAVRO_CLI_TEST_ARGON2 to
// "PASSES,KIB" to derive at a small cost; it must lie in the range every
// reader takes, so that no document made with it is refused.
StrongLimits NewKeyLimits()
{
    const char* value = std::getenv("TAVRO_CLI_TEST_ARGON2");
    if (value == nullptr)
        return kStrongDefaultLimits;
    unsigned long passes = 0;
    unsigned long kib = 0;
    char extra = 0;
    constexpr unsigned long kMax = std::numeric_limits<std::uint32_t>::max();
    if (std::sscanf(value, "%lu,%lu%c", &passes, &kib, &extra) != 2 || passes > kMax || kib > kMax ||
        !StrongLimitsAllowed({static_cast<std::uint32_t>(passes), static_cast<std::uint32_t>(kib)}))
        throw CliFailure(kExitUsage, "TAVRO_CLI_TEST_ARGON2 must be PASSES,KIB within 1-10 and 8-1048576");
    return {static_cast<std::uint32_t>(passes), static_cast<std::uint32_t>(kib)};
}

StrongKeyHolder Derive(const SecureBytes& secret, const StrongParameters& parameters)
{
    StrongKeyHolder key;
    if (!DeriveStrongKey(secret, parameters, key))
        throw CliFailure(kExitIo, "cannot derive the key: Argon2id could not get its " +
                                      std::to_string(parameters.limits.memLimitKiB / 1024) + " MiB of memory");
    return key;
}

const char* SourceName(StrongKeySource source)
{
    return source == StrongKeySource::Password ? "a password" : "a key file";
}

[[noreturn]] void Refuse(const std::string& document, StrongCheck check, const std::string& suffix = "")
{
    throw CliFailure(kExitDamaged, document + ": " + StrongCheckMessage(check) + suffix);
}

// The header's parameters, or the refusal of a damaged header.
StrongParameters HeaderOf(const std::string& document, std::span<const std::uint8_t> start,
                          const std::string& suffix = "")
{
    StrongParameters parameters;
    const StrongCheck check = ParseStrongHeader(start, parameters);
    if (check != StrongCheck::Sound)
        Refuse(document, check, suffix);
    return parameters;
}

// The key of an existing strong document, derived under its header.
StrongKeyHolder ObtainStrongKey(const KeySource& source, const std::string& document, StandardInput& input,
                                const StrongParameters& parameters)
{
    if (source.kind == KeySourceKind::NotGiven && parameters.source == StrongKeySource::KeyFile)
        throw CliFailure(kExitUsage, document + " is locked with a key file: use --key-file PATH");
    SecureBytes secret;
    const StrongKeySource given = ObtainStrongSecret(source, KeyRole::Current, KeyUse::Open, document, input, secret);
    if (given != parameters.source)
        Refuse(document, StrongCheck::WrongKey,
               std::string(" (the header names ") + SourceName(parameters.source) + ", " + SourceName(given) +
                   " was given)");
    return Derive(secret, parameters);
}

// Feeds the rest of document to reader from where start ended, stopping at
// the first fault, and returns the verdict.
StrongCheck ReadRest(InputFile& document, std::span<const std::uint8_t> start, StrongReader& reader)
{
    reader.Read(start);
    SecureBytes buffer(kPieceSize);
    for (std::size_t got; reader.verdict() == StrongCheck::Sound && (got = document.Read(buffer)) > 0;)
        reader.Read({buffer.data(), got});
    return reader.Finish();
}

void PrintLine(const std::string& line)
{
    if (std::printf("%s\n", line.c_str()) < 0 || std::fflush(stdout) != 0)
        throw CliFailure(kExitIo, std::string("cannot write standard output: ") + std::strerror(errno));
}

std::string CodePoint(char32_t c)
{
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(c));
    return name;
}

} // namespace

DocumentFormat EncryptFormat(const Options& options)
{
    if (options.format)
        return *options.format;
    const std::string& name = options.output;
    constexpr std::string_view kStrongSuffix = ".tvrs";
    const bool strongName =
        name.size() > kStrongSuffix.size() &&
        std::equal(kStrongSuffix.rbegin(), kStrongSuffix.rend(), name.rbegin(),
                   [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b); });
    return strongName ? DocumentFormat::Strong : DocumentFormat::Tvro;
}

SecureBytes ReadDocumentStart(InputFile& document)
{
    SecureBytes start(kStrongHeaderSize);
    std::size_t size = 0;
    for (std::size_t got; size < start.size() && (got = document.Read({start.data() + size, start.size() - size})) > 0;)
        size += got;
    start.resize(size);
    return start;
}

StrongKeyHolder ObtainNewStrongKey(const KeySource& source, KeyRole role, const std::string& document,
                                   StandardInput& input)
{
    const StrongLimits limits = NewKeyLimits();
    SecureBytes secret;
    const StrongKeySource kind = ObtainStrongSecret(source, role, KeyUse::Write, document, input, secret);
    return Derive(secret, NewStrongParameters(kind, limits));
}

int RunStrongEncrypt(const Options& options)
{
    StandardInput input;
    const StrongKeyHolder key = ObtainNewStrongKey(options.key, KeyRole::Current, options.output, input);

    InputFile text(options.input);
    AtomicOutput output(options.output, Content::Document, &text.info());
    VersionKeeper keeper(options.keepVersions, /*documentsOnly=*/true);
    output.SetBeforeReplace(std::ref(keeper));
    StrongWriter writer(key, [&output](std::span<const std::uint8_t> bytes) { output.Write(bytes); });

    // Worker: read, in pieces of whole characters without a leading byte
    // order mark, and check the UTF-8. Here: drop carriage returns, seal and
    // write. The bytes are stored as read.
    Utf8Pieces pieces([&text](std::span<std::uint8_t> bytes) { return text.ReadAvailable(bytes); }, kPieceSize);
    TwoStages<SecureBytes>::Run(
        [&](SecureBytes& piece) {
            std::uint64_t offset = 0;
            if (!pieces.Next(piece, offset))
                return false;
            const std::size_t bad = FindInvalidUtf8(piece);
            if (bad < piece.size())
                throw CliFailure(kExitIo,
                                 text.name() + " is not valid UTF-8 (byte " + std::to_string(offset + bad + 1) + ")");
            return true;
        },
        [&writer](SecureBytes& piece) {
            for (std::span<const std::uint8_t> rest(piece); !rest.empty();) {
                const void* found = std::memchr(rest.data(), '\r', rest.size());
                const std::size_t line =
                    found ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - rest.data()) : rest.size();
                writer.WritePlaintext(rest.first(line));
                rest = rest.subspan(found ? line + 1 : line);
            }
        });
    writer.Finish();
    output.Commit();
    return kExitOk;
}

int RunStrongDecrypt(const Options& options, InputFile& document, std::span<const std::uint8_t> start)
{
    const StrongParameters parameters = HeaderOf(document.name(), start);
    StandardInput input;
    const StrongKeyHolder key = ObtainStrongKey(options.key, document.name(), input, parameters);

    AtomicOutput output(options.output.empty() ? "-" : options.output, Content::Plaintext, &document.info());
    // Worker: read, authenticate, decipher. Here: write.
    SecureBytes* filling = nullptr;
    StrongReader reader(key, [&filling](std::span<const std::uint8_t> text) {
        filling->insert(filling->end(), text.begin(), text.end());
    });
    StrongCheck check = StrongCheck::Sound;
    bool started = false;
    bool finished = false;
    SecureBytes buffer(kPieceSize);
    TwoStages<SecureBytes>::Run(
        [&](SecureBytes& piece) {
            if (finished)
                return false;
            piece.clear();
            filling = &piece;
            if (!started) {
                reader.Read(start);
                started = true;
            }
            while (piece.empty() && !finished) {
                const std::size_t got = reader.verdict() == StrongCheck::Sound ? document.Read(buffer) : 0;
                if (got == 0) {
                    check = reader.Finish();
                    finished = true;
                } else {
                    reader.Read({buffer.data(), got});
                }
            }
            return true;
        },
        [&output](SecureBytes& piece) { output.Write(piece); });

    // No text authenticated under a wrong key: the output is left alone.
    if (check == StrongCheck::WrongKey)
        Refuse(document.name(), check, "; nothing was written");
    output.Commit();
    if (check != StrongCheck::Sound) {
        const std::string line = "tavro-cli: warning: " + document.name() + ": " + StrongCheckMessage(check) +
                                 "; the " + std::to_string(reader.textSize()) +
                                 " bytes of text before it were written\n";
        std::fputs(line.c_str(), stderr);
        return kExitDamaged;
    }
    return kExitOk;
}

int RunStrongVerify(const Options& options, InputFile& document, std::span<const std::uint8_t> start)
{
    const StrongParameters parameters = HeaderOf(document.name(), start);
    if (options.key.kind == KeySourceKind::NotGiven) {
        // Without the key only the header, and that a record follows it, can be checked.
        SecureBytes buffer(kStrongRecordOverhead);
        std::size_t body = 0;
        for (std::size_t got; body < buffer.size() && (got = document.Read({buffer.data() + body, buffer.size() - body})) > 0;)
            body += got;
        if (body < kStrongRecordOverhead)
            Refuse(document.name(), StrongCheck::MissingEnd);
        PrintLine(document.name() + ": header sound (strong format, locked with " + SourceName(parameters.source) +
                  "); its text is checked only with the key");
        return kExitOk;
    }
    StandardInput input;
    const StrongKeyHolder key = ObtainStrongKey(options.key, document.name(), input, parameters);
    StrongReader reader(key, [](std::span<const std::uint8_t>) {});
    const StrongCheck check = ReadRest(document, start, reader);
    if (check != StrongCheck::Sound)
        Refuse(document.name(), check);
    PrintLine(document.name() + ": " + StrongCheckMessage(check));
    return kExitOk;
}

int RunStrongRekey(const Options& options, InputFile& document, const UnchangedDocument& unchanged)
{
    const std::string& name = options.input;
    SecureBytes start(kStrongHeaderSize);
    start.resize(document.ReadAt(0, start));
    const StrongParameters parameters = HeaderOf(name, start, "; left unchanged");
    const DocumentFormat target = options.format.value_or(DocumentFormat::Strong);
    if (target == DocumentFormat::Strong && options.newKey.kind == KeySourceKind::NoPassword)
        throw CliFailure(kExitUsage, "a document without password can only be .tvro: add --format tvro to turn " +
                                         name + " into one (see tavro-cli --help)");

    StandardInput input;
    const StrongKeyHolder oldKey = ObtainStrongKey(options.key, name, input, parameters);
    StrongKeyHolder newStrongKey;
    KeyHolder newTvroKey;
    if (target == DocumentFormat::Strong)
        newStrongKey = ObtainNewStrongKey(options.newKey, KeyRole::New, name, input);
    else
        ObtainKey(options.newKey, KeyRole::New, KeyUse::Write, name, input, newTvroKey.bytes());

    AtomicOutput output(name, Content::Document, nullptr);
    output.CheckBeforeReplace([&unchanged](const std::string& path) { unchanged.Check(path); });
    VersionKeeper keeper(options.keepVersions, /*documentsOnly=*/false);
    output.SetBeforeReplace(std::ref(keeper));
    const BodySink write = [&output](std::span<const std::uint8_t> bytes) { output.Write(bytes); };
    std::optional<StrongWriter> strong;
    std::optional<DocumentWriter> tvro;
    std::optional<StrongReader> reader;
    std::u32string lost; // characters a .tvro document would not keep
    if (target == DocumentFormat::Strong) {
        strong.emplace(newStrongKey, write);
        reader.emplace(oldKey, [&](std::span<const std::uint8_t> text) { strong->WritePlaintext(text); });
    } else {
        output.Write(DocumentHeader{}); // its place; filled in at the end
        tvro.emplace(newTvroKey.bytes(), write);
        reader.emplace(oldKey, [&](std::u16string_view text) {
            // Pieces end on whole characters, so each is judged alone.
            if (lost.empty())
                lost = LossyCharacters(text);
            if (lost.empty() && text.find(u'\r') != std::u16string_view::npos)
                lost = U"\r";
            tvro->Write(text);
        });
    }
    SecureBytes buffer(kPieceSize);
    std::uint64_t offset = 0;
    for (std::size_t got; reader->verdict() == StrongCheck::Sound && (got = document.ReadAt(offset, buffer)) > 0;
         offset += got)
        reader->Read({buffer.data(), got});
    const StrongCheck check = reader->Finish();
    if (check != StrongCheck::Sound)
        Refuse(name, check, "; left unchanged");
    if (lost.empty() && reader->invalidUtf8() > 0)
        lost = U"\uFFFD";
    if (!lost.empty())
        throw CliFailure(kExitIo, name + ": the text holds characters a .tvro document cannot store (" +
                                      CodePoint(lost.front()) + " first); left unchanged");

    if (strong)
        strong->Finish();
    else
        output.WriteAt(0, tvro->Finish());
    output.Commit();
    return kExitOk;
}

} // namespace tavro::cli
