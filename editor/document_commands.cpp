// The File menu and the Password command: the dialogs that choose a file
// and a key, then the session that does the work. While a command waits
// for the user, auto-save holds still.
#include "main_window.h"

#include "document_reader.h"
#include "strong_format.h"
#include "key_derivation.h"
#include "long_work.h"
#include "password_dialog.h"
#include "prompts.h"
#include "secure_memory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QPlainTextDocumentLayout>
#include <QTextDocument>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <memory>

namespace tavro {
namespace {

// The two document types a new file can be; Open takes both, told by content.
const QString kTvroFilter = QStringLiteral("Tavro 加密文档 (*.tvro)");
const QString kStrongFilter = QStringLiteral("Tavro 强加密文档 (*.tvrs)");
const QString kAnyDocumentFilter = QStringLiteral("Tavro 文档 (*.tvro *.tvrs)");
const QString kAllFilesFilter = QStringLiteral("所有文件 (*)");
const QString kCannotCreate = QStringLiteral("无法创建该文本,不能向目标地址写入.");
const QString kCannotOpen = QStringLiteral("无法读取该文本,不能向目标地址读写.");
const QString kFailed = QStringLiteral("失败");
const QString kCrcWarning = QStringLiteral(
    "CRC32校验失败,该文件可能被破坏.\n(请勿继续保存和编辑文档,可能会导致部分文本数据丢失.)");

// A document's file dialog: starts in the folder of the last one chosen.
// Saving offers both types, the one given first.
FileDialogRequest DocumentDialog(FileDialogMode mode, const QString& title, bool overwritePrompt,
                                 DocumentFormat offered = DocumentFormat::Tvro)
{
    FileDialogRequest request;
    request.mode = mode;
    request.title = title;
    if (mode == FileDialogMode::Save) {
        request.filters = {kTvroFilter, kStrongFilter};
        request.selectedFilter = offered == DocumentFormat::Strong ? 1 : 0;
    } else {
        request.filters = {kAnyDocumentFilter, kTvroFilter, kStrongFilter, kAllFilesFilter};
    }
    request.overwritePrompt = overwritePrompt;
    return request;
}

// The type a chosen file is to be: its name's suffix decides, else the filter chosen.
DocumentFormat ChosenFormat(const ChosenFile& chosen)
{
    const QString suffix = QFileInfo(chosen.path).suffix().toLower();
    if (suffix == QLatin1String("tvrs"))
        return DocumentFormat::Strong;
    if (suffix == QLatin1String("tvro"))
        return DocumentFormat::Tvro;
    return chosen.filterIndex == 1 ? DocumentFormat::Strong : DocumentFormat::Tvro;
}

// A document laid out for the editor, in its font: an empty one before any
// text comes in, or one filled before it had a layout (laying a large text
// out twice costs seconds).
QTextDocument* LaidOutForEditor(std::unique_ptr<QTextDocument> document, const QFont& font)
{
    document->setDefaultFont(font);
    document->setDocumentLayout(new QPlainTextDocumentLayout(document.get()));
    return document.release();
}

QTextDocument* NewEditorDocument(const QFont& font)
{
    return LaidOutForEditor(std::make_unique<QTextDocument>(), font);
}

// A document read from its file: what the reader judged, and its text
// already in a text document of the UI thread, with no layout yet.
// Filling a text document with a large text takes seconds, laying it out
// afterwards moments, so the filling is the worker's.
struct OpenedText {
    DocumentText read; // its text is in document, and wiped here
    qsizetype characters = 0;
    std::unique_ptr<QTextDocument> document;
};

// On the worker: the text in a new document handed to the thread ui.
std::unique_ptr<QTextDocument> TextDocumentFor(QString& text, QThread* ui)
{
    auto document = std::make_unique<QTextDocument>();
    document->setPlainText(text);
    SecureWipe(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    text.clear();
    document->moveToThread(ui);
    return document;
}


// Reads the document on a worker while the window keeps painting (see
// long_work.h); the progress dialog's 取消 stops the read, and nothing is
// lost: the document open before stays as it was. nullopt when cancelled.
std::optional<OpenedText> ReadOffTheUiThread(QWidget* owner, QFile& file, const SessionKey& key,
                                             const QString& name)
{
    QThread* const ui = QThread::currentThread();
    std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{0};
    QFuture<OpenedText> reading = QtConcurrent::run([&] {
        OpenedText opened;
        opened.read = ReadDocumentText(
            file, key,
            [&](std::uint64_t readSoFar, std::uint64_t size) {
                done = readSoFar;
                total = size;
            },
            &cancel);
        if (!opened.read.cancelled && !cancel && !opened.read.readError) {
            opened.characters = opened.read.text.size();
            opened.document = TextDocumentFor(opened.read.text, ui);
        }
        return opened;
    });
    LongWork work;
    work.title = QStringLiteral("打开");
    work.label = QStringLiteral("正在打开 %1 ...").arg(name);
    work.interval = std::chrono::milliseconds(5);
    work.turn = [&](std::chrono::milliseconds) { return reading.isFinished(); };
    work.progress = [&] {
        const std::uint64_t size = total;
        return size == 0 ? 0 : static_cast<int>(done * 1000 / size);
    };
    if (!RunLongWork(owner, work))
        cancel = true;
    reading.waitForFinished();
    OpenedText opened = reading.takeResult();
    if (opened.read.cancelled || cancel) {
        if (opened.document) // cancelled while it was being filled
            opened.document->clear();
        return std::nullopt;
    }
    return opened;
}

} // namespace

std::optional<SessionKey> MainWindow::AskForKey(const KeyRecipe& recipe)
{
    PasswordDialog dialog(m_prompts, recipe);
    if (m_prompts.RunModal(dialog) != QDialog::Accepted)
        return std::nullopt;
    return dialog.takeKey();
}

std::optional<SessionKey> MainWindow::AskForNewKey(DocumentFormat format)
{
    // A typed password is asked twice: one typo would lock the document for
    // good. A mismatch, or a cancelled second prompt, goes back to the
    // password dialog. A strong key gets a fresh salt.
    KeyRecipe recipe;
    recipe.format = format;
    for (;;) {
        PasswordDialog dialog(m_prompts, recipe);
        if (m_prompts.RunModal(dialog) != QDialog::Accepted)
            return std::nullopt;
        std::optional<SessionKey> key = dialog.takeKey();
        if (!key || !dialog.typedPasswordConfirmed())
            return key; // a key file
        std::optional<QString> again =
            m_prompts.AskText(this, QStringLiteral("请再次输入密码:"), QStringLiteral("确认密码"), true);
        if (!again)
            continue;
        const bool same = dialog.MatchesTypedPassword(*again);
        again->fill(QChar(0));
        if (same)
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
        this, DocumentDialog(FileDialogMode::Save, QStringLiteral("选择一个存放文件的位置"), true, m_newDocumentFormat));
    if (!chosen)
        return;
    const DocumentFormat format = ChosenFormat(*chosen);
    RememberNewDocumentFormat(format);
    std::optional<SessionKey> key;
    if (format == DocumentFormat::Strong) {
        // A strong document has no key without a password: cancelling ends
        // New before any file is made.
        key = AskForNewKey(format);
        if (!key)
            return;
    }
    // The empty document file exists from now on. A file that cannot be
    // created leaves the current document exactly as it was.
    QFile file(chosen->path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        m_prompts.Tell(this, kCannotCreate, kFailed, MessageIcon::Error);
        return;
    }
    std::optional<FileIdentity> identity = ReadFileIdentity(file.handle()); // the file as made
    file.close();
    // A cancelled password dialog: the all-zero key; the document is still encrypted.
    if (format == DocumentFormat::Tvro)
        key = AskForNewKey(format);
    auto session = std::make_unique<DocumentSession>(chosen->path, key ? std::move(*key) : SessionKey(),
                                                     NewEditorDocument(m_editor->font()));
    session->setFileIdentity(std::move(identity));
    InstallSession(std::move(session), chosen->fileName);
    // A strong document's file is one at once (an empty file would read as
    // an empty .tvro document).
    if (format == DocumentFormat::Strong)
        m_session->Save(WriteOrigin::Save);
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
    if (!OpenableDocument(path, /*tellMissing=*/true))
        return;
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
    if (!OpenableDocument(path, /*tellMissing=*/false) || !file->open(QIODevice::ReadOnly))
        return; // a path that cannot be read starts the editor with no document
    ReadAndShowDocument(std::move(file), QFileInfo(path).absoluteFilePath(), path.section(QLatin1Char('/'), -1));
}

bool MainWindow::OpenableDocument(const QString& path, bool tellMissing)
{
    // A document is a file: a device or a pipe may never end. Each refusal
    // is told once, here.
    const QFileInfo info(path);
    if (!info.exists() || info.isDir()) {
        if (tellMissing)
            m_prompts.Tell(this, kCannotOpen, kFailed, MessageIcon::Error);
        return false;
    }
    if (!info.isFile()) {
        m_prompts.Tell(this, QStringLiteral("该路径不是普通文件,不能作为文档打开."), kFailed, MessageIcon::Error);
        return false;
    }
    const std::uint64_t largest = LargestDocumentFile();
    if (static_cast<std::uint64_t>(info.size()) > largest) {
        constexpr double kMiB = 1024.0 * 1024.0;
        m_prompts.Tell(this,
                       QStringLiteral("该文档太大(%1 MB),超出了本程序在这台电脑上能够编辑的大小(%2 MB).")
                           .arg(static_cast<double>(info.size()) / kMiB, 0, 'f', 0)
                           .arg(static_cast<double>(largest) / kMiB, 0, 'f', 0),
                       kFailed, MessageIcon::Error);
        return false;
    }
    return true;
}

void MainWindow::ReadAndShowDocument(std::unique_ptr<QFile> file, const QString& path, const QString& titleName,
                                     std::optional<SessionKey> knownKey)
{
    const DocumentPreview preview = PreviewDocument(*file);
    if (preview.format == DocumentFormat::Strong && preview.strongHeader != StrongCheck::Sound) {
        m_prompts.Tell(this, QStringLiteral("该文件不是可以读取的 Tavro 强加密文档(文件头无效或已损坏)."), kFailed,
                       MessageIcon::Error);
        return;
    }
    KeyRecipe recipe;
    recipe.format = preview.format;
    if (preview.format == DocumentFormat::Strong)
        recipe.strongParameters = preview.strongParameters;
    std::optional<SessionKey> asked = knownKey ? std::move(knownKey) : AskForKey(recipe);
    if (!asked && preview.format == DocumentFormat::Strong)
        return; // a strong document opens with its key only
    // A cancelled password dialog reads a .tvro document with the all-zero key.
    SessionKey key = asked ? std::move(*asked) : SessionKey();
    // The file as read: a write replaces it only while it is still this one.
    std::optional<FileIdentity> identity = ReadFileIdentity(file->handle());
    std::optional<OpenedText> opened = ReadOffTheUiThread(this, *file, key, titleName);
    file.reset();
    if (!opened)
        return; // cancelled: the document open before is still open
    const DocumentText& read = opened->read;
    if (read.readError) {
        m_prompts.Tell(this, kCannotOpen, kFailed, MessageIcon::Error);
        return;
    }
    bool storedCopyProtected = false;
    if (preview.format == DocumentFormat::Strong) {
        // A wrong key shows nothing, so the document can never be saved
        // over with garbage; damage shows, read-only, what came before it.
        if (read.strongCheck == StrongCheck::WrongKey) {
            m_prompts.Tell(this, QStringLiteral("密码错误或文件已被修改."), kFailed, MessageIcon::Error);
            return;
        }
        if (read.strongCheck != StrongCheck::Sound) {
            const QString question =
                QStringLiteral("该文档已损坏或被修改,只有前 %1 个字符通过了校验,之后的内容无法读取.\n\n"
                               "是否以只读方式查看通过校验的部分?(不会写入原文件,除非您确认)")
                    .arg(opened->characters);
            if (m_prompts.ShowMessage(this, question, QStringLiteral("警告"), MessageIcon::Warning,
                                      MessageButtons::YesNoDefaultNo) != MessageAnswer::Yes)
                return;
            storedCopyProtected = true;
        }
    } else {
        // A read that is not surely the document (a wrong key, damage, a
        // file that is no document: read_judgement.h) must not replace the
        // file unasked.
        storedCopyProtected = !read.judgement.clean();
    }
    // An opened document is always shown locked; a damaged one is shown too.
    auto session = std::make_unique<DocumentSession>(
        path, std::move(key), LaidOutForEditor(std::move(opened->document), m_editor->font()));
    session->Load(storedCopyProtected);
    session->setFileIdentity(std::move(identity));
    InstallSession(std::move(session), titleName);
    if (preview.format == DocumentFormat::Tvro && !read.crcMatches)
        m_prompts.Tell(this, kCrcWarning, QStringLiteral("警告"), MessageIcon::Warning);
    OfferRecoveryCopy(); // text the program could not store when it was last ended
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
    // Over an existing file only when the user says so.
    const auto chosen = m_prompts.ChooseFile(
        this, DocumentDialog(FileDialogMode::Save, QStringLiteral("另存为"), true, m_session->format()));
    if (!chosen)
        return;
    // Another type needs a key of its own, asked as New asks it; the same
    // type is written under the document's key. Cancelling writes nothing.
    const DocumentFormat format = ChosenFormat(*chosen);
    std::optional<SessionKey> newKey;
    if (format != m_session->format()) {
        newKey = AskForNewKey(format);
        if (!newKey)
            return;
    }
    // The new file is written like every save: to a temporary file renamed
    // over the target at the end, so an existing target is not truncated
    // first. The document is the new file's once it is written.
    m_session->SaveAs(chosen->path, std::move(newKey));
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
    request.overwritePrompt = true; // over an existing file only when the user says so
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
    // A stored copy that may not be the document is asked about first, and
    // then only a new key is written over it.
    const bool protectedCopy = m_session->isProtected();
    if (protectedCopy && !ConfirmProtectedWrite())
        return;
    // A cancelled dialog keeps the current key, and the document is written
    // again under it. The new key (a strong one with a fresh salt) is the
    // document's once it is written.
    std::optional<SessionKey> key = AskForNewKey(m_session->format());
    if (!key && protectedCopy)
        return;
    m_session->ChangeKey(key ? std::move(*key) : m_session->key().Copy());
}

} // namespace tavro
