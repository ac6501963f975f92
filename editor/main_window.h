// The main window: one document at a time in one of two editors (word wrap
// on or off), the document commands, edit protection, auto-save, find and
// replace, and the menu states. Each concern lives in a source file of its
// own; this header holds the window's state and the operations that keep
// title, editors and flags consistent.
#pragma once

#include "cmd_ui.h"
#include "find_replace_dialog.h"
#include "settings_file.h"
#include "rich_edit_ctrl.h"

#include <QFileDevice>
#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <map>
#include <memory>
#include <string>

class QMenu;
class QKeyEvent;
class QStatusBar;
class QTextDocument;

namespace tavro {

class DocumentSaveJob;
class DocumentStatusBar;
class Prompts;

// "Tavro文本加密 v2.0 - ": every caption starts with it.
extern const QString g_strTitlePrefix;
// "{被锁定无法编辑} - ": in the caption while the text is locked.
extern const QString g_strLockedMarker;
// The title name while no document is open.
extern const QString g_strNoDocumentTitle;

inline constexpr int kAutoSaveTimerId = 1;
inline constexpr int kAutoSavePeriodMs = 60000;

class CTavroTextEditorDlg : public QMainWindow {
    Q_OBJECT
public:
    // configPath: the settings file to use; empty means "config" beside the
    // executable, or under $XDG_CONFIG_HOME/tavro when that folder is not writable.
    explicit CTavroTextEditorDlg(Prompts& prompts, QString configPath = {},
                                 QWidget* parent = nullptr);
    ~CTavroTextEditorDlg() override;

    // Start-up: defaults, settings, then the document named by the command
    // line arguments (joined with single spaces), if any.
    void OnInitDialog(const QStringList& arguments = {});

    // --- State operations ---
    void SetDocumentState(bool open);
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
    bool ReadDocument();
    // Waits for the document write in flight, if any (its questions and
    // failure message included), and delivers its result. True when that
    // write stored the text; false when it failed, was given up, or when no
    // write was under way.
    bool WaitForSave();
    bool isSaving() const { return m_saveJob != nullptr; }

    // --- Edit protection and auto-save ---
    void OnLock();
    void OnToggleAutoSave();
    void OnTimer(int id);

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
    // Carries out a command as the menu would: nothing for an unknown id.
    void OnCommand(int id);
    // Runs the update handlers over a popup's items.
    void OnInitMenuPopup(QMenu* popup);
    void OnUpdateDocumentCommand(CCmdUI* cmdUI);
    void OnUpdateReplace(CCmdUI* cmdUI);
    void OnUpdateWordWrap(CCmdUI* cmdUI);
    void OnUpdateAutoSave(CCmdUI* cmdUI);
    // A key press addressed to the window or one of its editors; true when consumed.
    bool PreTranslateMessage(QKeyEvent* event);
    // The editors' context menu: the Edit popup, states updated.
    std::unique_ptr<QMenu> LoadEditPopup();
    // Where the context menu of the Menu key and Shift+F10 opens: at the caret.
    QPoint CaretMenuPosition() const;
    // The status bar, brought up to date from the window's state and the
    // active editor's document; O(1) in the length of the text.
    void RefreshStatusBar();

    // --- Read access for tests and the settings file ---
    CRichEditCtrl* activeEditor() const { return m_bWordWrap ? m_editWrap : m_editNoWrap; }
    CRichEditCtrl* noWrapEditor() const { return m_editNoWrap; }
    CRichEditCtrl* wrapEditor() const { return m_editWrap; }
    QAction* commandAction(int id) const;
    QMenu* menuPopup(int index) const;
    bool isDocumentOpen() const { return m_bDocumentOpen; }
    // The open document's text differs from what was last written to or
    // read from its file (an edit undone back to that state does not count).
    bool isModified() const;
    // The text shown did not come from the file byte for byte (a wrong key
    // or damage): auto-save leaves the file alone and Save asks first.
    bool isStoredCopyProtected() const { return m_bStoredCopyProtected; }
    bool isLocked() const { return m_bLocked; }
    bool isWordWrap() const { return m_bWordWrap; }
    bool isAutoSave() const { return m_bAutoSave; }
    bool isAutoSaveTimerRunning() const { return m_autoSaveTimer.isActive(); }
    bool isFindDialogOpen() const { return m_bFindDialogOpen; }
    FindReplaceDialog* findDialog() const { return m_findDialog.data(); }
    const QString& documentPath() const { return m_strDocPath; }
    const QString& configPath() const { return m_strConfigPath; }
    DocumentStatusBar* documentStatusBar() const { return m_statusBar; }
    bool isAutoSaveTimerPrecise() const { return m_autoSaveTimer.timerType() == Qt::PreciseTimer; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Marks a document command under way: no auto-save meanwhile.
    class CommandScope;

    void BuildMenuBar();
    void BuildEditors();
    std::unique_ptr<QMenu> LoadPopup(std::size_t index, QWidget* parent);
    void RefreshMenuStates();
    void SetCaption(bool locked);
    void UpdateCaption() { SetCaption(m_bLocked); }
    CRichEditCtrl* hiddenEditor() const { return m_bWordWrap ? m_editNoWrap : m_editWrap; }
    void ShowActiveEditor();
    void OpenCommandLineDocument(const QString& path);
    void ShowOpenedDocument();
    // Who asks for a write: the checks before it differ.
    enum class WriteOrigin {
        Save,     // Save, and Save from the unsaved-changes question
        Lock,     // as Save; going back from the lossy question unlocks again
        AutoSave, // never asks: skips what would need a question
        SaveAs,   // a new file: the stored document is not replaced
        Password, // the Password command, whose own warning covers a garbled text
    };
    // Starts a document write off the UI thread after the questions that
    // come first; the lossy question comes once the worker has encoded the
    // snapshot. False when nothing was started (an error shown, the user
    // went back, or auto-save may not write this text).
    bool StartWrite(WriteOrigin origin);
    // StartWrite, then waits for its outcome: true once the text is stored.
    bool WriteDocument(WriteOrigin origin);
    void DeliverSave();
    bool ConfirmWrite(WriteOrigin origin);
    bool ConfirmLossyText();
    bool AskLossyWrite(const std::u32string& lossy);
    bool LossyTextAccepted() const;
    void MarkSaved();
    bool ConfirmClosing();
    bool ConfirmQuit();
    bool AskToSaveChanges();
    void AskForKey();
    void AskForConfirmedKey(bool clearFirst);
    void DropStream();
    void OnClose();
    void LoadSettings();
    void SaveSettings();
    void SetTimer(int id, int periodMs);
    void KillTimer(int id);
    void InsertTab();
    CRichEditCtrl* FocusActiveEditor();
    void OnEditorMsgFilter(const QPoint& globalPos);
    bool FilterEditorViewportEvent(QEvent* event);
    bool FilterFileDrop(QEvent* event);
    void PlaceWindow();
    void OpenFindDialog(bool findOnly);
    qsizetype FindDownFrom(const QString& find, qsizetype from) const;
    void SearchDown(const QString& find, bool clearSelectionIfMissing);
    void SearchUp(const QString& find);
    void SelectMatch(qsizetype pos, qsizetype length);
    bool ReplaceSelection(FindReplaceDialog* dialog, const QString& find);
    void ReplaceAll(FindReplaceDialog* dialog, const QString& find);
    void ReportNotFound(const QString& find);

    Prompts& m_prompts;
    QIcon m_hIcon;
    CRichEditCtrl* m_editNoWrap = nullptr; // control 1000: scrolls horizontally
    CRichEditCtrl* m_editWrap = nullptr;   // control 1001: wraps at the window width
    bool m_bWordWrap = true;
    QString m_strText; // scratch copy of the active editor's text; emptied after each use
    QString m_strTitleName;
    bool m_bLocked = false;
    bool m_bFindDialogOpen = false;
    bool m_bFindOnly = false;
    bool m_bAutoSave = true;
    bool m_bDocumentOpen = false;
    bool m_bStoredCopyProtected = false; // see isStoredCopyProtected()
    // The text state whose lossy characters the user chose to save anyway:
    // the editor document and its revision at that moment.
    const QTextDocument* m_lossyAcceptedDocument = nullptr;
    int m_lossyAcceptedRevision = -1;
    // The document file while a command reads or writes it: the stream New
    // created the file with, the one Open reads, or the atomic writer Save
    // As prepared for the new path.
    std::unique_ptr<QFileDevice> m_pDocFile;
    QString m_strDocPath;
    QString m_strConfigPath;
    WindowGeometry m_windowGeometry; // placement between reading and writing the settings
    // The stored outer rectangle still to be applied once the window
    // manager has framed the window (its frame size is unknown before).
    bool m_bPlacementPending = false;
    // The outer rectangle of the window while last neither maximized nor
    // minimized: what a maximized window returns to, and what is stored.
    QRect m_normalOuter;
    DocumentStatusBar* m_statusBar = nullptr;

    QTimer m_autoSaveTimer;
    int m_commandDepth = 0;     // document commands under way
    bool m_bAutoSaving = false; // an auto-save (and its failure message) under way
    // The document write in flight, and what its result needs: who asked,
    // the lock state before a Lock (set by OnLock), and the text state of
    // the snapshot.
    std::unique_ptr<DocumentSaveJob> m_saveJob;
    WriteOrigin m_saveOrigin = WriteOrigin::Save;
    bool m_bSaveWasLocked = false;
    const QTextDocument* m_saveDocument = nullptr;
    int m_saveRevision = -1;
    bool m_bDeliveringSave = false;
    bool m_bLastSaveStored = false;
    // The text state an auto-save last found lossy and skipped: later ticks
    // on it skip without taking another snapshot, until it is accepted.
    const QTextDocument* m_lossySkippedDocument = nullptr;
    int m_lossySkippedRevision = -1;
    QPointer<FindReplaceDialog> m_findDialog;
    std::map<int, QAction*> m_commandActions;   // the menu bar's item of each command
    std::vector<QMenu*> m_menuPopups;           // the menu bar's popups, left to right
};

} // namespace tavro
