#include "font_dialog.h"

#include "dialog_style.h"
#include "prompts.h"
#include "text_editor.h"

#include <QFontComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tavro {

const QString FontDialog::kPreviewText = QStringLiteral(
    "这是测试文字 0123456789\nABCDEFGHIJKLMNOPQRSTUVWXYZ\nabcdefghijklmnopqrstuvwxyz");

namespace {

constexpr int kSmallestSize = 8;
constexpr int kLargestSize = 120;
constexpr int kDefaultHeight = 196; // twips: size 14

// The number at the start of text, read as C's decimal conversion does:
// leading blanks, an optional sign, then digits up to the first non-digit.
// No digits give 0; a number too long for an int stays far out of range.
long long ParseSizeNumber(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9'); ++i)
        value = std::min(value * 10 + (text.at(i).unicode() - u'0'), 1'000'000'000'000LL);
    return negative ? -value : value;
}

// The size number shown for a height: the square root, truncated. A negative
// height has none and shows 0, which the size rule ignores in turn.
int SizeNumberOf(std::int32_t yHeight)
{
    if (yHeight <= 0)
        return 0;
    return static_cast<int>(std::sqrt(static_cast<double>(yHeight)));
}

} // namespace

FontDialog::FontDialog(const CharFormat2W& initial, Prompts& prompts, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags),
      m_prompts(prompts), m_charFormat(initial)
{
    setWindowTitle(QStringLiteral("设置字体"));
    const DialogUnits du(font());

    // Top left: the list of installed faces, its edit part empty until a
    // face is chosen.
    auto* fontGroup = new QGroupBox(QStringLiteral("字体"), this);
    m_comboFont = new QFontComboBox(fontGroup);
    m_comboFont->setInsertPolicy(QComboBox::NoInsert);
    // Text typed into the edit part chooses nothing. When the edit part is
    // handed in (Enter, focus leaving) the list itself selects the item the
    // typed text names and reports it as chosen; the handlers connected
    // before and after the list's own mark that moment, so such a report is
    // not taken for the user's choice.
    auto* faceEdit = new QLineEdit;
    const auto handingIn = [this] { m_faceEditFinishing = true; };
    connect(faceEdit, &QLineEdit::returnPressed, this, handingIn);
    connect(faceEdit, &QLineEdit::editingFinished, this, handingIn);
    m_comboFont->setLineEdit(faceEdit);
    connect(faceEdit, &QLineEdit::editingFinished, this, [this] { m_faceEditFinishing = false; });
    m_comboFont->setCompleter(nullptr);
    m_comboFont->setCurrentIndex(-1);
    m_comboFont->setMinimumWidth(du.X(109));
    m_comboFont->setMinimumHeight(du.Y(14));
    auto* fontLayout = new QVBoxLayout(fontGroup);
    fontLayout->setContentsMargins(du.X(6), du.Y(4), du.X(7), du.Y(5));
    fontLayout->addWidget(m_comboFont, 0, Qt::AlignVCenter);

    // Top right: the size number with its range, and the colour button.
    auto* sizeGroup = new QGroupBox(QStringLiteral("大小和颜色"), this);
    auto* sizeLabel = new QLabel(QStringLiteral("大小"), sizeGroup);
    m_editSize = new QLineEdit(sizeGroup);
    m_editSize->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_editSize));
    m_editSize->setFixedWidth(std::max(du.X(24), m_editSize->fontMetrics().horizontalAdvance(
                                                     QStringLiteral("0000")) + du.X(6)));
    auto* rangeLabel = new QLabel(QStringLiteral("(有效范围8~120)"), sizeGroup);
    m_buttonColor = MakePlainButton(QStringLiteral("文字颜色"), sizeGroup);
    m_buttonColor->setMinimumSize(du.X(48), du.Y(24));
    auto* sizeLayout = new QGridLayout(sizeGroup);
    sizeLayout->setContentsMargins(du.X(6), du.Y(2), du.X(6), du.Y(4));
    sizeLayout->setHorizontalSpacing(du.X(3));
    sizeLayout->setVerticalSpacing(du.Y(2));
    sizeLayout->addWidget(sizeLabel, 0, 0);
    sizeLayout->addWidget(m_editSize, 0, 1, Qt::AlignLeft);
    sizeLayout->addWidget(rangeLabel, 1, 0, 1, 2);
    sizeLayout->setColumnStretch(2, 1);
    sizeLayout->addWidget(m_buttonColor, 0, 3, 2, 1, Qt::AlignVCenter);

    // Middle: the preview, shown in the working format and never edited.
    auto* previewGroup = new QGroupBox(QStringLiteral("预览"), this);
    m_editPreview = new TextEditor(previewGroup);
    m_editPreview->setEnabled(false);
    m_editPreview->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editPreview->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editPreview->setMinimumSize(du.X(236), du.Y(88));
    auto* previewLayout = new QVBoxLayout(previewGroup);
    previewLayout->setContentsMargins(du.X(6), du.Y(4), du.X(7), du.Y(4));
    previewLayout->addWidget(m_editPreview);

    // Bottom: "恢复默认值" left, then "确定" and "取消", equally wide.
    m_buttonRestore = MakePlainButton(QStringLiteral("恢复默认值"), this);
    m_buttonOk = MakePlainButton(QStringLiteral("确定"), this);
    m_buttonCancel = MakePlainButton(QStringLiteral("取消"), this);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(du.X(5));
    for (QPushButton* button : {m_buttonRestore, m_buttonOk, m_buttonCancel}) {
        button->setMinimumSize(du.X(80), du.Y(30));
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        buttons->addWidget(button, 1);
    }

    auto* top = new QHBoxLayout;
    top->setSpacing(du.X(5));
    top->addWidget(fontGroup);
    top->addWidget(sizeGroup);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(du.X(7), du.Y(7), du.X(7), du.Y(7));
    layout->setSpacing(du.Y(4));
    layout->addLayout(top);
    layout->addWidget(previewGroup, 1);
    layout->addLayout(buttons);

    // Both upper boxes as wide as the wider one needs, at least 122 units;
    // the dialog keeps the size its layout gives and cannot be resized.
    ensurePolished();
    const int groupWidth = std::max({du.X(122), fontGroup->sizeHint().width(),
                                     sizeGroup->sizeHint().width()});
    fontGroup->setFixedWidth(groupWidth);
    sizeGroup->setFixedWidth(groupWidth);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The tab stops in the order the dialog was drawn in.
    setTabOrder(m_editSize, m_buttonOk);
    setTabOrder(m_buttonOk, m_buttonCancel);
    setTabOrder(m_buttonCancel, m_buttonRestore);
    setTabOrder(m_buttonRestore, m_buttonColor);
    setTabOrder(m_buttonColor, m_comboFont);

    connect(m_buttonOk, &QPushButton::clicked, this, &FontDialog::OnOK);
    connect(m_buttonCancel, &QPushButton::clicked, this, &FontDialog::OnCancel);
    connect(m_buttonColor, &QPushButton::clicked, this, &FontDialog::OnChooseColor);
    connect(m_buttonRestore, &QPushButton::clicked, this, &FontDialog::OnRestoreDefaults);
    connect(m_editSize, &QLineEdit::textChanged, this, &FontDialog::OnSizeChanged);
    connect(m_comboFont, &QComboBox::activated, this, [this] {
        if (!m_faceEditFinishing)
            OnFontSelected();
    });

    OnInitDialog();
}

void FontDialog::OnInitDialog()
{
    m_editSize->setText(QString::number(SizeNumberOf(m_charFormat.yHeight()))); // raises OnSizeChanged
    m_editPreview->setText(kPreviewText);
    ApplyPreview();
    // The keyboard starts in the size field, its number selected for typing over.
    m_editSize->setFocus();
    m_editSize->selectAll();
}

void FontDialog::OnSizeChanged()
{
    const long long n = ParseSizeNumber(m_editSize->text());
    if (n < kSmallestSize || n > kLargestSize)
        return; // no message, no clamping: the last valid height stays
    m_charFormat.setYHeight(static_cast<std::int32_t>(n * n));
    ApplyPreview();
}

void FontDialog::OnFontSelected()
{
    if (m_comboFont->currentIndex() < 0)
        return;
    m_charFormat.setFaceName(m_comboFont->currentFont().family()); // at most 31 units kept
    ApplyPreview();
}

void FontDialog::OnChooseColor()
{
    // Opens on black, not on the current colour.
    const std::optional<QColor> chosen = m_prompts.ChooseColor(this, QColor(Qt::black));
    if (!chosen)
        return;
    m_charFormat.setCrTextColor(CharFormat2W::ColorRef(*chosen));
    ApplyPreview();
}

void FontDialog::OnRestoreDefaults()
{
    // Face, height and colour only; every other field stays as it is.
    m_charFormat.setYHeight(kDefaultHeight);
    m_charFormat.setCrTextColor(0);
    m_charFormat.setFaceName(kDefaultFaceName);
    ApplyPreview();
    m_editSize->setText(QStringLiteral("14")); // OnSizeChanged sets 196 again
    m_comboFont->setEditText(QString()); // the edit part empties; the list keeps its choice
}

void FontDialog::ApplyPreview()
{
    // Applying records the use: the preview's record is 92 bytes long.
    m_charFormat.setCbSize(static_cast<std::uint32_t>(kCharFormatWSize));
    m_editPreview->select(0, -1);
    m_editPreview->applyFormat(m_charFormat);
    // The preview is disabled, yet shows the format as the editors will: its
    // text in the chosen colour on the usual background, the selection unseen.
    QPalette colors = m_editPreview->palette();
    const QColor text = m_charFormat.textColor();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colors.setColor(group, QPalette::Text, text);
        colors.setColor(group, QPalette::HighlightedText, text);
        colors.setColor(group, QPalette::Highlight, Qt::transparent);
    }
    colors.setColor(QPalette::Disabled, QPalette::Base, colors.color(QPalette::Active, QPalette::Base));
    m_editPreview->setPalette(colors);
}

void FontDialog::OnOK()
{
    accept();
}

void FontDialog::OnCancel()
{
    QDialog::reject();
}

void FontDialog::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A focused button takes Enter as a click; anywhere else Enter is "确定".
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
            button->click();
        else
            OnOK();
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event); // Escape: reject(), that is "取消"
    }
}

void FontDialog::reject()
{
    OnCancel();
}

} // namespace tavro
