#include "document_session.h"

#include "version_store.h"
#include "write_job.h"

#include <QFile>

#include <QFileInfo>
#include <QSaveFile>
#include <QTextDocument>

#include <filesystem>
#include <utility>

namespace tavro {

// The write in flight and what its outcome needs.
struct DocumentSession::PendingWrite {
    WriteOrigin origin;
    QString destination;
    TextState snapshot;   // the text state written
    bool lockedBefore;    // Lock: the lock before the command
    std::optional<SessionKey> newKey; // Password, Save As: installed once written
};

namespace {

// What a write keeps its replaced bytes as.
VersionOrigin VersionOriginOf(WriteOrigin origin)
{
    switch (origin) {
    case WriteOrigin::Lock: return VersionOrigin::Lock;
    case WriteOrigin::AutoSave: return VersionOrigin::AutoSave;
    case WriteOrigin::Password: return VersionOrigin::PasswordChange;
    case WriteOrigin::Save:
    case WriteOrigin::SaveAs:
    case WriteOrigin::Export: break;
    }
    return VersionOrigin::Save;
}

// Keeps the document file at path before a write replaces it: always the
// document's own (unless it is the empty file New made), another file only
// when it is a document too, never a plain text file.
WriteJob::Keeper VersionKeeper(const QString& root, const QString& path, WriteOrigin origin, bool ownFile)
{
    return [root = QFile::encodeName(root).toStdString(), path = QFile::encodeName(path).toStdString(),
            origin = VersionOriginOf(origin), ownFile]() -> QString {
        if (ownFile ? QFileInfo(QFile::decodeName(path.c_str())).size() == 0 : !LooksLikeDocument(path))
            return {};
        const KeepResult kept = VersionStore(root).Keep(path, origin);
        return kept.outcome == KeepResult::Failed ? QString::fromStdString(kept.message) : QString();
    };
}

std::unique_ptr<QSaveFile> OpenSaveFile(const QString& path)
{
    return std::make_unique<QSaveFile>(path);
}

} // namespace

namespace {

QTextDocument* Adopt(QTextDocument* document, QObject* owner)
{
    if (!document)
        return new QTextDocument(owner);
    document->setParent(owner);
    return document;
}

} // namespace

DocumentSession::DocumentSession(const QString& path, SessionKey key, QTextDocument* document, QObject* parent)
    : QObject(parent), m_path(path), m_key(std::move(key)), m_document(Adopt(document, this)),
      m_states(m_document), m_writerFactory(OpenSaveFile),
      m_versionRoot(QFile::decodeName(DefaultVersionRoot().c_str()))
{
    m_stored = m_states.Capture(); // a new file is empty, and so is the text
    connect(&m_states, &TextStateTracker::changed, this, &DocumentSession::NotifyIfChanged);
}

void DocumentSession::Load(bool storedCopyProtected)
{
    m_stored = m_states.Capture();
    m_protected = storedCopyProtected;
    m_locked = true; // an opened document is shown locked
    m_shownModified = false;
    emit changed();
}

DocumentSession::~DocumentSession()
{
    m_job.reset(); // waits; an unfinished write leaves the old file
    // The text's own storage is released as the document goes; what can be
    // overwritten first is.
    m_document->blockSignals(true);
    m_document->clear();
}

void DocumentSession::setWriterFactory(WriterFactory factory)
{
    m_writerFactory = factory ? std::move(factory) : WriterFactory(OpenSaveFile);
}

bool DocumentSession::isModified() const
{
    return !m_states.IsCurrent(m_stored);
}

bool DocumentSession::isKnownLossy() const
{
    return m_states.IsCurrent(m_knownLossy) && !ConsentGiven(m_path);
}

void DocumentSession::setLocked(bool locked)
{
    if (m_locked == locked || (m_hidden && !locked))
        return;
    m_locked = locked;
    emit changed();
}

void DocumentSession::setHidden(bool hidden)
{
    if (m_hidden == hidden)
        return;
    m_hidden = hidden;
    m_locked = true;
    emit changed();
}

bool DocumentSession::IsKey(const SessionKey& key) const
{
    return m_key.SameKey(key);
}

KeyRecipe DocumentSession::keyRecipe() const
{
    KeyRecipe recipe;
    recipe.format = m_key.format();
    if (recipe.format == DocumentFormat::Strong)
        recipe.strongParameters = m_key.strong().parameters();
    return recipe;
}

void DocumentSession::NotifyIfChanged()
{
    if (isModified() == m_shownModified)
        return;
    m_shownModified = !m_shownModified;
    emit changed();
}

bool DocumentSession::ConsentGiven(const QString& destination) const
{
    const auto found = m_consents.find(destination);
    return found != m_consents.end() && m_states.IsCurrent(found->second);
}

bool DocumentSession::Save(WriteOrigin origin)
{
    return Begin(origin, m_path, /*plainText=*/false, std::nullopt);
}

bool DocumentSession::Lock()
{
    WaitForWrite(); // the lock to go back to is the one from before this Lock
    const bool wasLocked = m_locked;
    setLocked(true); // in force whatever the write's outcome
    if (!Begin(WriteOrigin::Lock, m_path, /*plainText=*/false, std::nullopt))
        return false;
    m_pending->lockedBefore = wasLocked;
    return true;
}

QString DocumentSession::text() const
{
    QString text = m_document->toRawText();
    for (QChar& c : text)
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = QLatin1Char('\n');
    return text;
}

bool DocumentSession::SaveAs(const QString& path, std::optional<SessionKey> newKey)
{
    return Begin(WriteOrigin::SaveAs, path, /*plainText=*/false, std::move(newKey));
}

bool DocumentSession::ChangeKey(SessionKey key)
{
    return Begin(WriteOrigin::Password, m_path, /*plainText=*/false, std::move(key));
}

bool DocumentSession::Export(const QString& path)
{
    return Begin(WriteOrigin::Export, path, /*plainText=*/true, std::nullopt);
}

bool DocumentSession::Begin(WriteOrigin origin, const QString& destination, bool plainText,
                            std::optional<SessionKey> newKey)
{
    WaitForWrite(); // never two writes at once
    if (m_job)
        return false; // asked for while the one in flight is being delivered
    // The file is replaced only once every byte is written and flushed: a
    // failed write leaves the last good copy as it was.
    std::unique_ptr<QSaveFile> writer = m_writerFactory(destination);
    const bool existed = QFileInfo::exists(destination);
    if (destination.isEmpty() || !writer->open(QIODevice::WriteOnly) ||
        // Plain text is for its owner alone, unless the file existed with a mode of its owner's choosing.
        (plainText && !existed && !writer->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))) {
        if (destination == m_path) {
            m_writeFailing = true;
            emit changed();
        }
        emit writeFinished(origin, WriteOutcome::CannotOpen);
        return false;
    }
    const SessionKey& key = newKey ? *newKey : m_key;
    m_pending.reset(new PendingWrite{origin, destination, m_states.Capture(), m_locked, std::nullopt});
    WriteJob::Keeper keeper;
    if (!plainText && !m_versionRoot.isEmpty())
        keeper = VersionKeeper(m_versionRoot, destination, origin, destination == m_path);
    m_job = std::make_unique<WriteJob>(m_document->toRawText(),
                                       plainText ? WriteContent::PlainText : WriteContent::Document,
                                       key.Copy(), std::move(writer), ConsentGiven(destination), std::move(keeper));
    m_pending->newKey = std::move(newKey);
    if (destination == m_path && m_identity) {
        m_job->setCheck([path = std::filesystem::path(QFile::encodeName(destination).toStdString()),
                         identity = *m_identity] {
            // A file moved away or removed is replaced by nothing of anyone's.
            return CheckFileIdentity(path, identity).change != FileChange::Changed;
        });
    }
    connect(m_job.get(), &WriteJob::stepFinished, this, &DocumentSession::Deliver);
    m_job->Start();
    emit changed();
    return true;
}

bool DocumentSession::WaitForWrite()
{
    if (m_delivering)
        return false; // asked from inside the delivery's own question
    if (!m_job)
        return false;
    while (m_job) {
        m_job->Wait();
        Deliver();
    }
    return m_lastWriteStored;
}

void DocumentSession::WriteAnyway()
{
    if (!m_delivering || !m_job || m_job->outcome() != WriteJob::Outcome::Lossy)
        return;
    m_consents[m_pending->destination] = m_pending->snapshot;
    m_stepResumed = m_job->WriteAnyway();
}

void DocumentSession::ReplaceAnyway()
{
    if (!m_delivering || !m_job || m_job->outcome() != WriteJob::Outcome::Changed)
        return;
    m_stepResumed = m_job->ReplaceAnyway();
}

void DocumentSession::Deliver()
{
    // The step's end may come twice: from the watcher and from WaitForWrite.
    if (!m_job || m_job->isRunning() || m_delivering)
        return;
    switch (m_job->outcome()) {
    case WriteJob::Outcome::Running:
        return;
    case WriteJob::Outcome::Lossy:
        if (m_pending->destination == m_path && m_pending->origin != WriteOrigin::Export)
            m_knownLossy = m_pending->snapshot;
        if (m_pending->origin == WriteOrigin::AutoSave) {
            Finish(WriteOutcome::Skipped);
            return;
        }
        if (AskedAndResumed([&] { emit lossyCharactersFound(m_pending->origin, m_job->lossyCharacters()); }))
            return; // written anyway: delivered again once written
        if (m_pending->origin == WriteOrigin::Lock && !m_pending->lockedBefore)
            setLocked(false); // going back from Lock: still editing
        Finish(WriteOutcome::WentBack);
        return;
    case WriteJob::Outcome::Changed:
        if (m_pending->origin != WriteOrigin::AutoSave) {
            if (AskedAndResumed([&] { emit fileChangedOnDisk(m_pending->origin); }))
                return; // replaced anyway: delivered again once written
        }
        m_changedOnDisk = true;
        if (m_pending->origin == WriteOrigin::Lock && !m_pending->lockedBefore)
            setLocked(false); // nothing stored: still editing
        Finish(WriteOutcome::ChangedOnDisk);
        return;
    case WriteJob::Outcome::Failed:
        if (m_pending->destination == m_path)
            m_writeFailing = true;
        Finish(WriteOutcome::Failed);
        return;
    case WriteJob::Outcome::Written:
        if (m_pending->origin == WriteOrigin::SaveAs)
            m_path = m_pending->destination;
        if (m_pending->newKey)
            m_key = std::move(*m_pending->newKey);
        if (m_pending->destination == m_path) {
            // The file holds the snapshot now, whatever the text became since.
            m_stored = m_pending->snapshot;
            m_protected = false;
            m_writeFailing = false;
            m_changedOnDisk = false;
            m_identity = m_job->writtenIdentity();
        }
        Finish(WriteOutcome::Written);
        return;
    }
}

bool DocumentSession::AskedAndResumed(const std::function<void()>& ask)
{
    // Whether the answer resumed the job is what it said, never its outcome:
    // a resumed step may be running, or already over, by the time it is read.
    m_delivering = true;
    m_stepResumed = false;
    ask();
    m_delivering = false;
    return std::exchange(m_stepResumed, false);
}

void DocumentSession::Finish(WriteOutcome outcome)
{
    const WriteOrigin origin = m_pending->origin;
    const QString keeperFailure = m_job->keeperFailure();
    m_lastWriteStored = outcome == WriteOutcome::Written;
    m_job.reset();
    m_pending.reset();
    m_shownModified = isModified();
    emit changed();
    if (!keeperFailure.isEmpty())
        emit versionNotKept(keeperFailure);
    emit writeFinished(origin, outcome);
}

} // namespace tavro
