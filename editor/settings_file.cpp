#include "settings_file.h"

#include <algorithm>
#include <cstring>

namespace tavro {
namespace {

void Put32(char* out, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>(bits >> (8 * i));
}

std::int32_t Get32(const char* in)
{
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(in[i])) << (8 * i);
    return static_cast<std::int32_t>(bits);
}

} // namespace

QByteArray SerializeSettings(const SettingsRecord& record)
{
    QByteArray bytes(kSettingsFileSize, '\0');
    char* out = bytes.data();
    out[0] = static_cast<char>(record.geometry.maximized);
    Put32(out + 1, record.geometry.left);
    Put32(out + 5, record.geometry.top);
    Put32(out + 9, record.geometry.width);
    Put32(out + 13, record.geometry.height);
    out[17] = record.autoSave ? 1 : 0;
    out[18] = record.wordWrap ? 1 : 0;
    std::memcpy(out + 19, record.charFormat.bytes().data(), kCharFormat2WSize);
    return bytes;
}

SettingsRecord ParseSettings(QByteArrayView data, const SettingsRecord& defaults)
{
    QByteArray bytes = SerializeSettings(defaults);
    std::memcpy(bytes.data(), data.data(),
                static_cast<std::size_t>(std::min(data.size(), kSettingsFileSize)));
    const char* in = bytes.constData();
    SettingsRecord record;
    record.geometry.maximized = static_cast<std::uint8_t>(in[0]);
    record.geometry.left = Get32(in + 1);
    record.geometry.top = Get32(in + 5);
    record.geometry.width = Get32(in + 9);
    record.geometry.height = Get32(in + 13);
    record.autoSave = in[17] != 0;
    record.wordWrap = in[18] != 0;
    std::memcpy(record.charFormat.bytes().data(), in + 19, kCharFormat2WSize);
    // A field no font dialog could have written is never applied as found.
    record.charFormat.RepairFrom(defaults.charFormat);
    return record;
}

} // namespace tavro
