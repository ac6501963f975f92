#include "tavro_app.h"

int main(int argc, char* argv[])
{
    tavro::CTavroTextEditorApp application;
    return application.InitInstance(argc, argv);
}
