#include "privacy_dialog.h"

#include "dialog_style.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tavro {
namespace {

QString Minutes(int minutes) { return minutes == 0 ? QStringLiteral("从不") : QStringLiteral("%1 分钟").arg(minutes); }

QString Seconds(int seconds)
{
    if (seconds == 0)
        return QStringLiteral("不自动清除");
    return seconds < 120 ? QStringLiteral("%1 秒").arg(seconds) : QStringLiteral("%1 分钟").arg(seconds / 60);
}

// A list of the values offered, each shown as name gives it; value chosen.
template <std::size_t N>
QComboBox* Choices(const std::array<int, N>& offered, QString (*name)(int), int value, QWidget* parent)
{
    auto* box = new QComboBox(parent);
    for (const int choice : offered)
        box->addItem(name(choice), choice);
    box->setCurrentIndex(box->findData(value));
    return box;
}

} // namespace

PrivacyDialog::PrivacyDialog(const PrivacySettings& settings, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags)
{
    setWindowTitle(QStringLiteral("隐私保护"));
    // Made in the order Tab takes them, top to bottom.
    m_idle = Choices(PrivacySettings::kIdleMinutesOffered, Minutes, settings.idleMinutes, this);
    m_minimize = new QCheckBox(QStringLiteral("最小化时隐藏(&M)"), this);
    m_minimize->setChecked(settings.hideOnMinimize);
    m_clipboard = Choices(PrivacySettings::kClipboardSecondsOffered, Seconds, settings.clipboardSeconds, this);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("空闲时自动隐藏(&I):"), m_idle);
    fields->addRow(QString(), m_minimize);
    fields->addRow(QStringLiteral("复制的文本从剪贴板清除(&C):"), m_clipboard);
    auto* note = new QLabel(QStringLiteral("锁屏或休眠时总会隐藏文本."), this);

    // "确定" answers Enter wherever the keys are; "取消" Escape.
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(note);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_idle->setFocus();
}

PrivacySettings PrivacyDialog::settings() const
{
    PrivacySettings settings;
    settings.idleMinutes = m_idle->currentData().toInt();
    settings.hideOnMinimize = m_minimize->isChecked();
    settings.clipboardSeconds = m_clipboard->currentData().toInt();
    return settings;
}

} // namespace tavro
