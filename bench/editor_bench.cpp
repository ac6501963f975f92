// The editor window on large Chinese documents, every operation beside a
// bare Qt reference for the same work measured in the same run, plus the
// peak resident memory of the window beside a bare QPlainTextEdit holding
// the same text.
//
//   editor_bench [--sizes 8,64,256] [--json]
//
// Sizes are document sizes in MB (code page 936, two bytes a character);
// the default is 8. --json prints a JSON list of objects with the keys
// operation, size_mb, ms and reference_ms instead of the table (the memory
// rows carry rss_mb and reference_rss_mb, their times are null). A row
// "UI thread blocked" is the longest time the event loop did not turn, from
// the command until its work (a write, a search) has ended.
//
// editor_bench runs as the editor does, freed memory overwritten
// (editor/wipe_on_free.cpp); editor_bench_keep_freed, built from the same
// source, leaves glibc's free() as it is: the two show what wiping costs.
//
// Each operation is one row of the table below: add a row to measure more.
#include "document_file.h"
#include "find_replace_dialog.h"
#include "secret_line_edit.h"
#include "main_window.h"
#include "password_dialog.h"
#include "strong_key.h"
#include "strong_stream.h"
#include "prompts.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace {

using namespace tavro;

#ifdef TAVRO_BENCH_KEEP_FREED
const char* const kFreedMemory = "kept";
#else
const char* const kFreedMemory = "overwritten";
#endif

const QString kWord = QStringLiteral("密码本");      // every 400 characters
const QString kOtherWord = QStringLiteral("笔记本"); // what Replace puts in its place

// Answers every prompt at once: the chosen file, the password dialog (a
// .tvro document's cancelled: the all-zero key; a strong one's with
// kStrongPassword), Yes to closing, Discard to unsaved changes, OK to
// every other message.
const QString kStrongPassword = QStringLiteral("bench");

class BenchPrompts final : public Prompts {
public:
    QString path;
    int messages = 0; // shown so far
    MessageAnswer ShowMessage(QWidget*, const QString&, const QString&, MessageIcon,
                              MessageButtons buttons) override
    {
        ++messages;
        switch (buttons) {
        case MessageButtons::YesNo: return MessageAnswer::Yes;
        case MessageButtons::SaveDiscardCancel: return MessageAnswer::Discard;
        default: return MessageAnswer::Ok;
        }
    }
    std::optional<ChosenFile> ChooseFile(QWidget*, const FileDialogRequest&) override
    {
        return ChosenFile{path, path.section(QLatin1Char('/'), -1)};
    }
    std::optional<QColor> ChooseColor(QWidget*, const QColor&) override { return std::nullopt; }
    int RunModal(QDialog& dialog) override
    {
        auto* password = qobject_cast<PasswordDialog*>(&dialog);
        if (!password || !path.endsWith(QLatin1String(".tvrs")))
            return QDialog::Rejected;
        password->passwordEdit()->setText(QStringView(kStrongPassword));
        password->OnConfirmPassword();
        while (password->isMakingKey())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return password->result();
    }
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
    // Common characters, the word every 400, a line break every 60.
    const QString common = QStringLiteral("的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动同工也能下过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自二理起小物现实加量都两体制机当使点从业本去把性好应开它合还因由其些然前外天政四日那社义事平形相全表间样与关各重新线内数正心反你明看原又么利比或但质气第向道命此变条只没结解问意建月公无系军很情者最立代想已通并提直题党程展五果料象员革位入常文总次品式活设及管特件长求老头基资边流路级少图山统接知较将组见计别她手角期根论运农指几九区强放决西被干做必战先回则任取据处队南给色光门即保治北造百规热领七海口东导器压志世金增争济阶油思术极交受联什认六共权收证改清己美再采转更单风切打白教速花带安场身车例真务具万每目至达走积示议声报斗完类八离华名确才科张信马节话米整空元况今集温传土许步群广石记需段研界拉林律叫且究观越织装影算低持音众书布复容儿须际商非验连断深难近矿千周委素技备半办青省列习响约支般史感劳便团往酸历市克何除消构府称太准精值号率族维划选标写存候毛亲快效斯院查江型眼王按格养易置派层片始却专状育厂京识适属圆包火住调满县局照参红细引听该铁价严");
    std::mt19937 rng(7);
    std::uniform_int_distribution<qsizetype> pick(0, common.size() - 1);
    QString text;
    text.reserve(characters);
    while (text.size() < characters) {
        if (text.size() % 60 == 59)
            text += QLatin1Char('\n');
        else if (text.size() % 400 == 0)
            text += kWord;
        else
            text += common[pick(rng)];
    }
    text.truncate(characters);
    return text;
}

qsizetype CharactersFor(int sizeMb) { return qsizetype{sizeMb} << 19; }

// A field of /proc/self/status in MB ("VmHWM:", "VmRSS:"), 0 when absent.
double StatusMb(const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toDouble() / 1024.0; // kB
    }
    return 0;
}

// The process's peak resident memory (VmHWM: unlike getrusage's maximum,
// it starts afresh at exec, so a child does not inherit the parent's peak).
double PeakRssMb() { return StatusMb("VmHWM:"); }

// The process's resident memory now (VmRSS).
double RssMb() { return StatusMb("VmRSS:"); }

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The editor window and a bare QPlainTextEdit on the same document.
struct Session {
    int sizeMb = 0;
    QString text;         // the document's text, for the bare editor
    qsizetype length = 0; // characters in the window's editor
    QString path;       // the document file
    QString strongPath; // the same text as a strong document (cheap to derive: see RunSize)
    QString copyPath;   // where the references write
    QString otherPath;  // where Export and Save As write
    qint64 fileSize = 0;
    QPlainTextEdit bare;
    BenchPrompts prompts;
    std::unique_ptr<MainWindow> window;
    FindReplaceDialog* dialog = nullptr;
    qsizetype bareMatch = -1; // the bare editor's match of Find Next
    double replaceAllStallMs = 0; // the longest UI-thread stall of the window's Replace All
    double bareReplaceAllMs = 0;  // the bare editor's Replace All
    bool unchangedTickWrote = false;

    QTextDocument& bareDocument() { return *bare.document(); }
    TextEditor& editor() { return *window->editor(); }
};

// toPlainText and a QSaveFile write of bytes bytes: a save or a plain text
// export done on the UI thread.
double BareWrite(Session& s, qint64 bytes)
{
    const QByteArray data(bytes, 'x');
    return Ms([&] {
        const QString text = s.bareDocument().toPlainText();
        QSaveFile file(s.copyPath);
        file.open(QIODevice::WriteOnly);
        file.write(data);
        file.commit();
    });
}

// What a save on the UI thread costs at least: the whole text out of the
// document, and the document's size in bytes written.
double BareSave(Session& s)
{
    return BareWrite(s, s.fileSize);
}

// Times the gaps between turns of the event loop (a 0 ms timer fires once a
// turn) from its making; longestMs() also counts the gap up to now.
class TurnGaps {
public:
    TurnGaps()
    {
        m_clock.start();
        QObject::connect(&m_turn, &QTimer::timeout, [this] { Mark(); });
        m_turn.start(0);
    }
    double longestMs()
    {
        Mark();
        return static_cast<double>(m_longest) / 1e6;
    }

private:
    void Mark()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QElapsedTimer m_clock;
    QTimer m_turn;
    qint64 m_longest = 0;
    qint64 m_last = 0;
};

// The longest time the UI thread went without turning its event loop, from
// calling start until done() holds: the call itself, or the longest gap
// between two turns after it.
double BlockedMs(const std::function<void()>& start, const std::function<bool()>& done)
{
    const double callMs = Ms(start);
    TurnGaps gaps;
    while (!done())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return std::max(callMs, gaps.longestMs());
}

// The longest time the UI thread went without turning an event loop while
// command ran; the command's own loops (a read on a worker, a progress
// dialog) count as turns.
double StallDuringMs(const std::function<void()>& command)
{
    TurnGaps gaps;
    command();
    return gaps.longestMs();
}

// How long a write blocks the UI thread, from the command to its end.
double WriteBlockedMs(Session& s, const std::function<void()>& command)
{
    return BlockedMs(command, [&] { return !s.window->session()->isWriting(); });
}

// One character typed at the end of the window's text: it differs from the file.
void EditAtTheEnd(Session& s)
{
    QTextCursor cursor(s.editor().document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QStringLiteral("字"));
}

void SendKey(QWidget& target)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(&target, &press);
    QApplication::processEvents();
}

double TypeKey(QWidget& target)
{
    return Ms([&] { SendKey(target); });
}

struct Operation {
    const char* name;
    const char* reference; // what the reference does
    std::function<double(Session&)> measure;
    std::function<double(Session&)> measureReference;
};

// The window's word-wrap command beside the bare editor switched to mode.
Operation WordWrapSwitch(const char* name, QPlainTextEdit::LineWrapMode mode)
{
    return {name, "QPlainTextEdit::setLineWrapMode",
            [](Session& s) {
                return Ms([&] {
                    s.window->OnToggleWordWrap();
                    QApplication::processEvents();
                });
            },
            [mode](Session& s) {
                return Ms([&] {
                    s.bare.setLineWrapMode(mode);
                    QApplication::processEvents();
                });
            }};
}

const std::vector<Operation>& Operations()
{
    static const std::vector<Operation> operations{
        {"Open (read, decrypt, show)", "bare QPlainTextEdit::setPlainText",
         [](Session& s) {
             const double ms = Ms([&] { s.window->OnFileOpen(); });
             s.window->OnUnlock();
             s.length = s.editor().textLength();
             return ms;
         },
         [](Session& s) { return Ms([&] { s.bare.setPlainText(s.text); }); }},
        // The read runs on a worker; the handover to the editor does not.
        {"Open, UI thread blocked (longest stall)", "bare QPlainTextEdit::setPlainText",
         [](Session& s) {
             const double ms = StallDuringMs([&] { s.window->OnFileOpen(); });
             s.window->OnUnlock();
             return ms;
         },
         [](Session& s) { return Ms([&] { s.bare.setPlainText(s.text); }); }},
        // Save and auto-save block the UI thread for a snapshot of the text;
        // a worker encodes, enciphers, writes and commits.
        {"save (UI thread blocked)", "toPlainText + QSaveFile write of as many bytes",
         [](Session& s) {
             EditAtTheEnd(s);
             const double ms = Ms([&] { s.window->OnFileSave(); });
             s.window->WaitForSave();
             return ms;
         },
         BareSave},
        {"save, until stored (worker)", "toPlainText + QSaveFile write of as many bytes",
         [](Session& s) {
             EditAtTheEnd(s);
             return Ms([&] {
                 s.window->OnFileSave();
                 s.window->WaitForSave();
             });
         },
         BareSave},
        {"auto-save tick, changed text (UI thread blocked)", "toPlainText + QSaveFile write of as many bytes",
         [](Session& s) {
             EditAtTheEnd(s);
             const double ms = Ms([&] { s.window->OnTimer(); });
             s.window->WaitForSave();
             return ms;
         },
         BareSave},
        {"auto-save tick, unchanged", "toPlainText + QSaveFile write of as many bytes",
         [](Session& s) {
             const QDateTime written = QFileInfo(s.path).lastModified();
             const double ms = Ms([&] { s.window->OnTimer(); });
             s.unchangedTickWrote = s.window->session()->isWriting() || QFileInfo(s.path).lastModified() != written;
             s.window->WaitForSave();
             return ms;
         },
         BareSave},
        {"Find Next, match near the caret", "QTextDocument::find from the same place",
         [](Session& s) {
             s.editor().select(s.length / 2, s.length / 2);
             s.window->OnEditReplace();
             s.dialog = s.window->findDialog();
             s.dialog->findEdit()->setText(kWord);
             s.dialog->replaceEdit()->setText(kOtherWord);
             return Ms([&] { s.dialog->RequestFindNext(); });
         },
         [](Session& s) {
             QTextCursor found;
             const double ms = Ms([&] {
                 found = s.bareDocument().find(kWord, static_cast<int>(s.length / 2),
                                               QTextDocument::FindCaseSensitively);
             });
             s.bareMatch = found.selectionStart();
             return ms;
         }},
        {"Replace (one match)", "QTextCursor::insertText over the match",
         [](Session& s) { return Ms([&] { s.dialog->RequestReplace(); }); },
         [](Session& s) {
             QTextCursor cursor(&s.bareDocument());
             cursor.setPosition(static_cast<int>(s.bareMatch));
             cursor.setPosition(static_cast<int>(s.bareMatch + kWord.size()), QTextCursor::KeepAnchor);
             return Ms([&] { cursor.insertText(kOtherWord); });
         }},
        {"Replace All", "the same edits, one edit block, positions known",
         [](Session& s) {
             TurnGaps gaps;
             const double ms = Ms([&] { s.dialog->RequestReplaceAll(); });
             s.replaceAllStallMs = gaps.longestMs();
             return ms;
         },
         [](Session& s) {
             const QString raw = s.bareDocument().toRawText();
             std::vector<qsizetype> positions;
             for (qsizetype pos = raw.indexOf(kWord); pos >= 0; pos = raw.indexOf(kWord, pos + kWord.size()))
                 positions.push_back(pos);
             QTextCursor cursor(&s.bareDocument());
             const double ms = Ms([&] {
                 cursor.beginEditBlock();
                 for (auto it = positions.rbegin(); it != positions.rend(); ++it) {
                     cursor.setPosition(static_cast<int>(*it));
                     cursor.setPosition(static_cast<int>(*it + kWord.size()), QTextCursor::KeepAnchor);
                     cursor.insertText(kOtherWord);
                 }
                 cursor.endEditBlock();
             });
             s.bareReplaceAllMs = ms;
             return ms;
         }},
        // The window searches and replaces in turns of its event loop; the
        // bare editor's edits hold it for their whole length.
        {"Replace All, UI thread blocked (longest stall)", "the same edits, one edit block, positions known",
         [](Session& s) { return s.replaceAllStallMs; }, [](Session& s) { return s.bareReplaceAllMs; }},
        // A search that finds nothing reads the whole text; the window reads
        // it a slice at a time and turns its event loop in between.
        {"find next, no match, UI thread blocked", "QTextDocument::find of the same string from the same place",
         [](Session& s) {
             s.editor().select(s.length / 2, s.length / 2);
             s.dialog->findEdit()->setText(QStringLiteral("zzzz"));
             const int shown = s.prompts.messages;
             return BlockedMs([&] { s.dialog->RequestFindNext(); }, [&] { return s.prompts.messages > shown; });
         },
         [](Session& s) {
             return Ms([&] {
                 const QTextCursor found = s.bareDocument().find(QStringLiteral("zzzz"), static_cast<int>(s.length / 2),
                                                                 QTextDocument::FindCaseSensitively);
                 if (found.isNull())
                     s.bareDocument().find(QStringLiteral("zzzz"), 0, QTextDocument::FindCaseSensitively);
             });
         }},
        // What a save takes on the UI thread: a copy of the text. The
        // editor's raw text (separators mapped on the worker) beside the
        // other ways to get it.
        {"save snapshot, toRawText (what a write takes)", "QTextDocument::toPlainText",
         [](Session& s) { return Ms([&] { const QString text = s.editor().document()->toRawText(); }); },
         [](Session& s) { return Ms([&] { const QString text = s.editor().document()->toPlainText(); }); }},
        {"save snapshot, blocks into a preallocated buffer", "QTextDocument::toPlainText",
         [](Session& s) {
             return Ms([&] {
                 const QTextDocument& document = *s.editor().document();
                 QString text;
                 text.reserve(document.characterCount());
                 for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
                     if (block != document.begin())
                         text += QLatin1Char('\n');
                     text += block.text();
                 }
             });
         },
         [](Session& s) { return Ms([&] { const QString text = s.editor().document()->toPlainText(); }); }},
        // Export, Save As and Password take the same snapshot; a worker
        // encodes and writes.
        {"export, UI thread blocked", "toPlainText + QSaveFile write of as many bytes",
         [](Session& s) {
             s.prompts.path = s.otherPath;
             const double ms = WriteBlockedMs(s, [&] { s.window->OnFileExportTxt(); });
             s.prompts.path = s.path;
             return ms;
         },
         [](Session& s) { return BareWrite(s, 2 * s.length); }},
        {"export, until stored", "toPlainText + QSaveFile write of the same bytes",
         [](Session& s) {
             s.prompts.path = s.otherPath;
             const double ms = Ms([&] {
                 s.window->OnFileExportTxt();
                 s.window->WaitForSave();
             });
             s.prompts.path = s.path;
             return ms;
         },
         [](Session& s) { return BareWrite(s, QFileInfo(s.otherPath).size()); }},
        {"save as, UI thread blocked", "toPlainText + QSaveFile write of as many bytes",
         [](Session& s) {
             s.prompts.path = s.otherPath;
             const double ms = WriteBlockedMs(s, [&] { s.window->OnFileSaveAs(); });
             s.prompts.path = s.path; // and the document is its own file's again
             s.window->OnFileSaveAs();
             s.window->WaitForSave();
             return ms;
         },
         BareSave},
        {"password, UI thread blocked", "toPlainText + QSaveFile write of as many bytes",
         [](Session& s) { return WriteBlockedMs(s, [&] { s.window->OnSettingsPassword(); }); }, BareSave},
        // A key typed right after Ctrl+S: the time until it is in the document.
        {"key after save, UI thread blocked", "a save on the UI thread, then the key in the bare editor",
         [](Session& s) {
             EditAtTheEnd(s);
             s.editor().setFocus();
             const double ms = Ms([&] {
                 s.window->OnFileSave();
                 SendKey(s.editor());
             });
             s.window->WaitForSave();
             return ms;
         },
         [](Session& s) { return BareSave(s) + TypeKey(s.bare); }},
        WordWrapSwitch("word-wrap switch, off", QPlainTextEdit::NoWrap),
        WordWrapSwitch("word-wrap switch, on", QPlainTextEdit::WidgetWidth),
        // The strong format: reading and authenticating beside the .tvro
        // reader (its Argon2id at the least cost: the derivation is its own row).
        {"Open .tvrs (read, authenticate, show)", "Open of the same text as .tvro",
         [](Session& s) {
             s.prompts.path = s.strongPath;
             const double ms = Ms([&] { s.window->OnFileOpen(); });
             s.prompts.path = s.path;
             s.window->OnFileOpen(); // back to the .tvro document for the rows after
             s.window->OnUnlock();
             return ms;
         },
         [](Session& s) {
             const double ms = Ms([&] { s.window->OnFileOpen(); });
             s.window->OnUnlock();
             return ms;
         }},
        {"strong key derivation (Argon2id, default cost)", "MD5 key of the same password",
         [](Session&) {
             StrongKeyHolder key;
             return Ms([&] {
                 DeriveStrongKeyFromPassword(kStrongPassword.toStdU16String(),
                                             NewStrongParameters(StrongKeySource::Password), key);
             });
         },
         [](Session&) {
             DocumentKey key{};
             return Ms([&] { DeriveKeyFromPassword(kStrongPassword.toStdU16String(), key); });
         }},
        {"keystroke in the middle", "the same key in the bare editor",
         [](Session& s) {
             s.editor().setFocus();
             s.editor().select(s.length / 3, s.length / 3);
             return TypeKey(s.editor());
         },
         [](Session& s) {
             QTextCursor cursor(&s.bareDocument());
             cursor.setPosition(static_cast<int>(s.length / 3));
             s.bare.setTextCursor(cursor);
             return TypeKey(s.bare);
         }},
        // Last: the document goes, its key and text wiped (and in
        // editor_bench, as in the editor, the memory it frees overwritten).
        {"Close (unsaved change discarded)", "QTextDocument::clear of the bare editor",
         [](Session& s) {
             return Ms([&] {
                 s.window->OnFileCloseDoc();
                 QApplication::processEvents();
             });
         },
         [](Session& s) {
             return Ms([&] {
                 s.bareDocument().clear();
                 QApplication::processEvents();
             });
         }},
    };
    return operations;
}

struct Figure {
    QString operation;
    int sizeMb = 0;
    double ms = 0;
    double referenceMs = 0;
};

// Peak memory of a child run of this program: the window opening the
// document and going through the operations, or the bare editor showing it.
double ProbeRss(const QString& program, const QString& role, const QString& path)
{
    QProcess probe;
    probe.start(program, {QStringLiteral("--probe"), role, path});
    probe.waitForFinished(-1);
    return probe.readAllStandardOutput().trimmed().toDouble();
}

// The window's resident memory after opening the document, and the most it
// holds after each of three saves (each once the write has ended).
struct SavesRss {
    double afterOpen = 0;
    double afterSaves = 0;
};

SavesRss ProbeSavesRss(const QString& program, const QString& path)
{
    QProcess probe;
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(program, {QStringLiteral("--probe"), QStringLiteral("saves"), path});
    probe.waitForFinished(-1);
    const QList<QByteArray> figures = probe.readAllStandardOutput().trimmed().split(' ');
    return {figures.value(0).toDouble(), figures.value(1).toDouble()};
}

int RunSavesProbe(const QString& path)
{
    Session s;
    s.path = path;
    s.prompts.path = path;
    s.window = std::make_unique<MainWindow>(s.prompts, path + QStringLiteral(".config"));
    s.window->OnInitDialog();
    s.window->show();
    s.window->OnFileOpen();
    s.window->OnUnlock();
    QApplication::processEvents();
    const double afterOpen = RssMb();
    double afterSaves = 0;
    for (int save = 0; save < 3; ++save) {
        EditAtTheEnd(s);
        s.window->OnFileSave();
        s.window->WaitForSave();
        QApplication::processEvents();
        afterSaves = std::max(afterSaves, RssMb());
    }
    std::printf("%.1f %.1f\n", afterOpen, afterSaves);
    return 0;
}

int RunProbe(const QString& role, const QString& path)
{
    if (role == QLatin1String("saves"))
        return RunSavesProbe(path);
    if (role == QLatin1String("bare")) {
        QPlainTextEdit bare;
        bare.resize(760, 500);
        bare.show();
        {
            const QByteArray file = ReadAll(path);
            DecryptedDocument document = DecryptDocument(
                {reinterpret_cast<const std::uint8_t*>(file.constData()), static_cast<std::size_t>(file.size())},
                kZeroKey);
            bare.setPlainText(QString::fromUtf16(document.text.data(),
                                                 static_cast<qsizetype>(document.text.size())));
        }
        QApplication::processEvents();
    } else {
        Session s;
        s.path = path;
        s.strongPath = QString(path).replace(QStringLiteral(".tvro"), QStringLiteral(".tvrs"));
        s.copyPath = path + QStringLiteral(".copy");
        s.otherPath = path + QStringLiteral(".other.tvro");
        s.fileSize = QFileInfo(path).size();
        s.prompts.path = path;
        s.window = std::make_unique<MainWindow>(s.prompts, path + QStringLiteral(".config"));
        s.window->OnInitDialog();
        s.window->show();
        for (const Operation& operation : Operations())
            operation.measure(s);
    }
    std::printf("%.1f\n", PeakRssMb());
    return 0;
}

std::vector<Figure> RunSize(int sizeMb, const QTemporaryDir& dir)
{
    Session s;
    s.sizeMb = sizeMb;
    s.text = ChineseText(CharactersFor(sizeMb));
    s.length = s.text.size();
    s.path = dir.filePath(QStringLiteral("big%1.tvro").arg(sizeMb));
    s.strongPath = dir.filePath(QStringLiteral("big%1.tvrs").arg(sizeMb));
    s.copyPath = dir.filePath(QStringLiteral("copy.tvro"));
    s.otherPath = dir.filePath(QStringLiteral("other.tvro"));
    {
        const auto file = EncryptDocument(s.text.toStdU16String(), kZeroKey);
        QFile out(s.path);
        out.open(QIODevice::WriteOnly);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<qint64>(file.size()));
        s.fileSize = static_cast<qint64>(file.size());
    }
    {
        StrongKeyHolder key;
        DeriveStrongKeyFromPassword(kStrongPassword.toStdU16String(),
                                    NewStrongParameters(StrongKeySource::Password, kStrongMinLimits), key);
        QFile out(s.strongPath);
        out.open(QIODevice::WriteOnly);
        StrongWriter writer(key, [&out](std::span<const std::uint8_t> bytes) {
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        });
        writer.Write(s.text.toStdU16String());
        writer.Finish();
    }
    s.bare.resize(760, 500);
    s.bare.show();
    s.prompts.path = s.path;
    s.window = std::make_unique<MainWindow>(s.prompts, dir.filePath(QStringLiteral("config")));
    s.window->OnInitDialog();
    s.window->show();
    QApplication::processEvents();

    std::vector<Figure> figures;
    for (const Operation& operation : Operations()) {
        Figure figure{QString::fromUtf8(operation.name), sizeMb, 0, 0};
        figure.referenceMs = operation.measureReference(s);
        QApplication::processEvents();
        figure.ms = operation.measure(s);
        QApplication::processEvents();
        figures.push_back(figure);
    }
    if (s.dialog)
        s.dialog->reject();
    if (s.unchangedTickWrote)
        std::fprintf(stderr, "%d MB: the auto-save tick on unchanged text wrote the file\n", sizeMb);
    return figures;
}

const Operation* FindOperation(const QString& name)
{
    for (const Operation& operation : Operations()) {
        if (name == QLatin1String(operation.name))
            return &operation;
    }
    return nullptr;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() == 4 && arguments[1] == QLatin1String("--probe"))
        return RunProbe(arguments[2], arguments[3]);

    std::vector<int> sizes{8};
    bool json = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--json")) {
            json = true;
        } else if (arguments[i] == QLatin1String("--sizes") && i + 1 < arguments.size()) {
            sizes.clear();
            for (const QString& size : arguments[++i].split(QLatin1Char(','))) {
                if (size.toInt() > 0)
                    sizes.push_back(size.toInt());
            }
        } else {
            std::fprintf(stderr, "usage: editor_bench [--sizes 8,64,256] [--json]\n");
            return 2;
        }
    }

    QTemporaryDir dir;
    // The versions the saves keep go with the run, not into the user's store
    // (the probes, started from here, inherit it).
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
    const QString program = QApplication::applicationFilePath();
    bool first = true;
    if (json)
        std::printf("[\n");
    for (const int size : sizes) {
        const std::vector<Figure> figures = RunSize(size, dir);
        const QString path = dir.filePath(QStringLiteral("big%1.tvro").arg(size));
        const double windowRss = ProbeRss(program, QStringLiteral("window"), path);
        const double bareRss = ProbeRss(program, QStringLiteral("bare"), path);
        const SavesRss savesRss = ProbeSavesRss(program, path);
        QFile::remove(path);
        QFile::remove(QString(path).replace(QStringLiteral(".tvro"), QStringLiteral(".tvrs")));
        if (json) {
            for (const Figure& f : figures) {
                std::printf("%s  {\"operation\": \"%s\", \"size_mb\": %d, \"ms\": %.3f, \"reference_ms\": %.3f}",
                            first ? "" : ",\n", qPrintable(f.operation), f.sizeMb, f.ms, f.referenceMs);
                first = false;
            }
            std::printf(",\n  {\"operation\": \"peak RSS\", \"size_mb\": %d, \"ms\": null, "
                        "\"reference_ms\": null, \"rss_mb\": %.1f, \"reference_rss_mb\": %.1f}",
                        size, windowRss, bareRss);
            std::printf(",\n  {\"operation\": \"peak RSS after 3 saves\", \"size_mb\": %d, \"ms\": null, "
                        "\"reference_ms\": null, \"rss_mb\": %.1f, \"reference_rss_mb\": %.1f}",
                        size, savesRss.afterSaves, savesRss.afterOpen);
            continue;
        }
        std::printf("editor window, %d MB document (%lld characters), offscreen, freed memory %s\n", size,
                    static_cast<long long>(CharactersFor(size)), kFreedMemory);
        std::printf("  %-50s %10s %12s %7s  %s\n", "operation", "ms", "reference", "ratio",
                    "reference is");
        for (const Figure& f : figures) {
            std::printf("  %-50s %10.2f %12.2f %6.2fx  %s\n", qPrintable(f.operation), f.ms,
                        f.referenceMs, f.ms / f.referenceMs,
                        FindOperation(f.operation)->reference);
        }
        std::printf("  %-50s %7.0f MB %9.0f MB %6.2fx  bare QPlainTextEdit showing the text\n",
                    "peak RSS", windowRss, bareRss, windowRss / bareRss);
        std::printf("  %-50s %7.0f MB %9.0f MB %6.2fx  RSS of the window after opening the document\n",
                    "peak RSS after 3 saves", savesRss.afterSaves, savesRss.afterOpen,
                    savesRss.afterSaves / savesRss.afterOpen);
    }
    if (json)
        std::printf("\n]\n");
    return 0;
}
