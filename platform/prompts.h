// The seam between the window's commands and the user's answers: message
// boxes, file choosers, the colour chooser and modal dialogs. The window and
// the dialogs call it; the application passes the Qt implementation, tests
// pass scripted answers and check what each prompt said.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

#include <optional>

class QDialog;
class QWidget;

namespace tavro {

enum class MessageIcon { None, Information, Warning, Error };
enum class MessageButtons {
    Ok,
    YesNo,                // Yes is the default button
    YesNoDefaultNo,       // No is the default button
    SaveDiscardCancel,    // "保存(S)", "不保存(N)", "取消"; Cancel is the default
    SaveAnywayGoBack,     // "仍然保存", "返回编辑"; GoBack is the default
    OverwriteSaveAsCancel, // "覆盖(O)", "另存为(A)", "取消"; Cancel is the default
};
enum class MessageAnswer { Ok, Yes, No, Save, Discard, Cancel, SaveAnyway, GoBack, Overwrite, SaveAs };

enum class FileDialogMode { Open, Save };

// What a file dialog chooses; each kind starts in the folder last used for it.
enum class FileKind { Document, Export, KeyFile };

struct FileDialogRequest {
    FileDialogMode mode = FileDialogMode::Open;
    QString title;         // empty: the platform's own title
    QString filter;        // "label(pattern)", e.g. "文件(*.tvro)"; empty: all files
    // Several filters to choose from, instead of filter; the one chosen
    // comes back in ChosenFile::filterIndex.
    QStringList filters;
    int selectedFilter = 0; // of filters, chosen at first
    // Added to a name typed without one, e.g. "tvro"; empty: none. With
    // filters, the first pattern's suffix of the filter chosen.
    QString defaultSuffix;
    bool overwritePrompt = false; // ask before choosing an existing file to save over
    FileKind kind = FileKind::Document;
    // The file offered at first (its folder, unless a file of this kind was
    // chosen before in this run, and its name); empty: none.
    QString suggestedPath;
};

struct ChosenFile {
    QString path;        // full path
    QString fileName;    // name and extension, without the folder
    int filterIndex = 0; // of the request's filters, the one chosen
};

class Prompts {
public:
    virtual ~Prompts() = default;

    // A modal message box; returns the button pressed. Closing the box
    // without a button gives No, Cancel or GoBack.
    virtual MessageAnswer ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                                      MessageIcon icon, MessageButtons buttons) = 0;

    // A file chooser; nothing when the user cancels.
    virtual std::optional<ChosenFile> ChooseFile(QWidget* owner,
                                                 const FileDialogRequest& request) = 0;

    // The colour chooser, opening on initial; nothing when cancelled.
    virtual std::optional<QColor> ChooseColor(QWidget* owner, const QColor& initial) = 0;

    // Runs a dialog modally; returns its result code.
    virtual int RunModal(QDialog& dialog) = 0;

    // A line of text typed into a modal prompt under label; masked shows
    // dots instead of the characters and keeps them only in a field that
    // wipes them (the caller wipes the string it gets). Nothing when
    // cancelled (and from prompts that cannot ask).
    virtual std::optional<QString> AskText(QWidget* owner, const QString& label,
                                           const QString& caption, bool masked)
    {
        (void)owner, (void)label, (void)caption, (void)masked;
        return std::nullopt;
    }

    // Shorthand for a message box with an OK button.
    void Tell(QWidget* owner, const QString& text, const QString& caption,
              MessageIcon icon = MessageIcon::None)
    {
        ShowMessage(owner, text, caption, icon, MessageButtons::Ok);
    }
};

// The application's name, the caption of some message boxes: the
// executable's file name without its extension.
QString ApplicationName();

} // namespace tavro
