// The settings file "config" beside a portable copy of the executable (or,
// for a system install or a folder not the user's own, under
// $XDG_CONFIG_HOME/tavro/), 135 bytes, no header,
// integers little-endian, fields packed:
//
//   0   1    maximized (1, else 0)
//   1   4+4  left, top of the window's outer rectangle (signed)
//   9   4+4  width, height of that rectangle (signed)
//   17  1    auto-save (0 off, non-zero on)
//   18  1    word wrap (0 off, non-zero on)
//   19  116  the editors' character format, byte for byte
//
// A shorter file is applied as far as it reaches: the fields, or the parts
// of a field, that it does not supply keep their defaults.
#pragma once

#include "char_format.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>

namespace tavro {

inline constexpr qsizetype kSettingsFileSize = 135;

// The window placement between reading and writing the settings.
struct WindowGeometry {
    std::uint8_t maximized = 0;
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

struct SettingsRecord {
    WindowGeometry geometry;
    bool autoSave = true;
    bool wordWrap = true;
    CharFormat2W charFormat = CharFormat2W::Default();
};

// Where "config" is read and written: beside the executable when its folder
// is the user's own and writable and not one of the system's (/usr, /opt, ...:
// a portable copy), else in the "tavro" folder of the user's configuration
// folder ($XDG_CONFIG_HOME, by default ~/.config).
QString SettingsFilePath(const QString& executableDir);

// The 135 bytes of a record.
QByteArray SerializeSettings(const SettingsRecord& record);

// The record stored in data, laid over defaults where data ends early; a
// character-format field no font dialog could have set takes the default's
// (CharFormat2W::RepairFrom). The placement is checked against the screens
// when it is applied.
SettingsRecord ParseSettings(QByteArrayView data, const SettingsRecord& defaults);

} // namespace tavro
