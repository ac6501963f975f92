// The password dialog: the user gives a typed password or picks any file
// whose bytes serve as the password, and the dialog makes the key its
// caller asked for (a KeyRecipe: a .tvro key, or a strong document's). It
// ends Accepted once the key is made (takeKey() hands it over), Rejected
// when cancelled.
//
// A typed password's .tvro key is made at once. A key file (which may be
// large, a slow pipe) and a strong key (Argon2id takes a noticeable part of
// a second by design) are made off the UI thread while the dialog says so:
// its inputs wait, a key file's progress shows after a second, and "取消"
// stops a key file's reading and gives the inputs back. The typed password
// is wiped from the field once its key is being made, when key-file mode
// is chosen, and when the dialog goes.
#pragma once

#include "session_key.h"

#include <QDialog>
#include <QString>

#include <memory>
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
    // prompts: the file chooser and message boxes the dialog shows; recipe:
    // the key to make.
    explicit PasswordDialog(Prompts& prompts, KeyRecipe recipe = {}, QWidget* parent = nullptr);
    ~PasswordDialog() override;

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
    // The key made on "确定", once; nothing after a cancel.
    std::optional<SessionKey> takeKey();
    // A key is being made off the UI thread; the dialog waits for it.
    bool isMakingKey() const { return m_making != nullptr; }
    // Whether retyped is the password confirmed in typed mode (compared
    // through a digest kept instead of the password, in constant time).
    bool MatchesTypedPassword(const QString& retyped) const;
    // The line that tells what the dialog is doing while it makes a key.
    QLabel* progressLabel() const { return m_labelProgress; }

protected:
    void keyPressEvent(QKeyEvent* event) override; // Enter and Escape do nothing
    void reject() override;                        // the close box acts as "取消"

private:
    struct Making;
    void StartMaking(KeySecret secret);
    void OnKeyMade();
    void ShowProgress();
    void SetInputsEnabled(bool enabled);

    Prompts& m_prompts;
    KeyRecipe m_recipe;
    QString m_keyFilePath; // the chosen key file, empty when none
    bool m_typedConfirmed = false;
    std::optional<SessionKey> m_key;
    KeyHolder m_typedDigest;            // of the password confirmed in typed mode
    std::shared_ptr<Making> m_making;   // the key being made, shared with the worker
    QLabel* m_labelProgress = nullptr;
    SecretLineEdit* m_editPassword = nullptr;
    QRadioButton* m_radioTyped = nullptr;
    QRadioButton* m_radioKeyFile = nullptr;
    QLabel* m_labelKeyFile = nullptr;
    QPushButton* m_buttonFile = nullptr;
    QPushButton* m_buttonCancel = nullptr;
    QPushButton* m_buttonConfirm = nullptr;
};

} // namespace tavro
