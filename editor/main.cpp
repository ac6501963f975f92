#include "process_hardening.h"
#include "application.h"

int main(int argc, char* argv[])
{
    // Before any key or text exists: a core dump would hold both.
    tavro::DisableCoreDumps();
    tavro::Application application;
    return application.Run(argc, argv);
}
