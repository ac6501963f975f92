// The folders the file dialogs last chose from, one per kind of file
// (documents, exports, key files), kept for the run only.
#pragma once

#include "prompts.h"

#include <map>

namespace tavro {

class RecentFolders {
public:
    // Where the dialog for request opens: the folder last used for its kind,
    // else the suggested file's folder, followed by the suggested file's
    // name, if any. Empty: the platform's default.
    QString StartPath(const FileDialogRequest& request) const;

    // Records the folder of a chosen file.
    void Remember(FileKind kind, const QString& chosenPath);

private:
    std::map<FileKind, QString> m_folders;
};

} // namespace tavro
