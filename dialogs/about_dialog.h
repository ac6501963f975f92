// The About box: the product picture alone, without a title bar. A left or
// right mouse press anywhere on it, Enter or Escape closes it.
#pragma once

#include "information_dialog.h"

class QLabel;

namespace tavro {

class AboutDialog : public InformationDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);

    // The picture's size in device-independent pixels.
    static constexpr QSize kPictureSize{300, 220};

    QLabel* picture() const { return m_picture; } // control 1016

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QLabel* m_picture = nullptr;
};

} // namespace tavro
