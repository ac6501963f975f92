// The real prompts: Qt message boxes and dialogs.
#pragma once

#include "prompts.h"
#include "recent_folders.h"

namespace tavro {

class QtPrompts final : public Prompts {
public:
    MessageAnswer ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                              MessageIcon icon, MessageButtons buttons) override;
    std::optional<ChosenFile> ChooseFile(QWidget* owner, const FileDialogRequest& request) override;
    std::optional<QColor> ChooseColor(QWidget* owner, const QColor& initial) override;
    int RunModal(QDialog& dialog) override;
    std::optional<QString> AskText(QWidget* owner, const QString& label, const QString& caption,
                                   bool masked) override;

private:
    RecentFolders m_recentFolders;
};

} // namespace tavro
