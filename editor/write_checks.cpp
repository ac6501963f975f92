// The questions before a document write: text that would not come back
// whole (characters code page 936 cannot hold, U+0000), and a text that may
// not be the document at all (its file bytes did not round-trip at open).
// Auto-save never asks: it skips a write that would need a question.
// Save, Lock and auto-save learn of lost characters from the encoder while
// it writes the file buffer; Save As, Export and Password ask before their
// file dialogs and scan the text for it.
#include "code_page.h"
#include "command_scope.h"
#include "prompts.h"
#include "text_buffers.h"

#include <QTextDocument>

namespace tavro {
namespace {

// Characters named in the question; the count covers the rest.
constexpr std::size_t kLossyCharactersShown = 8;

QString CodePointName(char32_t c)
{
    return QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
}

// "😀 (U+1F600)"; a character that shows nothing by itself (U+0000, a
// control, an unpaired surrogate) by its code only.
QString ShowCharacter(char32_t c)
{
    const bool visible = QChar::isPrint(c) && !QChar::isSurrogate(c);
    const QString name = CodePointName(c);
    if (!visible)
        return name;
    return QString::fromUcs4(&c, 1) + QStringLiteral(" (") + name + QLatin1Char(')');
}

QString LossyMessage(const std::u32string& lossy)
{
    QStringList shown;
    for (std::size_t i = 0; i < lossy.size() && i < kLossyCharactersShown; ++i)
        shown << ShowCharacter(lossy[i]);
    QString list = shown.join(QStringLiteral("  "));
    if (lossy.size() > kLossyCharactersShown)
        list += QStringLiteral("  等");
    const bool hasNul = lossy.front() == U'\0';
    QString text = QStringLiteral("文本中有 %1 种字符无法保存:\n").arg(lossy.size()) + list + QLatin1Char('\n');
    if (lossy.size() > (hasNul ? 1u : 0u))
        text += QStringLiteral("保存后这些字符将变成\"?\".\n");
    if (hasNul)
        text += QStringLiteral("空字符(U+0000)之后的文本在重新打开时将丢失.\n");
    return text + QStringLiteral("\n是否仍然保存?");
}

const QString kStoredCopyWarning = QStringLiteral(
    "该文档打开时的文件内容无法由显示的文本原样还原,\n"
    "可能是密码错误或文件已损坏,显示的文本可能不是原文.\n"
    "保存后将永久替换已存储的文档,无法恢复.\n\n是否仍然保存?");

} // namespace

bool CTavroTextEditorDlg::LossyTextAccepted() const
{
    const QTextDocument* document = activeEditor()->document();
    return document == m_lossyAcceptedDocument && document->revision() == m_lossyAcceptedRevision;
}

bool CTavroTextEditorDlg::AskLossyWrite(const std::u32string& lossy)
{
    return lossy.empty() ||
           m_prompts.ShowMessage(this, LossyMessage(lossy), QStringLiteral("警告"), MessageIcon::Warning,
                                 MessageButtons::SaveAnywayGoBack) == MessageAnswer::SaveAnyway;
}

bool CTavroTextEditorDlg::ConfirmLossyText()
{
    WaitForSave(); // a save in flight may still ask about this very text
    if (LossyTextAccepted())
        return true;
    m_strText = activeEditor()->GetWindowText();
    const std::u32string lossy = LossyCharacters(Utf16(m_strText));
    WipeText(m_strText);
    if (!AskLossyWrite(lossy))
        return false;
    // Asked once for this text state: auto-save and the next Save take it as given.
    m_lossyAcceptedDocument = activeEditor()->document();
    m_lossyAcceptedRevision = m_lossyAcceptedDocument->revision();
    return true;
}

// The questions that come before the text is read. Whether characters
// would be lost is found while the worker encodes the snapshot (see
// DeliverSave): a save walks the text once.
bool CTavroTextEditorDlg::ConfirmWrite(WriteOrigin origin)
{
    switch (origin) {
    case WriteOrigin::AutoSave:
        return !m_bStoredCopyProtected;
    case WriteOrigin::Save:
        return !m_bStoredCopyProtected ||
               m_prompts.ShowMessage(this, kStoredCopyWarning, QStringLiteral("警告"), MessageIcon::Warning,
                                     MessageButtons::YesNoDefaultNo) == MessageAnswer::Yes;
    case WriteOrigin::Lock:     // OnLock asked Save's question before locking
    case WriteOrigin::SaveAs:   // a new file
    case WriteOrigin::Password: // its own warning covers a garbled text
        break;
    }
    return true;
}

} // namespace tavro
