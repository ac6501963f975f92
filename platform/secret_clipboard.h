// Document text on the clipboard and the X11 selection: marked as secret
// for clipboard managers (the hint "x-kde-passwordManagerHint" = "secret",
// which the common Linux clipboard managers honour by keeping it out of
// their history), and taken off again, but only while the clipboard still
// holds what this program put there, never what another program put there
// since.
#pragma once

#include <QClipboard>
#include <QMimeData>
#include <QPointer>
#include <QTextDocumentFragment>
#include <QTimer>

#include <chrono>

namespace tavro {

// Copied document text: its plain text, made only when asked for (a
// selection of a large text is offered at every change of the selection),
// and the secret mark.
class SecretMimeData : public QMimeData {
    Q_OBJECT
public:
    static const QString kHintFormat; // "x-kde-passwordManagerHint"; its data is "secret"

    explicit SecretMimeData(QTextDocumentFragment fragment);

    QStringList formats() const override; // "text/plain" and the hint
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    QTextDocumentFragment m_fragment;
};

// Takes SecretMimeData off the clipboard and the selection: on Clear(), and
// a set time after it was put there (restarted by every copy).
class ClipboardGuard : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds kDefaultTimeout{60};

    explicit ClipboardGuard(QObject* parent = nullptr);

    // How long copied text may stay; zero: until Clear().
    void setTimeout(std::chrono::milliseconds timeout);
    const QTimer& timer() const { return m_timer; }

    // Whether the clipboard (or the selection) holds text this program marked.
    static bool HoldsOurs(QClipboard::Mode mode);
    // Empties the clipboard and the selection where they hold our text.
    void Clear();

private:
    void OnChanged(QClipboard::Mode mode);

    QTimer m_timer;
};

} // namespace tavro
