// The window's side of "config": applying a record read at start (the
// placement checked against the screens) and writing the record at the end.
#include "main_window.h"
#include "prompts.h"
#include "settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <QScreen>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace tavro {
namespace {

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

void MainWindow::CenterOnScreen()
{
    // The default size, in the screen's logical pixels, may not fit a small
    // or highly scaled screen; the frame is not known before the window is
    // shown, so a title bar and borders are allowed for.
    const QRect available = screen()->availableGeometry();
    const int frame = fontMetrics().height();
    resize(size().boundedTo(available.size() - QSize(frame, 3 * frame)).expandedTo(minimumSize()));
    move(available.center() - rect().center());
}

void MainWindow::LoadSettings()
{
    // The file must exist and be writable; otherwise every default stays.
    QFile file(m_configPath);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        CenterOnScreen();
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
        CenterOnScreen();
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
    if ((!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) && !m_ending) {
        m_prompts.Tell(this, QStringLiteral("未能保存当前设置,无法在文件位置写入配置信息."),
                       ApplicationName());
    }
}

} // namespace tavro
