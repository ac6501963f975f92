#include "process_hardening.h"
#include "tavro_app.h"

int main(int argc, char* argv[])
{
    // Before any key or text exists: a core dump would hold both.
    tavro::DisableCoreDumps();
    tavro::CTavroTextEditorApp application;
    return application.InitInstance(argc, argv);
}
