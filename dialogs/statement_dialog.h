// The security statement: three notes (red), how a ".tvro" document is laid
// out (black), how its key is made (orange), and what the strong format
// protects (green), read-only. Closes with its close box, Enter or Escape.
#pragma once

#include "information_dialog.h"
#include <QString>

#include <cstdint>

class QTextEdit;

namespace tavro {

class StatementDialog : public InformationDialog {
    Q_OBJECT
public:
    explicit StatementDialog(QWidget* parent = nullptr);

    // The statement: thirteen lines, each ended by a line feed, about the
    // ".tvro" documents; then, after an empty line, what the strong format
    // (".tvrs") protects that they do not.
    static const QString kText;
    static const QString kStrongText;
    // Where the file-format lines and the key lines begin.
    static constexpr int kFormatStart = 139;
    static constexpr int kKeyStart = 281;
    // COLORREF (0x00BBGGRR) of each part.
    static constexpr std::uint32_t kNotesColor = 0x000000FF;  // red
    static constexpr std::uint32_t kFormatColor = 0x00000000; // black
    static constexpr std::uint32_t kKeyColor = 0x0000AEFF;    // orange
    static constexpr std::uint32_t kStrongColor = 0x00008000; // green

    QTextEdit* statementEdit() const { return m_editStatement; } // control 1000

private:
    void OnInitDialog();
    // Shows characters start..end (-1: to the end) in the statement's face
    // and size and in colorRef.
    void SetRangeFormat(int start, int end, std::uint32_t colorRef);

    QTextEdit* m_editStatement = nullptr;
};

} // namespace tavro
