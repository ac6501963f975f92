// Private to the main window's sources.
#pragma once

#include "main_window.h"

namespace tavro {

// While a document command runs (its dialogs and message boxes included),
// auto-save ticks do nothing: the command may already have pointed the
// document path at another file, or cleared the key.
class CTavroTextEditorDlg::CommandScope {
public:
    explicit CommandScope(CTavroTextEditorDlg& window) : m_window(window) { ++m_window.m_commandDepth; }
    ~CommandScope() { --m_window.m_commandDepth; }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

private:
    CTavroTextEditorDlg& m_window;
};

} // namespace tavro
