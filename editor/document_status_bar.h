// The status bar under the editor: what the narrow window's cut-off title
// may hide (the lock, or that the text is hidden), unsaved changes, the auto-save switch and why it is
// not writing, the caret's line and column, the character count and the
// code page of the file.
#pragma once

#include "auto_save.h"

#include <QStatusBar>

class QLabel;

namespace tavro {

// What the bar shows, gathered by the window.
struct DocumentStatus {
    bool documentOpen = false;
    bool locked = false;
    bool protectedCopy = false; // the stored copy is not written unasked
    bool hidden = false; // the text is hidden: where the caret is and the length are not shown either
    bool modified = false;
    bool autoSave = true;
    AutoSave::Pause autoSavePause = AutoSave::Pause::None; // why it is not writing, while on
    int line = 1;   // 1-based, a line break ends a line
    int column = 1; // 1-based, in characters
    int characters = 0; // line breaks included
    bool strong = false; // a strong document (UTF-8), else code page 936
};

class DocumentStatusBar : public QStatusBar {
public:
    explicit DocumentStatusBar(QWidget* parent = nullptr);

    void Show(const DocumentStatus& status);

    // The texts shown, left to right (an empty one is hidden).
    QStringList Texts() const;

private:
    QLabel* m_lock;
    QLabel* m_protected;
    QLabel* m_modified;
    QLabel* m_autoSave;
    QLabel* m_position;
    QLabel* m_characters;
    QLabel* m_codePage;
};

} // namespace tavro
