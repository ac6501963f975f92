// The one named temporary file a command may have at a time, removed when
// SIGINT, SIGTERM or SIGHUP ends the process; the signal then takes its
// usual course (the process ends by it). Unnamed temporary files need no
// such care: they vanish with the process, whatever ends it.
#pragma once

#include <signal.h>

#include <string>

namespace tavro::cli {

// Installs the handlers. Also ignores SIGXFSZ, so that a write beyond the
// file size limit fails with EFBIG and is reported instead of killing the
// process silently.
void InstallSignalCleanup();

// Holds back the cleanup signals while a temporary name is made and
// recorded, so that no signal falls between the two.
class CleanupSignalsBlocked {
public:
    CleanupSignalsBlocked();
    ~CleanupSignalsBlocked();
    CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
    CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;

private:
    sigset_t previous_{};
};

// Records path as the file to remove; call with the signals blocked.
void ArmCleanup(const std::string& path);
// Forgets it: the file was renamed, or removed by its owner.
void DisarmCleanup();

} // namespace tavro::cli
