#include "settings_file.h"

#include "main_window.h"
#include "prompts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QScreen>

#include <algorithm>
#include <cstring>
#include <limits>

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

// A stored rectangle the window can be placed at: at least the window's
// minimum size, no larger than all screens together, and on one of them.
bool IsUsablePlacement(const WindowGeometry& geometry, const QSize& minimum)
{
    if (geometry.width < minimum.width() || geometry.height < minimum.height())
        return false;
    const auto screens = QGuiApplication::screens();
    QRect desktop;
    for (const QScreen* screen : screens)
        desktop |= screen->geometry();
    if (geometry.width > desktop.width() || geometry.height > desktop.height())
        return false;
    // Corners that overflow an int are off every screen (and QRect's range).
    const std::int64_t right = std::int64_t{geometry.left} + geometry.width - 1;
    const std::int64_t bottom = std::int64_t{geometry.top} + geometry.height - 1;
    if (right > std::numeric_limits<int>::max() || bottom > std::numeric_limits<int>::max())
        return false;
    const QRect rect(geometry.left, geometry.top, geometry.width, geometry.height);
    return std::any_of(screens.begin(), screens.end(), [&](const QScreen* screen) {
        return screen->geometry().intersects(rect);
    });
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

void MainWindow::LoadSettings()
{
    // The file must exist and be writable; otherwise every default stays.
    QFile file(m_configPath);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        move(screen()->availableGeometry().center() - rect().center());
        return;
    }
    SettingsRecord defaults;
    defaults.geometry = m_windowGeometry;
    defaults.autoSave = m_autoSave.isEnabled();
    defaults.wordWrap = m_wordWrap;
    defaults.charFormat = m_charFormat;
    const SettingsRecord record = ParseSettings(file.read(kSettingsFileSize), defaults);
    m_windowGeometry = record.geometry;
    m_charFormat = record.charFormat;

    const QRect stored(m_windowGeometry.left, m_windowGeometry.top, m_windowGeometry.width,
                       m_windowGeometry.height);
    if (IsUsablePlacement(m_windowGeometry, minimumSize()))
        m_normalOuter = stored;
    if (m_windowGeometry.maximized != 0) {
        // The stored rectangle is where un-maximizing returns to.
        m_placementPending = IsUsablePlacement(m_windowGeometry, minimumSize());
        if (m_placementPending)
            PlaceWindow();
        showMaximized();
    } else if (IsUsablePlacement(m_windowGeometry, minimumSize())) {
        m_placementPending = true;
        PlaceWindow();
        show();
    } else {
        move(screen()->availableGeometry().center() - rect().center());
        show();
    }
    if (!record.wordWrap)
        OnToggleWordWrap();
    if (!record.autoSave)
        m_autoSave.setEnabled(false);
}

void MainWindow::SaveSettings()
{
    // The outer rectangle, frame included; for a maximized window the one it
    // returns to. A minimized window keeps the placement it had.
    QRect outer = frameGeometry();
    if (isMaximized() || isMinimized()) {
        if (m_normalOuter.isValid())
            outer = m_normalOuter;
        else {
            const QRect inner = geometry();
            outer = normalGeometry().marginsAdded(QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                                                           outer.right() - inner.right(),
                                                           outer.bottom() - inner.bottom()));
        }
    }
    m_windowGeometry.maximized = isMaximized() ? 1 : 0;
    if (!isMinimized()) {
        m_windowGeometry.left = outer.left();
        m_windowGeometry.top = outer.top();
        m_windowGeometry.width = outer.width();
        m_windowGeometry.height = outer.height();
    }
    SettingsRecord record;
    record.geometry = m_windowGeometry;
    record.autoSave = m_autoSave.isEnabled();
    record.wordWrap = m_wordWrap;
    record.charFormat = m_charFormat;
    const QByteArray bytes = SerializeSettings(record);
    // The fallback under the user's configuration folder may not exist yet.
    QDir().mkpath(QFileInfo(m_configPath).absolutePath());
    QSaveFile file(m_configPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        m_prompts.Tell(this, QStringLiteral("未能保存当前设置,无法在文件位置写入配置信息."),
                       ApplicationName());
    }
}

} // namespace tavro
