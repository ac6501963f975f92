// Where the settings file lives.
#include "settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace tavro {
namespace {

// The folders of the system's programs (the Filesystem Hierarchy Standard's
// /usr and /opt, and the top-level folders that are, or were, parts of
// /usr): a program installed there never keeps its settings beside itself,
// whoever runs it. Root can write them all, so writability tells nothing.
bool SystemFolder(const QString& folder)
{
    static const char* const kSystem[] = {"/usr", "/opt", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"};
    for (const char* system : kSystem) {
        const QString prefix = QString::fromLatin1(system);
        if (folder == prefix || folder.startsWith(prefix + QLatin1Char('/')))
            return true;
    }
    return false;
}

// A folder of the user's own that the user can write: a portable copy's.
bool OwnWritableFolder(const QString& folder)
{
    const QByteArray name = QFile::encodeName(folder);
    struct stat info{};
    // access() asks the system about this user's rights, ACLs and read-only
    // mounts included, which the permission bits alone do not tell.
    return ::stat(name.constData(), &info) == 0 && info.st_uid == ::geteuid() &&
           ::access(name.constData(), W_OK) == 0;
}

} // namespace

QString SettingsFilePath(const QString& executableDir)
{
    // Links followed: a system folder reached through one is still the system's.
    const QString canonical = QFileInfo(executableDir).canonicalFilePath();
    const QString folder = canonical.isEmpty() ? QDir::cleanPath(executableDir) : canonical;
    if (!SystemFolder(folder) && OwnWritableFolder(folder))
        return QDir(executableDir).filePath(QStringLiteral("config"));
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || QDir::isRelativePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/tavro/config");
}

} // namespace tavro
