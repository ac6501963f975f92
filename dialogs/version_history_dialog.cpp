#include "version_history_dialog.h"

#include "dialog_style.h"
#include "text_editor.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tavro {

QString VersionHistoryDialog::SizeText(std::uint64_t bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 字节").arg(bytes);
    const double kib = static_cast<double>(bytes) / 1024.0;
    if (kib < 1024.0)
        return QStringLiteral("%1 KB").arg(kib, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(kib / 1024.0, 0, 'f', 1);
}

VersionHistoryDialog::VersionHistoryDialog(const QString& documentName, std::vector<Entry> entries, QWidget* parent)
    : QDialog(parent), m_entries(std::move(entries))
{
    setWindowTitle(QStringLiteral("历史版本 - %1").arg(documentName));
    auto* explanation = new QLabel(
        QStringLiteral("每次写入替换文档之前,被替换的文件都原样(仍是加密的)保存在这里.\n"
                       "选择一个版本可以预览(需要它当时的密码)或恢复;恢复前当前的文件也会被保存为一个版本."),
        this);
    explanation->setWordWrap(true);

    m_list = new QTreeWidget(this);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setHeaderLabels({QStringLiteral("时间"), QStringLiteral("大小"), QStringLiteral("来源")});
    for (const Entry& entry : m_entries) {
        auto* item = new QTreeWidgetItem(
            m_list, {entry.keptAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), SizeText(entry.size), entry.origin});
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    if (m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));
    m_list->setMinimumWidth(420);

    m_preview = new QPushButton(QStringLiteral("预览(&P)..."), this);
    m_restore = new QPushButton(QStringLiteral("恢复此版本(&R)"), this);
    m_clear = new QPushButton(QStringLiteral("清除历史版本(&C)..."), this);
    m_close = new QPushButton(QStringLiteral("关闭"), this);
    for (QPushButton* button : {m_preview, m_restore, m_clear, m_close})
        button->setAutoDefault(false);
    m_preview->setDefault(true); // Enter in the list previews the version chosen

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_preview);
    buttons->addWidget(m_restore);
    buttons->addStretch(1);
    buttons->addWidget(m_clear);
    buttons->addWidget(m_close);
    auto* row = new QHBoxLayout;
    row->addWidget(m_list, 1);
    row->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(explanation);
    layout->addLayout(row);

    const bool any = !m_entries.empty();
    m_preview->setEnabled(any);
    m_restore->setEnabled(any);
    m_clear->setEnabled(any);
    connect(m_preview, &QPushButton::clicked, this, [this] { Choose(Choice::Preview); });
    connect(m_restore, &QPushButton::clicked, this, [this] { Choose(Choice::Restore); });
    connect(m_clear, &QPushButton::clicked, this, [this] { Choose(Choice::Clear); });
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::itemActivated, this, [this] { Choose(Choice::Preview); });
}

void VersionHistoryDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_list->setFocus(Qt::OtherFocusReason);
}

std::uint64_t VersionHistoryDialog::chosenNumber() const
{
    const int row = m_list->indexOfTopLevelItem(m_list->currentItem());
    return row >= 0 ? m_entries[static_cast<std::size_t>(row)].number : 0;
}

void VersionHistoryDialog::Choose(Choice choice)
{
    if (choice != Choice::Clear && !m_list->currentItem())
        return;
    m_choice = choice;
    accept();
}

VersionPreviewDialog::VersionPreviewDialog(const QString& title, const QString& text, const QString& note,
                                           QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    if (!note.isEmpty()) {
        auto* warning = new QLabel(note, this);
        warning->setWordWrap(true);
        QPalette colors = warning->palette();
        colors.setColor(QPalette::WindowText, Qt::darkRed);
        warning->setPalette(colors);
        layout->addWidget(warning);
    }
    m_text = new TextEditor(this);
    m_text->setText(text);
    m_text->setLocked(true);
    m_text->setMinimumSize(560, 360);
    layout->addWidget(m_text, 1);
    m_restore = new QPushButton(QStringLiteral("恢复此版本(&R)"), this);
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    m_restore->setAutoDefault(false);
    close->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_restore);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(m_restore, &QPushButton::clicked, this, &QDialog::accept);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    m_text->setFocus();
}

} // namespace tavro
