// Auto-save: every 60 seconds, the open document is written when it is
// unlocked (or hidden) and its text differs from its file, unless a command
// is waiting for the user. A text whose write would need a question
// (characters the file cannot hold, a protected stored copy, a file another
// program changed since it was read or written) is skipped; so is a tick
// while a write is in flight. While it skips, or while writes fail, it says
// why.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

namespace tavro {

class DocumentSession;

class AutoSave : public QObject {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 60000;

    // Why auto-save, switched on, is not writing the document.
    enum class Pause {
        None,
        LossyText,    // the text would lose characters and that was not accepted
        Protected,    // the stored copy may not be the document
        WriteFailing, // the last write to the file failed
        ChangedOnDisk, // another program changed the file; a command that asks replaces it
    };

    explicit AutoSave(QObject* parent = nullptr);

    // The document ticks write; nullptr while none is open.
    void setSession(DocumentSession* session);

    bool isEnabled() const { return m_enabled; }
    // Switching on starts the count afresh.
    void setEnabled(bool enabled);
    const QTimer& timer() const { return m_timer; }

    Pause pause() const;

    // While one lives, ticks do nothing (a command waits for the user: it
    // may be about to replace the document).
    class Hold {
    public:
        explicit Hold(AutoSave& autoSave) : m_autoSave(autoSave) { ++m_autoSave.m_holds; }
        ~Hold() { --m_autoSave.m_holds; }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        AutoSave& m_autoSave;
    };

    // One tick, as the timer gives it.
    void Tick();
    // Whether a tick would write the document now, were no command waiting
    // and no write in flight.
    bool WouldWrite() const;

signals:
    // Switched on or off, or given another document. (The pause follows the
    // session's state: ask again when the session says it changed.)
    void changed();

private:
    QTimer m_timer;
    QPointer<DocumentSession> m_session;
    bool m_enabled = true;
    int m_holds = 0;
};

} // namespace tavro
