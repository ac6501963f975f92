// The window side of the document file: the text of the active editor in,
// file bytes out, and back. The bytes themselves are the core's business.
//
// A write blocks the UI thread only while it takes a snapshot of the text
// (one copy of the editor's raw text) and opens the atomic writer; a
// DocumentSaveJob encodes, enciphers, writes and commits on a worker
// thread. One write at a time: a new one first waits for the one in
// flight, and an auto-save tick skips while one is in flight. The result
// comes back to the UI thread (DeliverSave), which asks the lossy question
// when needed, reports failures, and takes the text as saved only when it
// has not changed since the snapshot.
#include "command_scope.h"
#include "document_file.h"
#include "document_save_job.h"
#include "program_state.h"
#include "prompts.h"
#include "secure_memory.h"
#include "text_buffers.h"

#include <QMetaObject>
#include <QSaveFile>
#include <QTextDocument>

namespace tavro {

void CTavroTextEditorDlg::OnFileSave()
{
    StartWrite(WriteOrigin::Save);
}

bool CTavroTextEditorDlg::WriteDocument(WriteOrigin origin)
{
    return StartWrite(origin) && WaitForSave();
}

bool CTavroTextEditorDlg::StartWrite(WriteOrigin origin)
{
    WaitForSave(); // never two writes at once
    if (m_saveJob)
        return false; // asked for from inside the delivery of the one in flight
    if (!m_bDocumentOpen) {
        m_prompts.Tell(this, QStringLiteral("没有文件被打开."), QStringLiteral("错误"));
        return false;
    }
    if (!ConfirmWrite(origin))
        return false; // the user went back, or auto-save may not write this text
    // The file is replaced only once every byte is written and flushed: a
    // failed save leaves the last good copy as it was. Save As may have
    // prepared the writer already; New's stream has done its job (the file
    // exists) and is closed here.
    std::unique_ptr<QSaveFile> writer(dynamic_cast<QSaveFile*>(m_pDocFile.get()));
    if (writer) {
        (void)m_pDocFile.release();
    } else {
        m_pDocFile.reset();
        writer = std::make_unique<QSaveFile>(m_strDocPath);
        if (m_strDocPath.isEmpty() || !writer->open(QIODevice::WriteOnly)) {
            m_prompts.Tell(this, QStringLiteral("尝试写文件失败!"), ApplicationName());
            return false;
        }
    }
    // Save As, Password and Lock have asked about lost characters already, or
    // ask once the worker has named them; auto-save writes only text whose
    // loss the user accepted before.
    const bool lossAccepted =
        origin == WriteOrigin::SaveAs || origin == WriteOrigin::Password || LossyTextAccepted();
    const QTextDocument* document = activeEditor()->document();
    m_saveOrigin = origin;
    m_saveDocument = document;
    m_saveRevision = document->revision();
    m_bLastSaveStored = false;
    m_saveJob = std::make_unique<DocumentSaveJob>(
        document->toRawText(), g_documentKey, std::move(writer), lossAccepted,
        [this] { QMetaObject::invokeMethod(this, [this] { DeliverSave(); }, Qt::QueuedConnection); });
    m_saveJob->Start();
    return true;
}

bool CTavroTextEditorDlg::WaitForSave()
{
    if (m_bDeliveringSave)
        return false; // asked from inside the delivery's own question
    if (!m_saveJob)
        return false;
    while (m_saveJob) {
        m_saveJob->Wait();
        DeliverSave();
    }
    return m_bLastSaveStored;
}

void CTavroTextEditorDlg::DeliverSave()
{
    if (!m_saveJob || !m_saveJob->isDone() || m_bDeliveringSave)
        return;
    m_saveJob->Wait();
    m_bDeliveringSave = true;
    CommandScope command(*this); // no auto-save while a question or message is open
    switch (m_saveJob->outcome()) {
    case DocumentSaveJob::Outcome::Lossy:
        // Auto-save skips silently; the others ask now, about the snapshot.
        if (m_saveOrigin != WriteOrigin::AutoSave && AskLossyWrite(m_saveJob->lossyCharacters())) {
            // Asked once for this text state: auto-save and the next Save take it as given.
            m_lossyAcceptedDocument = m_saveDocument;
            m_lossyAcceptedRevision = m_saveRevision;
            m_saveJob->WriteAnyway();
            m_bDeliveringSave = false;
            return; // delivered again when written
        }
        if (m_saveOrigin == WriteOrigin::AutoSave) {
            m_lossySkippedDocument = m_saveDocument;
            m_lossySkippedRevision = m_saveRevision;
        }
        if (m_saveOrigin == WriteOrigin::Lock && !m_bSaveWasLocked && m_bLocked)
            OnUnlock(); // going back from Lock: still editing
        break;
    case DocumentSaveJob::Outcome::Failed:
        m_prompts.Tell(this, QStringLiteral("尝试写文件失败!"), ApplicationName());
        break;
    case DocumentSaveJob::Outcome::Written:
        // The file now holds the snapshot: the text shown, unless it changed since.
        if (activeEditor()->document() == m_saveDocument && m_saveDocument->revision() == m_saveRevision)
            MarkSaved();
        m_bStoredCopyProtected = false;
        m_bLastSaveStored = true;
        break;
    case DocumentSaveJob::Outcome::Running:
        break;
    }
    m_saveJob.reset();
    m_bDeliveringSave = false;
}

bool CTavroTextEditorDlg::ReadDocument()
{
    m_pDocFile->seek(0);
    const QByteArray file = m_pDocFile->readAll();
    // The text is decoded straight into the string the editor takes: each
    // byte gives at most one UTF-16 unit, and untouched pages cost nothing.
    QString text;
    text.reserve(std::max<qsizetype>(file.size() - static_cast<qsizetype>(kDocumentHeaderSize), 0));
    const DecryptedDocument document = DecryptDocument(
        {reinterpret_cast<const std::uint8_t*>(file.constData()), static_cast<std::size_t>(file.size())},
        g_documentKey, [&text](std::u16string_view piece) {
            text.append(reinterpret_cast<const QChar*>(piece.data()), static_cast<qsizetype>(piece.size()));
        });
    activeEditor()->SetWindowText(text);
    SecureWipe(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    hiddenEditor()->SetWindowText(QString());
    ApplyEditorFormat();
    MarkSaved();
    // Text that does not give back the file's bytes may not be the document
    // (a wrong key, damage): it must not replace the file unasked.
    m_bStoredCopyProtected = !document.textRoundTrips;
    return document.crcMatches;
}

} // namespace tavro
