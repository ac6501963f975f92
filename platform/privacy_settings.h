// The privacy switches, per user, in an INI file beside the user's other
// settings: $XDG_CONFIG_HOME/tavro/privacy.ini (by default
// ~/.config/tavro/privacy.ini). "config" keeps its 135 bytes as they are.
//
//   [privacy]
//   idleMinutes=10        hide after so many minutes without input; 0: never
//   hideOnMinimize=false  hide when the window is minimized
//   clipboardSeconds=60   take copied text off the clipboard after so many seconds; 0: never
//
// A value that is not one of those offered reads as its default.
#pragma once

#include <QString>

#include <array>

namespace tavro {

struct PrivacySettings {
    static constexpr std::array<int, 5> kIdleMinutesOffered{0, 1, 5, 10, 30};
    static constexpr std::array<int, 5> kClipboardSecondsOffered{0, 30, 60, 120, 300};

    int idleMinutes = 10;
    bool hideOnMinimize = false;
    int clipboardSeconds = 60;

    bool operator==(const PrivacySettings&) const = default;
};

// Where the file is: under $XDG_CONFIG_HOME when that is an absolute path,
// else under ~/.config.
QString PrivacySettingsPath();

// The settings in the file at path; defaults where it is missing, unreadable
// or holds a value not offered.
PrivacySettings LoadPrivacySettings(const QString& path);
// False when the file could not be written.
bool SavePrivacySettings(const QString& path, const PrivacySettings& settings);

} // namespace tavro
