#include "privacy_settings.h"

#include <QDir>
#include <QSettings>

#include <algorithm>

namespace tavro {
namespace {

const QString kIdleMinutes = QStringLiteral("privacy/idleMinutes");
const QString kHideOnMinimize = QStringLiteral("privacy/hideOnMinimize");
const QString kClipboardSeconds = QStringLiteral("privacy/clipboardSeconds");

template <std::size_t N>
int Offered(const QSettings& file, const QString& key, const std::array<int, N>& offered, int fallback)
{
    bool number = false;
    const int value = file.value(key).toInt(&number);
    return number && std::find(offered.begin(), offered.end(), value) != offered.end() ? value : fallback;
}

} // namespace

QString PrivacySettingsPath()
{
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || QDir::isRelativePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/tavro/privacy.ini");
}

PrivacySettings LoadPrivacySettings(const QString& path)
{
    const QSettings file(path, QSettings::IniFormat);
    const PrivacySettings defaults;
    PrivacySettings settings;
    settings.idleMinutes = Offered(file, kIdleMinutes, PrivacySettings::kIdleMinutesOffered, defaults.idleMinutes);
    settings.clipboardSeconds =
        Offered(file, kClipboardSeconds, PrivacySettings::kClipboardSecondsOffered, defaults.clipboardSeconds);
    const QString minimize = file.value(kHideOnMinimize).toString();
    if (minimize == QLatin1String("true") || minimize == QLatin1String("false"))
        settings.hideOnMinimize = minimize == QLatin1String("true");
    return settings;
}

bool SavePrivacySettings(const QString& path, const PrivacySettings& settings)
{
    QSettings file(path, QSettings::IniFormat);
    file.setValue(kIdleMinutes, settings.idleMinutes);
    file.setValue(kHideOnMinimize, settings.hideOnMinimize);
    file.setValue(kClipboardSeconds, settings.clipboardSeconds);
    file.sync();
    return file.status() == QSettings::NoError;
}

} // namespace tavro
