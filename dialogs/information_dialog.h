// The base of the Help menu's read-only dialogs: Enter closes them as
// Escape and the close box do.
#pragma once

#include <QDialog>

namespace tavro {

class InformationDialog : public QDialog {
    Q_OBJECT
public:
    InformationDialog(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags) {}

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace tavro
