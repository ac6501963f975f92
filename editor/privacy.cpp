// Privacy while the window is open: Hide keeps the text from view (a locked
// document whose editor is not shown) until the document's password or key
// file is given again; idle time, the session's lock, the machine's sleep
// and, when chosen, minimizing the window hide it too. Copied text is
// marked secret and taken off the clipboard when the text is hidden or
// closed, when the program ends, and after the time chosen.
#include "main_window.h"

#include "privacy_dialog.h"
#include "privacy_ids.h"
#include "prompts.h"
#include "session_watch.h"

#include <QLabel>
#include <QLayout>
#include <QPushButton>

namespace tavro {

void MainWindow::SetUpPrivacy()
{
    // In the editor's place while the text is hidden: what it is, and the
    // way back, which also has the keys.
    m_hiddenView = new QWidget(centralWidget());
    m_hiddenView->setObjectName(QStringLiteral("hiddenView"));
    auto* label = new QLabel(QStringLiteral("文本已隐藏."), m_hiddenView);
    auto* button = new QPushButton(QStringLiteral("显示文本..."), m_hiddenView);
    button->setAutoDefault(true); // Enter presses it while it has the keys
    connect(button, &QPushButton::clicked, this, [this] { OnCommand(ID_SHOW); });
    auto* layout = new QVBoxLayout(m_hiddenView);
    layout->addStretch(1);
    layout->addWidget(label, 0, Qt::AlignHCenter);
    layout->addWidget(button, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    m_hiddenView->hide();
    centralWidget()->layout()->addWidget(m_hiddenView);

    connect(&m_idleWatch, &IdleWatch::idle, this, &MainWindow::OnHide);
    ApplyPrivacySettings();
}

void MainWindow::ReadPrivacySettings()
{
    m_privacyPath = PrivacySettingsPath();
    m_privacy = LoadPrivacySettings(m_privacyPath);
    ApplyPrivacySettings();
}

void MainWindow::ApplyPrivacySettings()
{
    m_idleWatch.setTimeout(std::chrono::minutes(m_privacy.idleMinutes));
    m_clipboardGuard.setTimeout(std::chrono::seconds(m_privacy.clipboardSeconds));
}

void MainWindow::OnHide()
{
    if (!m_session || m_session->isHidden())
        return;
    // Locked and out of view at once; a change not yet in the file is
    // written now when auto-save is on, as a tick would (not while a
    // command waits for the user: it decides what becomes of the text).
    m_session->setHidden(true);
    centralWidget()->repaint(); // off the screen now, not once the write's snapshot is taken
    m_autoSave.Tick();
    if (m_findDialog)
        m_findDialog->reject();
    m_clipboardGuard.Clear();
    m_hiddenView->findChild<QPushButton*>()->setFocus(Qt::OtherFocusReason);
}

void MainWindow::OnShow()
{
    if (!m_session || !m_session->isHidden())
        return;
    const QPointer<DocumentSession> session = m_session.get();
    // A document whose password prompt was cancelled has the all-zero key,
    // which its file opens with unasked: there is nothing to ask for here.
    if (!session->IsKey(SessionKey())) {
        std::optional<SessionKey> key = AskForKey(session->keyRecipe());
        if (!key || session != m_session.get())
            return; // cancelled, or the document went meanwhile
        if (!session->IsKey(*key)) {
            m_prompts.Tell(this, QStringLiteral("密码错误,文本仍然隐藏."), QStringLiteral("显示文本"),
                           MessageIcon::Warning);
            return;
        }
    }
    session->setHidden(false); // still locked
    FocusEditor();
}

void MainWindow::WatchSession(const SessionWatch& watch)
{
    connect(&watch, &SessionWatch::locking, this, &MainWindow::OnHide);
}

void MainWindow::OnSettingsPrivacy()
{
    PrivacyDialog dialog(m_privacy, this);
    if (m_prompts.RunModal(dialog) != QDialog::Accepted)
        return;
    m_privacy = dialog.settings();
    ApplyPrivacySettings();
    if (!SavePrivacySettings(m_privacyPath, m_privacy))
        m_prompts.Tell(this, QStringLiteral("无法保存隐私设置,下次启动时将恢复原来的设置."), QStringLiteral("警告"),
                       MessageIcon::Warning);
}

void MainWindow::OnUpdateHide(QAction* action) const
{
    action->setEnabled(isDocumentOpen() && !isHidden());
}

void MainWindow::OnUpdateShow(QAction* action) const
{
    action->setEnabled(isHidden());
}

void MainWindow::OnUpdateDocumentOpen(QAction* action) const
{
    action->setEnabled(isDocumentOpen());
}

void MainWindow::RefreshHiddenView()
{
    const bool hidden = isHidden();
    m_editor->setVisible(!hidden);
    m_hiddenView->setVisible(hidden);
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_privacy.hideOnMinimize)
        OnHide();
}

} // namespace tavro
