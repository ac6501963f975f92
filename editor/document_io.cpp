// The window side of the document file: the text of the active editor in,
// file bytes out, and back. The bytes themselves are the core's business.
#include "command_scope.h"
#include "document_file.h"
#include "program_state.h"
#include "prompts.h"
#include "secure_memory.h"
#include "text_buffers.h"

#include <QSaveFile>

namespace tavro {

void CTavroTextEditorDlg::OnFileSave()
{
    WriteDocument(WriteOrigin::Save);
}

bool CTavroTextEditorDlg::WriteDocument(WriteOrigin origin)
{
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
    m_strText = activeEditor()->GetWindowText();
    const std::vector<std::uint8_t> file = EncryptDocument(Utf16(m_strText), g_documentKey);
    WipeText(m_strText);
    const auto size = static_cast<qint64>(file.size());
    const bool written = writer->write(reinterpret_cast<const char*>(file.data()), size) == size;
    if (!written)
        writer->cancelWriting();
    if (!written || !writer->commit()) {
        m_prompts.Tell(this, QStringLiteral("尝试写文件失败!"), ApplicationName());
        return false;
    }
    // The file now holds exactly the text shown.
    MarkSaved();
    m_bStoredCopyProtected = false;
    return true;
}

bool CTavroTextEditorDlg::ReadDocument()
{
    m_pDocFile->seek(0);
    const QByteArray file = m_pDocFile->readAll();
    DecryptedDocument document = DecryptDocument(
        {reinterpret_cast<const std::uint8_t*>(file.constData()), static_cast<std::size_t>(file.size())},
        g_documentKey);
    activeEditor()->SetWindowText(QString::fromUtf16(document.text.data(),
                                                     static_cast<qsizetype>(document.text.size())));
    SecureWipe(document.text.data(), document.text.size() * sizeof(char16_t));
    hiddenEditor()->SetWindowText(QString());
    ApplyEditorFormat();
    MarkSaved();
    // Text that does not give back the file's bytes may not be the document
    // (a wrong key, damage): it must not replace the file unasked.
    m_bStoredCopyProtected = !document.textRoundTrips;
    return document.crcMatches;
}

} // namespace tavro
