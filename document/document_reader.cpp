#include "document_reader.h"

#include "document_file.h"
#include "document_stream.h"
#include "secure_memory.h"
#include "strong_stream.h"

#include <QIODevice>

#include <sys/sysinfo.h>

#include <algorithm>
#include <limits>

namespace tavro {
namespace {

// Large enough that calls do not count, small enough to report progress
// and notice a cancel often on a slow disk.
constexpr qint64 kReadPiece = qint64{4} << 20;

// How many times its text's size the editor needs, roughly (the text, its
// layout, the undo history, a save's snapshot and buffer).
constexpr std::uint64_t kMemoryPerTextByte = 8;

} // namespace

DocumentPreview PreviewDocument(QIODevice& file)
{
    file.seek(0);
    const QByteArray start = file.read(static_cast<qint64>(kStrongHeaderSize));
    file.seek(0);
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(start.constData()),
                                              static_cast<std::size_t>(start.size()));
    DocumentPreview preview;
    preview.format = DetectDocumentFormat(bytes);
    if (preview.format == DocumentFormat::Strong)
        preview.strongHeader = ParseStrongHeader(bytes, preview.strongParameters);
    return preview;
}

std::uint64_t LargestDocumentFile()
{
    // A .tvro file gives at most one UTF-16 unit a byte, a strong one one a
    // UTF-8 byte: the file's size bounds the text's length.
    std::uint64_t largest = std::numeric_limits<std::int32_t>::max() / 2;
    struct sysinfo info{};
    if (::sysinfo(&info) == 0 && info.totalram > 0) {
        const std::uint64_t memory = static_cast<std::uint64_t>(info.totalram) * info.mem_unit;
        largest = std::min(largest, memory / kMemoryPerTextByte / sizeof(char16_t));
    }
    return largest;
}

DocumentText ReadDocumentText(QIODevice& file, const SessionKey& key, const ReadProgress& progress,
                              const std::atomic<bool>* cancel)
{
    DocumentText result;
    file.seek(0);
    const qint64 size = file.size();
    // The text is decoded straight into the string the editor takes: each
    // byte gives at most one UTF-16 unit, and untouched pages cost nothing.
    result.text.reserve(std::max<qint64>(size, 0));
    const TextSink append = [&result](std::u16string_view piece) {
        result.text.append(reinterpret_cast<const QChar*>(piece.data()), static_cast<qsizetype>(piece.size()));
    };
    std::optional<JudgedReader> tvro;
    std::optional<StrongReader> strong;
    if (key.format() == DocumentFormat::Strong)
        strong.emplace(key.strong(), append);
    else
        tvro.emplace(key.tvro().bytes(), append);

    SecureBytes buffer(static_cast<std::size_t>(kReadPiece));
    std::uint64_t done = 0;
    const auto giveUp = [&result] {
        SecureWipe(result.text.data(), static_cast<std::size_t>(result.text.size()) * sizeof(QChar));
        result.text.clear();
        return std::move(result);
    };
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            result.cancelled = true;
            return giveUp();
        }
        const qint64 got = file.read(reinterpret_cast<char*>(buffer.data()), kReadPiece);
        if (got < 0) {
            result.readError = true;
            return giveUp();
        }
        if (got == 0)
            break;
        const std::span<const std::uint8_t> piece(buffer.data(), static_cast<std::size_t>(got));
        if (strong)
            strong->Read(piece);
        else
            tvro->Read(piece);
        done += static_cast<std::uint64_t>(got);
        if (progress)
            progress(done, static_cast<std::uint64_t>(std::max<qint64>(size, 0)));
        if (strong && strong->verdict() != StrongCheck::Sound)
            break; // nothing after a fault is shown
    }
    if (strong) {
        result.strongCheck = strong->Finish();
    } else {
        result.judgement = tvro->Finish();
        result.crcMatches = tvro->crcMatches();
    }
    return result;
}

} // namespace tavro
