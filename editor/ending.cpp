// The program ended from outside, and the text kept for the next open when
// it could not be written.
#include "main_window.h"
#include "prompts.h"
#include "recovery_copies.h"
#include "secure_memory.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextCursor>
#include <QTextDocument>

#include <unistd.h>

namespace tavro {
namespace {

const QString kRecoveryQuestion = QStringLiteral(
    "上次程序被结束时,该文档有未能保存的修改,它们已加密保存为恢复副本.\n\n"
    "是否恢复这些修改?\n"
    "是: 在编辑器中显示恢复的文本(尚未保存);\n"
    "否: 保留恢复副本,下次打开该文档时再询问.");

} // namespace

void MainWindow::StoreBeforeEnding()
{
    m_ending = true;
    WaitForSave(); // a write in flight ends first
    if (m_session && isModified()) {
        if (m_autoSave.WouldWrite()) {
            m_session->Save(WriteOrigin::AutoSave);
            WaitForSave();
        }
        if (isModified())
            KeepRecoveryCopy();
    }
    SaveSettings();
}

void MainWindow::EndWithoutAsking(bool endProcess)
{
    if (m_ending)
        return;
    StoreBeforeEnding();
    if (!endProcess)
        return;
    // A dialog or menu runs an event loop of its own, inside a command that
    // would go on once it returned: the process ends here instead. What
    // had to be stored is.
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget())
        ::_exit(0);
    close(); // asks nothing now; the key and the text are wiped
    QCoreApplication::exit(0);
}

bool MainWindow::KeepRecoveryCopy()
{
    QString text = m_session->text(); // as a save would store it
    const bool kept = WriteRecoveryCopy(RecoveryFolder(m_session->versionRoot()), m_session->path(),
                                        m_session->key(), text);
    SecureWipe(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    return kept;
}

void MainWindow::OfferRecoveryCopy()
{
    const QString folder = RecoveryFolder(m_session->versionRoot());
    std::optional<QString> text = ReadRecoveryCopy(folder, m_session->path(), m_session->key());
    if (!text)
        return; // none, or not one this key opens
    if (m_prompts.ShowMessage(this, kRecoveryQuestion, QStringLiteral("恢复副本"), MessageIcon::None,
                              MessageButtons::YesNo) == MessageAnswer::Yes) {
        // An edit of the text read, so Undo goes back to it and it counts as unsaved.
        QTextCursor cursor(m_session->document());
        cursor.select(QTextCursor::Document);
        cursor.insertText(*text);
        RemoveRecoveryCopy(folder, m_session->path());
    }
    SecureWipe(text->data(), static_cast<std::size_t>(text->size()) * sizeof(QChar));
}

} // namespace tavro
