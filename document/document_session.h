// One open document: its file's path, its key, its text (a QTextDocument the
// editor shows), what its file holds now, whether that stored copy must be
// protected, the user's consent to lose characters, the lock, whether it is
// hidden, and the writes that store it. No widgets: the window is a view over it, asks the
// user what the session cannot decide, and shows what it reports.
//
// Unsaved changes are a fact about text states, not a flag: the session
// keeps the state of the text its file holds (the one read, or the snapshot
// last written), and the text is modified exactly while it is in another
// state, whatever order edits, undos and write completions come in.
//
// Writes run one at a time off the UI thread (see WriteJob). A write that
// would lose characters stops and reports them (lossyCharactersFound); a
// slot that calls WriteAnyway() during that signal lets it go on, and the
// consent holds for that destination and that text state only. The key
// and the text are wiped when the session goes.
#pragma once

#include "key_holder.h"
#include "text_state.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>

class QSaveFile;
class QTextDocument;

namespace tavro {

class WriteJob;

// Who asks for a write; what follows its outcome differs.
enum class WriteOrigin {
    Save,     // the Save command, and Save in the unsaved-changes question
    Lock,     // the Lock command; going back from the lossy question unlocks again
    AutoSave, // never asks: a text that would lose characters is skipped
    SaveAs,   // to another file, which becomes the document's once written
    Password, // under a new key, which becomes the document's once written
    Export,   // plain text to another file; the document is not touched
};

enum class WriteOutcome {
    Written,    // the file holds the snapshot
    CannotOpen, // the file could not be opened for writing; nothing was written
    Failed,     // writing or committing failed; the file is as it was
    WentBack,   // characters would be lost and the user did not accept it
    Skipped,    // auto-save: characters would be lost, not accepted before
};

class DocumentSession : public QObject {
    Q_OBJECT
public:
    // Opens the atomic writer of a path; tests pass one that fails.
    using WriterFactory = std::function<std::unique_ptr<QSaveFile>(const QString& path)>;

    // A document, empty and unlocked, whose file is path: a new document's
    // (created empty), until Load() gives it the text read from its file.
    // document: the text document to hold it, which the session takes
    // over (a view may need one laid out its way); nullptr: a plain one.
    DocumentSession(const QString& path, KeyHolder key, QTextDocument* document = nullptr,
                    QObject* parent = nullptr);
    // The text read from the file, shown locked; storedCopyProtected when it
    // did not come from the file byte for byte (a wrong key, damage). The
    // string handed in is wiped.
    void Load(QString text, bool storedCopyProtected);
    // Waits for the write in flight; wipes the key and the text.
    ~DocumentSession() override;

    const QString& path() const { return m_path; }
    QTextDocument* document() const { return m_document; }
    const KeyHolder& key() const { return m_key; }

    // The text differs from what the document's file holds.
    bool isModified() const;
    // The stored copy may not be the document (a doubtful read): it is not
    // written unasked.
    bool isProtected() const { return m_protected; }
    bool isLocked() const { return m_locked; }
    // Refused (the lock stays) while the document is hidden.
    void setLocked(bool locked);

    // --- Hidden: the text is kept from view until the key is given again.
    // A hidden document is locked, and auto-save still writes it. Showing
    // it leaves it locked.
    bool isHidden() const { return m_hidden; }
    void setHidden(bool hidden);
    // Whether key is the document's key, in time independent of the bytes.
    bool IsKey(const KeyHolder& key) const;
    // The current text would lose characters in its file and that was not
    // accepted: a write without a question would skip it.
    bool isKnownLossy() const;
    // The last write to the document's file failed (cleared by one that works).
    bool isWriteFailing() const { return m_writeFailing; }
    bool isWriting() const { return m_job != nullptr; }

    // nullptr: QSaveFile.
    void setWriterFactory(WriterFactory factory);

    // Start a write of the text; its end comes as writeFinished (at once
    // for CannotOpen). False when nothing was started.
    bool Save(WriteOrigin origin); // Save or AutoSave, to the document's file
    // Locks the text, then writes it; going back from the lossy question
    // restores the lock it had.
    bool Lock();
    bool SaveAs(const QString& path);
    bool ChangeKey(KeyHolder key);
    bool Export(const QString& path);
    // The answer to lossyCharactersFound, given while it is emitted.
    void WriteAnyway();
    // Ends the write in flight, its questions included; true when it
    // stored its text. False at once when none is under way.
    bool WaitForWrite();

signals:
    // Whether modified, locked, protected, the path or the write state changed.
    void changed();
    // A write would lose these characters (U+0000 first); call WriteAnyway() to go on.
    void lossyCharactersFound(tavro::WriteOrigin origin, const std::u32string& characters);
    void writeFinished(tavro::WriteOrigin origin, tavro::WriteOutcome outcome);

private:
    struct PendingWrite;

    bool Begin(WriteOrigin origin, const QString& destination, bool plainText, KeyHolder key);
    void Deliver();
    void Finish(WriteOutcome outcome);
    bool ConsentGiven(const QString& destination) const;
    void NotifyIfChanged();

    QString m_path;
    KeyHolder m_key;
    QTextDocument* m_document;
    TextStateTracker m_states;
    TextState m_stored;      // what the file holds
    TextState m_knownLossy;  // found lossy for the file, not accepted
    std::map<QString, TextState> m_consents; // loss accepted per destination
    bool m_protected = false;
    bool m_locked = false;
    bool m_hidden = false;
    bool m_writeFailing = false;
    WriterFactory m_writerFactory;
    std::unique_ptr<WriteJob> m_job;
    std::unique_ptr<PendingWrite> m_pending;
    bool m_delivering = false;
    bool m_lastWriteStored = false;
    bool m_shownModified = false; // what changed() last told
};

} // namespace tavro
