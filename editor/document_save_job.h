// One document write off the UI thread. The UI thread hands over a
// snapshot of the editor text (its raw text, taken in one copy), a copy of
// the key and the atomic writer it opened; a worker thread then
//   1. encodes the snapshot straight into the file buffer (line and
//      paragraph separators as '\n', carriage returns dropped), noting the
//      characters a save would lose, and wipes the snapshot;
//   2. unless characters would be lost and that was not accepted up front:
//      pads, enciphers in place, writes and commits, and wipes the buffer.
// A job that stops after step 1 waits (outcome Lossy) until the UI thread
// has asked the user: WriteAnyway runs step 2, destroying the job drops it
// and with it the writer's temporary file. The file is replaced only by the
// commit, so a failure anywhere leaves the last good copy.
//
// The job calls finished() on the worker thread when a step ends; the UI
// thread then reads the outcome (isDone() is true by then). Only one step
// runs at a time; the destructor waits for it.
#pragma once

#include "document_buffer.h"
#include "document_key.h"

#include <QString>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <string>

class QSaveFile;

namespace tavro {

class DocumentSaveJob {
public:
    enum class Outcome {
        Running, // a step is under way
        Lossy,   // encoded; characters would be lost and the user must be asked
        Written, // the file holds the snapshot
        Failed,  // writing or committing failed; the old file is as it was
    };

    DocumentSaveJob(QString snapshot, const DocumentKey& key, std::unique_ptr<QSaveFile> writer,
                    bool lossAccepted, std::function<void()> finished);
    ~DocumentSaveJob();
    DocumentSaveJob(const DocumentSaveJob&) = delete;
    DocumentSaveJob& operator=(const DocumentSaveJob&) = delete;

    void Start();       // step 1, then step 2 when nothing is lost or loss was accepted
    void WriteAnyway(); // step 2 after the outcome Lossy
    void Wait();        // until the step under way has ended
    bool isDone() const { return m_done.load(std::memory_order_acquire); }
    Outcome outcome() const { return m_outcome; } // read once isDone()
    std::u32string lossyCharacters() const;

private:
    void Run(bool encode);
    void Encode();
    void Write();

    QString m_snapshot;
    DocumentKey m_key;
    std::unique_ptr<QSaveFile> m_writer;
    std::unique_ptr<DocumentBuffer> m_buffer;
    bool m_lossAccepted;
    std::function<void()> m_finished;
    Outcome m_outcome = Outcome::Running;
    std::atomic<bool> m_done{false};
    std::future<void> m_step;
};

} // namespace tavro
