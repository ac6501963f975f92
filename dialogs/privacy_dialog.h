// The privacy settings: hiding the text after idle time and when the window
// is minimized, and how long copied text stays on the clipboard. Enter is
// "确定", Escape and the close box "取消"; each field has its mnemonic. It
// ends Accepted with the settings chosen (settings()), Rejected otherwise.
#pragma once

#include "privacy_settings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;

namespace tavro {

class PrivacyDialog : public QDialog {
    Q_OBJECT
public:
    explicit PrivacyDialog(const PrivacySettings& settings, QWidget* parent = nullptr);

    // The settings as the fields show them.
    PrivacySettings settings() const;

    // The fields, for tests.
    QComboBox* idleBox() const { return m_idle; }
    QCheckBox* minimizeBox() const { return m_minimize; }
    QComboBox* clipboardBox() const { return m_clipboard; }

private:
    QComboBox* m_idle = nullptr;
    QCheckBox* m_minimize = nullptr;
    QComboBox* m_clipboard = nullptr;
};

} // namespace tavro
