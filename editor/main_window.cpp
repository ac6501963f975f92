#include "command_scope.h"

#include "document_save_job.h"
#include "document_status_bar.h"
#include "menus.h"
#include "program_state.h"
#include "prompts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QScreen>
#include <QTextCursor>
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

CTavroTextEditorDlg::CTavroTextEditorDlg(Prompts& prompts, QString configPath, QWidget* parent)
    : QMainWindow(parent), m_prompts(prompts), m_hIcon(QStringLiteral(":/icons/tavro.svg")),
      m_strConfigPath(std::move(configPath))
{
    setWindowTitle(QStringLiteral("Tavro文本加密 v2.0"));
    setMinimumSize(kMinimumSize);
    resize(kDefaultSize);
    BuildMenuBar();
    BuildEditors();
    m_statusBar = new DocumentStatusBar(this);
    setStatusBar(m_statusBar);
    setAcceptDrops(true); // a document file dropped on the window is opened
    // Every 60000 ms, not within a coarse timer's 5 %.
    m_autoSaveTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_autoSaveTimer, &QTimer::timeout, this, [this] { OnTimer(kAutoSaveTimerId); });
    installEventFilter(this);
}

CTavroTextEditorDlg::~CTavroTextEditorDlg()
{
    m_saveJob.reset(); // waits for the worker; an unfinished write leaves the old file

    if (m_findDialog)
        delete m_findDialog.data();
}

void CTavroTextEditorDlg::BuildMenuBar()
{
    const auto popups = MainMenu();
    for (std::size_t index = 0; index < popups.size(); ++index) {
        QMenu* popup = menuBar()->addMenu(QString::fromUtf16(popups[index].label));
        for (const MenuItemDef& item : popups[index].items) {
            if (item.id == 0) {
                popup->addSeparator();
                continue;
            }
            QAction* action = popup->addAction(QString::fromUtf16(item.label));
            action->setData(item.id);
            m_commandActions[item.id] = action;
            const int id = item.id;
            connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        }
        connect(popup, &QMenu::aboutToShow, this, [this, popup] { OnInitMenuPopup(popup); });
        m_menuPopups.push_back(popup);
    }
}

void CTavroTextEditorDlg::BuildEditors()
{
    auto* client = new QWidget(this);
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_editNoWrap = new CRichEditCtrl(client);
    m_editNoWrap->setObjectName(QStringLiteral("editNoWrap"));
    m_editNoWrap->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_editWrap = new CRichEditCtrl(client);
    m_editWrap->setObjectName(QStringLiteral("editWrap"));
    m_editWrap->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    for (CRichEditCtrl* editor : {m_editNoWrap, m_editWrap}) {
        layout->addWidget(editor);
        editor->installEventFilter(this);
        // Mouse events and drops reach the editor's viewport.
        editor->viewport()->installEventFilter(this);
        // The context menu of the Menu key (the mouse's comes on release,
        // from the viewport's filter).
        editor->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(editor, &QWidget::customContextMenuRequested, this,
                [this] { OnEditorMsgFilter(CaretMenuPosition()); });
        // The status bar follows whichever document the editor shows: these
        // are the editor's own signals, so a replaced document keeps them.
        connect(editor, &QPlainTextEdit::cursorPositionChanged, this,
                &CTavroTextEditorDlg::RefreshStatusBar);
        connect(editor, &QPlainTextEdit::textChanged, this, &CTavroTextEditorDlg::RefreshStatusBar);
        connect(editor, &QPlainTextEdit::modificationChanged, this,
                &CTavroTextEditorDlg::RefreshStatusBar);
    }
    setCentralWidget(client);
}

QAction* CTavroTextEditorDlg::commandAction(int id) const
{
    const auto found = m_commandActions.find(id);
    return found == m_commandActions.end() ? nullptr : found->second;
}

QMenu* CTavroTextEditorDlg::menuPopup(int index) const
{
    return m_menuPopups.at(static_cast<std::size_t>(index));
}

void CTavroTextEditorDlg::OnInitDialog(const QStringList& arguments)
{
    setWindowIcon(m_hIcon);
    if (m_strConfigPath.isEmpty())
        m_strConfigPath = SettingsFilePath(QCoreApplication::applicationDirPath());
    g_charFormat = CharFormat2W::Default();
    SetTimer(kAutoSaveTimerId, kAutoSavePeriodMs);
    // Word wrap is on at this point: the wrapping editor is the one shown.
    m_editNoWrap->setEnabled(false);
    m_editNoWrap->hide();
    m_editWrap->setEnabled(true);
    m_editWrap->show();
    SetDocumentState(false);
    LoadSettings();
    ApplyEditorFormat();
    OnUnlock();
    m_editNoWrap->setEnabled(m_bDocumentOpen);
    m_editWrap->setEnabled(m_bDocumentOpen);
    // The shell has split the path at blanks; the document path is the rest
    // of the command line, so the arguments are joined again.
    const QString path = arguments.join(QLatin1Char(' '));
    if (!path.isEmpty())
        OpenCommandLineDocument(path);
    RefreshStatusBar();
}

void CTavroTextEditorDlg::SetDocumentState(bool open)
{
    m_bDocumentOpen = open;
    if (!open)
        m_strTitleName = g_strNoDocumentTitle;
    m_editNoWrap->setEnabled(open);
    m_editWrap->setEnabled(open);
    m_editNoWrap->SetWindowText(QString());
    m_editWrap->SetWindowText(QString());
    // A fresh start: nothing unsaved, nothing to protect, nothing accepted.
    MarkSaved();
    m_bStoredCopyProtected = false;
    m_lossyAcceptedDocument = nullptr;
    m_lossySkippedDocument = nullptr;
    ApplyEditorFormat();
    OnUnlock();
}

void CTavroTextEditorDlg::ApplyEditorFormat()
{
    for (CRichEditCtrl* editor : {m_editNoWrap, m_editWrap}) {
        editor->SetSel(0, -1);
        editor->SetWordCharFormat(g_charFormat);
    }
}

void CTavroTextEditorDlg::SetCaption(bool locked)
{
    setWindowTitle(g_strTitlePrefix + (locked ? g_strLockedMarker : QString()) + m_strTitleName);
}

void CTavroTextEditorDlg::LockEditors()
{
    SetCaption(true);
    m_bLocked = true;
    m_editWrap->SetReadOnly(true);
    m_editNoWrap->SetReadOnly(m_bLocked);
    RefreshMenuStates();
    RefreshStatusBar();
}

void CTavroTextEditorDlg::OnUnlock()
{
    SetCaption(false);
    m_bLocked = false;
    m_editWrap->SetReadOnly(false);
    m_editNoWrap->SetReadOnly(m_bLocked);
    // A caret where the selection began, not a selection: the first key
    // typed must not replace the whole text an Open left selected.
    for (CRichEditCtrl* editor : {m_editNoWrap, m_editWrap}) {
        QTextCursor cursor = editor->textCursor();
        cursor.setPosition(cursor.selectionStart());
        editor->setTextCursor(cursor);
    }
    RefreshMenuStates();
    RefreshStatusBar();
}

void CTavroTextEditorDlg::ShowActiveEditor()
{
    // With no document open both editors stay disabled, the new one included.
    m_editNoWrap->setEnabled(!m_bWordWrap && m_bDocumentOpen);
    m_editNoWrap->setVisible(!m_bWordWrap);
    m_editWrap->setEnabled(m_bWordWrap && m_bDocumentOpen);
    m_editWrap->setVisible(m_bWordWrap);
}

void CTavroTextEditorDlg::OnToggleWordWrap()
{
    m_bWordWrap = !m_bWordWrap;
    CRichEditCtrl* from = hiddenEditor();
    CRichEditCtrl* to = activeEditor();
    // The document itself changes hands, once the new editor is shown (a
    // control shown with a large document lays it out again); the hidden
    // editor is left empty.
    ShowActiveEditor();
    to->TakeDocument(*from);
    ApplyEditorFormat();
    RefreshMenuStates();
    RefreshStatusBar();
    FocusActiveEditor();
}

void CTavroTextEditorDlg::OnCommand(int id)
{
    using Handler = void (CTavroTextEditorDlg::*)();
    static const std::map<int, Handler> handlers{
        {ID_FILE_NEW, &CTavroTextEditorDlg::OnFileNew},
        {ID_FILE_OPEN, &CTavroTextEditorDlg::OnFileOpen},
        {ID_FILE_SAVE, &CTavroTextEditorDlg::OnFileSave},
        {ID_FILE_SAVE_AS, &CTavroTextEditorDlg::OnFileSaveAs},
        {ID_FILE_EXPORT_TXT, &CTavroTextEditorDlg::OnFileExportTxt},
        {ID_FILE_CLOSE_DOC, &CTavroTextEditorDlg::OnFileCloseDoc},
        {ID_APP_EXIT, &CTavroTextEditorDlg::OnAppExit},
        {ID_SETTINGS_PASSWORD, &CTavroTextEditorDlg::OnSettingsPassword},
        {ID_SETTINGS_FONT, &CTavroTextEditorDlg::OnSettingsFont},
        {ID_WORD_WRAP, &CTavroTextEditorDlg::OnToggleWordWrap},
        {ID_AUTO_SAVE, &CTavroTextEditorDlg::OnToggleAutoSave},
        {ID_LOCK, &CTavroTextEditorDlg::OnLock},
        {ID_UNLOCK, &CTavroTextEditorDlg::OnUnlock},
        {ID_EDIT_UNDO, &CTavroTextEditorDlg::OnEditUndo},
        {ID_EDIT_CUT, &CTavroTextEditorDlg::OnEditCut},
        {ID_EDIT_COPY, &CTavroTextEditorDlg::OnEditCopy},
        {ID_EDIT_PASTE, &CTavroTextEditorDlg::OnEditPaste},
        {ID_EDIT_DELETE, &CTavroTextEditorDlg::OnEditDelete},
        {ID_EDIT_SELECT_ALL, &CTavroTextEditorDlg::OnEditSelectAll},
        {ID_EDIT_FIND, &CTavroTextEditorDlg::OnEditFind},
        {ID_EDIT_REPLACE, &CTavroTextEditorDlg::OnEditReplace},
        {ID_HELP_USAGE_NOTES, &CTavroTextEditorDlg::OnHelpUsageNotes},
        {ID_HELP_STATEMENT, &CTavroTextEditorDlg::OnHelpStatement},
        {ID_HELP_ABOUT, &CTavroTextEditorDlg::OnHelpAbout},
    };
    const auto found = handlers.find(id);
    if (found == handlers.end())
        return;
    // Every operation that changes a flag the menu states read brings the
    // menus up to date itself.
    (this->*(found->second))();
}

void CTavroTextEditorDlg::closeEvent(QCloseEvent* event)
{
    // Unsaved changes are asked about first; Cancel keeps the window open.
    if (!ConfirmQuit()) {
        event->ignore();
        return;
    }
    OnClose();
    event->accept();
}

void CTavroTextEditorDlg::OnClose()
{
    CommandScope command(*this);
    WaitForSave();
    DropStream();
    SaveSettings();
}

void CTavroTextEditorDlg::OnAppExit()
{
    if (close()) // asks about unsaved changes and runs OnClose through the close event
        QCoreApplication::exit(0);
}

bool CTavroTextEditorDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress &&
        (watched == this || watched == m_editNoWrap || watched == m_editWrap))
        return PreTranslateMessage(static_cast<QKeyEvent*>(event));
    if (watched == m_editNoWrap->viewport() || watched == m_editWrap->viewport())
        return FilterEditorViewportEvent(event);
    return QMainWindow::eventFilter(watched, event);
}

void CTavroTextEditorDlg::RefreshStatusBar()
{
    if (!m_statusBar)
        return;
    // Constant work per keystroke: the document keeps its length, the
    // cursor its block; the text is never scanned.
    const CRichEditCtrl* editor = activeEditor();
    const QTextCursor cursor = editor->textCursor();
    DocumentStatus status;
    status.documentOpen = m_bDocumentOpen;
    status.locked = m_bLocked;
    status.modified = editor->document()->isModified();
    status.autoSave = m_bAutoSave;
    status.line = cursor.blockNumber() + 1;
    status.column = cursor.positionInBlock() + 1;
    status.characters = editor->document()->characterCount() - 1; // without the final separator
    m_statusBar->Show(status);
}

} // namespace tavro
