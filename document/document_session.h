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

#include "file_identity.h"
#include "session_key.h"
#include "text_state.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
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
    ChangedOnDisk, // the file is not the one read or last written; it was left as it is
};

class DocumentSession : public QObject {
    Q_OBJECT
public:
    // Opens the atomic writer of a path; tests pass one that fails.
    using WriterFactory = std::function<std::unique_ptr<QSaveFile>(const QString& path)>;

    // A document, unlocked, whose file is path and holds what document
    // holds now: a new document's (created empty), or the text read from
    // the file, which Load() then marks as such. document: the text
    // document to hold it, which the session takes over (a view may need
    // one laid out its way); nullptr: a plain, empty one.
    DocumentSession(const QString& path, SessionKey key, QTextDocument* document = nullptr,
                    QObject* parent = nullptr);
    // The document handed in holds the text read from the file: shown
    // locked; storedCopyProtected when it did not come from the file byte
    // for byte (a wrong key, damage).
    void Load(bool storedCopyProtected);
    // Waits for the write in flight; wipes the key and the text.
    ~DocumentSession() override;

    const QString& path() const { return m_path; }
    QTextDocument* document() const { return m_document; }
    // The text as a write takes it: every character kept, separators as '\n'.
    QString text() const;
    const SessionKey& key() const { return m_key; }
    // The file's format: the key's.
    DocumentFormat format() const { return m_key.format(); }

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
    bool IsKey(const SessionKey& key) const;
    // How the document's key is made again from its secret (a strong
    // document's salt and limits).
    KeyRecipe keyRecipe() const;
    // The current text would lose characters in its file and that was not
    // accepted: a write without a question would skip it.
    bool isKnownLossy() const;
    // The last write to the document's file failed (cleared by one that works).
    bool isWriteFailing() const { return m_writeFailing; }
    // A write found the document's file changed by another program and left
    // it (cleared by a write that replaces it).
    bool isChangedOnDisk() const { return m_changedOnDisk; }
    // The file as it was read or created: a write replaces it only while it
    // is still that file (else fileChangedOnDisk). nullopt: no check.
    void setFileIdentity(std::optional<FileIdentity> identity) { m_identity = std::move(identity); }
    bool isWriting() const { return m_job != nullptr; }

    // nullptr: QSaveFile.
    void setWriterFactory(WriterFactory factory);
    // The version store the bytes a write replaces are kept in (by default
    // the user's, versions/version_store.h); empty: none kept.
    void setVersionRoot(const QString& root) { m_versionRoot = root; }
    const QString& versionRoot() const { return m_versionRoot; }

    // Start a write of the text; its end comes as writeFinished (at once
    // for CannotOpen). False when nothing was started.
    bool Save(WriteOrigin origin); // Save or AutoSave, to the document's file
    // Locks the text, then writes it; going back from the lossy question
    // restores the lock it had.
    bool Lock();
    // To path, under the document's key, or under newKey (another format
    // included), which becomes the document's once written.
    bool SaveAs(const QString& path, std::optional<SessionKey> newKey = std::nullopt);
    bool ChangeKey(SessionKey key);
    bool Export(const QString& path);
    // The answer to lossyCharactersFound, given while it is emitted.
    void WriteAnyway();
    // The answer to fileChangedOnDisk, given while it is emitted: replace the file all the same.
    void ReplaceAnyway();
    // Ends the write in flight, its questions included; true when it
    // stored its text. False at once when none is under way.
    bool WaitForWrite();

signals:
    // Whether modified, locked, protected, the path or the write state changed.
    void changed();
    // A write would lose these characters (U+0000 first); call WriteAnyway() to go on.
    void lossyCharactersFound(tavro::WriteOrigin origin, const std::u32string& characters);
    void writeFinished(tavro::WriteOrigin origin, tavro::WriteOutcome outcome);
    // A write is ready to replace the document's file, which another program
    // has written, moved or removed since; call ReplaceAnyway() to go on.
    // (Auto-save does not ask: its write ends as ChangedOnDisk.)
    void fileChangedOnDisk(tavro::WriteOrigin origin);
    // The bytes a write replaced could not be kept as a version (the write went on).
    void versionNotKept(const QString& reason);

private:
    struct PendingWrite;

    bool Begin(WriteOrigin origin, const QString& destination, bool plainText, std::optional<SessionKey> newKey);
    void Deliver();
    // Emits a question with m_delivering set; true if its answer resumed the job.
    bool AskedAndResumed(const std::function<void()>& ask);
    void Finish(WriteOutcome outcome);
    bool ConsentGiven(const QString& destination) const;
    void NotifyIfChanged();

    QString m_path;
    SessionKey m_key;
    QTextDocument* m_document;
    TextStateTracker m_states;
    TextState m_stored;      // what the file holds
    TextState m_knownLossy;  // found lossy for the file, not accepted
    std::map<QString, TextState> m_consents; // loss accepted per destination
    bool m_protected = false;
    bool m_locked = false;
    bool m_hidden = false;
    bool m_writeFailing = false;
    bool m_changedOnDisk = false;
    std::optional<FileIdentity> m_identity;
    WriterFactory m_writerFactory;
    QString m_versionRoot;
    std::unique_ptr<WriteJob> m_job;
    std::unique_ptr<PendingWrite> m_pending;
    bool m_delivering = false;
    bool m_stepResumed = false; // the question's answer started the job's next step
    bool m_lastWriteStored = false;
    bool m_shownModified = false; // what changed() last told
};

} // namespace tavro
