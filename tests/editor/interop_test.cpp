// Documents cross between the window and the command-line tool both ways.
#include "window_fixture.h"

#include <QProcess>

namespace tavro::test {
namespace {

// Runs tavro-cli with input on stdin; returns its exit code and stdout.
std::pair<int, QByteArray> RunCli(const QStringList& arguments, const QByteArray& input)
{
    QProcess cli;
    cli.start(QStringLiteral(TAVRO_CLI_PATH), arguments);
    cli.write(input);
    cli.closeWriteChannel();
    cli.waitForFinished(60000);
    return {cli.exitCode(), cli.readAllStandardOutput()};
}

using Interop = WindowTest;

TEST_F(Interop, WindowDocumentsDecryptWithTheTool)
{
    NewDocument(QStringLiteral("w.tvro"), u"口令");
    TypeText(QStringLiteral("窗口写的\n第二行 €"));
    window->OnFileSave();
    window->WaitForSave();
    const auto [code, text] = RunCli({QStringLiteral("decrypt"), Path(QStringLiteral("w.tvro")),
                                      QStringLiteral("--password-stdin")},
                                     QStringLiteral("口令\n").toUtf8());
    EXPECT_EQ(code, 0);
    EXPECT_EQ(QString::fromUtf8(text), QStringLiteral("窗口写的\n第二行 €"));
}

TEST_F(Interop, ToolDocumentsOpenInTheWindow)
{
    const auto [code, output] = RunCli({QStringLiteral("encrypt"), QStringLiteral("-o"),
                                        Path(QStringLiteral("c.tvro")), QStringLiteral("--password-stdin")},
                                       QStringLiteral("口令\n工具写的\r\n第二行").toUtf8());
    ASSERT_EQ(code, 0);
    OpenDocument(QStringLiteral("c.tvro"), u"口令");
    EXPECT_EQ(EditorText(), QStringLiteral("工具写的\n第二行"));
}

} // namespace
} // namespace tavro::test
