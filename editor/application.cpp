#include "application.h"

#include "main_window.h"
#include "qt_prompts.h"
#include "session_watch.h"
#include "termination_signals.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tavro {

bool InstallQtChineseTranslation(QCoreApplication& app)
{
    // Owned by the application, so it lives as long as the texts are used.
    auto* translator = new QTranslator(&app);
    const QLocale chinese(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    if (!translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QLocale::setDefault(chinese);
    return QCoreApplication::installTranslator(translator);
}

void EndOnSignalsAndSessionEnd(QGuiApplication& app, MainWindow& window, TerminationSignals& endSignals)
{
    QObject::connect(&endSignals, &TerminationSignals::terminationRequested, &window,
                     [&window] { window.EndWithoutAsking(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&window] { window.EndWithoutAsking(); },
                     Qt::DirectConnection);
}

int Application::Run(int& argc, char** argv)
{
    QApplication application(argc, argv);
    InstallQtChineseTranslation(application);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tavro.svg")));
    QGuiApplication::setDesktopFileName(QStringLiteral("tavro-editor")); // ties windows to the menu entry
    QtPrompts prompts;
    MainWindow window(prompts);
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst(); // the program name
    window.OnInitDialog(arguments);
    if (!window.isVisible())
        window.show();
    window.activateWindow(); // the keys go to the window, not to the desktop
    // The session's lock and the machine's sleep hide the text.
    SessionWatch sessionWatch;
    window.WatchSession(sessionWatch);
    // Ended from outside (kill, a closed terminal, Ctrl+C, logging out or
    // shutting down): the text is stored as far as it can be, unasked.
    TerminationSignals endSignals;
    EndOnSignalsAndSessionEnd(application, window, endSignals);

    return QApplication::exec();
}

} // namespace tavro
