// Per-user choices of the window that the 135-byte "config" has no room
// for, kept beside it under the user's configuration folder:
// $XDG_CONFIG_HOME/tavro/tavro.ini (by default ~/.config/tavro/tavro.ini).
#pragma once

#include <QSettings>
#include <QString>

#include <memory>

namespace tavro {

QString UserSettingsPath();

// The settings file, in INI format.
std::unique_ptr<QSettings> OpenUserSettings();

} // namespace tavro
