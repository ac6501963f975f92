#include "secret_clipboard.h"

#include <QGuiApplication>

namespace tavro {
namespace {

const QString kPlainText = QStringLiteral("text/plain");

} // namespace

const QString SecretMimeData::kHintFormat = QStringLiteral("x-kde-passwordManagerHint");

SecretMimeData::SecretMimeData(QTextDocumentFragment fragment) : m_fragment(std::move(fragment)) {}

QStringList SecretMimeData::formats() const
{
    return {kPlainText, kHintFormat};
}

bool SecretMimeData::hasFormat(const QString& mimeType) const
{
    return mimeType == kPlainText || mimeType == kHintFormat;
}

QVariant SecretMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (mimeType == kHintFormat)
        return QByteArray("secret");
    if (mimeType != kPlainText)
        return {};
    // As the editor's own copy gave it: line breaks as '\n'.
    const QString text = m_fragment.toPlainText();
    if (type.id() == QMetaType::QByteArray)
        return text.toUtf8();
    return text;
}

ClipboardGuard::ClipboardGuard(QObject* parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    setTimeout(kDefaultTimeout);
    connect(&m_timer, &QTimer::timeout, this, &ClipboardGuard::Clear);
    connect(QGuiApplication::clipboard(), &QClipboard::changed, this, &ClipboardGuard::OnChanged);
}

void ClipboardGuard::setTimeout(std::chrono::milliseconds timeout)
{
    m_timer.setInterval(timeout);
    if (timeout.count() <= 0)
        m_timer.stop();
}

bool ClipboardGuard::HoldsOurs(QClipboard::Mode mode)
{
    // Another program's text is another object: on X11 that of a foreign
    // owner, in one process the one that replaced (and deleted) ours.
    return qobject_cast<const SecretMimeData*>(QGuiApplication::clipboard()->mimeData(mode)) != nullptr;
}

void ClipboardGuard::Clear()
{
    m_timer.stop();
    QClipboard* clipboard = QGuiApplication::clipboard();
    for (const QClipboard::Mode mode : {QClipboard::Clipboard, QClipboard::Selection})
        if (HoldsOurs(mode))
            clipboard->clear(mode);
}

void ClipboardGuard::OnChanged(QClipboard::Mode mode)
{
    if (HoldsOurs(mode) && m_timer.interval() > 0)
        m_timer.start(); // counts from the latest copy
}

} // namespace tavro
