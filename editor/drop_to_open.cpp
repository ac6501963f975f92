// A document file dropped on the window, the editors included, is opened
// through Open's own flow: the question about the open document, the
// password dialog, then the document shown locked. Dropped text is left to
// the editors, which insert it.
#include "main_window.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace tavro {
namespace {

// The first local file among the dropped URLs, or empty.
QString DroppedFile(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return {};
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            return url.toLocalFile();
    }
    return {};
}

} // namespace

bool MainWindow::FilterFileDrop(QEvent* event)
{
    auto* drop = static_cast<QDropEvent*>(event); // also the base of the drag events
    const QString path = DroppedFile(drop->mimeData());
    if (path.isEmpty())
        return false; // text and everything else: the editor's own business
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (event->type() == QEvent::Drop) {
        // Opened once the drop is over: the drag's source is not kept
        // waiting while the questions and the password dialog are open.
        QMetaObject::invokeMethod(
            this,
            [this, path] {
                AutoSave::Hold hold(m_autoSave);
                if (ConfirmClosing())
                    OpenDocumentPath(path, QFileInfo(path).fileName());
            },
            Qt::QueuedConnection);
    }
    return true;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!FilterFileDrop(event))
        QMainWindow::dragEnterEvent(event);
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event)
{
    if (!FilterFileDrop(event))
        QMainWindow::dragMoveEvent(event);
}

void MainWindow::dropEvent(QDropEvent* event)
{
    if (!FilterFileDrop(event))
        QMainWindow::dropEvent(event);
}

} // namespace tavro
