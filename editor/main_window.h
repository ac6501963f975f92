// The main window: a view over the open document's session. It owns the
// one editor, the menus and their actions, the dialogs' questions, the
// status bar, the window's switches and placement; the session owns the
// document (file, key, text, what the file holds, writes).
//
// Each concern lives in a source file of its own:
//   main_window.cpp        construction, start-up, the document's view state, closing
//   command_table.cpp      the menu table, actions and their enabled states, context menu
//   document_commands.cpp  New, Open, Save, Save As, Export, Close, Exit, Password
//   write_questions.cpp    the questions before a write and the messages after it
//   edit_protection.cpp    Lock, Unlock, the auto-save switch and its ticks
//   privacy.cpp            Hide, Show, idle time, minimizing, the clipboard, the privacy settings
//   editing_commands.cpp   the Edit menu and the window's own keys
//   find_replace.cpp       Find and Replace
//   font_and_help_commands.cpp, drop_to_open.cpp, settings_file.cpp, window_placement.cpp
#pragma once

#include "auto_save.h"
#include "char_format.h"
#include "document_session.h"
#include "find_replace_dialog.h"
#include "idle_watch.h"
#include "privacy_settings.h"
#include "secret_clipboard.h"
#include "session_key.h"
#include "settings_file.h"
#include "stepped_search.h"
#include "text_editor.h"
#include "version_store.h"

#include <QIcon>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMenu;
class QKeyEvent;

namespace tavro {

class DocumentStatusBar;
class Prompts;
class SessionWatch;

// "Tavro文本加密 v2.0 - ": every caption starts with it.
extern const QString g_strTitlePrefix;
// "{被锁定无法编辑} - ": in the caption while the text is locked.
extern const QString g_strLockedMarker;
// The title name while no document is open.
extern const QString g_strNoDocumentTitle;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // configPath: the settings file to use; empty means "config" beside the
    // executable, or under $XDG_CONFIG_HOME/tavro when that folder is not writable.
    explicit MainWindow(Prompts& prompts, QString configPath = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up: defaults, settings, then the document named by the command
    // line arguments (joined with single spaces), if any.
    void OnInitDialog(const QStringList& arguments = {});

    // Document files are written through devices made by this (nullptr:
    // files); tests pass one that fails.
    void setWriterFactory(DocumentSession::WriterFactory factory);

    // --- State operations ---
    void ApplyEditorFormat();
    void LockEditors();
    void OnUnlock();
    void OnToggleWordWrap();

    // --- Document commands ---
    void OnFileNew();
    void OnFileOpen();
    // Open's flow after its file dialog: the document at path, read and
    // shown locked after the password dialog. Also the end of a file drop.
    void OpenDocumentPath(const QString& path, const QString& fileName);
    void OnFileSave();
    void OnFileSaveAs();
    void OnFileExportTxt();
    void OnFileCloseDoc();
    void OnAppExit();
    void OnSettingsPassword();
    void OnFileVersions(); // the version history (version_history.cpp)
    // Ends the write in flight, if any (its questions and failure message
    // included). True when that write stored its text; false when it
    // failed, was given up, or when no write was under way.
    bool WaitForSave();

    // --- Edit protection and auto-save ---
    void OnLock();
    void OnToggleAutoSave();
    void OnTimer(); // the auto-save tick

    // --- Privacy (privacy.cpp) ---
    // Hides the text; also what idle time, the session's lock and (when
    // chosen) minimizing do. Nothing while no document is open.
    void OnHide();
    // Asks for the document's password or key file and shows the text
    // again, still locked, when it is the document's.
    void OnShow();
    void OnSettingsPrivacy();
    // The session's lock and the machine's sleep, as watch tells them, hide the text.
    void WatchSession(const SessionWatch& watch);
    void OnUpdateHide(QAction* action) const;
    void OnUpdateShow(QAction* action) const;
    void OnUpdateDocumentOpen(QAction* action) const;
    bool isHidden() const { return m_session && m_session->isHidden(); }
    const PrivacySettings& privacySettings() const { return m_privacy; }
    IdleWatch& idleWatch() { return m_idleWatch; } // tests set its clock
    const ClipboardGuard& clipboardGuard() const { return m_clipboardGuard; }

    // --- Editing commands ---
    void OnEditUndo();
    void OnEditCut();
    void OnEditCopy();
    void OnEditPaste();
    void OnEditDelete();
    void OnEditSelectAll();

    // --- Find and replace ---
    void OnEditFind();
    void OnEditReplace();
    void OnFindReplace(FindReplaceDialog* dialog);

    // --- Font and information dialogs ---
    void OnSettingsFont();
    void OnHelpUsageNotes();
    void OnHelpStatement();
    void OnHelpAbout();

    // --- Menus and keys ---
    // Carries out a command as the menu would, if its item is enabled now.
    void OnCommand(int id);
    // Brings every action's enabled state and check mark up to date.
    void UpdateActions();
    void OnUpdateDocumentCommand(QAction* action) const;
    void OnUpdateReplace(QAction* action) const;
    void OnUpdateWordWrap(QAction* action) const;
    void OnUpdateAutoSave(QAction* action) const;
    // A key press addressed to the window or its editor; true when consumed.
    bool PreTranslateMessage(QKeyEvent* event);
    // The editor's context menu: the Edit popup, states up to date.
    std::unique_ptr<QMenu> LoadEditPopup();
    // Where the context menu of the Menu key and Shift+F10 opens: at the caret.
    QPoint CaretMenuPosition() const;

    // The program is ended from outside (a signal, the desktop session's
    // end): the text is written where auto-save would write it, else kept
    // as a recovery copy; the settings are written. Nothing is asked from
    // here on. Ends the process (exit code 0) unless a test asks not to.
    void EndWithoutAsking(bool endProcess = true);
    // The part of it that stores: what a test checks without ending.
    void StoreBeforeEnding();

    // --- Read access for tests and the settings file ---
    TextEditor* editor() const { return m_editor; }
    DocumentSession* session() const { return m_session.get(); }
    const AutoSave& autoSave() const { return m_autoSave; }
    QAction* commandAction(int id) const;
    QMenu* menuPopup(int index) const;
    bool isDocumentOpen() const { return m_session != nullptr; }
    // The open document's text differs from what its file holds.
    bool isModified() const { return m_session && m_session->isModified(); }
    bool isLocked() const { return m_session && m_session->isLocked(); }
    bool isWordWrap() const { return m_wordWrap; }
    bool isAutoSave() const { return m_autoSave.isEnabled(); }
    bool isFindDialogOpen() const { return !m_findDialog.isNull(); }
    FindReplaceDialog* findDialog() const { return m_findDialog.data(); }
    QString documentPath() const { return m_session ? m_session->path() : QString(); }
    const QString& configPath() const { return m_configPath; }
    const CharFormat2W& charFormat() const { return m_charFormat; }
    DocumentStatusBar* documentStatusBar() const { return m_statusBar; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override; // minimizing may hide
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct CommandDef;
    static const std::vector<std::vector<CommandDef>>& CommandTable();

    void BuildMenuBar();
    void BuildEditor();
    std::unique_ptr<QMenu> LoadPopup(std::size_t index, QWidget* parent);
    void SetCaption();
    // Shows session (nullptr: no document) in the editor, unlocked unless
    // it was opened from a file; the previous session goes, its key and
    // text wiped.
    void InstallSession(std::unique_ptr<DocumentSession> session, const QString& titleName);
    void RefreshView();
    void RefreshStatusBar();
    void OpenCommandLineDocument(const QString& path);
    // Reads file and shows it as the document at path, locked, after the
    // password dialog (or under key, when it is known already).
    void ReadAndShowDocument(std::unique_ptr<QFile> file, const QString& path, const QString& titleName,
                             std::optional<SessionKey> key = std::nullopt);
    // A version previewed under its own password; true when it was restored.
    bool PreviewVersion(const Version& version);
    // Version number in place of the document's file, shown as opened.
    bool RestoreVersion(std::uint64_t number, std::optional<SessionKey> key);
    void OnVersionNotKept(const QString& reason);

    // The password dialog, once, for the key recipe says; nothing when it
    // was cancelled.
    std::optional<SessionKey> AskForKey(const KeyRecipe& recipe);
    // The password dialog for a key of format chosen now: a typed password
    // is asked twice (a mismatch goes back to the dialog); nothing when
    // cancelled.
    std::optional<SessionKey> AskForNewKey(DocumentFormat format);
    // A path that can be opened as a document (a file of a size the editor
    // takes); says why not when it is there but cannot.
    bool OpenableDocument(const QString& path, bool tellMissing);
    // The type New offers first: the one last chosen (per user).
    void RememberNewDocumentFormat(DocumentFormat format);

    // The protected-copy question, then the session's write (Save, Lock);
    // false when nothing was started.
    bool SaveDocument(WriteOrigin origin);
    // The questions (write_questions.cpp).
    bool ConfirmClosing();
    bool ConfirmQuit();
    bool AskToSaveChanges();
    bool ConfirmProtectedWrite();
    void OnLossyCharacters(WriteOrigin origin, const std::u32string& characters);
    void OnWriteFinished(WriteOrigin origin, WriteOutcome outcome);
    // Another program changed the file a write is about to replace.
    void OnFileChangedOnDisk(WriteOrigin origin);

    void SetUpPrivacy();
    void ReadPrivacySettings();
    void ApplyPrivacySettings();
    void RefreshHiddenView();

    void OnClose();
    bool KeepRecoveryCopy();
    void OfferRecoveryCopy();
    void LoadSettings();
    void SaveSettings();
    void CenterOnScreen(); // the first placement, without stored settings
    void InsertTab();
    TextEditor* FocusEditor();
    void OnEditorMsgFilter(const QPoint& globalPos);
    bool FilterEditorViewportEvent(QEvent* event);
    bool FilterFileDrop(QEvent* event);
    void PlaceWindow();
    void OpenFindDialog(bool findOnly);
    // Runs a search of the editor's text; then gets its result, unless it was cancelled.
    void Search(const QString& find, std::vector<SteppedSearch::Leg> legs, std::function<void(qsizetype)> then);
    void SearchDown(const QString& find, bool clearSelectionIfMissing);
    void SearchUp(const QString& find);
    void SelectMatch(qsizetype pos, qsizetype length);
    void ReplaceSelection(FindReplaceDialog* dialog, const QString& find);
    void ReplaceAll(FindReplaceDialog* dialog, const QString& find);
    void ReportNotFound(const QString& find);

    Prompts& m_prompts;
    QIcon m_icon;
    TextEditor* m_editor = nullptr;
    QTextDocument* m_noDocument = nullptr; // what the editor shows while no document is open
    std::unique_ptr<DocumentSession> m_session;
    DocumentSession::WriterFactory m_writerFactory;
    DocumentFormat m_newDocumentFormat = DocumentFormat::Tvro;
    AutoSave m_autoSave;
    bool m_wordWrap = true;
    CharFormat2W m_charFormat = CharFormat2W::Default(); // the editor's one format; stored in "config"
    QString m_titleName = g_strNoDocumentTitle;
    bool m_findOnly = false;
    QPointer<FindReplaceDialog> m_findDialog;
    bool m_replacingAll = false; // a Replace All runs its turns; another is refused
    QString m_configPath;
    WindowGeometry m_windowGeometry; // placement between reading and writing the settings
    // The stored outer rectangle still to be applied once the window
    // manager has framed the window (its frame size is unknown before),
    // and once a window started maximized is first restored.
    bool m_placementPending = false;
    // The outer rectangle of the window while last neither maximized nor
    // minimized: what a maximized window returns to, and what is stored.
    QRect m_normalOuter;
    bool m_versionFailureTold = false; // a failed keep is told once a run
    bool m_saveAsAfterWrite = false;   // 另存为 answered to a changed file
    bool m_ending = false;             // ended by a signal or the session: nothing is asked any more
    DocumentStatusBar* m_statusBar = nullptr;
    std::map<int, QAction*> m_commandActions; // the menu bar's action of each command
    std::vector<QMenu*> m_menuPopups;         // the menu bar's popups, left to right

    // Privacy (privacy.cpp).
    PrivacySettings m_privacy;
    QString m_privacyPath;
    IdleWatch m_idleWatch;
    ClipboardGuard m_clipboardGuard;
    QWidget* m_hiddenView = nullptr; // shown instead of the editor while the text is hidden
};

} // namespace tavro
