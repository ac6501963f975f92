// The File menu and the Password command: the dialogs that choose a file
// and a key, then the session that does the work. While a command waits
// for the user, auto-save holds still.
#include "main_window.h"

#include "document_reader.h"
#include "key_derivation.h"
#include "password_dialog.h"
#include "prompts.h"
#include "secure_memory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextDocumentLayout>
#include <QTextDocument>

namespace tavro {
namespace {

const QString kDocumentFilter = QStringLiteral("文件(*.tvro)");
const QString kDocumentSuffix = QStringLiteral("tvro");
const QString kCannotCreate = QStringLiteral("无法创建该文本,不能向目标地址写入.");
const QString kCannotOpen = QStringLiteral("无法读取该文本,不能向目标地址读写.");
const QString kFailed = QStringLiteral("失败");
const QString kCrcWarning = QStringLiteral(
    "CRC32校验失败,该文件可能被破坏.\n(请勿继续保存和编辑文档,可能会导致部分文本数据丢失.)");

// A document's file dialog: starts in the folder of the last one chosen.
FileDialogRequest DocumentDialog(FileDialogMode mode, const QString& title, bool overwritePrompt)
{
    FileDialogRequest request;
    request.mode = mode;
    request.title = title;
    request.filter = kDocumentFilter;
    request.defaultSuffix = kDocumentSuffix;
    request.overwritePrompt = overwritePrompt;
    return request;
}

// A text document laid out for the editor, in its font, before any text
// comes in (laying a large text out twice costs seconds).
QTextDocument* NewEditorDocument(const QFont& font)
{
    auto* document = new QTextDocument;
    document->setDocumentLayout(new QPlainTextDocumentLayout(document));
    document->setDefaultFont(font);
    return document;
}

} // namespace

std::optional<KeyHolder> MainWindow::AskForKey()
{
    PasswordDialog dialog(m_prompts);
    if (m_prompts.RunModal(dialog) != QDialog::Accepted)
        return std::nullopt;
    return dialog.takeKey();
}

std::optional<KeyHolder> MainWindow::AskForNewKey()
{
    // A typed password is asked twice: one typo would lock the document for
    // good. A mismatch, or a cancelled second prompt, goes back to the
    // password dialog.
    for (;;) {
        PasswordDialog dialog(m_prompts);
        if (m_prompts.RunModal(dialog) != QDialog::Accepted)
            return std::nullopt;
        std::optional<KeyHolder> key = dialog.takeKey();
        if (!key || !dialog.typedPasswordConfirmed())
            return key; // a key file
        std::optional<QString> again =
            m_prompts.AskText(this, QStringLiteral("请再次输入密码:"), QStringLiteral("确认密码"), true);
        if (!again)
            continue;
        KeyHolder retyped;
        DeriveKeyFromPassword({reinterpret_cast<const char16_t*>(again->utf16()), static_cast<std::size_t>(again->size())},
                              retyped.bytes());
        again->fill(QChar(0));
        if (retyped.SameKey(*key))
            return key;
        m_prompts.Tell(this, QStringLiteral("两次输入的密码不一致,请重新设置密码."), QStringLiteral("警告"),
                       MessageIcon::Warning);
    }
}

void MainWindow::OnFileNew()
{
    AutoSave::Hold hold(m_autoSave);
    if (!ConfirmClosing())
        return;
    const auto chosen = m_prompts.ChooseFile(
        this, DocumentDialog(FileDialogMode::Save, QStringLiteral("选择一个存放文件的位置"), true));
    if (!chosen)
        return;
    // The empty document file exists from now on. A file that cannot be
    // created leaves the current document exactly as it was.
    QFile file(chosen->path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        m_prompts.Tell(this, kCannotCreate, kFailed, MessageIcon::Error);
        return;
    }
    file.close();
    // A cancelled password dialog: the all-zero key; the document is still encrypted.
    std::optional<KeyHolder> key = AskForNewKey();
    InstallSession(std::make_unique<DocumentSession>(chosen->path, key ? std::move(*key) : KeyHolder(),
                                                     NewEditorDocument(m_editor->font())),
                   chosen->fileName);
    FocusEditor();
}

void MainWindow::OnFileOpen()
{
    AutoSave::Hold hold(m_autoSave);
    if (!ConfirmClosing())
        return;
    const auto chosen = m_prompts.ChooseFile(this, DocumentDialog(FileDialogMode::Open, {}, false));
    if (!chosen)
        return;
    OpenDocumentPath(chosen->path, chosen->fileName);
}

void MainWindow::OpenDocumentPath(const QString& path, const QString& fileName)
{
    AutoSave::Hold hold(m_autoSave);
    // The document must exist and be writable. One that cannot be opened
    // leaves the current document exactly as it was.
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        m_prompts.Tell(this, kCannotOpen, kFailed, MessageIcon::Error);
        return;
    }
    ReadAndShowDocument(std::move(file), QFileInfo(path).absoluteFilePath(), fileName);
}

void MainWindow::OpenCommandLineDocument(const QString& path)
{
    AutoSave::Hold hold(m_autoSave);
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return; // a path that cannot be read starts the editor with no document
    ReadAndShowDocument(std::move(file), QFileInfo(path).absoluteFilePath(), path.section(QLatin1Char('/'), -1));
}

void MainWindow::ReadAndShowDocument(std::unique_ptr<QFile> file, const QString& path, const QString& titleName)
{
    // A cancelled password dialog reads with the all-zero key.
    std::optional<KeyHolder> asked = AskForKey();
    KeyHolder key = asked ? std::move(*asked) : KeyHolder();
    DocumentText read = ReadDocumentText(*file, key.bytes());
    file.reset();
    // An opened document is always shown locked; a damaged one is shown too.
    // Text that does not give back the file's bytes may not be the document
    // (a wrong key, damage): it must not replace the file unasked.
    auto session = std::make_unique<DocumentSession>(path, std::move(key), NewEditorDocument(m_editor->font()));
    session->Load(std::move(read.text), !read.roundTrips);
    InstallSession(std::move(session), titleName);
    if (!read.crcMatches)
        m_prompts.Tell(this, kCrcWarning, QStringLiteral("警告"), MessageIcon::Warning);
    FocusEditor();
}

void MainWindow::OnFileSave()
{
    if (!m_session) {
        m_prompts.Tell(this, QStringLiteral("没有文件被打开."), QStringLiteral("错误"));
        return;
    }
    SaveDocument(WriteOrigin::Save);
}

bool MainWindow::SaveDocument(WriteOrigin origin)
{
    AutoSave::Hold hold(m_autoSave);
    m_session->WaitForWrite(); // a write in flight may change what there is to ask
    if (m_session->isProtected() && !ConfirmProtectedWrite())
        return false;
    return origin == WriteOrigin::Lock ? m_session->Lock() : m_session->Save(origin);
}

bool MainWindow::WaitForSave()
{
    return m_session && m_session->WaitForWrite();
}

void MainWindow::OnFileSaveAs()
{
    AutoSave::Hold hold(m_autoSave);
    if (!m_session)
        return;
    WaitForSave(); // the write in flight, its questions included, comes first
    const auto chosen =
        m_prompts.ChooseFile(this, DocumentDialog(FileDialogMode::Save, QStringLiteral("另存为"), false));
    if (!chosen)
        return;
    // The new file is written like every save: to a temporary file renamed
    // over the target at the end, so an existing target is not truncated
    // first. The document is the new file's once it is written.
    m_session->SaveAs(chosen->path);
}

void MainWindow::OnFileExportTxt()
{
    AutoSave::Hold hold(m_autoSave);
    if (!m_session)
        return;
    WaitForSave(); // the write in flight, its questions included, comes first
    FileDialogRequest request;
    request.mode = FileDialogMode::Save;
    request.title = QStringLiteral("导出为TXT");
    request.filter = QStringLiteral("文本文件(*.txt)");
    request.defaultSuffix = QStringLiteral("txt");
    request.kind = FileKind::Export;
    // Offered: the document's name with ".txt", in its folder.
    const QFileInfo document(m_session->path());
    request.suggestedPath = document.absoluteDir().filePath(document.completeBaseName() + QStringLiteral(".txt"));
    const auto chosen = m_prompts.ChooseFile(this, request);
    if (!chosen)
        return;
    // Plain code page 936 text with CR LF line breaks, for its owner only
    // when the file is new.
    m_session->Export(chosen->path);
}

void MainWindow::OnFileCloseDoc()
{
    AutoSave::Hold hold(m_autoSave);
    if (!ConfirmClosing())
        return;
    InstallSession(nullptr, {}); // the key and the text are wiped
    FocusEditor();
}

void MainWindow::OnSettingsPassword()
{
    AutoSave::Hold hold(m_autoSave);
    if (!m_session)
        return;
    WaitForSave(); // the write in flight, its questions included, comes first
    const MessageAnswer answer = m_prompts.ShowMessage(
        this,
        QStringLiteral("警告:重设密码前必须确认文本显示的正确性.\n       如果显示错误并修改后结果将不可逆.\n\n\n文本是否显示正确?"),
        QStringLiteral("重要事项"), MessageIcon::Warning, MessageButtons::YesNo);
    if (answer != MessageAnswer::Yes)
        return;
    // A cancelled dialog keeps the current key; the document is written
    // again either way. The new key is the document's once it is written.
    std::optional<KeyHolder> key = AskForNewKey();
    m_session->ChangeKey(key ? std::move(*key) : m_session->key().Copy());
}

} // namespace tavro
