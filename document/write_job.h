// One write of the editor's text to a file, off the UI thread.
//
// The UI thread hands over a snapshot of the text (the document's raw text,
// taken in one copy), what to make of it, a key copy for a document (its
// format decides the file's), and the atomic writer it opened; a worker
// thread then
//   1. encodes the snapshot: a .tvro document straight into a file buffer in
//      code page 936, exported text in pieces that go to the writer's
//      temporary file as they are made (line breaks as the content
//      requires), noting the characters the file cannot hold, and wipes the
//      snapshot; a strong document keeps every character, so only its line
//      breaks become '\n';
//   2. unless characters would be lost and that was not accepted up front:
//      enciphers (a .tvro document, or a strong one record by record as it
//      goes out) and writes the bytes to the device (exported text is there
//      already), commits it, and wipes what it held.
// After a step of a long text the memory it freed goes back to the system,
// so the editor's footprint does not grow with every save.
// Right before the commit replaces the file, a job given a check runs it:
// when the file is no longer the one its session knew (another program
// wrote, moved or removed it), the job stops with everything written but
// not committed (outcome Changed) until ReplaceAnyway() commits it or the
// job is destroyed. Then a job given a keeper runs it (the version store
// keeps the bytes about to go); what it says is kept for the UI thread,
// and the write goes on whatever it says. After the commit a document's
// job records the identity of the file it made.
// A job that stops after step 1 waits (outcome Lossy) until the UI thread
// has asked the user: WriteAnyway() runs step 2, destroying the job drops
// it and with it the writer's temporary file. The file is replaced only by
// the commit, so a failure anywhere leaves the last good copy.
//
// Steps run through QtConcurrent; stepFinished() comes on the thread that
// made the job once a step has ended (isRunning() is false by then). One
// step at a time; Wait() blocks until the step under way has ended, and the
// destructor waits too.
#pragma once

#include "file_identity.h"
#include "session_key.h"
#include "secure_memory.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>
#include <QString>

#include <functional>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

class QIODevice;
class QSaveFile;

namespace tavro {

class DocumentBuffer;

// What a job makes of the text.
enum class WriteContent {
    Document,  // a document in the key's format: '\n' line breaks, enciphered under the key
    PlainText, // exported text: code page 936, CR LF line breaks, not enciphered
};

// Writes all of bytes to device in pieces; false on the first short write.
bool WriteAll(QIODevice& device, std::span<const std::uint8_t> bytes);

class WriteJob : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Running, // a step is under way
        Lossy,   // encoded; characters would be lost and the user must be asked
        Changed, // written, not committed: the file is not the one the check knew
        Written, // the file holds the snapshot
        Failed,  // encoding, writing or committing failed; the old file is as it was
    };

    // Keeps what the file holds before the commit replaces it; returns an
    // error message when it could not (the write goes on), else nothing.
    using Keeper = std::function<QString()>;
    // True while the destination is still the file its session knew.
    using Check = std::function<bool()>;

    // writer: opened for writing; key: used for a document only.
    WriteJob(QString snapshot, WriteContent content, SessionKey key, std::unique_ptr<QSaveFile> writer,
             bool lossAccepted, Keeper keeper = {}, QObject* parent = nullptr);
    ~WriteJob() override;

    void Start();       // step 1, then step 2 when nothing is lost or loss was accepted
    bool WriteAnyway(); // step 2 after the outcome Lossy; true if it started
    // Set before Start(): the check the commit waits for.
    void setCheck(Check check) { m_check = std::move(check); }
    bool ReplaceAnyway(); // the commit after the outcome Changed; true if it started
    void Wait();        // until the step under way has ended
    bool isRunning() const { return m_future.isRunning(); }
    Outcome outcome() const { return m_outcome; } // read once a step has ended
    std::u32string lossyCharacters() const;
    // What the keeper said when it failed; empty when it did not, or did not run.
    const QString& keeperFailure() const { return m_keeperFailure; }
    // The file a document's job made, once Written (nullopt if it could not be read back).
    const std::optional<FileIdentity>& writtenIdentity() const { return m_writtenIdentity; }

signals:
    void stepFinished();

private:
    void Run(bool encode);
    void Encode();
    void EncodeAndWritePlain();
    void Write();
    bool WriteStrong();
    void Replace();

    QString m_snapshot;
    WriteContent m_content;
    SessionKey m_key;
    std::unique_ptr<QSaveFile> m_writer;
    std::unique_ptr<DocumentBuffer> m_document; // WriteContent::Document, a .tvro document's file
    bool m_plainWritten = false;                // WriteContent::PlainText: encoded into the device
    std::u32string m_lossy;
    bool m_lossAccepted;
    Keeper m_keeper;
    Check m_check;
    std::optional<FileIdentity> m_writtenIdentity;
    QString m_keeperFailure;
    Outcome m_outcome = Outcome::Running;
    bool m_large; // the snapshot was long: its memory is given back after each step
    QFuture<void> m_future;
    QFutureWatcher<void> m_watcher;
};

} // namespace tavro
