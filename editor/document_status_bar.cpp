#include "document_status_bar.h"

#include <QLabel>

namespace tavro {
namespace {

QLabel* AddField(QStatusBar* bar, const char* name, int stretch)
{
    auto* label = new QLabel(bar);
    label->setObjectName(QLatin1String(name));
    bar->addPermanentWidget(label, stretch);
    return label;
}

void SetField(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setVisible(!text.isEmpty());
}

QString AutoSaveText(const DocumentStatus& status)
{
    if (!status.autoSave)
        return QStringLiteral("自动保存: 关");
    switch (status.autoSavePause) {
    case AutoSave::Pause::None: break;
    case AutoSave::Pause::LossyText: return QStringLiteral("自动保存: 暂停 (有无法保存的字符)");
    case AutoSave::Pause::Protected: return QStringLiteral("自动保存: 暂停 (文档受保护)");
    case AutoSave::Pause::WriteFailing: return QStringLiteral("自动保存: 写入失败");
    case AutoSave::Pause::ChangedOnDisk: return QStringLiteral("自动保存: 暂停 (文件已被其他程序修改)");
    }
    return QStringLiteral("自动保存: 开");
}

} // namespace

DocumentStatusBar::DocumentStatusBar(QWidget* parent)
    : QStatusBar(parent), m_lock(AddField(this, "lockState", 1)), m_protected(AddField(this, "protected", 0)),
      m_modified(AddField(this, "modified", 0)), m_autoSave(AddField(this, "autoSave", 0)),
      m_position(AddField(this, "position", 0)), m_characters(AddField(this, "characters", 0)),
      m_codePage(AddField(this, "codePage", 0))
{
    setSizeGripEnabled(true);
}

void DocumentStatusBar::Show(const DocumentStatus& status)
{
    if (!status.documentOpen)
        SetField(m_lock, QStringLiteral("没有正在编辑的文件"));
    else if (status.hidden)
        SetField(m_lock, QStringLiteral("已隐藏"));
    else
        SetField(m_lock, status.locked ? QStringLiteral("已锁定") : QStringLiteral("未锁定"));
    const bool textShown = status.documentOpen && !status.hidden;
    SetField(m_protected, status.documentOpen && status.protectedCopy ? QStringLiteral("受保护") : QString());
    SetField(m_modified, status.documentOpen && status.modified ? QStringLiteral("未保存") : QString());
    SetField(m_autoSave, AutoSaveText(status));
    SetField(m_position, textShown ? QStringLiteral("第 %1 行, 第 %2 列").arg(status.line).arg(status.column)
                                   : QString());
    SetField(m_characters, textShown ? QStringLiteral("%1 个字符").arg(status.characters) : QString());
    SetField(m_codePage, status.strong ? QStringLiteral("UTF-8 · 强加密") : QStringLiteral("GBK"));
}

QStringList DocumentStatusBar::Texts() const
{
    QStringList texts;
    for (const QLabel* label : {m_lock, m_protected, m_modified, m_autoSave, m_position, m_characters, m_codePage})
        if (!label->text().isEmpty())
            texts << label->text();
    return texts;
}

} // namespace tavro
