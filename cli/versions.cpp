#include "versions.h"

#include "strong_format.h"

#include "document_file.h"
#include "exit_codes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace tavro::cli {
namespace {

const char* OriginName(VersionOrigin origin)
{
    switch (origin) {
    case VersionOrigin::Save:
        return "save";
    case VersionOrigin::Lock:
        return "lock";
    case VersionOrigin::AutoSave:
        return "auto-save";
    case VersionOrigin::PasswordChange:
        return "password change";
    case VersionOrigin::CommandLine:
        return "command line";
    }
    return "other";
}

std::string LocalTime(std::int64_t seconds)
{
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    char text[32] = "?";
    if (::localtime_r(&time, &local) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

void PrintLine(const std::string& line)
{
    if (std::fputs((line + "\n").c_str(), stdout) < 0)
        throw CliFailure(kExitIo, std::string("cannot write standard output: ") + std::strerror(errno));
}

void Flush()
{
    if (std::fflush(stdout) != 0)
        throw CliFailure(kExitIo, std::string("cannot write standard output: ") + std::strerror(errno));
}

VersionStore Store() { return VersionStore(DefaultVersionRoot()); }

} // namespace

VersionKeeper::VersionKeeper(bool enabled, bool documentsOnly) : enabled_(enabled), documentsOnly_(documentsOnly) {}

void VersionKeeper::operator()(const std::string& target)
{
    if (!enabled_)
        return;
    if (documentsOnly_ && !LooksLikeDocument(target))
        return;
    result_ = Store().Keep(target, VersionOrigin::CommandLine);
    if (result_.outcome == KeepResult::Failed)
        std::fputs(("tavro-cli: warning: " + result_.message + "; written all the same\n").c_str(), stderr);
}

int RunVersions(const Options& options)
{
    const VersionStore store = Store();
    if (options.purge) {
        std::size_t removed = 0;
        const StoreStatus status = store.Purge(options.input, &removed);
        if (!status.ok)
            throw CliFailure(kExitIo, status.message);
        PrintLine(options.input + ": " + std::to_string(removed) + (removed == 1 ? " version" : " versions") +
                  " removed");
        Flush();
        return kExitOk;
    }
    std::vector<Version> versions;
    const StoreStatus status = store.List(options.input, versions);
    if (!status.ok)
        throw CliFailure(kExitIo, status.message);
    if (versions.empty())
        std::fputs(("tavro-cli: no versions of " + options.input + " in " + store.root() + "\n").c_str(), stderr);
    for (const Version& version : versions) {
        char line[160];
        std::snprintf(line, sizeof line, "%4llu  %s  %12llu bytes  %s",
                      static_cast<unsigned long long>(version.number), LocalTime(version.keptAt).c_str(),
                      static_cast<unsigned long long>(version.size), OriginName(version.origin));
        PrintLine(line);
    }
    Flush();
    return kExitOk;
}

int RunRestore(const Options& options)
{
    const VersionStore store = Store();
    std::vector<Version> versions;
    const StoreStatus listed = store.List(options.input, versions);
    if (!listed.ok)
        throw CliFailure(kExitIo, listed.message);
    bool known = false;
    for (const Version& version : versions)
        known = known || version.number == options.versionNumber;
    if (!known)
        throw CliFailure(kExitUsage, options.input + " has no version " + std::to_string(options.versionNumber) +
                                         " (see tavro-cli versions " + options.input + ")");
    KeepResult kept;
    const StoreStatus restored = store.Restore(options.input, options.versionNumber, VersionOrigin::CommandLine, &kept);
    if (!restored.ok)
        throw CliFailure(kExitIo, restored.message);
    std::string line = options.input + ": version " + std::to_string(options.versionNumber) + " restored";
    if (kept.outcome == KeepResult::Kept)
        line += "; the bytes it replaced are version " + std::to_string(kept.number);
    PrintLine(line);
    Flush();
    return kExitOk;
}

} // namespace tavro::cli
