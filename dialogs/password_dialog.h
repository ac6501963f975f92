// The password dialog: the user gives a typed password or picks any file
// whose bytes serve as the password. It ends Accepted once a key is derived
// (takeKey() hands it over), Rejected when cancelled. The typed password is
// wiped from the field once its key is derived, when key-file mode is
// chosen, and when the dialog goes.
#pragma once

#include "key_holder.h"

#include <QDialog>
#include <QString>

#include <optional>

class QButtonGroup;
class QLabel;
class QPushButton;
class QRadioButton;

namespace tavro {

class Prompts;
class SecretLineEdit;

class PasswordDialog : public QDialog {
    Q_OBJECT
public:
    // prompts: the file chooser and message boxes the dialog shows.
    explicit PasswordDialog(Prompts& prompts, QWidget* parent = nullptr);

    // Button handlers, public so that tests and scripted prompts can drive them.
    void OnTypedPasswordMode(); // radio 1011
    void OnKeyFileMode();       // radio 1012
    void OnChooseKeyFile();     // button 1008 "文件..."
    void OnConfirmPassword();   // button 1014 "确定"
    void OnCancel();            // button 1013 "取消", and the close box

    // The controls, for tests.
    SecretLineEdit* passwordEdit() const { return m_editPassword; }   // 1010
    QRadioButton* typedModeButton() const { return m_radioTyped; }    // 1011
    QRadioButton* keyFileModeButton() const { return m_radioKeyFile; } // 1012
    QLabel* keyFileLabel() const { return m_labelKeyFile; }           // 1015
    QPushButton* chooseFileButton() const { return m_buttonFile; }    // 1008
    QPushButton* cancelButton() const { return m_buttonCancel; }      // 1013
    QPushButton* confirmButton() const { return m_buttonConfirm; }    // 1014
    const QString& keyFilePath() const { return m_keyFilePath; }
    // The dialog closed by "确定" in typed-password mode: the key comes from
    // a password the user typed.
    bool typedPasswordConfirmed() const { return m_typedConfirmed; }
    // The key derived on "确定", once; nothing after a cancel.
    std::optional<KeyHolder> takeKey();

protected:
    void keyPressEvent(QKeyEvent* event) override; // Enter and Escape do nothing
    void reject() override;                        // the close box acts as "取消"

private:
    Prompts& m_prompts;
    QString m_keyFilePath; // the chosen key file, empty when none
    bool m_typedConfirmed = false;
    std::optional<KeyHolder> m_key;
    SecretLineEdit* m_editPassword = nullptr;
    QRadioButton* m_radioTyped = nullptr;
    QRadioButton* m_radioKeyFile = nullptr;
    QLabel* m_labelKeyFile = nullptr;
    QPushButton* m_buttonFile = nullptr;
    QPushButton* m_buttonCancel = nullptr;
    QPushButton* m_buttonConfirm = nullptr;
};

} // namespace tavro
