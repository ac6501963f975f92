// The questions around a document write: unsaved changes before a command
// drops the text; a stored copy that may not be the document (its file
// bytes did not come back from the text shown at open); characters the
// file cannot hold (U+0000, those code page 936 lacks), asked once the
// worker has encoded the text; and the messages after a write.
#include "main_window.h"

#include "prompts.h"

#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace tavro {
namespace {

// Characters named in the question; the count covers the rest.
constexpr std::size_t kLossyCharactersShown = 8;

QString CodePointName(char32_t c)
{
    return QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
}

// "U+1F600  😀": the code first, so a character no font here can draw
// takes nothing after it into its run of boxes; a combining mark on a
// dotted circle, as it cannot stand alone; a character that shows nothing
// by itself (U+0000, a control, an unpaired surrogate) by its code only.
QString ShowCharacter(char32_t c)
{
    const bool visible = QChar::isPrint(c) && !QChar::isSurrogate(c);
    const QString name = CodePointName(c);
    if (!visible)
        return name;
    const QChar::Category category = QChar::category(c);
    const bool combining = category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
                           category == QChar::Mark_Enclosing;
    return name + QStringLiteral("  ") + (combining ? QStringLiteral("\u25CC") : QString()) +
           QString::fromUcs4(&c, 1);
}

// The question about characters a write would lose, one to a line; a
// write that replaces a document says the replaced file can come back.
QString LossyMessage(const std::u32string& lossy, bool replacesDocument)
{
    QString text = QStringLiteral("文本中有 %1 种字符无法保存:\n").arg(lossy.size());
    for (std::size_t i = 0; i < lossy.size() && i < kLossyCharactersShown; ++i)
        text += ShowCharacter(lossy[i]) + QLatin1Char('\n');
    if (lossy.size() > kLossyCharactersShown)
        text += QStringLiteral("等\n");
    const bool hasNul = lossy.front() == U'\0';
    // A character beyond U+FFFF is two code units, each stored as "?".
    const bool hasWide = std::any_of(lossy.begin(), lossy.end(), [](char32_t c) { return c > 0xFFFF; });
    if (lossy.size() > (hasNul ? 1u : 0u))
        text += hasWide ? QStringLiteral("保存后这些字符将变成\"?\"(U+FFFF 以上的字符,如表情符号,变成\"??\").\n")
                        : QStringLiteral("保存后这些字符将变成\"?\".\n");
    if (hasNul)
        text += QStringLiteral("空字符(U+0000)之后的文本在重新打开时将丢失.\n");
    if (replacesDocument)
        text += QStringLiteral("被替换的文件可以在\"历史版本\"中恢复.\n");
    return text + QStringLiteral("\n是否仍然保存?");
}

const QString kStoredCopyWarning = QStringLiteral(
    "该文档打开时的内容未能通过检查(可能是密码错误,文件已损坏,或它不是Tavro文档),\n"
    "显示的文本可能不是原文.\n"
    "保存后将替换已存储的文档;被替换的文件可以在\"历史版本\"中恢复.\n\n是否仍然保存?");
// Another program wrote or replaced the document's file since it was read
// or last written here.
const QString kChangedOnDiskQuestion = QStringLiteral(
    "文件已被其他程序修改.\n\n"
    "覆盖: 用当前文本替换它(被替换的文件可以在\"历史版本\"中恢复);\n"
    "另存为: 把当前文本保存到另一个文件;\n"
    "取消: 不写入.");

const QString kCloseQuestion = QStringLiteral("是否关闭当前文档?\n(请注意保存)");

} // namespace

bool MainWindow::ConfirmClosing()
{
    WaitForSave(); // whether there is anything unsaved depends on the write in flight
    if (!m_session)
        return true;
    if (isModified())
        return AskToSaveChanges();
    return m_prompts.ShowMessage(this, kCloseQuestion, QStringLiteral("重要提示"), MessageIcon::None,
                                 MessageButtons::YesNo) == MessageAnswer::Yes;
}

bool MainWindow::ConfirmQuit()
{
    AutoSave::Hold hold(m_autoSave);
    WaitForSave(); // a write in flight ends before the window may close
    return !isModified() || AskToSaveChanges();
}

bool MainWindow::AskToSaveChanges()
{
    switch (m_prompts.ShowMessage(this, kCloseQuestion, QStringLiteral("重要提示"), MessageIcon::None,
                                  MessageButtons::SaveDiscardCancel)) {
    case MessageAnswer::Save: return SaveDocument(WriteOrigin::Save) && WaitForSave(); // on once stored
    case MessageAnswer::Discard: return true;
    default: return false;
    }
}

bool MainWindow::ConfirmProtectedWrite()
{
    return m_prompts.ShowMessage(this, kStoredCopyWarning, QStringLiteral("警告"), MessageIcon::Warning,
                                 MessageButtons::YesNoDefaultNo) == MessageAnswer::Yes;
}

void MainWindow::OnLossyCharacters(WriteOrigin origin, const std::u32string& characters)
{
    if (m_ending)
        return; // nothing is asked or told any more
    AutoSave::Hold hold(m_autoSave);
    if (m_prompts.ShowMessage(this, LossyMessage(characters, origin != WriteOrigin::Export), QStringLiteral("警告"),
                              MessageIcon::Warning,
                              MessageButtons::SaveAnywayGoBack) == MessageAnswer::SaveAnyway)
        m_session->WriteAnyway();
}

void MainWindow::OnFileChangedOnDisk(WriteOrigin)
{
    if (m_ending)
        return; // nothing is asked or told any more
    AutoSave::Hold hold(m_autoSave);
    switch (m_prompts.ShowMessage(this, kChangedOnDiskQuestion, QStringLiteral("警告"), MessageIcon::Warning,
                                  MessageButtons::OverwriteSaveAsCancel)) {
    case MessageAnswer::Overwrite: m_session->ReplaceAnyway(); return;
    case MessageAnswer::SaveAs: m_saveAsAfterWrite = true; return; // once this write has ended
    default: return;
    }
}

void MainWindow::OnWriteFinished(WriteOrigin origin, WriteOutcome outcome)
{
    if (m_ending)
        return; // nothing is asked or told any more
    AutoSave::Hold hold(m_autoSave); // one failure message at a time
    const bool newFile = origin == WriteOrigin::SaveAs || origin == WriteOrigin::Export;
    switch (outcome) {
    case WriteOutcome::Written:
        if (origin == WriteOrigin::SaveAs) {
            m_titleName = QLatin1Char('[') + QFileInfo(m_session->path()).fileName() + QLatin1Char(']');
            SetCaption();
        }
        return;
    case WriteOutcome::CannotOpen:
        if (newFile) {
            m_prompts.Tell(this, QStringLiteral("无法创建该文本,不能向目标地址写入."), QStringLiteral("失败"),
                           MessageIcon::Error);
            return;
        }
        break;
    case WriteOutcome::Failed:
        if (origin == WriteOrigin::Export) {
            m_prompts.Tell(this, QStringLiteral("无法创建该文本,不能向目标地址写入."), QStringLiteral("失败"),
                           MessageIcon::Error);
            return;
        }
        break;
    case WriteOutcome::WentBack:
    case WriteOutcome::Skipped:
        return;
    case WriteOutcome::ChangedOnDisk:
        if (std::exchange(m_saveAsAfterWrite, false))
            OnFileSaveAs(); // a caller waiting for the write waits for this one
        return;
    }
    m_prompts.Tell(this, QStringLiteral("尝试写文件失败!"), ApplicationName());
}

} // namespace tavro
