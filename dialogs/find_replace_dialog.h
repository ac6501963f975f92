// The modeless Find and Replace dialog. Each request (find next, replace,
// replace all, closing) is sent to the owner as one notification, with the
// request and the direction in flags() and the strings as typed.
#pragma once

#include <QDialog>

#include <cstdint>

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tavro {

class FindReplaceDialog : public QDialog {
    Q_OBJECT
public:
    // Request flags of a notification.
    static constexpr std::uint32_t FR_DOWN = 0x1;
    static constexpr std::uint32_t FR_FINDNEXT = 0x8;
    static constexpr std::uint32_t FR_REPLACE = 0x10;
    static constexpr std::uint32_t FR_REPLACEALL = 0x20;
    static constexpr std::uint32_t FR_DIALOGTERM = 0x40;
    // Creation flags: the match-case and whole-word choices are not offered.
    static constexpr std::uint32_t FR_HIDEMATCHCASE = 0x8000;
    static constexpr std::uint32_t FR_HIDEWHOLEWORD = 0x10000;

    // Longest find or replace string, in UTF-16 units.
    static constexpr int kMaxLength = 127;

    // findOnly: the Find dialog (find field, direction, Find Next, Cancel);
    // otherwise the Replace dialog (find and replace fields, Find Next,
    // Replace, Replace All, Cancel; always searching down). Both fields start
    // empty; flags FR_DOWN preselects the downward direction.
    FindReplaceDialog(bool findOnly, std::uint32_t flags, QWidget* owner);

    bool IsFindOnly() const { return m_findOnly; }
    QString GetFindString() const;
    QString GetReplaceString() const;
    // The last request and the direction (FR_DOWN) at the time of the notification.
    std::uint32_t flags() const { return m_flags; }

    // The requests the buttons make; public for tests.
    void RequestFindNext();
    void RequestReplace();
    void RequestReplaceAll();

    QLineEdit* findEdit() const { return m_findEdit; }
    QLineEdit* replaceEdit() const { return m_replaceEdit; }
    QRadioButton* upButton() const { return m_upButton; }
    QRadioButton* downButton() const { return m_downButton; }
    QPushButton* findNextButton() const { return m_findNextButton; }
    QPushButton* replaceButton() const { return m_replaceButton; }
    QPushButton* replaceAllButton() const { return m_replaceAllButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

signals:
    // One request; the receiver reads flags() and the strings.
    void notify(tavro::FindReplaceDialog* dialog);

protected:
    void done(int result) override; // Cancel, Escape and the close box end the dialog

private:
    void Send(std::uint32_t request);
    void UpdateButtons();

    bool m_findOnly;
    bool m_terminated = false;
    std::uint32_t m_flags;
    QLineEdit* m_findEdit = nullptr;
    QLineEdit* m_replaceEdit = nullptr;
    QRadioButton* m_upButton = nullptr;
    QRadioButton* m_downButton = nullptr;
    QPushButton* m_findNextButton = nullptr;
    QPushButton* m_replaceButton = nullptr;
    QPushButton* m_replaceAllButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};

} // namespace tavro
