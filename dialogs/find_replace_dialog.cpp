#include "find_replace_dialog.h"

#include "dialog_style.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tavro {

FindReplaceDialog::FindReplaceDialog(bool findOnly, std::uint32_t flags, QWidget* owner)
    : QDialog(owner), m_findOnly(findOnly), m_flags(flags)
{
    setWindowTitle(findOnly ? QStringLiteral("查找") : QStringLiteral("替换"));
    setModal(false);

    auto* grid = new QGridLayout(this);
    auto* findLabel = new QLabel(QStringLiteral("查找内容(&N):"), this);
    m_findEdit = new QLineEdit(this);
    m_findEdit->setMaxLength(kMaxLength);
    m_findEdit->setMinimumWidth(220);
    findLabel->setBuddy(m_findEdit);
    grid->addWidget(findLabel, 0, 0);
    grid->addWidget(m_findEdit, 0, 1);

    m_findNextButton = new QPushButton(QStringLiteral("查找下一个(&F)"), this);
    m_findNextButton->setDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("取消"), this);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_findNextButton);

    if (findOnly) {
        auto* direction = new QGroupBox(QStringLiteral("方向"), this);
        auto* directionLayout = new QHBoxLayout(direction);
        m_upButton = new QRadioButton(QStringLiteral("向上(&U)"), direction);
        m_downButton = new QRadioButton(QStringLiteral("向下(&D)"), direction);
        directionLayout->addWidget(m_upButton);
        directionLayout->addWidget(m_downButton);
        const bool down = flags & FR_DOWN;
        (down ? m_downButton : m_upButton)->setChecked(true);
        // Tab comes to the direction chosen; the arrow keys change it.
        MakeTabStop(down ? m_downButton : m_upButton, down ? m_upButton : m_downButton);
        grid->addWidget(direction, 1, 1, Qt::AlignRight);
    } else {
        auto* replaceLabel = new QLabel(QStringLiteral("替换为(&P):"), this);
        m_replaceEdit = new QLineEdit(this);
        m_replaceEdit->setMaxLength(kMaxLength);
        replaceLabel->setBuddy(m_replaceEdit);
        grid->addWidget(replaceLabel, 1, 0);
        grid->addWidget(m_replaceEdit, 1, 1);
        m_replaceButton = new QPushButton(QStringLiteral("替换(&R)"), this);
        m_replaceAllButton = new QPushButton(QStringLiteral("全部替换(&A)"), this);
        buttons->addWidget(m_replaceButton);
        buttons->addWidget(m_replaceAllButton);
        connect(m_replaceButton, &QPushButton::clicked, this, &FindReplaceDialog::RequestReplace);
        connect(m_replaceAllButton, &QPushButton::clicked, this, &FindReplaceDialog::RequestReplaceAll);
    }
    buttons->addWidget(m_cancelButton);
    buttons->addStretch();
    grid->addLayout(buttons, 0, 2, 3, 1);
    grid->setRowStretch(2, 1);

    connect(m_findNextButton, &QPushButton::clicked, this, &FindReplaceDialog::RequestFindNext);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_findEdit, &QLineEdit::textChanged, this, &FindReplaceDialog::UpdateButtons);
    UpdateButtons();
    setFixedSize(sizeHint());
}

QString FindReplaceDialog::GetFindString() const
{
    return m_findEdit->text();
}

QString FindReplaceDialog::GetReplaceString() const
{
    return m_replaceEdit ? m_replaceEdit->text() : QString();
}

void FindReplaceDialog::RequestFindNext() { Send(FR_FINDNEXT); }
void FindReplaceDialog::RequestReplace() { Send(FR_REPLACE); }
void FindReplaceDialog::RequestReplaceAll() { Send(FR_REPLACEALL); }

void FindReplaceDialog::Send(std::uint32_t request)
{
    if (m_terminated)
        return;
    // Only the direction survives from one request to the next.
    const bool down = m_downButton ? m_downButton->isChecked() : (m_flags & FR_DOWN) != 0;
    m_flags = (m_flags & (FR_HIDEMATCHCASE | FR_HIDEWHOLEWORD)) | (down ? FR_DOWN : 0) | request;
    emit notify(this);
}

void FindReplaceDialog::done(int result)
{
    if (!m_terminated) {
        Send(FR_DIALOGTERM);
        m_terminated = true;
    }
    QDialog::done(result);
}

void FindReplaceDialog::UpdateButtons()
{
    // Nothing to search for: no request can be made.
    const bool any = !m_findEdit->text().isEmpty();
    m_findNextButton->setEnabled(any);
    if (m_replaceButton) {
        m_replaceButton->setEnabled(any);
        m_replaceAllButton->setEnabled(any);
    }
}

} // namespace tavro
