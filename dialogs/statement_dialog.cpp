#include "statement_dialog.h"

#include "char_format.h"
#include "dialog_style.h"

#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace tavro {

const QString StatementDialog::kText = QStringLiteral(
    "注意:\n"
    "   1.本软件只具备基础磁盘读写功能,理论上可通过任何杀毒软件.也可跟踪软件行为,让您放心使用.\n"
    "   2.解密无法校验密码是否正确,极大增加文本安全性,它的安全性很高.\n"
    "   3.如果您忘记密码,但记得住其中大量明文.你可通过以下原理自己破解.(作者不参与帮助)\n"
    "\n"
    "tvro文件类型编码格式(按顺序):\n"
    "unsigned char //加密时如果文本长度不对称将随机填充内容,该标记为随机填充的字节数.\n"
    "unsigned int //对密文区域的CRC32哈希值.仅用于验证文本完整性,不能防止人为篡改.\n"
    "void* //ASE256加密的密文.\n"
    "\n"
    "关于密钥生成:\n"
    "无论选择哪种加密,最后都将获得其结果的MD5作为ASE256的密钥.\n"
    "新建时如果取消密码,密钥将全部清零,但还是会加密.打开时也可选择取消.\n");

const QString StatementDialog::kStrongText = QStringLiteral(
    "\n"
    "关于强加密格式(.tvrs):\n"
    "   1.密钥由Argon2id以每个文档自己的随机盐值慢速推导,猜测密码远比一次MD5困难.\n"
    "   2.认证加密:错误的密码会被立即识别,文件的任何改动都会被发现,绝不显示未经验证的内容.\n"
    "   3.正文以UTF-8保存,每一个字符(包括表情符号和各种文字)都原样保留.\n"
    "旧格式(.tvro)没有以上保护.任何加密都无法弥补过于简单的密码.\n");

namespace {

constexpr std::int32_t kHeight = 225; // twips: 11.25 points

} // namespace

StatementDialog::StatementDialog(QWidget* parent)
    : InformationDialog(parent, kFixedDialogFlags)
{
    setWindowTitle(QStringLiteral("安全申明及原理"));

    // Read, not selected, focused or changed; lines are not wrapped. The
    // dialog's background shows through.
    m_editStatement = new QTextEdit(this);
    m_editStatement->setReadOnly(true);
    m_editStatement->setTextInteractionFlags(Qt::NoTextInteraction);
    m_editStatement->setFocusPolicy(Qt::NoFocus);
    m_editStatement->setContextMenuPolicy(Qt::NoContextMenu);
    m_editStatement->setLineWrapMode(QTextEdit::NoWrap);
    m_editStatement->setFrameShape(QFrame::NoFrame);
    QPalette colors = m_editStatement->palette();
    colors.setColor(QPalette::Base, Qt::transparent);
    m_editStatement->setPalette(colors);

    auto* layout = new QVBoxLayout(this);
    const DialogUnits du(font());
    layout->setContentsMargins(du.X(7), du.Y(7), du.X(7), du.Y(7));
    layout->addWidget(m_editStatement);

    OnInitDialog();

    // At least as the dialog was drawn (433 x 209 units), larger where this
    // system's fonts need it, so every line shows whole without scrolling.
    QTextDocument* document = m_editStatement->document();
    const QSizeF text = document->size();
    const int frame = 2 * m_editStatement->frameWidth();
    m_editStatement->setFixedSize(
        std::max(du.X(433), static_cast<int>(std::ceil(text.width())) + frame),
        std::max(du.Y(209), static_cast<int>(std::ceil(text.height())) + frame));
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void StatementDialog::OnInitDialog()
{
    m_editStatement->setPlainText(kText + kStrongText);
    SetRangeFormat(0, kFormatStart, kNotesColor);
    SetRangeFormat(kFormatStart, kKeyStart, kFormatColor);
    SetRangeFormat(kKeyStart, static_cast<int>(kText.size()), kKeyColor);
    SetRangeFormat(static_cast<int>(kText.size()), -1, kStrongColor);
}

void StatementDialog::SetRangeFormat(int start, int end, std::uint32_t colorRef)
{
    CharFormat2W record;
    record.setCbSize(static_cast<std::uint32_t>(kCharFormatWSize));
    record.setDwMask(CFM_SIZE | CFM_COLOR | CFM_FACE);
    record.setYHeight(kHeight);
    record.setFaceName(kDefaultFaceName);
    record.setCrTextColor(colorRef);

    QTextCharFormat format;
    const QFont font = record.toFont();
    format.setFontFamilies(font.families());
    format.setFontPointSize(font.pointSizeF());
    format.setForeground(record.textColor());

    QTextCursor cursor(m_editStatement->document());
    cursor.setPosition(start);
    if (end < 0)
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    else
        cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.setCharFormat(format);
}

} // namespace tavro
