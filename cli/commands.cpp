#include "commands.h"

#include "atomic_file.h"
#include "document_file.h"
#include "document_stream.h"
#include "exit_codes.h"
#include "input_file.h"
#include "ordered_pieces.h"
#include "strong_commands.h"
#include "strong_stream.h"
#include "text_checks.h"
#include "text_coding.h"
#include "text_pieces.h"
#include "unchanged_document.h"
#include "utf8.h"
#include "versions.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>

namespace tavro::cli {
namespace {

// Room for the header at the start of a document whose header is written last.
constexpr DocumentHeader kHeaderPlaceholder{};

void WarnDamaged(const std::string& document, DocumentCheck check)
{
    const std::string line = "tavro-cli: warning: " + document + ": " + DocumentCheckMessage(check) +
                             "; the text was written but may be incomplete or wrong\n";
    std::fputs(line.c_str(), stderr);
}

void WarnDoubtful(const std::string& document, const ReadJudgement& judgement)
{
    const std::string line = "tavro-cli: warning: " + document + ": " + DoubtfulReadMessage(judgement) +
                             "; the text was written but may be wrong\n";
    std::fputs(line.c_str(), stderr);
}

// Reads input to its end in pieces, handing each to consume.
template <class Consume>
void ReadAll(InputFile& input, Consume&& consume)
{
    SecureBytes buffer(kPieceSize);
    for (;;) {
        const std::size_t got = input.Read(buffer);
        if (got == 0)
            return;
        consume(std::span<const std::uint8_t>(buffer.data(), got));
    }
}

// The verdict on a document from its header and CRC alone; start holds
// the bytes already read from input, if any.
DocumentCheck CheckInput(InputFile& input, std::span<const std::uint8_t> start = {})
{
    DocumentChecker checker;
    checker.Read(start);
    ReadAll(input, [&checker](std::span<const std::uint8_t> piece) { checker.Read(piece); });
    return checker.Finish();
}

} // namespace

int RunDecrypt(const Options& options)
{
    InputFile document(options.input, Devices::Refused);
    const SecureBytes start = ReadDocumentStart(document);
    if (DetectDocumentFormat(start) == DocumentFormat::Strong)
        return RunStrongDecrypt(options, document, start);
    StandardInput input;
    KeyHolder key;
    ObtainKey(options.key, KeyRole::Current, KeyUse::Open, document.name(), input, key.bytes());

    AtomicOutput output(options.output.empty() ? "-" : options.output, Content::Plaintext, &document.info());
    // Take: read, decipher, cut. Convert, on both cores: code page 936 to
    // UTF-8, judged on the way. Put: write.
    DocumentTextPieces pieces(document, start, key.bytes());
    DecodedPieces decoded;
    OrderedPieces<TextPiece>::Run({
        .take = [&pieces](TextPiece& piece) { return pieces.Next(piece); },
        .convert =
            [](TextPiece& piece) {
                if (!piece.ordered)
                    DecodePiece(piece);
            },
        .put =
            [&](TextPiece& piece) {
                decoded.Add(piece);
                output.Write({piece.utf8.data(), piece.utf8Size});
            },
    });
    const DocumentCheck check = pieces.check();
    const DocumentChecker& checker = pieces.checker();
    const ReadJudgement judgement = decoded.Finish(checker.fileSize(), checker.padCount(), checker.crcMatches());
    output.Commit();

    // Whatever could be read was written; every defect verify names is
    // reported in its words and fails the command, and so does a text that
    // does not read clean.
    if (check != DocumentCheck::Sound) {
        WarnDamaged(document.name(), check);
        return kExitDamaged;
    }
    if (!judgement.clean()) {
        WarnDoubtful(document.name(), judgement);
        return kExitDamaged;
    }
    return kExitOk;
}

int RunEncrypt(const Options& options)
{
    if (EncryptFormat(options) == DocumentFormat::Strong)
        return RunStrongEncrypt(options);
    StandardInput input;
    KeyHolder key;
    ObtainKey(options.key, KeyRole::Current, KeyUse::Write, options.output, input, key.bytes());

    InputFile text(options.input);
    AtomicOutput output(options.output, Content::Document, &text.info());
    VersionKeeper keeper(options.keepVersions, /*documentsOnly=*/true);
    output.SetBeforeReplace(std::ref(keeper));
    const LossGuard lossGuard(!options.lossy, text.name());
    // A document bound for a pipe is held back until its header is known.
    std::optional<SpoolFile> spool;
    if (output.seekable())
        output.Write(kHeaderPlaceholder);
    else
        spool.emplace();
    DocumentWriter writer(key.bytes(), [&](std::span<const std::uint8_t> body) {
        if (spool)
            spool->Write(body);
        else
            output.Write(body);
    });

    // Take: read, in pieces of whole characters. Convert, on both cores:
    // check the UTF-8, encode it by table. Put: refuse what the document
    // cannot hold, encipher and write. The first fault in the text is the
    // one reported.
    Utf8Pieces pieces([&text](std::span<std::uint8_t> bytes) { return text.ReadAvailable(bytes); }, kPieceSize);
    const std::string& name = text.name();
    OrderedPieces<EncodePiece>::Run({
        .take = [&](EncodePiece& piece) { return pieces.Next(piece.text, piece.offset); },
        .convert =
            [](EncodePiece& piece) {
                piece.lossy = LossyCharacterSet();
                piece.fault = EncodePiece::Fault::None;
                const std::span<const std::uint8_t> text(piece.text);
                const std::size_t bad = FindInvalidUtf8(text);
                // U+0000 cannot be stored: the document's text would end
                // there. Strict UTF-8 has one form of it, the byte 0x00.
                if (const void* nul = bad > 0 ? std::memchr(text.data(), 0, bad) : nullptr) {
                    piece.fault = EncodePiece::Fault::Nul;
                    piece.faultAt = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - text.data());
                } else if (bad < text.size()) {
                    piece.fault = EncodePiece::Fault::Invalid;
                    piece.faultAt = bad;
                } else {
                    piece.bytes.resize(text.size());
                    piece.bytes.resize(Utf8ToCodePage(text, piece.bytes.data(), piece.lossy));
                }
            },
        .put =
            [&](EncodePiece& piece) {
                const std::string byte = "(byte " + std::to_string(piece.offset + piece.faultAt + 1) + ")";
                if (piece.fault == EncodePiece::Fault::Invalid)
                    throw CliFailure(kExitIo, name + " is not valid UTF-8 " + byte);
                if (piece.fault == EncodePiece::Fault::Nul)
                    throw CliFailure(kExitIo, name + " contains a NUL character " + byte +
                                                  ", which a document cannot hold");
                lossGuard.Check(piece.lossy);
                writer.WritePlaintext(piece.bytes);
            },
    });

    const DocumentHeader header = writer.Finish();
    if (spool) {
        output.Write(header);
        spool->CopyTo(output);
    } else {
        output.WriteAt(0, header);
    }
    output.Commit();
    return kExitOk;
}

int RunVerify(const Options& options)
{
    InputFile document(options.input, Devices::Refused);
    const SecureBytes start = ReadDocumentStart(document);
    if (DetectDocumentFormat(start) == DocumentFormat::Strong)
        return RunStrongVerify(options, document, start);
    std::string line;
    if (options.key.kind == KeySourceKind::NotGiven) {
        // No key: the header and CRC alone.
        const DocumentCheck check = CheckInput(document, start);
        line = document.name() + ": " + DocumentCheckMessage(check);
        if (check != DocumentCheck::Sound)
            throw CliFailure(kExitDamaged, line);
    } else {
        // With the key: whether the text reads clean under it too.
        StandardInput input;
        KeyHolder key;
        ObtainKey(options.key, KeyRole::Current, KeyUse::Open, document.name(), input, key.bytes());
        JudgedReader reader(key.bytes(), {});
        reader.Read(start);
        ReadAll(document, [&reader](std::span<const std::uint8_t> piece) { reader.Read(piece); });
        const ReadJudgement judgement = reader.Finish();
        if (reader.check() != DocumentCheck::Sound)
            throw CliFailure(kExitDamaged, document.name() + ": " + DocumentCheckMessage(reader.check()));
        if (!judgement.clean())
            throw CliFailure(kExitDamaged, document.name() + ": " + DoubtfulReadMessage(judgement));
        line = document.name() + ": " + DocumentCheckMessage(DocumentCheck::Sound) +
               ", and the text reads clean under the key";
    }
    if (std::printf("%s\n", line.c_str()) < 0 || std::fflush(stdout) != 0)
        throw CliFailure(kExitIo, std::string("cannot write standard output: ") + std::strerror(errno));
    return kExitOk;
}

int RunRekey(const Options& options)
{
    InputFile document(options.input, Devices::Refused);
    if (!S_ISREG(document.info().st_mode))
        throw CliFailure(kExitIo, "cannot rekey " + options.input + ": not a regular file");
    // Taken before the first read: a writer at any time from here on is seen.
    const UnchangedDocument unchanged(document);
    SecureBytes magic(kStrongMagic.size());
    magic.resize(document.ReadAt(0, magic));
    if (DetectDocumentFormat(magic) == DocumentFormat::Strong)
        return RunStrongRekey(options, document, unchanged);
    const bool toStrong = options.format == DocumentFormat::Strong;
    if (toStrong && options.newKey.kind == KeySourceKind::NoPassword)
        throw CliFailure(kExitUsage, "a strong document needs a password or a key file; --new-no-password makes "
                                     "only .tvro documents (see tavro-cli --help)");
    const std::string leftUnchanged = "; left unchanged (--force rekeys it all the same)";
    const auto refuseDamaged = [&](DocumentCheck check) {
        if (check != DocumentCheck::Sound && !options.force)
            throw CliFailure(kExitDamaged, options.input + ": " + DocumentCheckMessage(check) + leftUnchanged);
    };
    // A damaged document is refused before any password is asked for.
    refuseDamaged(CheckInput(document));

    StandardInput input;
    KeyHolder oldKey;
    KeyHolder newKey;
    StrongKeyHolder newStrongKey;
    ObtainKey(options.key, KeyRole::Current, KeyUse::Open, options.input, input, oldKey.bytes());
    if (toStrong)
        newStrongKey = ObtainNewStrongKey(options.newKey, KeyRole::New, options.input, input);
    else
        ObtainKey(options.newKey, KeyRole::New, KeyUse::Write, options.input, input, newKey.bytes());

    // The new document: .tvro, whose header is written last, or strong. It
    // replaces the file only if no other program changed it meanwhile, and
    // the bytes it replaces are kept as a version.
    AtomicOutput output(options.input, Content::Document, nullptr);
    output.CheckBeforeReplace([&unchanged](const std::string& target) { unchanged.Check(target); });
    VersionKeeper keeper(options.keepVersions, /*documentsOnly=*/false);
    output.SetBeforeReplace(std::ref(keeper));
    const BodySink write = [&output](std::span<const std::uint8_t> body) { output.Write(body); };
    std::optional<DocumentWriter> rekeyed;
    std::optional<StrongWriter> strong;
    if (toStrong) {
        strong.emplace(newStrongKey, write);
    } else {
        output.Write(kHeaderPlaceholder);
        rekeyed.emplace(newKey.bytes(), write);
    }
    // The text must read clean under the old key (read_judgement.h): a text
    // that does not would be garbage under the new key, and the document's
    // own bytes lost (most likely the old key is wrong).
    JudgedReader reader(oldKey.bytes(), [&](std::u16string_view text) {
        if (strong)
            strong->Write(text);
        else
            rekeyed->Write(text);
    });
    // Read from the start again, through the descriptor the check used.
    SecureBytes buffer(kPieceSize);
    std::uint64_t offset = 0;
    for (std::size_t got; (got = document.ReadAt(offset, buffer)) > 0; offset += got)
        reader.Read({buffer.data(), got});
    const ReadJudgement judgement = reader.Finish();
    refuseDamaged(reader.check());
    if (!judgement.clean() && !options.force)
        throw CliFailure(kExitDamaged, options.input + ": " + DoubtfulReadMessage(judgement) + leftUnchanged);

    if (strong)
        strong->Finish();
    else
        output.WriteAt(0, rekeyed->Finish());
    output.Commit();
    if (!judgement.clean()) {
        std::string line = "tavro-cli: warning: " + options.input + ": rekeyed after a " +
                           DoubtfulReadMessage(judgement);
        if (keeper.result().outcome == KeepResult::Kept)
            line += "; its earlier bytes are version " + std::to_string(keeper.result().number) +
                    " (tavro-cli restore " + options.input + " " + std::to_string(keeper.result().number) + ")";
        std::fputs((line + "\n").c_str(), stderr);
    }
    return kExitOk;
}

} // namespace tavro::cli
