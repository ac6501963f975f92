// Where the settings file lives.
#include "settings_file.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace tavro {

QString SettingsFilePath(const QString& executableDir)
{
    // access() asks the system about this user's rights, ACLs and read-only
    // mounts included, which the permission bits alone do not tell.
    if (::access(QFile::encodeName(executableDir).constData(), W_OK) == 0)
        return QDir(executableDir).filePath(QStringLiteral("config"));
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || QDir::isRelativePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/tavro/config");
}

} // namespace tavro
