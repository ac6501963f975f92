#include "information_dialog.h"

#include <QKeyEvent>

namespace tavro {

void InformationDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        accept();
        return;
    }
    QDialog::keyPressEvent(event); // Escape: reject()
}

} // namespace tavro
