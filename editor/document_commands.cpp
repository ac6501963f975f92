// The File menu and the Password command.
#include "code_page.h"
#include "key_derivation.h"
#include "secure_memory.h"
#include "command_scope.h"
#include "program_state.h"
#include "prompts.h"
#include "set_password.h"
#include "text_buffers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace tavro {
namespace {

const QString kDocumentFilter = QStringLiteral("文件(*.tvro)");
const QString kDocumentSuffix = QStringLiteral("tvro");
const QString kCannotCreate = QStringLiteral("无法创建该文本,不能向目标地址写入.");
const QString kCannotOpen = QStringLiteral("无法读取该文本,不能向目标地址读写.");
const QString kFailed = QStringLiteral("失败");
const QString kCrcWarning = QStringLiteral(
    "CRC32校验失败,该文件可能被破坏.\n(请勿继续保存和编辑文档,可能会导致部分文本数据丢失.)");

FileDialogRequest DocumentDialog(FileDialogMode mode, const QString& title, bool overwritePrompt)
{
    FileDialogRequest request;
    request.mode = mode;
    request.title = title;
    request.filter = kDocumentFilter;
    request.defaultSuffix = kDocumentSuffix;
    request.overwritePrompt = overwritePrompt;
    return request; // a document: starts in the folder of the last one chosen

}

} // namespace

bool CTavroTextEditorDlg::ConfirmClosing()
{
    WaitForSave(); // whether there is anything unsaved depends on the write in flight
    if (!m_bDocumentOpen)
        return true;
    if (isModified())
        return AskToSaveChanges();
    return m_prompts.ShowMessage(this, QStringLiteral("是否关闭当前文档?\n(请注意保存)"),
                                 QStringLiteral("重要提示"), MessageIcon::None,
                                 MessageButtons::YesNo) == MessageAnswer::Yes;
}

void CTavroTextEditorDlg::AskForKey()
{
    g_documentKey.fill(0);
    SetPassword dialog(m_prompts);
    m_prompts.RunModal(dialog);
}

void CTavroTextEditorDlg::AskForConfirmedKey(bool clearFirst)
{
    // A typed password is asked twice: one typo would lock the document for
    // good. A mismatch, or a cancelled second prompt, goes back to the
    // password dialog with the key as it was before it.
    DocumentKey before = g_documentKey;
    if (clearFirst)
        before.fill(0);
    for (;;) {
        g_documentKey = before;
        SetPassword dialog(m_prompts);
        m_prompts.RunModal(dialog);
        if (!dialog.typedPasswordConfirmed())
            break; // cancelled, or a key file
        std::optional<QString> again =
            m_prompts.AskText(this, QStringLiteral("请再次输入密码:"), QStringLiteral("确认密码"), true);
        if (!again)
            continue;
        DocumentKey retyped{};
        DeriveKeyFromPassword(Utf16(*again), retyped);
        WipeText(*again);
        const bool same = retyped == g_documentKey;
        SecureWipe(retyped.data(), retyped.size());
        if (same)
            break;
        m_prompts.Tell(this, QStringLiteral("两次输入的密码不一致,请重新设置密码."),
                       QStringLiteral("警告"), MessageIcon::Warning);
    }
    SecureWipe(before.data(), before.size());
}

void CTavroTextEditorDlg::DropStream()
{
    m_pDocFile.reset();
}

void CTavroTextEditorDlg::OnFileNew()
{
    CommandScope command(*this);
    if (!ConfirmClosing())
        return;
    const auto chosen = m_prompts.ChooseFile(
        this, DocumentDialog(FileDialogMode::Save, QStringLiteral("选择一个存放文件的位置"), true));
    if (!chosen)
        return;
    // The empty document file exists from now on. A file that cannot be
    // created leaves the current document exactly as it was.
    auto file = std::make_unique<QFile>(chosen->path);
    if (!file->open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        m_prompts.Tell(this, kCannotCreate, kFailed, MessageIcon::Error);
        return;
    }
    m_strDocPath = chosen->path;
    m_strTitleName = chosen->fileName;
    DropStream();
    m_pDocFile = std::move(file);
    AskForConfirmedKey(/*clearFirst=*/true);
    m_strTitleName = QLatin1Char('[') + m_strTitleName + QLatin1Char(']');
    SetDocumentState(true);
    FocusActiveEditor();
}

void CTavroTextEditorDlg::OnFileOpen()
{
    CommandScope command(*this);
    if (!ConfirmClosing())
        return;
    const auto chosen = m_prompts.ChooseFile(this, DocumentDialog(FileDialogMode::Open, {}, false));
    if (!chosen)
        return;
    OpenDocumentPath(chosen->path, chosen->fileName);
}

void CTavroTextEditorDlg::OpenDocumentPath(const QString& path, const QString& fileName)
{
    CommandScope command(*this);
    // The document must exist and be writable. One that cannot be opened
    // leaves the current document exactly as it was.
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        m_prompts.Tell(this, kCannotOpen, kFailed, MessageIcon::Error);
        return;
    }
    DropStream();
    m_strDocPath = path;
    m_strTitleName = fileName;
    m_pDocFile = std::move(file);
    AskForKey();
    m_strTitleName = QLatin1Char('[') + m_strTitleName + QLatin1Char(']');
    ShowOpenedDocument();
}

void CTavroTextEditorDlg::ShowOpenedDocument()
{
    // An opened document is always shown locked; a damaged one is shown too.
    SetDocumentState(true);
    LockEditors();
    if (!ReadDocument())
        m_prompts.Tell(this, kCrcWarning, QStringLiteral("警告"), MessageIcon::Warning);
    DropStream();
    FocusActiveEditor();
}

void CTavroTextEditorDlg::OpenCommandLineDocument(const QString& path)
{
    CommandScope command(*this);
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return; // a path that cannot be read starts the editor with no document
    m_pDocFile = std::move(file);
    m_strDocPath = QFileInfo(path).absoluteFilePath();
    AskForKey();
    m_strTitleName = QLatin1Char('[') + path.section(QLatin1Char('/'), -1) + QLatin1Char(']');
    ShowOpenedDocument();
}

void CTavroTextEditorDlg::OnFileSaveAs()
{
    CommandScope command(*this);
    if (!ConfirmLossyText())
        return;
    const auto chosen =
        m_prompts.ChooseFile(this, DocumentDialog(FileDialogMode::Save, QStringLiteral("另存为"), false));
    if (!chosen)
        return;
    // The new file is written like every save: to a temporary file renamed
    // over the target at the end, so an existing target is not truncated first.
    auto writer = std::make_unique<QSaveFile>(chosen->path);
    if (!writer->open(QIODevice::WriteOnly)) {
        m_prompts.Tell(this, kCannotCreate, kFailed, MessageIcon::Error);
        return;
    }
    DropStream();
    m_pDocFile = std::move(writer);
    m_strDocPath = chosen->path;
    m_strTitleName = QLatin1Char('[') + chosen->fileName + QLatin1Char(']');
    UpdateCaption(); // the lock marker only while the text is locked
    StartWrite(WriteOrigin::SaveAs); // the prepared writer goes to the worker
    DropStream();
}

void CTavroTextEditorDlg::OnFileExportTxt()
{
    CommandScope command(*this);
    if (!ConfirmLossyText())
        return;
    FileDialogRequest request;
    request.mode = FileDialogMode::Save;
    request.title = QStringLiteral("导出为TXT");
    request.filter = QStringLiteral("文本文件(*.txt)");
    request.defaultSuffix = QStringLiteral("txt");
    request.kind = FileKind::Export;
    // Offered: the document's name with ".txt", in its folder.
    if (!m_strDocPath.isEmpty()) {
        const QFileInfo document(m_strDocPath);
        request.suggestedPath = document.absoluteDir().filePath(document.completeBaseName() + QStringLiteral(".txt"));
    }
    const auto chosen = m_prompts.ChooseFile(this, request);
    if (!chosen)
        return;
    // The plain text is for its owner only: a new file is readable by the
    // owner alone; a file that exists keeps the mode its owner gave it.
    const bool existed = QFileInfo::exists(chosen->path);
    QSaveFile file(chosen->path);
    if (!file.open(QIODevice::WriteOnly) ||
        (!existed && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))) {
        m_prompts.Tell(this, kCannotCreate, kFailed, MessageIcon::Error);
        return;
    }
    // Plain code page 936 text with CR LF line breaks: no byte-order mark,
    // no terminator, no encryption.
    m_strText = activeEditor()->GetWindowText();
    m_strText.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    const SecureBytes bytes = EncodeCodePage(Utf16(m_strText));
    WipeText(m_strText);
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(reinterpret_cast<const char*>(bytes.data()), size) != size || !file.commit())
        m_prompts.Tell(this, kCannotCreate, kFailed, MessageIcon::Error);
}

void CTavroTextEditorDlg::OnFileCloseDoc()
{
    CommandScope command(*this);
    if (!ConfirmClosing())
        return;
    DropStream();
    m_strTitleName.clear();
    m_strDocPath.clear();
    SetDocumentState(false);
    FocusActiveEditor();
}

void CTavroTextEditorDlg::OnSettingsPassword()
{
    CommandScope command(*this);
    const MessageAnswer answer = m_prompts.ShowMessage(
        this,
        QStringLiteral("警告:重设密码前必须确认文本显示的正确性.\n       如果显示错误并修改后结果将不可逆.\n\n\n文本是否显示正确?"),
        QStringLiteral("重要事项"), MessageIcon::Warning, MessageButtons::YesNo);
    if (answer != MessageAnswer::Yes || !ConfirmLossyText())
        return;
    // The key is not cleared first: a cancelled dialog keeps the current one.
    AskForConfirmedKey(/*clearFirst=*/false);
    StartWrite(WriteOrigin::Password); // the worker keeps its own copy of the key
}

} // namespace tavro
