#include "usage_notes_dialog.h"

#include "dialog_style.h"

#include <QLabel>
#include <QVBoxLayout>

namespace tavro {

const QStringList UsageNotesDialog::kParagraphs = {
    QStringLiteral("        在打开文件时,如果打开的文件显示乱码或者部分乱码.请勿轻易解锁和保存.乱码部分再次保存可能会造成新文本丢失."),
    QStringLiteral("        锁定文本时会触发保存一次.在锁定状态下自动保存是无效的."),
    QStringLiteral("        注意防范侧信道攻击.就是在电脑已经中毒的情况下,病毒木马会直接读取程序内容,而绕过加密保护.本软件不附带侧信道攻击防御功能,请用户自己注意."),
    QStringLiteral("        因效率问题,越多的字符导致文件越大,导致运行速度下降.虽然没有规定上限,但请控制字符数量.(建议1MB以内大约50万中文字符)"),
    QStringLiteral("        每次保存,锁定,自动保存或修改密码替换文档之前,被替换的文件都原样(仍是加密的)保存为历史版本,存放在个人目录下的 ~/.local/share/tavro/versions 中.在\"文件\"菜单的\"历史版本\"里可以预览和恢复它们."),
    QStringLiteral("        隐藏文本(Alt + Y)后窗口不再显示任何文本,须输入该文档的密码或选择其密码文件才能重新显示.空闲一段时间(默认10分钟)、锁屏或休眠时会自动隐藏,可在\"设置-隐私保护\"中调整.从文档复制的文本会标记为机密,剪贴板管理器不会记录它,并在隐藏文本、关闭文档、退出程序或60秒后从剪贴板清除."),
    QStringLiteral("        程序被结束(关机,注销,关闭启动它的终端)时,未保存的修改会像自动保存那样写入文档;不能写入的(文本已锁定,自动保存已关闭,有无法保存的字符)会加密保存为恢复副本,下次打开该文档时可以恢复."),
};

UsageNotesDialog::UsageNotesDialog(QWidget* parent)
    : InformationDialog(parent, kFixedDialogFlags)
{
    setWindowTitle(QStringLiteral("使用注意"));
    const DialogUnits du(font());

    // Each paragraph wrapped to one column width, as tall as its lines need;
    // the spaces that indent its first line are kept.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(du.X(10), du.Y(7), du.X(5), du.Y(7));
    layout->setSpacing(du.Y(3));
    const int width = du.X(162);
    for (const QString& paragraph : kParagraphs) {
        auto* label = new QLabel(paragraph, this);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setFixedSize(width, label->heightForWidth(width));
        layout->addWidget(label);
        m_labels.append(label);
    }
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace tavro
