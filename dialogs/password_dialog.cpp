#include "password_dialog.h"

#include "dialog_style.h"

#include "key_derivation.h"
#include "md5.h"
#include "prompts.h"
#include "secret_line_edit.h"
#include "secure_memory.h"

#include <QButtonGroup>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
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
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tavro {
namespace {

const QString kNotSet = QStringLiteral("(未设置)");

} // namespace

// The key being made off the UI thread, shared with the worker, which may
// outlive the dialog (Argon2id cannot be stopped part-way).
struct PasswordDialog::Making {
    KeyRecipe recipe;
    KeySecret secret;
    SessionKey key;
    KeyFileResult result;
    std::atomic<bool> cancel{false};
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{0};
    QElapsedTimer started;
    QFutureWatcher<void> watcher;
    QTimer progress;
};

PasswordDialog::PasswordDialog(Prompts& prompts, KeyRecipe recipe, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags),
      m_prompts(prompts), m_recipe(std::move(recipe))
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

    // What the dialog does while it makes a key; empty otherwise.
    m_labelProgress = new QLabel(this);
    m_labelProgress->setAlignment(Qt::AlignCenter);
    m_labelProgress->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(du.X(7), du.Y(8), du.X(8), du.Y(7));
    layout->setSpacing(du.Y(5));
    layout->addLayout(columns);
    layout->addWidget(m_labelProgress);
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

PasswordDialog::~PasswordDialog()
{
    if (m_making) {
        m_making->watcher.disconnect(this);
        m_making->cancel = true; // the worker ends on its own and drops what it made
    }
}

namespace {

// A digest of the typed password's own UTF-16 units, to tell a retyped one
// by: neither the password nor a key made of it (and it tells apart what
// code page 936 would not, such as two emoji).
KeyHolder TypedDigest(std::u16string_view text)
{
    Md5Context context;
    Md5Init(context);
    Md5Update(context, reinterpret_cast<const std::uint8_t*>(text.data()),
              static_cast<std::uint32_t>(text.size()) * 2);
    std::string hex = Md5HexDigest(context);
    KeyHolder digest;
    std::copy(hex.begin(), hex.end(), digest.bytes().begin());
    SecureWipe(hex.data(), hex.size());
    SecureWipe(&context, sizeof context);
    return digest;
}

} // namespace

void PasswordDialog::OnConfirmPassword()
{
    if (m_making)
        return; // a key is already being made
    if (m_radioTyped->isChecked()) {
        const std::u16string_view text = m_editPassword->text();
        m_typedDigest = TypedDigest(text);
        m_typedConfirmed = true;
        KeySecret secret;
        secret.password.assign(text.begin(), text.end());
        m_editPassword->clear(); // the password is needed no more
        if (m_recipe.format == DocumentFormat::Tvro) {
            // The MD5 of a password takes no time: made here.
            SessionKey key;
            MakeSessionKey(m_recipe, secret, key);
            m_key = std::move(key);
            accept();
            return;
        }
        StartMaking(std::move(secret));
        return;
    }
    if (m_radioKeyFile->isChecked()) {
        KeySecret secret;
        // The path in the file system's own encoding, byte for byte.
        secret.keyFile = std::filesystem::path(QFile::encodeName(m_keyFilePath).toStdString());
        StartMaking(std::move(secret));
        return;
    }
    m_prompts.Tell(this, QStringLiteral("貌似没有选中!??"), ApplicationName());
}

void PasswordDialog::StartMaking(KeySecret secret)
{
    auto making = std::make_shared<Making>();
    making->recipe = m_recipe;
    making->secret = std::move(secret);
    making->started.start();
    m_making = making;
    SetInputsEnabled(false);
    m_labelProgress->setText(QStringLiteral("正在生成密钥..."));
    m_labelProgress->show();
    setCursor(Qt::BusyCursor);
    connect(&making->watcher, &QFutureWatcher<void>::finished, this, &PasswordDialog::OnKeyMade);
    connect(&making->progress, &QTimer::timeout, this, &PasswordDialog::ShowProgress);
    making->progress.start(100);
    making->watcher.setFuture(QtConcurrent::run([making] {
        KeyFileReading reading;
        reading.cancel = &making->cancel;
        reading.progress = [&making = *making](std::uint64_t done, std::uint64_t total) {
            making.done = done;
            making.total = total;
        };
        making->result = MakeSessionKey(making->recipe, making->secret, making->key, reading);
    }));
}

void PasswordDialog::ShowProgress()
{
    // A key file that takes more than a second says how far it has come.
    if (!m_making || !m_making->secret.keyFile || m_making->started.elapsed() < 1000)
        return;
    constexpr double kMiB = 1024.0 * 1024.0;
    const double done = static_cast<double>(m_making->done.load()) / kMiB;
    const std::uint64_t total = m_making->total.load();
    m_labelProgress->setText(total > 0 ? QStringLiteral("正在读取文件: %1 / %2 MB (取消可停止)")
                                             .arg(done, 0, 'f', 1)
                                             .arg(static_cast<double>(total) / kMiB, 0, 'f', 1)
                                       : QStringLiteral("正在读取文件: %1 MB (取消可停止)").arg(done, 0, 'f', 1));
}

void PasswordDialog::OnKeyMade()
{
    const std::shared_ptr<Making> making = std::exchange(m_making, nullptr);
    if (!making)
        return;
    making->progress.stop();
    unsetCursor();
    m_labelProgress->hide();
    SetInputsEnabled(true);
    switch (making->result.status) {
    case KeyFileStatus::Derived:
        m_key = std::move(making->key);
        accept();
        return;
    case KeyFileStatus::Cancelled:
        return; // back to the inputs
    case KeyFileStatus::Device:
        m_prompts.Tell(this, QStringLiteral("无法打开文件(是否已被删除).\n该文件是一个设备,不能作为密码."),
                       QStringLiteral("读取失败"), MessageIcon::Error);
        return;
    case KeyFileStatus::CannotOpen:
    case KeyFileStatus::ReadError:
        break;
    }
    QString text = QStringLiteral("无法打开文件(是否已被删除).");
    if (making->result.status == KeyFileStatus::ReadError)
        text += QStringLiteral("\n读取文件时出错: ") + QString::fromLocal8Bit(std::strerror(making->result.error));
    else if (making->result.error == ENOMEM)
        text = QStringLiteral("内存不足,无法生成密钥.");
    m_prompts.Tell(this, text, QStringLiteral("读取失败"), MessageIcon::Error);
    // Stays open: the user may choose another file or switch mode.
}

void PasswordDialog::SetInputsEnabled(bool enabled)
{
    m_radioTyped->setEnabled(enabled);
    m_radioKeyFile->setEnabled(enabled);
    m_editPassword->setEnabled(enabled && m_radioTyped->isChecked());
    m_buttonFile->setEnabled(enabled && m_radioKeyFile->isChecked());
    m_buttonConfirm->setEnabled(enabled);
}

bool PasswordDialog::MatchesTypedPassword(const QString& retyped) const
{
    return m_typedConfirmed &&
           TypedDigest(std::u16string_view(reinterpret_cast<const char16_t*>(retyped.utf16()),
                                           static_cast<std::size_t>(retyped.size())))
               .SameKey(m_typedDigest);
}

void PasswordDialog::OnCancel()
{
    if (m_making) {
        m_making->cancel = true; // a key file's reading stops; the dialog stays
        return;
    }
    QDialog::reject(); // no key: the caller's stays as it was
}

std::optional<SessionKey> PasswordDialog::takeKey()
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
