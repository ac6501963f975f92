// The settings-file parser on arbitrary bytes: a record laid over the
// defaults as far as the input reaches, whose 135 bytes give back the input
// where it reached (a character-format field no font dialog could have
// written falls back to the default's), and whose character format maps
// onto a font and colour.
#include "settings_file.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const tavro::SettingsRecord defaults;
    const tavro::SettingsRecord record = tavro::ParseSettings(input, defaults);
    const QByteArray stored = tavro::SerializeSettings(record);
    const QByteArray fallback = tavro::SerializeSettings(defaults);
    if (stored.size() != tavro::kSettingsFileSize)
        std::abort();
    const qsizetype reached = std::min<qsizetype>(input.size(), tavro::kSettingsFileSize);
    for (qsizetype i = 0; i < tavro::kSettingsFileSize; ++i) {
        // Switches are stored as 0 or 1, whatever non-zero value was read.
        const bool isSwitch = i == 17 || i == 18;
        const char expected = i < reached ? input[i] : fallback[i];
        if (isSwitch ? (stored[i] != 0) != (expected != 0) : stored[i] != expected) {
            // A character-format field no font dialog could have written
            // takes the default's bytes.
            if (i < 19 || stored[i] != fallback[i])
                std::abort();
        }
    }
    // What was kept reads back as itself.
    if (tavro::SerializeSettings(tavro::ParseSettings(stored, defaults)) != stored)
        std::abort();
    (void)record.charFormat.faceName();
    (void)record.charFormat.toFont();
    (void)record.charFormat.textColor();
    return 0;
}
