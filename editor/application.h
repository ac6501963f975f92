// The application object: starts Qt, runs the main window, ends the process.
#pragma once

class QCoreApplication;
class QGuiApplication;

namespace tavro {

class MainWindow;
class TerminationSignals;

// Loads Qt's own Simplified Chinese texts (standard buttons, file and colour
// dialogs) into app, whatever the system's language; false when Qt's
// translation "qtbase_zh_CN" is not installed.
bool InstallQtChineseTranslation(QCoreApplication& app);

// Ends window without a question when a termination signal arrives or the
// desktop session ends (MainWindow::EndWithoutAsking).
void EndOnSignalsAndSessionEnd(QGuiApplication& app, MainWindow& window, TerminationSignals& endSignals);

class Application {
public:
    // Runs the editor; arguments after the program name name a document.
    // Returns the process exit code.
    int Run(int& argc, char** argv);
};

} // namespace tavro
