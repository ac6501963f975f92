#include "tavro_app.h"

#include "main_window.h"
#include "qt_prompts.h"

#include <QApplication>

namespace tavro {

int CTavroTextEditorApp::InitInstance(int& argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tavro.svg")));
    QGuiApplication::setDesktopFileName(QStringLiteral("tavro-editor")); // ties windows to the menu entry
    QtPrompts prompts;
    CTavroTextEditorDlg window(prompts);
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst(); // the program name
    window.OnInitDialog(arguments);
    if (!window.isVisible())
        window.show();
    return QApplication::exec();
}

} // namespace tavro
