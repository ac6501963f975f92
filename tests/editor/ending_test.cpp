// The program ended from outside: the text is written where auto-save would
// write it, else kept as a recovery copy offered at the next open.
#include "recovery_copies.h"
#include "version_store.h"
#include "window_fixture.h"

#include <QProcess>

#include <csignal>
#include <functional>

namespace tavro::test {
namespace {

QString RecoveryFolderOfTests()
{
    return RecoveryFolder(QFile::decodeName(DefaultVersionRoot().c_str()));
}

class Ending : public WindowTest {
protected:
    // A window as a new run of the program makes it.
    void Restart()
    {
        window = std::make_unique<MainWindow>(prompts, Path(QStringLiteral("config")));
        window->OnInitDialog();
    }
};

TEST_F(Ending, TextIsWrittenWhereAutoSaveWouldElseKeptAndOfferedAtTheNextOpen)
{
    struct Case {
        const char* name;
        std::function<void(MainWindow&)> before; // what the document's state is
        const char* text;
        bool written;
    };
    const Case cases[] = {
        {"unlocked.tvro", [](MainWindow&) {}, "typed", true},
        {"locked.tvro", [](MainWindow& w) { w.OnLock(); }, "typed after the lock", false},
        {"autosave-off.tvro", [](MainWindow& w) { w.OnToggleAutoSave(); }, "typed", false},
        {"lossy.tvro", [](MainWindow&) {}, "a\U0001F600b\u0915\u00A0c", false}, // every character kept
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QString::fromLatin1(c.name);
        const QString text = QString::fromUtf8(c.text);
        Restart();
        NewDocument(name, nullptr);
        c.before(*window);
        window->WaitForSave();
        window->editor()->textCursor().insertText(text);
        window->EndWithoutAsking(/*endProcess=*/false);
        EXPECT_TRUE(prompts.MessageTexts().empty()) << prompts.MessageTexts().front().toStdString();
        prompts.shown.clear();
        EXPECT_EQ(StoredText(ReadFile(name)), c.written ? text : QString());
        EXPECT_EQ(ReadRecoveryCopy(RecoveryFolderOfTests(), Path(name), SessionKey()).has_value(), !c.written);
        EXPECT_TRUE(QFile::exists(Path(QStringLiteral("config"))));
        if (c.written)
            continue;

        // Offered with the document's key; 否 keeps it, 是 puts it back unsaved.
        Restart();
        for (const MessageAnswer answer : {MessageAnswer::No, MessageAnswer::Yes}) {
            if (window->isDocumentOpen())
                prompts.AnswerMessage(MessageAnswer::Yes); // closing the one open
            prompts.AnswerFile(Path(name));
            CancelPassword();
            prompts.AnswerMessage(answer);
            window->OnFileOpen();
        }
        EXPECT_EQ(prompts.MessageTexts().size(), 3u);
        EXPECT_EQ(EditorText(), text);
        EXPECT_TRUE(window->isModified());
        EXPECT_FALSE(ReadRecoveryCopy(RecoveryFolderOfTests(), Path(name), SessionKey()).has_value());
        prompts.shown.clear();
        ASSERT_TRUE(prompts.AllAnswered());
    }
}

// The real signals, to an editor process of its own: it stores the text
// and exits 0, whichever of the three ends it.
TEST_F(Ending, EachTerminationSignalStoresTheTextAndExitsNormally)
{
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        for (const bool locked : {false, true}) {
            SCOPED_TRACE(std::to_string(signal) + (locked ? " locked" : " unlocked"));
            const QString path = Path(QStringLiteral("child-%1-%2.tvro").arg(signal).arg(locked));
            QProcess child;
            child.start(QStringLiteral(TAVRO_ENDING_CHILD),
                        {path, QStringLiteral("正文 text"), locked ? QStringLiteral("locked") : QString()});
            ASSERT_TRUE(child.waitForStarted());
            ASSERT_TRUE(QTest::qWaitFor([&] { return child.readAllStandardOutput().contains("ready"); }, 30000))
                << child.readAllStandardError().toStdString();
            ::kill(static_cast<pid_t>(child.processId()), signal);
            ASSERT_TRUE(child.waitForFinished(30000));
            EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(child.exitCode(), 0);
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_EQ(StoredText(file.readAll()), locked ? QString() : QStringLiteral("正文 text"));
            EXPECT_EQ(ReadRecoveryCopy(RecoveryFolderOfTests(), path, SessionKey()),
                      locked ? std::optional<QString>(QStringLiteral("正文 text")) : std::nullopt);
        }
    }
}

} // namespace
} // namespace tavro::test
