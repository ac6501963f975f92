// The usage notes: five paragraphs of advice, read-only. Closes with its
// close box, Enter or Escape.
#pragma once

#include "information_dialog.h"
#include <QStringList>

class QLabel;

namespace tavro {

class UsageNotesDialog : public InformationDialog {
    Q_OBJECT
public:
    explicit UsageNotesDialog(QWidget* parent = nullptr);

    // The paragraphs, in the order shown; each begins with eight spaces.
    static const QStringList kParagraphs;

    // The paragraphs' labels, for tests.
    const QList<QLabel*>& paragraphLabels() const { return m_labels; }

private:
    QList<QLabel*> m_labels;
};

} // namespace tavro
