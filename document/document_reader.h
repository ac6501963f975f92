// Reading a document file into the text an editor shows: either format,
// in pieces of the file (so a document of any size passes through a piece
// of memory besides its text), with progress and a cancel flag, so that a
// window can read on a worker thread and keep painting.
#pragma once

#include "read_judgement.h"
#include "session_key.h"
#include "strong_format.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

class QIODevice;

namespace tavro {

// What the first bytes of a document file say before any key is asked for.
struct DocumentPreview {
    DocumentFormat format = DocumentFormat::Tvro;
    // Strong: the header's parameters, which the key is derived under, or
    // the fault that makes the file unreadable whatever the key.
    StrongParameters strongParameters;
    StrongCheck strongHeader = StrongCheck::Sound;
};

// Looks at file's first bytes (from its start); the position is left at 0.
DocumentPreview PreviewDocument(QIODevice& file);

// The largest document file the editor takes: its text must fit the
// editor's positions (below 2^31 characters) and this machine's memory
// (the editor needs several times the text's size).
std::uint64_t LargestDocumentFile();

struct DocumentText {
    QString text;
    bool cancelled = false;
    bool readError = false; // the file could not be read to its end: no text
    // .tvro: the judgement of the read; clean only if the stored copy is
    // surely the document (read_judgement.h).
    bool crcMatches = false;
    ReadJudgement judgement;
    // Strong: Sound, or why the text is not (all) there: a wrong key,
    // damage. The text is that of the records that authenticated.
    StrongCheck strongCheck = StrongCheck::Sound;
};

// Bytes of the file read so far, and its size.
using ReadProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// The text of the document in file (from its start to its end) under key,
// whose format says how to read it.
DocumentText ReadDocumentText(QIODevice& file, const SessionKey& key, const ReadProgress& progress = {},
                              const std::atomic<bool>* cancel = nullptr);

} // namespace tavro
