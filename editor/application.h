// The application object: starts Qt, runs the main window, ends the process.
#pragma once

class QCoreApplication;

namespace tavro {

// Loads Qt's own Simplified Chinese texts (standard buttons, file and colour
// dialogs) into app, whatever the system's language; false when Qt's
// translation "qtbase_zh_CN" is not installed.
bool InstallQtChineseTranslation(QCoreApplication& app);

class Application {
public:
    // Runs the editor; arguments after the program name name a document.
    // Returns the process exit code.
    int Run(int& argc, char** argv);
};

} // namespace tavro
