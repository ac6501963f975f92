#include "temporary_cleanup.h"

#include <unistd.h>

#include <climits>
#include <cstring>

namespace tavro::cli {
namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Read by the handler: a fixed buffer, never reallocated.
char gTemporaryPath[PATH_MAX];
volatile sig_atomic_t gTemporaryArmed = 0;

void RemoveTemporaryAndReraise(int signal)
{
    if (gTemporaryArmed)
        ::unlink(gTemporaryPath);
    ::signal(signal, SIG_DFL);
    ::raise(signal); // delivered when the handler returns: the process ends by this signal
}

} // namespace

void InstallSignalCleanup()
{
    struct sigaction action{};
    action.sa_handler = RemoveTemporaryAndReraise;
    sigemptyset(&action.sa_mask);
    for (int signal : kCleanupSignals)
        sigaddset(&action.sa_mask, signal);
    for (int signal : kCleanupSignals)
        ::sigaction(signal, &action, nullptr);
    ::signal(SIGXFSZ, SIG_IGN);
}

CleanupSignalsBlocked::CleanupSignalsBlocked()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kCleanupSignals)
        sigaddset(&set, signal);
    ::sigprocmask(SIG_BLOCK, &set, &previous_);
}

CleanupSignalsBlocked::~CleanupSignalsBlocked() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }

void ArmCleanup(const std::string& path)
{
    gTemporaryArmed = 0;
    std::strncpy(gTemporaryPath, path.c_str(), sizeof gTemporaryPath - 1);
    gTemporaryArmed = path.size() < sizeof gTemporaryPath;
}

void DisarmCleanup() { gTemporaryArmed = 0; }

} // namespace tavro::cli
