#include "main_window.h"

#include "document_status_bar.h"
#include "prompts.h"
#include "user_settings.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPlainTextDocumentLayout>
#include <QTextDocument>
#include <QVBoxLayout>

namespace tavro {

const QString g_strTitlePrefix = QStringLiteral("Tavro文本加密 v2.0 - ");
const QString g_strLockedMarker = QStringLiteral("{被锁定无法编辑} - ");
const QString g_strNoDocumentTitle = QStringLiteral("[没有正在编辑的文件]");

namespace {

// Default client size, about the 320 x 200 dialog-unit template, and the
// smallest size that leaves the editor usable.
constexpr QSize kDefaultSize(760, 500);
constexpr QSize kMinimumSize(320, 200);

} // namespace

MainWindow::MainWindow(Prompts& prompts, QString configPath, QWidget* parent)
    : QMainWindow(parent), m_prompts(prompts), m_icon(QStringLiteral(":/icons/tavro.svg")),
      m_configPath(std::move(configPath))
{
    setWindowTitle(QStringLiteral("Tavro文本加密 v2.0"));
    setMinimumSize(kMinimumSize);
    resize(kDefaultSize);
    BuildMenuBar();
    BuildEditor();
    m_statusBar = new DocumentStatusBar(this);
    setStatusBar(m_statusBar);
    setAcceptDrops(true); // a document file dropped on the window is opened
    connect(&m_autoSave, &AutoSave::changed, this, &MainWindow::RefreshView);
    installEventFilter(this);
    SetUpPrivacy();
}

MainWindow::~MainWindow()
{
    if (m_findDialog)
        delete m_findDialog.data();
    InstallSession(nullptr, {}); // waits for a write in flight; wipes the key and the text
}

void MainWindow::BuildEditor()
{
    auto* client = new QWidget(this);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_editor = new TextEditor(client);
    m_editor->setObjectName(QStringLiteral("editor"));
    m_editor->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    layout->addWidget(m_editor);
    m_noDocument = new QTextDocument(this);
    m_noDocument->setDocumentLayout(new QPlainTextDocumentLayout(m_noDocument));
    m_editor->setDocument(m_noDocument);
    m_editor->setEnabled(false);
    m_editor->installEventFilter(this);
    // Mouse events and drops reach the editor's viewport.
    m_editor->viewport()->installEventFilter(this);
    // The context menu of the Menu key (the mouse's comes on release, from
    // the viewport's filter).
    m_editor->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_editor, &QWidget::customContextMenuRequested, this,
            [this] { OnEditorMsgFilter(CaretMenuPosition()); });
    // The editor's own signals follow whichever document it shows.
    connect(m_editor, &QPlainTextEdit::cursorPositionChanged, this, &MainWindow::RefreshStatusBar);
    connect(m_editor, &QPlainTextEdit::textChanged, this, &MainWindow::RefreshStatusBar);
    setCentralWidget(client);
}

void MainWindow::OnInitDialog(const QStringList& arguments)
{
    setWindowIcon(m_icon);
    if (m_configPath.isEmpty())
        m_configPath = SettingsFilePath(QCoreApplication::applicationDirPath());
    m_charFormat = CharFormat2W::Default();
    LoadSettings();
    if (OpenUserSettings()->value(QStringLiteral("documents/newType")).toString() == QLatin1String("tvrs"))
        m_newDocumentFormat = DocumentFormat::Strong;
    ReadPrivacySettings();
    ApplyEditorFormat();
    RefreshView();
    // The shell has split the path at blanks; the document path is the rest
    // of the command line, so the arguments are joined again.
    const QString path = arguments.join(QLatin1Char(' '));
    if (!path.isEmpty())
        OpenCommandLineDocument(path);
}

void MainWindow::InstallSession(std::unique_ptr<DocumentSession> session, const QString& titleName)
{
    std::unique_ptr<DocumentSession> previous = std::move(m_session);
    if (previous)
        disconnect(previous.get(), nullptr, this, nullptr);
    m_session = std::move(session);
    m_titleName = m_session ? QLatin1Char('[') + titleName + QLatin1Char(']') : g_strNoDocumentTitle;
    QTextDocument* document = m_session ? m_session->document() : m_noDocument;
    if (document->defaultFont() != m_editor->font())
        document->setDefaultFont(m_editor->font());
    m_editor->setDocument(document);
    m_autoSave.setSession(m_session.get());
    if (m_session) {
        m_session->setWriterFactory(m_writerFactory);
        connect(m_session.get(), &DocumentSession::changed, this, &MainWindow::RefreshView);
        connect(m_session.get(), &DocumentSession::lossyCharactersFound, this, &MainWindow::OnLossyCharacters);
        connect(m_session.get(), &DocumentSession::writeFinished, this, &MainWindow::OnWriteFinished);
        connect(m_session.get(), &DocumentSession::versionNotKept, this, &MainWindow::OnVersionNotKept);
        connect(m_session.get(), &DocumentSession::fileChangedOnDisk, this, &MainWindow::OnFileChangedOnDisk);
    }
    previous.reset(); // waits for its write in flight, wipes its key and text
    if (!m_session)
        m_clipboardGuard.Clear(); // closed: its text leaves the clipboard too
    RefreshView();
}

void MainWindow::RememberNewDocumentFormat(DocumentFormat format)
{
    if (format == m_newDocumentFormat)
        return;
    m_newDocumentFormat = format;
    OpenUserSettings()->setValue(QStringLiteral("documents/newType"),
                                 format == DocumentFormat::Strong ? QStringLiteral("tvrs") : QStringLiteral("tvro"));
}

void MainWindow::setWriterFactory(DocumentSession::WriterFactory factory)
{
    m_writerFactory = std::move(factory);
    if (m_session)
        m_session->setWriterFactory(m_writerFactory);
}

void MainWindow::OnVersionNotKept(const QString& reason)
{
    // Once a run: every write goes on all the same.
    if (std::exchange(m_versionFailureTold, true))
        return;
    statusBar()->showMessage(QStringLiteral("无法保存历史版本(文档已照常保存): ") + reason, 60000);
}

void MainWindow::ApplyEditorFormat()
{
    // All text in the one format; applying it records the editor's use in
    // the record (116 bytes), as "config" stores it. The caret, the
    // selection and the view stay where they are.
    m_charFormat.setCbSize(static_cast<std::uint32_t>(kCharFormat2WSize));
    m_editor->applyFormat(m_charFormat);
}

void MainWindow::SetCaption()
{
    setWindowTitle(g_strTitlePrefix + (isLocked() ? g_strLockedMarker : QString()) + m_titleName);
}

void MainWindow::LockEditors()
{
    if (m_session)
        m_session->setLocked(true);
}

void MainWindow::OnUnlock()
{
    if (!m_session)
        return;
    m_session->setLocked(false);
    // A caret, not a selection: the first key typed must not replace text
    // that was selected while it could not be edited.
    QTextCursor cursor = m_editor->textCursor();
    cursor.setPosition(cursor.selectionStart());
    m_editor->setTextCursor(cursor);
}

void MainWindow::OnToggleWordWrap()
{
    // One editor, one document: only the layout changes. The caret, the
    // selection and the first line shown stay.
    m_wordWrap = !m_wordWrap;
    const qsizetype top = m_editor->topPosition();
    m_editor->setLineWrapMode(m_wordWrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    m_editor->scrollToTop(top);
    UpdateActions();
    FocusEditor();
}

void MainWindow::RefreshView()
{
    SetCaption();
    m_editor->setEnabled(m_session != nullptr && !isHidden());
    m_editor->setLocked(isLocked());
    RefreshHiddenView();
    UpdateActions();
    RefreshStatusBar();
}

void MainWindow::RefreshStatusBar()
{
    if (!m_statusBar)
        return;
    // Constant work per keystroke: the document keeps its length, the
    // cursor its block; the text is never scanned.
    const QTextCursor cursor = m_editor->textCursor();
    DocumentStatus status;
    status.documentOpen = m_session != nullptr;
    status.locked = isLocked();
    status.protectedCopy = m_session && m_session->isProtected();
    status.modified = isModified();
    status.hidden = isHidden();
    status.autoSave = m_autoSave.isEnabled();
    status.autoSavePause = m_autoSave.pause();
    status.strong = m_session && m_session->format() == DocumentFormat::Strong;
    status.line = cursor.blockNumber() + 1;
    status.column = cursor.positionInBlock() + 1;
    status.characters = m_editor->document()->characterCount() - 1; // without the final separator
    m_statusBar->Show(status);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Unsaved changes are asked about first; Cancel keeps the window open.
    // Ended from outside, what could be stored is, and nothing is asked.
    if (!m_ending && !ConfirmQuit()) {
        event->ignore();
        return;
    }
    OnClose();
    event->accept();
}

void MainWindow::OnClose()
{
    AutoSave::Hold hold(m_autoSave);
    WaitForSave();
    InstallSession(nullptr, {}); // the key and the text are wiped
    SaveSettings();
}

void MainWindow::OnAppExit()
{
    if (close()) // asks about unsaved changes and runs OnClose through the close event
        QCoreApplication::exit(0);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == this || watched == m_editor))
        return PreTranslateMessage(static_cast<QKeyEvent*>(event));
    if (watched == m_editor->viewport())
        return FilterEditorViewportEvent(event);
    return QMainWindow::eventFilter(watched, event);
}

} // namespace tavro
