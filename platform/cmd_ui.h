// The enabled state and check mark of one menu item, as update handlers see it.
#pragma once

#include <QAction>

namespace tavro {

class CCmdUI {
public:
    explicit CCmdUI(QAction* action) : m_pAction(action) {}
    void Enable(bool enable = true) { m_pAction->setEnabled(enable); }
    void SetCheck(bool check = true)
    {
        m_pAction->setCheckable(true);
        m_pAction->setChecked(check);
    }
    QAction* action() const { return m_pAction; }

private:
    QAction* m_pAction;
};

} // namespace tavro
