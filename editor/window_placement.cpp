// Putting the window back where it was: "config" holds the outer rectangle,
// frame and title bar included, but the frame a window manager adds is
// known only once it has framed the window. The rectangle is therefore
// applied at start-up with the frame known so far (none, before the window
// is shown) and once more as soon as the frame is known, so that the same
// rectangle comes back at every restart instead of creeping by a frame.
#include "main_window.h"

#include <QGuiApplication>
#include <QWindow>

namespace tavro {
namespace {

// Under Wayland a program cannot place its own window: only the size counts.
bool CanPlaceWindows()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

void MainWindow::PlaceWindow()
{
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    resize(m_windowGeometry.width - frame.left() - frame.right(),
           m_windowGeometry.height - frame.top() - frame.bottom());
    // A top-level widget's position is that of its frame's top-left corner.
    if (CanPlaceWindows())
        move(m_windowGeometry.left, m_windowGeometry.top);
}

bool MainWindow::event(QEvent* event)
{
    const bool handled = QMainWindow::event(event);
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowActivate:
    case QEvent::WindowStateChange:
    case QEvent::Show:
        // The first event after the window manager framed the window: the
        // frame is known now, the client size can be made to fit. A window
        // that starts maximized keeps the screen, and its normal rectangle
        // is made to fit when it is first restored (before, it was sized
        // without its frame, and would grow by it at every such start).
        if (m_placementPending && windowHandle() && !windowHandle()->frameMargins().isNull() &&
            !isMaximized() && !isFullScreen() && !isMinimized()) {
            m_placementPending = false;
            PlaceWindow();
        }
        if (isVisible() && windowState() == Qt::WindowNoState && !m_placementPending)
            m_normalOuter = frameGeometry();
        break;
    default:
        break;
    }
    return handled;
}

} // namespace tavro
