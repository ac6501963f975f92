#include "recent_folders.h"

#include <QDir>
#include <QFileInfo>

namespace tavro {

QString RecentFolders::StartPath(const FileDialogRequest& request) const
{
    const QFileInfo suggested(request.suggestedPath);
    QString folder;
    if (const auto found = m_folders.find(request.kind); found != m_folders.end())
        folder = found->second;
    else if (!request.suggestedPath.isEmpty())
        folder = suggested.absolutePath();
    const QString name = request.suggestedPath.isEmpty() ? QString() : suggested.fileName();
    if (folder.isEmpty())
        return name;
    return name.isEmpty() ? folder : QDir(folder).filePath(name);
}

void RecentFolders::Remember(FileKind kind, const QString& chosenPath)
{
    m_folders[kind] = QFileInfo(chosenPath).absolutePath();
}

} // namespace tavro
