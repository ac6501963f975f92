#include "user_settings.h"

#include <QDir>

namespace tavro {

QString UserSettingsPath()
{
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || QDir::isRelativePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/tavro/tavro.ini");
}

std::unique_ptr<QSettings> OpenUserSettings()
{
    return std::make_unique<QSettings>(UserSettingsPath(), QSettings::IniFormat);
}

} // namespace tavro
