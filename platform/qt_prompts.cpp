#include "qt_prompts.h"

#include "secret_line_edit.h"

#include <QColorDialog>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace tavro {
namespace {

// A masked line, laid out as QInputDialog lays it out ("确定" answers Enter,
// "取消" Escape), in a field whose characters are wiped when it goes. The
// string returned is the only copy left: the caller wipes it.
std::optional<QString> AskSecret(QWidget* owner, const QString& label, const QString& caption)
{
    QDialog dialog(owner);
    dialog.setWindowTitle(caption);
    auto* text = new QLabel(label, &dialog);
    auto* field = new SecretLineEdit(&dialog);
    field->setEchoMode(QLineEdit::Password);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(text);
    layout->addWidget(field);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    field->setFocus();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const std::u16string_view typed = field->text();
    QString copy(reinterpret_cast<const QChar*>(typed.data()), static_cast<qsizetype>(typed.size()));
    field->clear();
    return copy;
}


// A message box wide enough for its longest line and for its caption (Qt
// sizes it by a guess that clips long lines of Chinese and shortens a caption
// to "t... r"), yet no wider than three quarters of the screen it opens on,
// where the text wraps.
void FitMessageBox(QMessageBox& box, QWidget* owner, const QString& text, const QString& caption)
{
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (!label)
        return;
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    // The title bar also holds the icon and three buttons of the frame.
    const int captionWidth = QFontMetrics(box.font()).horizontalAdvance(caption) + 4 * metrics.height() * 2;
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const int limit = screen ? screen->availableGeometry().width() * 3 / 4 : 800;
    label->setMinimumWidth(std::min(std::max(widest + metrics.averageCharWidth(), captionWidth), limit));
}

} // namespace

QString ApplicationName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

MessageAnswer QtPrompts::ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                                     MessageIcon icon, MessageButtons buttons)
{
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText); // keeps the leading spaces some messages carry
    box.setText(text);
    FitMessageBox(box, owner, text, caption);
    switch (icon) {
    case MessageIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MessageIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MessageIcon::Error: box.setIcon(QMessageBox::Critical); break;
    }
    // Buttons with their answers, left to right as given; the last one is
    // the answer for Escape and the close box.
    struct Choice {
        QString label;
        QMessageBox::ButtonRole role;
        MessageAnswer answer;
    };
    std::vector<Choice> choices;
    std::size_t defaultChoice = 0;
    switch (buttons) {
    case MessageButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return MessageAnswer::Ok;
    case MessageButtons::YesNo:
    case MessageButtons::YesNoDefaultNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(buttons == MessageButtons::YesNo ? QMessageBox::Yes : QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
    case MessageButtons::SaveDiscardCancel:
        // Alt + S and Alt + N (or the letter alone) answer from the keyboard;
        // Enter stays Cancel.
        choices = {{QStringLiteral("保存(&S)"), QMessageBox::AcceptRole, MessageAnswer::Save},
                   {QStringLiteral("不保存(&N)"), QMessageBox::DestructiveRole, MessageAnswer::Discard},
                   {QStringLiteral("取消"), QMessageBox::RejectRole, MessageAnswer::Cancel}};
        defaultChoice = 2;
        break;
    case MessageButtons::SaveAnywayGoBack:
        choices = {{QStringLiteral("仍然保存"), QMessageBox::AcceptRole, MessageAnswer::SaveAnyway},
                   {QStringLiteral("返回编辑"), QMessageBox::RejectRole, MessageAnswer::GoBack}};
        defaultChoice = 1;
        break;
    case MessageButtons::OverwriteSaveAsCancel:
        choices = {{QStringLiteral("覆盖(&O)"), QMessageBox::DestructiveRole, MessageAnswer::Overwrite},
                   {QStringLiteral("另存为(&A)"), QMessageBox::AcceptRole, MessageAnswer::SaveAs},
                   {QStringLiteral("取消"), QMessageBox::RejectRole, MessageAnswer::Cancel}};
        defaultChoice = 2;
        break;
    }
    std::vector<QPushButton*> pushButtons;
    for (const Choice& choice : choices)
        pushButtons.push_back(box.addButton(choice.label, choice.role));
    box.setDefaultButton(pushButtons[defaultChoice]);
    box.setEscapeButton(pushButtons.back());
    box.exec();
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (box.clickedButton() == pushButtons[i])
            return choices[i].answer;
    return choices.back().answer;
}

std::optional<ChosenFile> QtPrompts::ChooseFile(QWidget* owner, const FileDialogRequest& request)
{
    QFileDialog dialog(owner, request.title);
    const bool saving = request.mode == FileDialogMode::Save;
    dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!request.filters.isEmpty()) {
        // The suffix a name typed without one gets follows the filter chosen.
        const auto suffixOf = [](const QString& filter) {
            const qsizetype dot = filter.indexOf(QStringLiteral("*."));
            return dot < 0 ? QString() : filter.mid(dot + 2).section(QRegularExpression(QStringLiteral("[ )]")), 0, 0);
        };
        dialog.setNameFilters(request.filters);
        const QString chosen = request.filters.value(request.selectedFilter, request.filters.constFirst());
        dialog.selectNameFilter(chosen);
        dialog.setDefaultSuffix(suffixOf(chosen));
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog, suffixOf](const QString& filter) { dialog.setDefaultSuffix(suffixOf(filter)); });
    } else if (!request.filter.isEmpty()) {
        dialog.setNameFilter(request.filter);
    }
    if (request.filters.isEmpty() && !request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    const QFileInfo start(m_recentFolders.StartPath(request));
    if (!start.filePath().isEmpty()) {
        if (start.isAbsolute())
            dialog.setDirectory(start.absolutePath());
        if (start.isDir())
            dialog.setDirectory(start.absoluteFilePath());
        else
            dialog.selectFile(start.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString path = dialog.selectedFiles().constFirst();
    m_recentFolders.Remember(request.kind, path);
    const int filterIndex = static_cast<int>(std::max<qsizetype>(0, request.filters.indexOf(dialog.selectedNameFilter())));
    return ChosenFile{path, QFileInfo(path).fileName(), filterIndex};
}

std::optional<QColor> QtPrompts::ChooseColor(QWidget* owner, const QColor& initial)
{
    const QColor chosen = QColorDialog::getColor(initial, owner);
    if (!chosen.isValid())
        return std::nullopt;
    return chosen;
}

int QtPrompts::RunModal(QDialog& dialog)
{
    return dialog.exec();
}

std::optional<QString> QtPrompts::AskText(QWidget* owner, const QString& label,
                                          const QString& caption, bool masked)
{
    if (masked)
        return AskSecret(owner, label, caption);
    QInputDialog dialog(owner);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(label);
    dialog.setOkButtonText(QStringLiteral("确定"));
    dialog.setCancelButtonText(QStringLiteral("取消"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

} // namespace tavro
