// The editor window on an 8 MB Chinese document, beside a bare
// QPlainTextEdit::setPlainText of the same text in the same run: open
// (read, decrypt, show), save, and one Tab, Find Next, Replace and
// Replace All of a frequent word.
#include "document_file.h"
#include "find_replace_dialog.h"
#include "main_window.h"
#include "program_state.h"
#include "prompts.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

namespace {

using namespace tavro;

// Answers every prompt at once: the chosen file, cancelled password dialogs
// (the all-zero key), OK to every message.
class BenchPrompts final : public Prompts {
public:
    QString path;
    MessageAnswer ShowMessage(QWidget*, const QString&, const QString&, MessageIcon,
                              MessageButtons buttons) override
    {
        return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
    std::optional<ChosenFile> ChooseFile(QWidget*, const FileDialogRequest&) override
    {
        return ChosenFile{path, path.section(QLatin1Char('/'), -1)};
    }
    std::optional<QColor> ChooseColor(QWidget*, const QColor&) override { return std::nullopt; }
    int RunModal(QDialog&) override { return QDialog::Rejected; }
};

template <class F>
double Ms(F&& f)
{
    QElapsedTimer timer;
    timer.start();
    f();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

QString ChineseText(qsizetype characters)
{
    // Common characters, a frequent word every few lines, a line break every 60.
    const QString common = QStringLiteral("的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两体制机当使点从业本去把性好应开它合还因由其些然前外天政四日那社义事平形相全表间样与关各重新线内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建月公无系军很情者最立代想已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知较将组见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处队南给色光门即保治北造百规热领七海口东导器压志世金增争济阶油思术极交受联什认六共权收证改清己美再采转更单风切打白教速花带安场身车例真务具万每目至达走积示议声报斗完类八离华名确才科张信马节话米整空元况今集温传土许步群广石记需段研界拉林律叫且究观越织装影算低持音众书布复容儿须际商非验连断深难近矿千周委素技备半办青省列习响约支般史感劳便团往酸历市克何除消构府称太准精值号率族维划选标写存候毛亲快效斯院查江型眼王按格养易置派层片始却专状育厂京识适属圆包火住调满县局照参红细引听该铁价严");
    std::mt19937 rng(7);
    std::uniform_int_distribution<qsizetype> pick(0, common.size() - 1);
    QString text;
    text.reserve(characters);
    while (text.size() < characters) {
        if (text.size() % 60 == 59)
            text += QLatin1Char('\n');
        else if (text.size() % 400 == 0)
            text += QStringLiteral("密码本");
        else
            text += common[pick(rng)];
    }
    return text;
}

void Row(const char* what, double ms, const char* goal)
{
    std::printf("  %-44s %9.1f ms   %s\n", what, ms, goal);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir dir;
    const QString text = ChineseText(4 << 20); // 4 Mi characters = 8 MB in code page 936
    const auto file = EncryptDocument(text.toStdU16String(), kZeroKey);
    const QString path = dir.filePath(QStringLiteral("big.tvro"));
    {
        QFile out(path);
        out.open(QIODevice::WriteOnly);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<qint64>(file.size()));
    }

    QPlainTextEdit bare;
    bare.resize(760, 500);
    bare.show();
    const double bareMs = Ms([&] { bare.setPlainText(text); });

    BenchPrompts prompts;
    prompts.path = path;
    CTavroTextEditorDlg window(prompts, dir.filePath(QStringLiteral("config")));
    window.OnInitDialog();
    window.show();
    const double openMs = Ms([&] { window.OnFileOpen(); });
    QApplication::processEvents();
    const bool intact = window.activeEditor()->GetWindowText() == text;
    window.OnUnlock();
    const double saveMs = Ms([&] { window.OnFileSave(); });
    const double formatMs = Ms([&] { window.ApplyEditorFormat(); });
    g_charFormat.setYHeight(400);
    const double fontMs = Ms([&] { window.ApplyEditorFormat(); });

    CRichEditCtrl* editor = window.activeEditor();
    editor->setFocus();
    editor->SetSel(text.size() / 2, text.size() / 2);
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    const double tabMs = Ms([&] { QApplication::sendEvent(editor, &tab); });

    editor->SetSel(text.size() / 2, text.size() / 2);
    window.OnEditReplace();
    FindReplaceDialog* dialog = window.findDialog();
    dialog->findEdit()->setText(QStringLiteral("密码本"));
    dialog->replaceEdit()->setText(QStringLiteral("笔记本"));
    const double findMs = Ms([&] { dialog->RequestFindNext(); });
    const double replaceMs = Ms([&] { dialog->RequestReplace(); });
    const double replaceAllMs = Ms([&] { dialog->RequestReplaceAll(); });
    QApplication::processEvents();

    std::printf("editor window, %lld characters (%.1f MB document), offscreen\n",
                static_cast<long long>(text.size()), static_cast<double>(file.size()) / 1e6);
    Row("reference: bare QPlainTextEdit::setPlainText", bareMs, "");
    char goal[64];
    std::snprintf(goal, sizeof goal, "%.2fx bare (goal <= 1.5x)", openMs / bareMs);
    Row("open (read, decrypt, show)", openMs, goal);
    std::snprintf(goal, sizeof goal, "%.2fx bare (goal <= 0.5x)", saveMs / bareMs);
    Row("save (encrypt, write, commit)", saveMs, goal);
    Row("ApplyEditorFormat, format unchanged", formatMs, "");
    Row("ApplyEditorFormat, new font size", fontMs, "lays the text out again");
    Row("Tab in the middle of the text", tabMs, "goal < 20 ms");
    Row("Find Next (Replace dialog)", findMs, "goal < 20 ms");
    Row("Replace of the found match", replaceMs, "goal < 20 ms");
    Row("Replace All of a frequent word", replaceAllMs, "goal < 1000 ms");
    std::printf("  text shown intact after open: %s\n", intact ? "yes" : "NO");
    return intact ? 0 : 1;
}
