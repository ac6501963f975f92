#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Tavro文本加密 v2.0"));
    window.resize(960, 600);
    window.show();
    return app.exec();
}
