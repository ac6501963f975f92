// The application object: starts Qt, runs the main window, ends the process.
#pragma once

namespace tavro {

class CTavroTextEditorApp {
public:
    // Runs the editor; arguments after the program name name a document.
    // Returns the process exit code.
    int InitInstance(int& argc, char** argv);
};

} // namespace tavro
