#include "password_dialog.h"

#include "dialog_style.h"

#include "key_derivation.h"
#include "prompts.h"
#include "secret_line_edit.h"
#include "secure_memory.h"

#include <QButtonGroup>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace tavro {
namespace {

const QString kNotSet = QStringLiteral("(未设置)");

} // namespace

PasswordDialog::PasswordDialog(Prompts& prompts, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags),
      m_prompts(prompts)
{
    setWindowTitle(QStringLiteral("密码"));
    const DialogUnits du(font());

    // The two modes; one group, so that checking one unchecks the other.
    m_radioTyped = new QRadioButton(QStringLiteral("键盘输入密码"), this);
    m_radioKeyFile = new QRadioButton(QStringLiteral("某个文件作为密码"), this);
    auto* modes = new QButtonGroup(this);
    modes->addButton(m_radioTyped);
    modes->addButton(m_radioKeyFile);

    // Left: the typed password, shown as typed, in a field that wipes it.
    auto* typedGroup = new QGroupBox(QStringLiteral("文本密码(可以为空)"), this);
    m_editPassword = new SecretLineEdit(typedGroup);
    m_editPassword->setEchoMode(QLineEdit::Normal);
    m_editPassword->setMinimumWidth(du.X(128));
    auto* typedLayout = new QVBoxLayout(typedGroup);
    typedLayout->setContentsMargins(du.X(6), du.Y(4), du.X(7), du.Y(7));
    typedLayout->addWidget(m_editPassword, 0, Qt::AlignVCenter);

    // Right: the chosen key file's name and the button that chooses it.
    auto* fileGroup = new QGroupBox(QStringLiteral("选择一个文件"), this);
    m_labelKeyFile = new QLabel(kNotSet, fileGroup);
    // A long file name is cut at the label's edge; it never widens the dialog.
    m_labelKeyFile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_labelKeyFile->setMinimumWidth(du.X(68));
    m_buttonFile = MakePlainButton(QStringLiteral("文件..."), fileGroup);
    m_buttonFile->setMinimumSize(du.X(55), du.Y(23));
    auto* fileLayout = new QHBoxLayout(fileGroup);
    fileLayout->setContentsMargins(du.X(8), du.Y(2), du.X(4), du.Y(4));
    fileLayout->setSpacing(du.X(6));
    fileLayout->addWidget(m_labelKeyFile, 1, Qt::AlignVCenter);
    fileLayout->addWidget(m_buttonFile, 0, Qt::AlignVCenter);

    // Each mode's radio button centred above its group box.
    auto* typedColumn = new QVBoxLayout;
    typedColumn->setSpacing(du.Y(2));
    typedColumn->addWidget(m_radioTyped, 0, Qt::AlignHCenter);
    typedColumn->addWidget(typedGroup);
    auto* fileColumn = new QVBoxLayout;
    fileColumn->setSpacing(du.Y(2));
    fileColumn->addWidget(m_radioKeyFile, 0, Qt::AlignHCenter);
    fileColumn->addWidget(fileGroup);
    auto* columns = new QHBoxLayout;
    columns->setSpacing(du.X(10));
    columns->addLayout(typedColumn);
    columns->addLayout(fileColumn);

    // "确定" left of "取消", the pair centred below.
    m_buttonConfirm = MakePlainButton(QStringLiteral("确定"), this);
    m_buttonCancel = MakePlainButton(QStringLiteral("取消"), this);
    m_buttonConfirm->setMinimumSize(du.X(60), du.Y(32));
    m_buttonCancel->setMinimumSize(du.X(60), du.Y(32));
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(du.X(23));
    buttons->addStretch(1);
    buttons->addWidget(m_buttonConfirm);
    buttons->addWidget(m_buttonCancel);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(du.X(7), du.Y(8), du.X(8), du.Y(7));
    layout->setSpacing(du.Y(5));
    layout->addLayout(columns);
    layout->addLayout(buttons);

    // Both group boxes as wide as the wider one needs, at least 141 units;
    // the dialog keeps the size its layout gives and cannot be resized.
    ensurePolished();
    const int groupWidth = std::max({du.X(141), typedGroup->sizeHint().width(),
                                     fileGroup->sizeHint().width()});
    typedGroup->setFixedWidth(groupWidth);
    fileGroup->setFixedWidth(groupWidth);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The tab stops: the checked mode (the arrow keys check the other, as
    // a click does), the password, "文件...", "取消" and "确定", in that
    // order; a disabled one is passed over.
    setTabOrder(m_radioTyped, m_radioKeyFile);
    setTabOrder(m_radioKeyFile, m_editPassword);
    setTabOrder(m_editPassword, m_buttonFile);
    setTabOrder(m_buttonFile, m_buttonCancel);
    setTabOrder(m_buttonCancel, m_buttonConfirm);

    connect(m_radioTyped, &QRadioButton::clicked, this, &PasswordDialog::OnTypedPasswordMode);
    connect(m_radioKeyFile, &QRadioButton::clicked, this, &PasswordDialog::OnKeyFileMode);
    connect(m_buttonFile, &QPushButton::clicked, this, &PasswordDialog::OnChooseKeyFile);
    connect(m_buttonConfirm, &QPushButton::clicked, this, &PasswordDialog::OnConfirmPassword);
    connect(m_buttonCancel, &QPushButton::clicked, this, &PasswordDialog::OnCancel);

    // Start in typed mode with the keyboard in the password field.
    OnTypedPasswordMode();
    m_editPassword->setFocus();
}

void PasswordDialog::OnTypedPasswordMode()
{
    m_radioTyped->setChecked(true);
    m_radioKeyFile->setChecked(false);
    MakeTabStop(m_radioTyped, m_radioKeyFile);
    m_buttonFile->setEnabled(false);
    m_labelKeyFile->setText(kNotSet);
    m_editPassword->setEnabled(true);
    m_keyFilePath.clear();
}

void PasswordDialog::OnKeyFileMode()
{
    m_radioKeyFile->setChecked(true);
    m_radioTyped->setChecked(false);
    MakeTabStop(m_radioKeyFile, m_radioTyped);
    m_buttonFile->setEnabled(true);
    m_editPassword->setEnabled(false);
    m_editPassword->clear(); // a typed password is discarded
    // The label and the path stay: typed mode has already emptied them.
}

void PasswordDialog::OnChooseKeyFile()
{
    FileDialogRequest request;
    request.mode = FileDialogMode::Open; // any file; no filter, no suffix added
    request.kind = FileKind::KeyFile;
    const std::optional<ChosenFile> chosen = m_prompts.ChooseFile(this, request);
    if (!chosen)
        return; // cancelled: the previous choice stands
    // Kept exactly as chosen: a backslash is an ordinary file-name character here.
    m_keyFilePath = chosen->path;
    m_labelKeyFile->setText(chosen->fileName);
}

void PasswordDialog::OnConfirmPassword()
{
    if (m_radioTyped->isChecked()) {
        KeyHolder key;
        DeriveKeyFromPassword(m_editPassword->text(), key.bytes());
        m_editPassword->clear(); // the password is needed no more
        m_key = std::move(key);
        m_typedConfirmed = true;
        accept();
        return;
    }
    if (m_radioKeyFile->isChecked()) {
        // The path in the file system's own encoding, byte for byte.
        const std::filesystem::path path(QFile::encodeName(m_keyFilePath).toStdString());
        KeyHolder key;
        if (!DeriveKeyFromFile(path, key.bytes())) {
            m_prompts.Tell(this, QStringLiteral("无法打开文件(是否已被删除)."),
                           QStringLiteral("读取失败"), MessageIcon::Error);
            return; // stays open: the user may choose another file or switch mode
        }
        m_key = std::move(key);
        accept();
        return;
    }
    m_prompts.Tell(this, QStringLiteral("貌似没有选中!??"), ApplicationName());
}

void PasswordDialog::OnCancel()
{
    QDialog::reject(); // no key: the caller's stays as it was
}

std::optional<KeyHolder> PasswordDialog::takeKey()
{
    return std::exchange(m_key, std::nullopt);
}

void PasswordDialog::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept(); // swallowed: the dialog closes only by its buttons or the close box
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void PasswordDialog::reject()
{
    OnCancel();
}

} // namespace tavro
