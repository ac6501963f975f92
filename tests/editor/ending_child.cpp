// An editor process for the ending test: a new document (argv[1], no
// password) with unsaved text (argv[2]); "locked" as argv[3] locks it first,
// so the text may not be written. Prints "ready" once the signals are
// wired as in the editor, then runs until it is ended.
#include "application.h"
#include "main_window.h"
#include "prompts.h"
#include "termination_signals.h"

#include <QApplication>
#include <QDialog>
#include <QTextCursor>

#include <cstdio>

namespace {

using namespace tavro;

// Chooses argv[1], cancels the password dialog (the all-zero key), says Yes.
class ChildPrompts final : public Prompts {
public:
    QString path;
    MessageAnswer ShowMessage(QWidget*, const QString&, const QString&, MessageIcon, MessageButtons) override
    {
        return MessageAnswer::Yes;
    }
    std::optional<ChosenFile> ChooseFile(QWidget*, const FileDialogRequest&) override
    {
        return ChosenFile{path, path.section(QLatin1Char('/'), -1)};
    }
    std::optional<QColor> ChooseColor(QWidget*, const QColor&) override { return std::nullopt; }
    int RunModal(QDialog&) override { return QDialog::Rejected; }
    std::optional<QString> AskText(QWidget*, const QString&, const QString&, bool) override { return std::nullopt; }
};

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3)
        return 2;
    QApplication app(argc, argv);
    ChildPrompts prompts;
    prompts.path = QString::fromLocal8Bit(argv[1]);
    MainWindow window(prompts, prompts.path + QStringLiteral(".config"));
    window.OnInitDialog();
    window.OnFileNew();
    if (argc > 3 && QByteArrayView(argv[3]) == "locked")
        window.OnLock();
    window.WaitForSave();
    window.editor()->textCursor().insertText(QString::fromUtf8(argv[2]));
    TerminationSignals endSignals;
    EndOnSignalsAndSessionEnd(app, window, endSignals);
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}
