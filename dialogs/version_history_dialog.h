// The versions kept of the open document, newest first: when each was
// replaced, its size and what replaced it. The user picks one to preview or
// restore, or clears the history; the dialog ends Accepted with the choice
// (choice(), chosenNumber()) and the window carries it out.
#pragma once

#include <QDateTime>
#include <QDialog>

#include <cstdint>
#include <vector>

class QPushButton;
class QTreeWidget;

namespace tavro {

class VersionHistoryDialog : public QDialog {
    Q_OBJECT
public:
    struct Entry {
        std::uint64_t number = 0;
        QDateTime keptAt; // when the version was replaced
        std::uint64_t size = 0;
        QString origin;   // what replaced it: 保存, 锁定, ...
    };
    enum class Choice { None, Preview, Restore, Clear };

    // entries: newest first.
    VersionHistoryDialog(const QString& documentName, std::vector<Entry> entries, QWidget* parent = nullptr);

    Choice choice() const { return m_choice; }
    // The version chosen to preview or restore.
    std::uint64_t chosenNumber() const;

    // The controls, for tests.
    QTreeWidget* list() const { return m_list; }
    QPushButton* previewButton() const { return m_preview; }
    QPushButton* restoreButton() const { return m_restore; }
    QPushButton* clearButton() const { return m_clear; }
    QPushButton* closeButton() const { return m_close; }

    // "1.2 KB": a size as the list shows it.
    static QString SizeText(std::uint64_t bytes);

protected:
    void showEvent(QShowEvent* event) override; // the keys start in the list

private:
    void Choose(Choice choice);

    std::vector<Entry> m_entries;
    Choice m_choice = Choice::None;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_preview = nullptr;
    QPushButton* m_restore = nullptr;
    QPushButton* m_clear = nullptr;
    QPushButton* m_close = nullptr;
};

// One version's text, read-only, with "恢复此版本": Accepted means restore it.
class VersionPreviewDialog : public QDialog {
    Q_OBJECT
public:
    // note: shown above the text when not empty (a read that may not be the
    // version's text, for instance).
    VersionPreviewDialog(const QString& title, const QString& text, const QString& note, QWidget* parent = nullptr);

    class TextEditor* textEdit() const { return m_text; }
    QPushButton* restoreButton() const { return m_restore; }

private:
    class TextEditor* m_text = nullptr;
    QPushButton* m_restore = nullptr;
};

} // namespace tavro
